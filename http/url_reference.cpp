// Redirect targets: a Location value resolved against the URL of the request it answered, as a
// relative reference may be ("/next", "../up?x=1", "//other-host/path"), and the rule of which
// hops of a redirect chain get the caller's extra header lines.
#include "http_client_internal.h"
#include "text_util.h"

#include <cstring>
#include <string>

namespace {

// The five parts of a URI reference; a part that is absent differs from one that is empty.
struct reference_parts {
    bool has_scheme = false, has_authority = false, has_query = false;
    std::string scheme, authority, path, query;
};

// Splits a reference into its parts by the generic syntax's delimiters; the fragment is dropped,
// since it never goes into a request.
reference_parts split_reference(const std::string &text)
{
    reference_parts parts;
    std::string rest = text.substr(0, text.find('#'));
    size_t colon = rest.find_first_of(":/?");
    if (colon != std::string::npos && colon > 0 && rest[colon] == ':') {
        parts.has_scheme = true;
        parts.scheme = rest.substr(0, colon);
        rest.erase(0, colon + 1);
    }
    if (rest.compare(0, 2, "//") == 0) {
        size_t end = rest.find_first_of("/?", 2);
        parts.has_authority = true;
        parts.authority = rest.substr(2, end == std::string::npos ? std::string::npos : end - 2);
        rest.erase(0, end == std::string::npos ? rest.size() : end);
    }
    size_t question = rest.find('?');
    parts.path = rest.substr(0, question);
    if (question != std::string::npos) {
        parts.has_query = true;
        parts.query = rest.substr(question + 1);
    }
    return parts;
}

// The path without its "." and ".." segments, each ".." taking the segment before it away.
std::string remove_dot_segments(std::string in)
{
    std::string out;
    while (!in.empty()) {
        if (in.compare(0, 3, "../") == 0 || in.compare(0, 2, "./") == 0) {
            in.erase(0, in[0] == '.' && in[1] == '.' ? 3 : 2);
        } else if (in.compare(0, 3, "/./") == 0 || in == "/.") {
            in.replace(0, in == "/." ? 2 : 3, "/");
        } else if (in.compare(0, 4, "/../") == 0 || in == "/..") {
            in.replace(0, in == "/.." ? 3 : 4, "/");
            size_t last = out.rfind('/');
            out.erase(last == std::string::npos ? 0 : last);
        } else if (in == "." || in == "..") {
            in.clear();
        } else {
            size_t next = in.find('/', 1);
            out += in.substr(0, next);
            in.erase(0, next == std::string::npos ? in.size() : next);
        }
    }
    return out;
}

// A relative path put beside the base's last segment.
std::string merge_paths(const reference_parts &base, const std::string &path)
{
    if (base.has_authority && base.path.empty())
        return "/" + path;
    size_t slash = base.path.rfind('/');
    return (slash == std::string::npos ? "" : base.path.substr(0, slash + 1)) + path;
}

// The target's origin: its scheme, host and port; false when it has none.
bool origin_of(const std::string &url, http_target *target)
{
    http_parser_url parts;
    return http_split_url(url.c_str(), &parts) == HTTP_OK && http_url_target(url.c_str(), &parts, target) == HTTP_OK;
}

} // namespace

std::string http_resolve_reference(const std::string &base_url, const std::string &reference)
{
    reference_parts base = split_reference(base_url), ref = split_reference(reference), target;
    if (ref.has_scheme) {
        target = ref;
        target.path = remove_dot_segments(ref.path);
    } else {
        target = ref;
        target.has_scheme = base.has_scheme;
        target.scheme = base.scheme;
        if (!ref.has_authority) {
            target.has_authority = base.has_authority;
            target.authority = base.authority;
            if (ref.path.empty()) {
                target.path = base.path;
                target.has_query = ref.has_query || base.has_query;
                target.query = ref.has_query ? ref.query : base.query;
            } else {
                target.path = remove_dot_segments(ref.path[0] == '/' ? ref.path : merge_paths(base, ref.path));
            }
        } else {
            target.path = remove_dot_segments(ref.path);
        }
    }
    std::string out = target.has_scheme ? target.scheme + ":" : "";
    if (target.has_authority)
        out += "//" + target.authority;
    out += target.path;
    if (target.has_query)
        out += "?" + target.query;
    return out;
}

void http_redirect_chain_start(http_redirect_chain &chain, const std::string &url)
{
    chain.has_origin = origin_of(url, &chain.origin);
    chain.downgraded = false;
    chain.extra_headers = true;
}

void http_redirect_chain_next(http_redirect_chain &chain, const std::string &from_url, const std::string &to_url)
{
    http_target from, to;
    bool known = origin_of(from_url, &from) && origin_of(to_url, &to);
    if (!known || (from.tls && !to.tls))
        chain.downgraded = true;
    bool same_origin = known && chain.has_origin && to.port == chain.origin.port &&
                       text_equal_nocase(to.host, chain.origin.host);
    chain.extra_headers = same_origin && !chain.downgraded;
}

// Shttpd's request handling on arbitrary request bytes: the head reader fed in arbitrary splits,
// then the request rules and the reply head, as a connection runs them (the request core does no
// I/O). Checked: splits change nothing, the request line is what the bytes say, and a served file
// name is the root followed by a path that cannot leave it.
//
// Input: one byte that picks the splits (splits.h), then the bytes the client sends before it stops
// sending.
#include "check.h"
#include "file_server.h"
#include "splits.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char ROOT[] = "/srv/fw";

struct reader {
    const uint8_t *bytes;
    size_t size;
    size_t pos = 0;
    piece_sizes pieces;
    reader(const uint8_t *b, size_t n, unsigned split) : bytes(b), size(n), pieces(split) {}

    // Feeds pieces until the head reaches until or the bytes run out (the client stopped sending:
    // after the request line that completes the head, as the server takes it).
    void run(request_head *head, head_state until)
    {
        while (head->state < until && pos < size) {
            size_t piece = pieces.next(size - pos);
            // A piece the head does not take whole waits for the next step, as in the server.
            size_t used = request_head_feed(head, (const char *)bytes + pos, piece);
            check(used <= piece, "head took more than it was given");
            pos += used;
            if (used == 0 && head->state < until)
                check(false, "head took nothing while it still waits for bytes");
        }
        if (head->state == HEAD_HEADERS && until == HEAD_COMPLETE && pos == size)
            head->state = HEAD_COMPLETE;
    }
};

// The request line the bytes hold: up to the first line feed without a carriage return before it,
// at most REQUEST_LINE_SIZE - 1 bytes kept, read up to its first NUL as the rules read it.
std::string expected_line(const std::string &all)
{
    size_t end = all.find('\n');
    std::string line = all.substr(0, end);
    if (line.size() > REQUEST_LINE_SIZE - 1)
        line.resize(REQUEST_LINE_SIZE - 1);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line.substr(0, line.find('\0'));
}

// A path segment that would climb out: only dots and spaces (plain, or as %2e and %20) with two
// dots or more.
bool climbs(const std::string &segment)
{
    std::string plain;
    for (size_t i = 0; i < segment.size(); i++) {
        if (segment[i] == '%' && i + 2 < segment.size() && segment[i + 1] == '2' &&
            (segment[i + 2] == 'e' || segment[i + 2] == 'E' || segment[i + 2] == '0')) {
            plain += segment[i + 2] == '0' ? ' ' : '.';
            i += 2;
        } else {
            plain += segment[i];
        }
    }
    size_t dots = 0;
    for (char c : plain) {
        if (c != '.' && c != ' ')
            return false;
        dots += c == '.';
    }
    return dots >= 2;
}

bool path_stays_inside(const std::string &path)
{
    if (path.empty() || path[0] != '/')
        return false;
    for (char byte : path) {
        unsigned char c = (unsigned char)byte;
        if (c < 0x20 || c == 0x7f || c == '\\' || c == ':')
            return false;
    }
    size_t start = 1;
    for (;;) {
        size_t end = path.find('/', start);
        if (climbs(path.substr(start, end == std::string::npos ? std::string::npos : end - start)))
            return false;
        if (end == std::string::npos)
            return true;
        start = end + 1;
    }
}

std::string lower(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
    return s;
}

// The verdict and file name the rules give for a request line.
request_verdict expected_verdict(const std::string &line, std::string *file_name)
{
    std::string words[3];
    size_t n = 0, i = 0;
    while (n < 3) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            i++;
        if (i == line.size())
            break;
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            i++;
        words[n++] = line.substr(start, i - start);
    }
    std::string method = lower(words[0]);
    if (n < 3 || (method != "get" && method != "post"))
        return REQUEST_NOT_IMPLEMENTED;
    std::string path = words[1];
    size_t query = path.find('?');
    if (method == "get" && query != std::string::npos && query + 1 < path.size())
        path.resize(query);
    if (!path_stays_inside(path))
        return REQUEST_NOT_FOUND;
    *file_name = ROOT + path + (path.back() == '/' ? "index.html" : "");
    return file_name->size() < FILE_NAME_SIZE ? REQUEST_SERVE : REQUEST_NOT_FOUND;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const std::string all((const char *)data + 1, size - 1);

    // The same bytes all at once and in the chosen pieces end in the same head.
    request_head whole, pieces;
    request_head_init(&whole);
    request_head_init(&pieces);
    reader once((const uint8_t *)all.data(), all.size(), 0), split((const uint8_t *)all.data(), all.size(), data[0]);
    once.run(&whole, HEAD_HEADERS);
    split.run(&pieces, HEAD_HEADERS);
    check(whole.state == pieces.state && once.pos == split.pos && std::strcmp(whole.line, pieces.line) == 0,
          "request line depends on the splits");
    if (pieces.state != HEAD_HEADERS) {
        // The client stopped inside the request line, or sent too much: dropped without a reply.
        check(all.find('\n') == std::string::npos || all.find('\n') >= REQUEST_HEAD_LIMIT,
              "a complete request line was not taken");
        return 0;
    }
    check(pieces.line_len < REQUEST_LINE_SIZE && pieces.line[pieces.line_len] == '\0', "request line bounds");
    check(std::string(pieces.line) == expected_line(all), "request line is not the one sent");

    char file_name[FILE_NAME_SIZE];
    std::string expected_name;
    request_verdict verdict = resolve_request(pieces.line, ROOT, file_name, sizeof file_name);
    check(verdict == expected_verdict(pieces.line, &expected_name), "verdict differs from the rules");
    if (verdict == REQUEST_NOT_IMPLEMENTED)
        return 0;

    once.run(&whole, HEAD_COMPLETE);
    split.run(&pieces, HEAD_COMPLETE);
    check(whole.state == pieces.state && once.pos == split.pos, "end of the head depends on the splits");
    check(pieces.head_bytes <= REQUEST_HEAD_LIMIT, "head read past its limit");
    if (verdict == REQUEST_SERVE) {
        check(expected_name == file_name, "served file name differs from root and path");
        char head[256];
        size_t n = compose_ok_head(file_name, head, sizeof head);
        const char start[] = "HTTP/1.0 200 OK\r\nServer: Httpd/";
        const char end[] = ";charset=UTF-8\r\n\r\n";
        check(n > sizeof start + sizeof end && std::memcmp(head, start, sizeof start - 1) == 0 &&
                  std::memcmp(head + n - (sizeof end - 1), end, sizeof end - 1) == 0,
              "200 reply head");
    }
    return 0;
}

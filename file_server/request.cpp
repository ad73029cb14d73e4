// The request core of the file server: head reading, request rules, content types and replies.
// No I/O here; server.cpp feeds it the bytes of a connection.
#include "file_server.h"
#include "text_util.h"

#include <cstdio>
#include <cstring>

#define SERVER_LINE "Server: Httpd/" SHTTPD_VERSION "\r\n"

const char REPLY_NOT_FOUND[] = "HTTP/1.0 404 Method Not Implemented\r\n" SERVER_LINE
                               "Content-Type: text/html\r\n"
                               "\r\n"
                               "<HTML><HEAD><TITLE>404 Not Found\r\n"
                               "</TITLE></HEAD>\r\n"
                               "<BODY><P>404 Not Found. File is not exist.\r\n"
                               "</BODY></HTML>\r\n";

const char REPLY_NOT_IMPLEMENTED[] = "HTTP/1.0 501 Method Not Implemented\r\n" SERVER_LINE
                                     "Content-Type: text/html\r\n"
                                     "\r\n"
                                     "<HTML><HEAD><TITLE>Method Not Implemented\r\n"
                                     "</TITLE></HEAD>\r\n"
                                     "<BODY><P>HTTP request method not supported.\r\n"
                                     "</BODY></HTML>\r\n";

void request_head_init(request_head *head)
{
    std::memset(head, 0, sizeof *head);
    head->state = HEAD_REQUEST_LINE;
}

// One byte of the request line: kept while it fits, the line end closes it. A NUL byte kept in the
// line only shortens it as a C text, which can cut the path word but never lengthen or change it.
static void feed_request_line(request_head *head, char c)
{
    if (c == '\n') {
        if (head->line_len > 0 && head->line[head->line_len - 1] == '\r')
            head->line_len--;
        head->line[head->line_len] = '\0';
        head->state = HEAD_HEADERS;
    } else if (head->line_len < REQUEST_LINE_SIZE - 1) {
        head->line[head->line_len++] = c;
        head->line[head->line_len] = '\0';
    }
}

// One byte of the header lines, which are only counted: an empty line ends the head.
static void feed_header(request_head *head, char c)
{
    if (c == '\n') {
        if (head->header_len == 0)
            head->state = HEAD_COMPLETE;
        head->header_len = 0;
    } else if (c != '\r') {
        head->header_len++;
    }
}

size_t request_head_feed(request_head *head, const char *data, size_t len)
{
    const head_state start = head->state;
    if (start != HEAD_REQUEST_LINE && start != HEAD_HEADERS)
        return 0;
    size_t used = 0;
    while (used < len && head->state == start) {
        if (head->head_bytes >= REQUEST_HEAD_LIMIT) {
            head->state = HEAD_TOO_LARGE;
            break;
        }
        char c = data[used++];
        head->head_bytes++;
        if (start == HEAD_REQUEST_LINE)
            feed_request_line(head, c);
        else
            feed_header(head, c);
    }
    return used;
}

// A word of the request line: its start and length.
struct word {
    const char *start;
    size_t len;
};

// Splits line at runs of spaces and tabs into at most max words; returns how many it found.
static int split_words(const char *line, word *words, int max)
{
    int n = 0;
    const char *p = line;
    while (n < max) {
        while (*p == ' ' || *p == '\t')
            p++;
        if (*p == '\0')
            break;
        words[n].start = p;
        while (*p != '\0' && *p != ' ' && *p != '\t')
            p++;
        words[n].len = static_cast<size_t>(p - words[n].start);
        n++;
    }
    return n;
}

// Length of the percent-encoded dot ("%2e") or space ("%20") at s, else 0; *dot tells which.
static size_t encoded_dot_or_space(const char *s, size_t left, bool *dot)
{
    if (left < 3 || s[0] != '%' || s[1] != '2')
        return 0;
    *dot = ascii_lower(s[2]) == 'e';
    return (*dot || s[2] == '0') ? 3 : 0;
}

// True for a path segment made only of dots and spaces, plain or percent-encoded, with two dots
// or more: "..", and "...", ".. " or ". ." which Windows trims to "..".
static bool segment_climbs(const char *s, size_t len)
{
    int dots = 0;
    size_t i = 0;
    while (i < len) {
        bool dot = false;
        size_t step = encoded_dot_or_space(s + i, len - i, &dot);
        if (step == 0) {
            if (s[i] != '.' && s[i] != ' ')
                return false;
            dot = s[i] == '.';
            step = 1;
        }
        dots += dot ? 1 : 0;
        i += step;
    }
    return dots >= 2;
}

bool request_path_is_safe(const char *path, size_t len)
{
    if (len == 0 || path[0] != '/')
        return false;
    for (size_t i = 0; i < len; i++) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        if (c < 0x20 || c == 0x7f || c == '\\' || c == ':')
            return false;
    }
    size_t start = 1;
    while (start <= len) {
        size_t end = start;
        while (end < len && path[end] != '/')
            end++;
        if (segment_climbs(path + start, end - start))
            return false;
        start = end + 1;
    }
    return true;
}

request_verdict resolve_request(const char *line, const char *root, char *file_name, size_t size)
{
    word words[3];
    if (split_words(line, words, 3) < 3)
        return REQUEST_NOT_IMPLEMENTED;
    bool get = text_equal_nocase(words[0].start, words[0].len, "GET");
    if (!get && !text_equal_nocase(words[0].start, words[0].len, "POST"))
        return REQUEST_NOT_IMPLEMENTED;

    const char *path = words[1].start;
    size_t len = words[1].len;
    if (get) {
        // The query goes, unless the "?" is the path's last character.
        const char *query = static_cast<const char *>(std::memchr(path, '?', len));
        if (query != nullptr && query < path + len - 1)
            len = static_cast<size_t>(query - path);
    }
    if (!request_path_is_safe(path, len))
        return REQUEST_NOT_FOUND;
    const char *index = path[len - 1] == '/' ? "index.html" : "";
    int n = std::snprintf(file_name, size, "%s%.*s%s", root, static_cast<int>(len), path, index);
    if (n < 0 || static_cast<size_t>(n) >= size)
        return REQUEST_NOT_FOUND;
    return REQUEST_SERVE;
}

const char *content_type_of(const char *file_name)
{
    static const struct {
        const char *extension;
        const char *type;
    } types[] = {
        {"js", "application/javascript"},
        {"htm", "text/html"},
        {"html", "text/html"},
        {"css", "text/css"},
        {"txt", "text/plain"},
    };
    const char *dot = std::strrchr(file_name, '.');
    if (dot != nullptr) {
        for (const auto &t : types)
            if (text_equal_nocase(dot + 1, t.extension))
                return t.type;
    }
    return "application/octet-stream";
}

size_t compose_ok_head(const char *file_name, char *out, size_t size)
{
    int n = std::snprintf(out, size,
                          "HTTP/1.0 200 OK\r\n" SERVER_LINE "Content-Type: %s;charset=UTF-8\r\n\r\n",
                          content_type_of(file_name));
    return (n < 0 || static_cast<size_t>(n) >= size) ? 0 : static_cast<size_t>(n);
}

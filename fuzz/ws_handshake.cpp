// The judgement of the server's reply to the opening handshake, on arbitrary replies: the verdict
// and the accept value must follow the text of the reply's header (up to its first empty line, or
// all of it without one; the accept header's name in any case), and nothing may be read outside it
// (the reply is copied into a block of exactly its size, which carries no terminator). Then the sorting
// of the bytes behind the reply, arriving in pieces: only what follows the header's empty line may
// stay, and only when its first byte begins a frame.
#include "check.h"
#include "rws_private.h"
#include "splits.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Where the header ends: just past the first LF LF or LF CR LF, or npos.
size_t model_header_end(const std::string &reply)
{
    size_t lf_lf = reply.find("\n\n"), lf_cr_lf = reply.find("\n\r\n");
    return std::min(lf_lf == std::string::npos ? lf_lf : lf_lf + 2,
                    lf_cr_lf == std::string::npos ? lf_cr_lf : lf_cr_lf + 3);
}

// The first place of the name in the text, ASCII letters compared without regard to case.
size_t find_folded(const std::string &text, const std::string &name)
{
    auto fold = [](char ch) { return ch >= 'A' && ch <= 'Z' ? (char)(ch - 'A' + 'a') : ch; };
    auto at = std::search(text.begin(), text.end(), name.begin(), name.end(),
                          [&](char a, char b) { return fold(a) == fold(b); });
    return at == text.end() ? std::string::npos : (size_t)(at - text.begin());
}

bool model_starts_frame(uint8_t b)
{
    int op = b & 0x0f;
    bool fin = (b & 0x80) != 0;
    return (b & 0x70) == 0 && (op <= 2 || (fin && op >= 8 && op <= 10));
}

// What stays in the receive buffer once the reply has arrived in pieces.
std::string model_behind_reply(const std::string &reply, const std::vector<size_t> &piece_ends)
{
    size_t end = model_header_end(reply);
    if (end >= reply.size())
        return "";
    size_t first_piece_end = 0;
    for (size_t e : piece_ends)
        if (e > end) {
            first_piece_end = e;
            break;
        }
    return model_starts_frame((uint8_t)reply[end]) ? reply.substr(end) : reply.substr(first_piece_end);
}

void check_bytes_behind_reply(const std::string &reply)
{
    rws_client *c = rws_client_create();
    c->reply_scan = RWS_REPLY_IN_LINE;
    piece_sizes pieces(reply.empty() ? 0 : (uint8_t)reply.back() % 9);
    std::vector<size_t> piece_ends;
    for (size_t pos = 0; pos < reply.size();) {
        size_t n = pieces.next(reply.size() - pos);
        rws_rx_append(c, reply.data() + pos, (uint32_t)n);
        rws_handshake_skip_reply(c);
        pos += n;
        piece_ends.push_back(pos);
    }
    std::string kept = c->rx_length > 0 ? std::string((const char *)c->rx_buffer, c->rx_length) : "";
    check(kept == model_behind_reply(reply, piece_ends),
          "the bytes kept behind the reply differ from the model");
    rws_client_disconnect(c);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string whole((const char *)data, size);
    const size_t header_end = model_header_end(whole);
    check(rws_reply_header_length(data, size) == (header_end == std::string::npos ? 0 : header_end),
          "the header's length differs from the model");
    // Only the header is judged.
    const std::string reply = whole.substr(0, header_end);
    uint8_t *exact = (uint8_t *)std::malloc(size ? size : 1);
    if (size)
        std::memcpy(exact, data, size);
    char *accept = nullptr;
    rws_reply_verdict verdict = rws_handshake_judge(exact, size, &accept);

    const size_t http = reply.find("HTTP/");
    const size_t name = find_folded(reply, "Sec-WebSocket-Accept");
    if (http == std::string::npos) {
        check(verdict == RWS_REPLY_NO_HTTP, "a reply without HTTP/ must be rejected without a fault");
        check(accept == nullptr, "no accept value is taken from a reply without HTTP/");
    } else {
        check(verdict != RWS_REPLY_NO_HTTP, "a reply with HTTP/ must be judged");
        // Plain status lines: 101 is never a bad status, 200 always is.
        if (reply.compare(http, 13, "HTTP/1.1 101 ") == 0)
            check(verdict != RWS_REPLY_BAD_STATUS, "status 101 judged as bad");
        if (reply.compare(http, 13, "HTTP/1.1 200 ") == 0)
            check(verdict == RWS_REPLY_BAD_STATUS, "status 200 not judged as bad");
        // The accept value decides between the two verdicts of a 101.
        if (verdict == RWS_REPLY_ACCEPTED)
            check(accept != nullptr, "accepted without an accept value");
        if (verdict == RWS_REPLY_NO_ACCEPT)
            check(accept == nullptr, "an accept value, but not accepted");

        // Where the header name occurs, its value: skip ':' and ' ', up to the first CR or LF.
        std::string expected;
        if (name != std::string::npos) {
            size_t from = name + std::strlen("Sec-WebSocket-Accept");
            while (from < reply.size() && (reply[from] == ':' || reply[from] == ' '))
                from++;
            size_t to = reply.find_first_of("\r\n", from);
            expected = reply.substr(from, to == std::string::npos ? std::string::npos : to - from);
        }
        if (expected.empty())
            check(accept == nullptr, "an accept value from nothing");
        else
            check(accept != nullptr && std::memcmp(accept, expected.data(), expected.size()) == 0 &&
                      accept[expected.size()] == '\0',
                  "the accept value is not the header's value");
    }
    rws_release(accept);
    std::free(exact);
    check_bytes_behind_reply(whole);
    return 0;
}

// The judgement of the server's reply to the opening handshake, on arbitrary replies: the verdict
// and the accept value must follow the reply's own text, and nothing may be read outside it (the
// reply is copied into a block of exactly its size, which carries no terminator).
#include "check.h"
#include "rws_private.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string reply((const char *)data, size);
    uint8_t *exact = (uint8_t *)std::malloc(size ? size : 1);
    if (size)
        std::memcpy(exact, data, size);
    char *accept = nullptr;
    rws_reply_verdict verdict = rws_handshake_judge(exact, size, &accept);

    const size_t http = reply.find("HTTP/");
    const size_t name = reply.find("Sec-WebSocket-Accept");
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
    return 0;
}

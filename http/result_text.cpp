// The meaning of each result code, for diagnostics. The switch names every code and has no default,
// so that -Wswitch reports a code added without a text.
#include "http.h"

const char *http_result_text(http_result code)
{
    switch (code) {
    case HTTP_OK:
        return "the exchange completed";
    case HTTP_ERR_NO_CLIENT:
        return "no HTTP client could be made (out of memory)";
    case HTTP_ERR_LOCAL_PATH:
        return "the local file path cannot be used";
    case HTTP_ERR_RESPONSE:
        return "the response was malformed, or its body could not be stored in the local file";
    case HTTP_ERR_URL:
        return "the URL cannot be split";
    case HTTP_ERR_SCHEME:
        return "the URL's scheme is neither http nor https";
    case HTTP_ERR_NO_HOST:
        return "the URL names no host";
    case HTTP_ERR_RESOLVE:
        return "the host is not a valid IPv4 address, or its name could not be resolved in time";
    case HTTP_ERR_SOCKET:
        return "no socket could be made";
    case HTTP_ERR_LINGER:
        return "the socket's linger option could not be set";
    case HTTP_ERR_NONBLOCKING:
        return "the socket could not be made non-blocking";
    case HTTP_ERR_CONNECT:
        return "the connection failed at once: no route to that address";
    case HTTP_ERR_CONNECT_WAIT:
        return "no connection: refused, or no answer within the time limit (nothing listens there, or the "
               "link is down)";
    case HTTP_ERR_SEND:
        return "the request could not be sent";
    case HTTP_ERR_RECEIVE:
        return "the response did not arrive whole (connection reset, or no data within the time limit)";
    case HTTP_ERR_TOO_MANY_REDIRECTS:
        return "more redirects than the client follows";
    case HTTP_ERR_METHOD:
        return "a request method the client does not know";
    case HTTP_ERR_TLS:
        return "the TLS handshake failed";
    }
    return "unknown result"; // a value converted from outside the enumeration
}

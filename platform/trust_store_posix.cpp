// POSIX side of the trust store: the distribution's CA bundle file.
#include "trust_store.h"

#include <cstdio>
#include <string>

namespace {

const char *const BUNDLE_PATHS[] = {
    "/etc/ssl/certs/ca-certificates.crt", // Debian and its family
    "/etc/pki/tls/certs/ca-bundle.crt",   // the Red Hat family
};

// Reads the whole file at path into text; false when it cannot be opened or read.
bool read_whole_file(const char *path, std::string &text)
{
    FILE *file = std::fopen(path, "rb");
    if (!file)
        return false;
    char chunk[16384];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, n);
    bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

} // namespace

int system_trust_store(trust_store_fn fn, void *user)
{
    for (const char *path : BUNDLE_PATHS) {
        std::string pem;
        if (!read_whole_file(path, pem) || pem.empty())
            continue;
        // PEM text is handed over with its terminating NUL counted, as PEM parsers expect.
        fn(reinterpret_cast<const unsigned char *>(pem.c_str()), pem.size() + 1, user);
        return 1;
    }
    return -1;
}

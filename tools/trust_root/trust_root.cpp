// trust_root add|remove CERT.der: adds a certificate to, or removes it from, the current user's
// trusted roots (the Windows build's "ROOT" store, for example in a test Wine prefix). Exits 0 on
// success, 1 on failure (always on POSIX, where the system's bundle is not ours to change).
#include "trust_store.h"

#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char **argv)
{
    if (argc != 3 || (std::strcmp(argv[1], "add") != 0 && std::strcmp(argv[1], "remove") != 0)) {
        std::fprintf(stderr, "usage: trust_root add|remove CERT.der\n");
        return 2;
    }
    FILE *file = std::fopen(argv[2], "rb");
    if (!file) {
        std::fprintf(stderr, "trust_root: cannot open %s\n", argv[2]);
        return 1;
    }
    std::vector<unsigned char> der(65536);
    size_t n = std::fread(der.data(), 1, der.size(), file);
    std::fclose(file);
    if (trust_store_change_root(der.data(), n, argv[1][0] == 'a') != 0) {
        std::fprintf(stderr, "trust_root: %s failed\n", argv[1]);
        return 1;
    }
    return 0;
}

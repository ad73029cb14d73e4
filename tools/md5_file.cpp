// md5_file: prints "digest  path" for each path, like md5sum, through md5_file_hex. Used by the
// tests (md5sum as the oracle), the benchmarks and the demo.
#include "md5.h"

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <file>...\n", argv[0]);
        return 2;
    }
    int rc = 0;
    for (int i = 1; i < argc; i++) {
        char hex[33];
        md5_file_hex(argv[i], hex);
        if (hex[0] == '\0') {
            std::fprintf(stderr, "%s: cannot open %s\n", argv[0], argv[i]);
            rc = 1;
            continue;
        }
        std::printf("%s  %s\n", hex, argv[i]);
    }
    return rc;
}

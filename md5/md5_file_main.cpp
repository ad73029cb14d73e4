// md5_file: prints "digest  path" for each path, like md5sum, through md5_file_hex. Used by the
// tests (md5sum as the oracle), the benchmarks and the demo. With --header it is the build step
// that writes the digest of the firmware image the tool carries into the header the tool compiles.
#include "md5.h"
#include "text_util.h"

#include <cstdio>
#include <cstring>

namespace {

int usage(const char *self)
{
    std::fprintf(stderr,
                 "usage: %s <file>...\n"
                 "       %s --header <macro> <file> <output.h>\n",
                 self, self);
    return 2;
}

// Writes "#define <macro> \"<digest>\"" to output, every write and the close checked.
int write_header(const char *macro, const char *input, const char *output)
{
    char hex[33];
    md5_file_hex(input, hex);
    if (hex[0] == '\0') {
        std::fprintf(stderr, "md5_file: cannot open %s\n", input);
        return 1;
    }
    FILE *out = std::fopen(output, "w");
    if (out == nullptr) {
        std::fprintf(stderr, "md5_file: cannot create %s\n", output);
        return 1;
    }
    bool ok = std::fprintf(out,
                           "// Generated at build time by md5_file from %s: do not edit.\n"
                           "#pragma once\n"
                           "#define %s \"%s\"\n",
                           path_base_name(input), macro, hex) > 0;  // no path of the build machine
    ok = std::fclose(out) == 0 && ok;
    if (!ok) {
        std::remove(output);
        std::fprintf(stderr, "md5_file: could not write %s\n", output);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const char *self = argc > 0 ? argv[0] : "md5_file";
    if (argc < 2)
        return usage(self);
    if (std::strcmp(argv[1], "--header") == 0)
        return argc == 5 ? write_header(argv[2], argv[3], argv[4]) : usage(self);
    int rc = 0;
    for (int i = 1; i < argc; i++) {
        char hex[33];
        md5_file_hex(argv[i], hex);
        if (hex[0] == '\0') {
            std::fprintf(stderr, "%s: cannot open %s\n", self, argv[i]);
            rc = 1;
            continue;
        }
        std::printf("%s  %s\n", hex, argv[i]);
    }
    return rc;
}

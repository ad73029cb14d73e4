// asset_header: the build-time command that turns an asset file into the header the tool compiles.
#include "asset_header.h"

#include <cstdio>
#include <cstring>

namespace {

int usage(const char *self)
{
    std::fprintf(stderr,
                 "usage: %s firmware <input> <model> <version> <output.h>\n"
                 "       %s utility <input> <version> <output.h>\n"
                 "       %s stub <model> <version> <output.h>\n",
                 self, self, self);
    return 2;
}

// Says what went wrong with a generator result; returns the process exit code.
int report(int rc, const char *input, const char *output)
{
    switch (rc) {
    case ASSET_OK:
        return 0;
    case ASSET_TOO_LARGE:
        std::fprintf(stderr, "asset_header: %s: larger than %llu bytes\n", input,
                     (unsigned long long)ASSET_INPUT_MAX);
        break;
    case ASSET_SHORT_READ:
        std::fprintf(stderr, "asset_header: %s: could not read the whole file\n", input);
        break;
    case ASSET_NO_INPUT:
        std::fprintf(stderr, "asset_header: %s: cannot open\n", input);
        break;
    case ASSET_NO_OUTPUT:
        std::fprintf(stderr, "asset_header: %s: cannot create\n", output);
        break;
    default:
        std::fprintf(stderr, "asset_header: %s: could not write the header\n", output);
        break;
    }
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    const char *self = argc > 0 ? argv[0] : "asset_header";
    if (argc < 2)
        return usage(self);
    const char *mode = argv[1];
    if (std::strcmp(mode, "firmware") == 0 && argc == 6)
        return report(generate_firmware_header(argv[2], argv[3], argv[4], argv[5]), argv[2], argv[5]);
    if (std::strcmp(mode, "utility") == 0 && argc == 5)
        return report(generate_utility_header(argv[2], argv[3], argv[4]), argv[2], argv[4]);
    if (std::strcmp(mode, "stub") == 0 && argc == 5) {
        if (write_firmware_stub_header(argv[2], argv[3], argv[4]) == 0)
            return 0;
        std::fprintf(stderr, "asset_header: %s: cannot create\n", argv[4]);
        return 1;
    }
    return usage(self);
}

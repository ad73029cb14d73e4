// A foreign program planted where the tool keeps its file server: when it runs it only leaves a
// marker file beside itself ("<its path>.ran"), so that a scenario can tell whether it ever ran.
// Small (stdio only, no symbols), so that a scenario can pad it to the size it wants.
#include <cstdio>

int main(int argc, char **argv)
{
    char marker[4096];
    if (argc < 1 || std::snprintf(marker, sizeof marker, "%s.ran", argv[0]) >= static_cast<int>(sizeof marker))
        return 1;
    std::FILE *file = std::fopen(marker, "w");
    return file != nullptr && std::fclose(file) == 0 ? 0 : 1;
}

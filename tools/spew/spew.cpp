// spew <bytes> <marker file> [lines]: writes that many bytes to standard output and to standard
// error, then, when lines is given, that many lines "line 1", "line 2", ... to standard output, and
// last creates the marker file (a relative path lands in its current directory). Tests use it to
// see that a started program neither blocks on its output nor loses its working directory, and that
// its lines reach the one who started it.
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc != 3 && argc != 4)
        return 2;
    long bytes = std::atol(argv[1]);
    for (long i = 0; i < bytes; i++) {
        std::fputc('o', stdout);
        std::fputc('e', stderr);
    }
    long lines = argc == 4 ? std::atol(argv[3]) : 0;
    for (long i = 1; i <= lines; i++)
        std::printf("line %ld\n", i);
    std::fflush(stdout);
    FILE *marker = std::fopen(argv[2], "w");
    if (marker == nullptr)
        return 1;
    std::fputs("done", marker);
    return std::fclose(marker) == 0 ? 0 : 1;
}

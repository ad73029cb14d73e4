// spew <bytes> <marker file>: writes that many bytes to standard output and to standard error, then
// creates the marker file (a relative path lands in its current directory). Tests use it to see
// that a started program neither blocks on its output nor loses its working directory.
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    long bytes = std::atol(argv[1]);
    for (long i = 0; i < bytes; i++) {
        std::fputc('o', stdout);
        std::fputc('e', stderr);
    }
    std::fflush(stdout);
    FILE *marker = std::fopen(argv[2], "w");
    if (marker == nullptr)
        return 1;
    std::fputs("done", marker);
    return std::fclose(marker) == 0 ? 0 : 1;
}

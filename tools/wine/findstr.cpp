// A working findstr for the test Wine prefix (Wine's own prints nothing): prints the lines of standard
// input that contain any of the search strings. Options (/I, /C:text, /L, /R and the like) are read as
// far as the tests need: /I ignores case, /C:text searches for text with its spaces; strings are literal.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

static std::string lower(std::string s)
{
    for (char &c : s)
        c = (char)std::tolower((unsigned char)c);
    return s;
}

int main(int argc, char **argv)
{
    bool ignore_case = false;
    std::vector<std::string> needles;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a.size() >= 2 && (a[0] == '/' || a[0] == '-') && std::isalpha((unsigned char)a[1])) {
            if (a.size() == 2 && std::toupper((unsigned char)a[1]) == 'I')
                ignore_case = true;
            else if (a.size() > 3 && std::toupper((unsigned char)a[1]) == 'C' && a[2] == ':')
                needles.push_back(a.substr(3));
            continue;
        }
        size_t start = 0;
        while (start <= a.size()) {  // plain arguments hold space-separated alternatives
            size_t end = a.find(' ', start);
            if (end == std::string::npos)
                end = a.size();
            if (end > start)
                needles.push_back(a.substr(start, end - start));
            start = end + 1;
        }
    }
    if (needles.empty()) {
        std::fputs("FINDSTR: Bad command line\n", stderr);
        return 2;
    }
    if (ignore_case)
        for (auto &n : needles)
            n = lower(n);

    bool any = false;
    char line[8192];
    while (std::fgets(line, sizeof line, stdin)) {
        std::string hay = ignore_case ? lower(line) : std::string(line);
        for (const auto &n : needles) {
            if (hay.find(n) != std::string::npos) {
                std::fputs(line, stdout);
                any = true;
                break;
            }
        }
    }
    return any ? 0 : 1;
}

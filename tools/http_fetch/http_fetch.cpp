// http_fetch: fetches one URL into a file with the tool's HTTP client, for tests and benchmarks.
//   http_fetch [-k] [-t ms] URL PATH
// Without -k it makes exactly the call the driver makes, http_download_file. With -k it runs the
// same download on a client of its own with server verification turned off. Prints
// "result R status S ms T" (status -1 where http_download_file cannot tell it) and exits 0.
#include "http.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char **argv)
{
    bool no_verify = false;
    int32_t timeout_ms = 0;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; i++) {
        if (std::strcmp(argv[i], "-k") == 0)
            no_verify = true;
        else if (std::strcmp(argv[i], "-t") == 0 && i + 1 < argc)
            timeout_ms = (int32_t)std::atol(argv[++i]);
        else
            break;
    }
    if (argc - i != 2) {
        std::fprintf(stderr, "usage: http_fetch [-k] [-t ms] URL PATH\n");
        return 2;
    }
    const char *url = argv[i], *path = argv[i + 1];
    auto start = std::chrono::steady_clock::now();
    int result, status = -1;
    if (!no_verify) {
        result = http_download_file(url, path, timeout_ms);
    } else {
        http_client_startup();
        http_client *client = http_client_new();
        http_client_set_timeout(client, timeout_ms);
        http_client_set_tls_verify(client, 0);
        result = http_client_download(client, url, path);
        status = http_client_status(client);
        http_client_free(client);
    }
    long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    std::printf("result %d status %d ms %lld\n", result, status, ms);
    return 0;
}

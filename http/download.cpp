// The blocking call the rest of the tool uses: fetch a URL into a local file, with or without the
// response's status.
#include "http_client_internal.h"

http_result http_download_file(const char *url, const char *local_path, int32_t timeout_ms)
{
    int status = 0;
    return http_download_file_status(url, local_path, timeout_ms, &status);
}

http_result http_download_file_status(const char *url, const char *local_path, int32_t timeout_ms, int *status)
{
    *status = 0;
    // A failed start-up is not acted on: the request then fails to resolve or to make its socket.
    http_client_startup();
    http_client *client = http_client_new();
    if (!client)
        return HTTP_ERR_NO_CLIENT;
    http_client_set_timeout(client, timeout_ms);
    http_result code = http_client_download(client, url, local_path);
    *status = http_client_status(client);
    http_client_free(client);
    return code;
}

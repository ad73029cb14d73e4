// The file sink: the body of a 2xx response goes to the download file, which is created or
// truncated only when that body's first byte arrives, and passes the progress callback on its way.
#include "http_client_internal.h"

namespace {

// The body arrives in pieces of up to HTTP_RECEIVE_CHUNK bytes: a larger buffer saves most of the
// write calls.
const size_t FILE_BUFFER_BYTES = 65536;

// Opens the download file at the first body byte; false when there is no path or it cannot be opened.
bool open_file(http_client *client)
{
    if (!client->file && client->download_path) {
        client->file = std::fopen(client->download_path, "wb");
        if (client->file)
            std::setvbuf(client->file, nullptr, _IOFBF, FILE_BUFFER_BYTES);
    }
    return client->file != nullptr;
}

int write_to_file(http_client *client, const char *bytes, size_t length)
{
    if (client->status < 200 || client->status > 299)
        return 0;
    if (!open_file(client))
        return -1;
    if (client->progress && client->progress(client, bytes, static_cast<int32_t>(length), client->content_length,
                                             client->progress_user) != 0)
        return -1;
    // A short write (a full disk) loses the body: the request must not report success.
    return std::fwrite(bytes, 1, length, client->file) == length ? 0 : -1;
}

// Bytes still buffered reach the file only at its close.
http_result finish_file(http_client *client)
{
    return http_client_close_file(client) ? HTTP_OK : HTTP_ERR_RESPONSE;
}

} // namespace

const http_body_sink http_file_sink = {write_to_file, nullptr, finish_file};

bool http_client_close_file(http_client *client)
{
    if (!client->file)
        return true;
    bool ok = std::fclose(client->file) == 0;
    client->file = nullptr;
    return ok;
}

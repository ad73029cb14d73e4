// Inputs on which a fuzzer found a fault, replayed through the real code paths.
#include "http_client_internal.h"
#include "http_peer.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A download whose progress callback refuses the body must fail, also when the refused chunk is
// the last bytes of a receive: the parser then stops without consuming fewer bytes, and only its
// error state shows the refusal (found by fuzz_http_response; a failed write of the file went
// unnoticed the same way).
TEST(FuzzRegression, ProgressAbortOnTheLastBytesOfAReceive)
{
    test_files::scratch_dir dir;
    http_client_startup();
    script_peer peer({{read_request(), send_bytes("HTTP/1.0 200 OK\r\n\r\nto the end"), close_conn()}});
    http_client *client = http_client_new();
    http_client_set_timeout(client, 2000);
    http_client_set_progress(
        client, [](http_client *, const char *, int32_t, int32_t, void *) { return 1; }, nullptr);
    EXPECT_EQ(HTTP_ERR_RESPONSE, http_client_download(client, peer.url("/f").c_str(), dir.file("f").c_str()));
    http_client_free(client);
    EXPECT_EQ("", test_files::read_file(dir.file("f")));
}

// A peer's Content-Length never sizes the memory body: 2,147,483,647 made the client allocate 2 GiB
// at the first body byte (found by fuzz_http_response). The bytes that came are kept all the same.
TEST(FuzzRegression, HugeContentLengthInMemory)
{
    http_client_startup();
    script_peer peer({{read_request(), send_bytes("HTTP/1.1 200 OK\r\nContent-Length: 2147483647\r\n\r\nx"),
                       close_conn()}});
    http_client *client = http_client_new();
    http_client_set_timeout(client, 2000);
    EXPECT_STREQ("x", http_client_get(client, peer.url("/m").c_str(), 0));
    EXPECT_EQ(HTTP_OK, http_client_last_error(client));
    EXPECT_LE(client->body_capacity, HTTP_BODY_FIRST_MAX);
    http_client_free(client);
}

} // namespace

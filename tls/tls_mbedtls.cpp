// The TLS adapter on mbedTLS: configuration, the socket glue and the mapping of its error codes.
#include "tls.h"
#include "trust_store.h"

#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>
#include <mbedtls/net_sockets.h>
#include <mbedtls/ssl.h>
#include <mbedtls/x509_crt.h>

#include <cstdlib>

struct tls_method {
    int endpoint; // MBEDTLS_SSL_IS_CLIENT or MBEDTLS_SSL_IS_SERVER
};

struct tls_context {
    mbedtls_ssl_config config;
    mbedtls_entropy_context entropy;
    mbedtls_ctr_drbg_context random;
    mbedtls_x509_crt roots; // trusted roots; empty when the context does not verify
};

struct tls_connection {
    mbedtls_ssl_context ssl;
    socket_t socket;
};

namespace {

const tls_method CLIENT_METHOD = {MBEDTLS_SSL_IS_CLIENT};

bool is_transient(int error)
{
    return error == SOCK_ERR_WOULD_BLOCK || error == SOCK_ERR_IN_PROGRESS || error == SOCK_ERR_INTERRUPTED;
}

// Socket glue: a socket that would block, or a call interrupted by a signal, asks the caller to
// come back when the socket is ready; other socket errors are system errors.
int send_on_socket(void *glue, const unsigned char *bytes, size_t length)
{
    auto *connection = static_cast<tls_connection *>(glue);
    int sent = (int)send(connection->socket, (const char *)bytes, socket_io_length(length), SOCK_SEND_FLAGS);
    if (sent >= 0)
        return sent;
    int error = socket_last_error();
    if (is_transient(error))
        return MBEDTLS_ERR_SSL_WANT_WRITE;
    return error == SOCK_ERR_RESET || error == SOCK_ERR_PIPE ? MBEDTLS_ERR_NET_CONN_RESET
                                                              : MBEDTLS_ERR_NET_SEND_FAILED;
}

int receive_on_socket(void *glue, unsigned char *buffer, size_t length)
{
    auto *connection = static_cast<tls_connection *>(glue);
    int received = (int)recv(connection->socket, (char *)buffer, socket_io_length(length), 0);
    if (received >= 0)
        return received;
    int error = socket_last_error();
    if (is_transient(error))
        return MBEDTLS_ERR_SSL_WANT_READ;
    return error == SOCK_ERR_RESET ? MBEDTLS_ERR_NET_CONN_RESET : MBEDTLS_ERR_NET_RECV_FAILED;
}

// Adds trusted roots from the system's store; certificates mbedTLS cannot read are skipped.
void add_trusted_roots(const unsigned char *bytes, size_t length, void *user)
{
    mbedtls_x509_crt_parse(static_cast<mbedtls_x509_crt *>(user), bytes, length);
}

} // namespace

int tls_library_startup() { return 0; }

const tls_method *tls_client_method() { return &CLIENT_METHOD; }

tls_context *tls_context_new(const tls_method *method, bool verify_peer)
{
    if (!method)
        return nullptr;
    auto *context = static_cast<tls_context *>(std::calloc(1, sizeof(tls_context)));
    if (!context)
        return nullptr;
    mbedtls_ssl_config_init(&context->config);
    mbedtls_entropy_init(&context->entropy);
    mbedtls_ctr_drbg_init(&context->random);
    mbedtls_x509_crt_init(&context->roots);

    static const unsigned char personal[] = "facup tls client";
    if (mbedtls_ctr_drbg_seed(&context->random, mbedtls_entropy_func, &context->entropy, personal,
                              sizeof personal - 1) != 0 ||
        mbedtls_ssl_config_defaults(&context->config, method->endpoint, MBEDTLS_SSL_TRANSPORT_STREAM,
                                    MBEDTLS_SSL_PRESET_DEFAULT) != 0) {
        tls_context_free(context);
        return nullptr;
    }
    mbedtls_ssl_conf_rng(&context->config, mbedtls_ctr_drbg_random, &context->random);
    if (verify_peer) {
        // An unreadable or empty store leaves no trusted root, so every server is refused.
        system_trust_store(add_trusted_roots, &context->roots);
        mbedtls_ssl_conf_ca_chain(&context->config, &context->roots, nullptr);
        mbedtls_ssl_conf_authmode(&context->config, MBEDTLS_SSL_VERIFY_REQUIRED);
    } else {
        mbedtls_ssl_conf_authmode(&context->config, MBEDTLS_SSL_VERIFY_NONE);
    }
    return context;
}

void tls_context_free(tls_context *context)
{
    if (!context)
        return;
    mbedtls_x509_crt_free(&context->roots);
    mbedtls_ctr_drbg_free(&context->random);
    mbedtls_entropy_free(&context->entropy);
    mbedtls_ssl_config_free(&context->config);
    std::free(context);
}

tls_connection *tls_connection_new(tls_context *context)
{
    if (!context)
        return nullptr;
    auto *connection = static_cast<tls_connection *>(std::calloc(1, sizeof(tls_connection)));
    if (!connection)
        return nullptr;
    connection->socket = NO_SOCKET;
    mbedtls_ssl_init(&connection->ssl);
    if (mbedtls_ssl_setup(&connection->ssl, &context->config) != 0) {
        tls_connection_free(connection);
        return nullptr;
    }
    return connection;
}

void tls_connection_free(tls_connection *connection)
{
    if (!connection)
        return;
    mbedtls_ssl_free(&connection->ssl);
    std::free(connection);
}

int tls_set_host_name(tls_connection *connection, const char *host)
{
    return connection && host && mbedtls_ssl_set_hostname(&connection->ssl, host) == 0;
}

int tls_attach_socket(tls_connection *connection, socket_t socket)
{
    if (!connection || socket == NO_SOCKET)
        return 0;
    connection->socket = socket;
    mbedtls_ssl_set_bio(&connection->ssl, connection, send_on_socket, receive_on_socket, nullptr);
    return 1;
}

int tls_handshake_step(tls_connection *connection)
{
    int result = mbedtls_ssl_handshake(&connection->ssl);
    return result == 0 ? 1 : result;
}

int tls_write(tls_connection *connection, const void *bytes, int length)
{
    if (length <= 0)
        return 0;
    return mbedtls_ssl_write(&connection->ssl, static_cast<const unsigned char *>(bytes), (size_t)length);
}

int tls_read(tls_connection *connection, void *buffer, int length)
{
    if (length <= 0)
        return 0;
    for (;;) {
        int result = mbedtls_ssl_read(&connection->ssl, static_cast<unsigned char *>(buffer), (size_t)length);
        if (result == MBEDTLS_ERR_SSL_PEER_CLOSE_NOTIFY || result == MBEDTLS_ERR_SSL_CONN_EOF)
            return 0;
        // A record that carried no application data can leave the next one already buffered: the
        // socket may never become readable for it, so read on instead of asking to wait.
        if (result == MBEDTLS_ERR_SSL_WANT_READ && mbedtls_ssl_check_pending(&connection->ssl))
            continue;
        return result;
    }
}

int tls_error_kind(tls_connection *, int result)
{
    switch (result) {
    case MBEDTLS_ERR_SSL_WANT_READ:
        return TLS_ERROR_WANT_READ;
    case MBEDTLS_ERR_SSL_WANT_WRITE:
        return TLS_ERROR_WANT_WRITE;
    case MBEDTLS_ERR_NET_SEND_FAILED:
    case MBEDTLS_ERR_NET_RECV_FAILED:
    case MBEDTLS_ERR_NET_CONN_RESET:
        return TLS_ERROR_SYSCALL;
    case 0:
    case MBEDTLS_ERR_SSL_PEER_CLOSE_NOTIFY:
    case MBEDTLS_ERR_SSL_CONN_EOF:
        return TLS_ERROR_CLOSED;
    default:
        return TLS_ERROR_FATAL;
    }
}

void tls_shutdown(tls_connection *connection)
{
    if (connection)
        mbedtls_ssl_close_notify(&connection->ssl);
}

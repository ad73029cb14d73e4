// The TLS adapter of the HTTP client: client-side TLS over a non-blocking socket, on mbedTLS, with
// just the operations the client needs. A context verifies the server (certificate chain against
// the system's trust store, and the host name) unless it is made without verification.
#pragma once

#include "socket.h"

struct tls_method;
struct tls_context;
struct tls_connection;

// What a failed call means (tls_error_kind). Every kind not listed is fatal.
enum {
    TLS_ERROR_FATAL = 1,       // protocol, certificate or internal error: give up
    TLS_ERROR_WANT_READ = 2,   // call again once the socket is readable
    TLS_ERROR_WANT_WRITE = 3,  // call again once the socket is writable
    TLS_ERROR_SYSCALL = 5,     // the socket failed: the system's socket error tells more
    TLS_ERROR_CLOSED = 6,      // the peer closed the connection
};

// Starts the TLS library once per process. 0, or a negative value on failure.
int tls_library_startup();

// The method object of the client role.
const tls_method *tls_client_method();

// A context for connections of the given method: verify_peer checks the server's certificate chain
// against the system's trust store and its name against the host name of the connection. None
// (nullptr) when the method is missing or the random generator cannot be seeded.
tls_context *tls_context_new(const tls_method *method, bool verify_peer);
void tls_context_free(tls_context *context);

// A connection of the context (which must outlive it), or none on failure.
tls_connection *tls_connection_new(tls_context *context);
void tls_connection_free(tls_connection *connection);

// Names the server for the handshake (server name indication) and for the name check. Non-zero
// on success.
int tls_set_host_name(tls_connection *connection, const char *host);

// Makes the connection run over the (non-blocking, connected) socket. Non-zero on success.
int tls_attach_socket(tls_connection *connection, socket_t socket);

// Advances the handshake as far as the socket allows. Above 0 when it is complete; otherwise the
// failed result for tls_error_kind.
int tls_handshake_step(tls_connection *connection);

// Encrypts and sends up to length bytes: bytes accepted (above 0), or a failed result (below 0).
int tls_write(tls_connection *connection, const void *bytes, int length);

// Receives and decrypts up to length bytes: bytes delivered (above 0), 0 when the peer closed, or
// a failed result (below 0).
int tls_read(tls_connection *connection, void *buffer, int length);

// The kind (TLS_ERROR_*) of a failed result of the connection's last call.
int tls_error_kind(tls_connection *connection, int result);

// Sends the closing alert if the handshake completed; the result is not reported.
void tls_shutdown(tls_connection *connection);

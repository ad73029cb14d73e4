// The system's trusted root certificates, for checking the certificate of a TLS server.
#pragma once

#include <cstddef>

// Receives trusted certificates: DER bytes (one certificate), or PEM text whose length counts a
// final NUL (a bundle of any number of certificates).
using trust_store_fn = void (*)(const unsigned char *bytes, size_t length, void *user);

// Hands the system's trusted roots to fn. Windows: each certificate of the "ROOT" system store
// (DER, one call each). POSIX: the system's CA bundle file, Debian's
// /etc/ssl/certs/ca-certificates.crt or, where that is missing, the Red Hat family's bundle (PEM,
// one call). Returns the number of calls made, or -1 when there is no store to read.
int system_trust_store(trust_store_fn fn, void *user);

// Adds (add true) or removes one DER certificate in the current user's trusted roots: on Windows
// the "ROOT" system store. On POSIX the system's bundle is not the program's to change: -1.
// 0 on success, -1 on failure. Used to set up test environments, never by the tool itself.
int trust_store_change_root(const unsigned char *der, size_t length, bool add);

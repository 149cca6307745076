#pragma once

#include <memory>

#include "mail/tls/trust_index.h"
#include "util/holders/openssl_holders.h"

// A TLS client context with the trust store it verifies servers against, shared by every
// connection that reads the same trust files. The store is most of what a TLS connection
// costs in memory, and reading it most of a first handshake's time: several accounts hold one
// copy, not one each. OpenSSL lets connections on any thread use one context; nothing here is
// changed once made (a certificate pin is set on each connection's own TLS object).
struct TrustedContext {
    TrustIndex index;        // outlives the context, which consults it
    OwnedTlsContext context; // TLS 1.2 or newer, the peer verified
};

// The context for a connection made when "cacert.pem" of the working folder was
// `constructionFile` (see trustFilesOf): the one a live connection already holds for the same
// trust files, or a new one, read now. Null when OpenSSL could not make one. Any thread.
std::shared_ptr<TrustedContext> sharedTrustedContext(const char* constructionFile);

#pragma once

#include <openssl/types.h>

// Receives one trusted root; it stays the caller's, who frees it after the call.
using PlatformRootSink = void (*)(X509* certificate, void* context);

// Adds the platform's own trusted roots: each certificate of the Windows ROOT store goes to
// `take`; natively, OpenSSL's default folder of certificates becomes a lookup of `store`. Returns
// the platform's default file of certificates for the caller to read (natively), or null.
const char* addPlatformRoots(X509_STORE* store, PlatformRootSink take, void* context);

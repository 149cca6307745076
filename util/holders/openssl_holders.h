#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include "util/holders/holder.h"

// One BIO alone.
using OwnedBio = Owned<BIO, BIO_free>;
// A BIO with every BIO pushed under it (a TLS stream over its socket), given back together.
using OwnedBioChain = Owned<BIO, BIO_free_all>;
using OwnedAddress = Owned<BIO_ADDR, BIO_ADDR_free>;
// The whole list BIO_lookup_ex made.
using OwnedAddressInfo = Owned<BIO_ADDRINFO, BIO_ADDRINFO_free>;
using OwnedTlsContext = Owned<SSL_CTX, SSL_CTX_free>;
using OwnedCertificate = Owned<X509, X509_free>;
using OwnedKey = Owned<EVP_PKEY, EVP_PKEY_free>;

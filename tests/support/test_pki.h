// Certificates for TLS tests, made in-process: a test CA and leaf certificates for the cases a
// client must accept or refuse.
#pragma once

#include <string>

#include <openssl/types.h>

namespace testbench {

class TestPki {
public:
    // Writes into directory (which must exist):
    //   ca.pem                    the test CA (ca.key beside it)
    //   server.pem/.key           signed by the CA, CN localhost, SAN DNS:localhost, IP:127.0.0.1
    //   wronghost.pem/.key        signed by the CA, SAN DNS:other.invalid only
    //   expired.pem/.key          signed by the CA, names as server, validity entirely in the past
    //   selfsigned.pem/.key       names as server, but signed by its own key, not the CA
    //   notyetvalid.pem/.key      signed by the CA, names as server, validity entirely ahead
    //   unknownca.pem/.key        names as server, signed by a CA that ca.pem does not hold
    //   wildcard.pem/.key         signed by the CA, SAN DNS:*.example.test only
    //   cnonly.pem/.key           signed by the CA, CN localhost and no subjectAltName
    //   nulname.pem/.key          signed by the CA, SAN DNS "localhost\0.evil.test" (a NUL inside)
    //   intermediate.pem/.key     a CA signed by the CA
    //   chained.pem/.key          names as server, signed by the intermediate CA
    //   chainedfull.pem           chained.pem followed by intermediate.pem, as a server sends them
    bool create(const std::string& directory);
    std::string path(const std::string& name) const;

private:
    bool createChain(X509* ca, EVP_PKEY* caKey);

    std::string folder;
};

} // namespace testbench

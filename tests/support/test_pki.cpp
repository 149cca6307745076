#include "tests/support/test_pki.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <string>

#include "util/holders/openssl_holders.h"

namespace testbench {

namespace {

const long kSecondsPerDay = 24L * 60 * 60;

// Validity as offsets in days from now.
struct Validity {
    long fromDays;
    long toDays;
};
const Validity kCurrent = {-1, 365};
const Validity kCaValidity = {-1000, 3650};
const Validity kPast = {-400, -30};
const Validity kFuture = {30, 400};

struct CertRequest {
    const char* commonName;
    const char* subjectAltName; // nullptr: none
    Validity validity;
    bool isCa;
    long serial;
    std::string rawDnsName = std::string(); // a subjectAltName DNS entry taken byte for byte (NULs too)
};

OwnedKey makeKey()
{
    // EC P-256: strong enough for tests and generated in milliseconds.
    return OwnedKey(EVP_EC_gen("P-256"));
}

bool addExtension(X509* cert, X509V3_CTX* context, int nid, const char* value)
{
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, context, nid, value);
    if (!extension)
        return false;
    bool added = X509_add_ext(cert, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

// The configuration syntax cannot hold a NUL, so this entry is built by hand.
bool addRawDnsName(X509* cert, const std::string& dnsName)
{
    GENERAL_NAMES* names = sk_GENERAL_NAME_new_null();
    GENERAL_NAME* name = GENERAL_NAME_new();
    ASN1_IA5STRING* text = ASN1_IA5STRING_new();
    bool ok = names && name && text && ASN1_STRING_set(text, dnsName.data(), static_cast<int>(dnsName.size())) == 1;
    if (ok) {
        GENERAL_NAME_set0_value(name, GEN_DNS, text);
        text = nullptr;
        ok = sk_GENERAL_NAME_push(names, name) > 0;
        if (ok)
            name = nullptr;
    }
    ok = ok && X509_add1_ext_i2d(cert, NID_subject_alt_name, names, 0, 0) == 1;
    ASN1_IA5STRING_free(text);
    GENERAL_NAME_free(name);
    GENERAL_NAMES_free(names);
    return ok;
}

bool addExtensions(X509* cert, X509* issuer, const CertRequest& request)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
    if (request.isCa) {
        return addExtension(cert, &context, NID_basic_constraints, "critical,CA:TRUE") &&
               addExtension(cert, &context, NID_key_usage, "critical,keyCertSign,cRLSign") &&
               addExtension(cert, &context, NID_subject_key_identifier, "hash");
    }
    bool ok = addExtension(cert, &context, NID_basic_constraints, "critical,CA:FALSE") &&
              addExtension(cert, &context, NID_key_usage, "critical,digitalSignature,keyEncipherment") &&
              addExtension(cert, &context, NID_ext_key_usage, "serverAuth") &&
              addExtension(cert, &context, NID_subject_key_identifier, "hash") &&
              addExtension(cert, &context, NID_authority_key_identifier, "keyid:always");
    if (ok && request.subjectAltName)
        ok = addExtension(cert, &context, NID_subject_alt_name, request.subjectAltName);
    if (ok && !request.rawDnsName.empty())
        ok = addRawDnsName(cert, request.rawDnsName);
    return ok;
}

bool setName(X509* cert, const char* commonName)
{
    X509_NAME* name = X509_get_subject_name(cert);
    return X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("pellwick tests"),
                                      -1, -1, 0) == 1 &&
           X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName), -1,
                                      -1, 0) == 1;
}

// issuerCert/issuerKey null: the certificate signs itself.
OwnedCertificate makeCert(const CertRequest& request, EVP_PKEY* key, X509* issuerCert, EVP_PKEY* issuerKey)
{
    OwnedCertificate cert(X509_new());
    if (!cert)
        return nullptr;
    X509* raw = cert.get();
    if (X509_set_version(raw, 2) != 1)
        return nullptr;
    ASN1_INTEGER_set(X509_get_serialNumber(raw), request.serial);
    X509_gmtime_adj(X509_getm_notBefore(raw), request.validity.fromDays * kSecondsPerDay);
    X509_gmtime_adj(X509_getm_notAfter(raw), request.validity.toDays * kSecondsPerDay);
    if (X509_set_pubkey(raw, key) != 1 || !setName(raw, request.commonName))
        return nullptr;
    X509* issuer = issuerCert ? issuerCert : raw;
    if (X509_set_issuer_name(raw, X509_get_subject_name(issuer)) != 1)
        return nullptr;
    if (!addExtensions(raw, issuer, request))
        return nullptr;
    if (X509_sign(raw, issuerKey ? issuerKey : key, EVP_sha256()) <= 0)
        return nullptr;
    return cert;
}

bool writeCert(const std::string& file, X509* cert)
{
    OwnedBio bio(BIO_new_file(file.c_str(), "wb"));
    return bio && PEM_write_bio_X509(bio.get(), cert) == 1;
}

bool writeKey(const std::string& file, EVP_PKEY* key)
{
    OwnedBio bio(BIO_new_file(file.c_str(), "wb"));
    return bio && PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
}

const char kLocalNames[] = "DNS:localhost,IP:127.0.0.1";

} // namespace

std::string TestPki::path(const std::string& name) const
{
    return folder + "/" + name;
}

bool TestPki::create(const std::string& directory)
{
    folder = directory;
    OwnedKey caKey = makeKey();
    if (!caKey)
        return false;
    OwnedCertificate ca = makeCert({"pellwick test CA", nullptr, kCaValidity, true, 1}, caKey.get(), nullptr, nullptr);
    if (!ca || !writeCert(path("ca.pem"), ca.get()) || !writeKey(path("ca.key"), caKey.get()))
        return false;
    // A second CA that nobody trusts.
    OwnedKey otherKey = makeKey();
    OwnedCertificate other =
        otherKey ? makeCert({"unknown CA", nullptr, kCaValidity, true, 1}, otherKey.get(), nullptr, nullptr) : nullptr;
    if (!other)
        return false;

    struct Leaf {
        const char* baseName;
        CertRequest request;
        X509* issuer; // null: self-signed
        EVP_PKEY* issuerKey;
    };
    const Leaf leaves[] = {
        {"server", {"localhost", kLocalNames, kCurrent, false, 2}, ca.get(), caKey.get()},
        {"wronghost", {"other.invalid", "DNS:other.invalid", kCurrent, false, 3}, ca.get(), caKey.get()},
        {"expired", {"localhost", kLocalNames, kPast, false, 4}, ca.get(), caKey.get()},
        {"selfsigned", {"localhost", kLocalNames, kCurrent, false, 5}, nullptr, nullptr},
        {"notyetvalid", {"localhost", kLocalNames, kFuture, false, 6}, ca.get(), caKey.get()},
        {"unknownca", {"localhost", kLocalNames, kCurrent, false, 7}, other.get(), otherKey.get()},
        {"wildcard", {"example.test", "DNS:*.example.test", kCurrent, false, 8}, ca.get(), caKey.get()},
        {"cnonly", {"localhost", nullptr, kCurrent, false, 9}, ca.get(), caKey.get()},
        {"nulname",
         {"other.invalid", nullptr, kCurrent, false, 10, std::string("localhost\0.evil.test", 20)},
         ca.get(),
         caKey.get()},
    };
    for (const Leaf& leaf : leaves) {
        OwnedKey key = makeKey();
        if (!key)
            return false;
        OwnedCertificate cert = makeCert(leaf.request, key.get(), leaf.issuer, leaf.issuerKey);
        std::string base = leaf.baseName;
        if (!cert || !writeCert(path(base + ".pem"), cert.get()) || !writeKey(path(base + ".key"), key.get()))
            return false;
    }
    return createChain(ca.get(), caKey.get());
}

// A leaf one step below the CA, through an intermediate CA that the CA signed.
bool TestPki::createChain(X509* ca, EVP_PKEY* caKey)
{
    OwnedKey middleKey = makeKey();
    OwnedCertificate middle =
        middleKey ? makeCert({"pellwick test intermediate", nullptr, kCaValidity, true, 11}, middleKey.get(), ca, caKey)
                  : nullptr;
    OwnedKey leafKey = makeKey();
    OwnedCertificate leaf = middle && leafKey ? makeCert({"localhost", kLocalNames, kCurrent, false, 12}, leafKey.get(),
                                                         middle.get(), middleKey.get())
                                              : nullptr;
    if (!leaf || !writeCert(path("intermediate.pem"), middle.get()) ||
        !writeKey(path("intermediate.key"), middleKey.get()) || !writeCert(path("chained.pem"), leaf.get()) ||
        !writeKey(path("chained.key"), leafKey.get()))
        return false;
    OwnedBio full(BIO_new_file(path("chainedfull.pem").c_str(), "wb"));
    return full && PEM_write_bio_X509(full.get(), leaf.get()) == 1 && PEM_write_bio_X509(full.get(), middle.get()) == 1;
}

} // namespace testbench

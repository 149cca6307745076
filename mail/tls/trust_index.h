#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include <openssl/x509_vfy.h>

// The trusted certificates, kept as their encodings and found by subject. OpenSSL is handed a
// certificate only when a chain asks for its subject: the many authorities a server never
// names are not held parsed (about 5 KB each, against about 1 KB encoded). The store then
// trusts the same certificates as if every one had been added to it.
//
// Use: attachTo(store) first, then add the sources; the index must outlive the store.
class TrustIndex {
public:
    TrustIndex() = default;
    TrustIndex(const TrustIndex&) = delete;
    TrustIndex& operator=(const TrustIndex&) = delete;

    // Makes `store` consult this index, before any lookup added later, for a subject it does
    // not hold yet. False when OpenSSL could not make the lookup.
    bool attachTo(X509_STORE* store);
    // Every certificate of a PEM file (UTF-8 path). As with OpenSSL's own loader, a file
    // holding a certificate that does not parse adds none; a missing file adds none.
    void addPemFile(const char* path);
    // One certificate (kept once however many sources hold it); false when it cannot be
    // encoded.
    bool add(X509* certificate);

private:
    // One certificate's encoding in an allocation of its own: the index never moves the
    // encodings as it grows, so reading a file never holds them twice.
    struct Entry {
        unsigned long subjectHash;
        long length;
        std::unique_ptr<unsigned char[]> encoding; // DER, with trust settings if any
    };

    static int getBySubject(X509_LOOKUP* lookup, X509_LOOKUP_TYPE type, const X509_NAME* name, X509_OBJECT* result);
    bool addMatches(X509_STORE* store, const X509_NAME* name) const;
    bool holds(const Entry& candidate) const;

    std::vector<Entry> entries;
    mutable std::mutex adding; // held while matches go into a store
};

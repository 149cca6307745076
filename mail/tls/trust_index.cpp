#include "mail/tls/trust_index.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <memory>
#include <new>
#include <string>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include "mail/tls/certificate_pin.h"
#include "mail/platform/file_open.h"
#include "util/holders/openssl_holders.h"

namespace {

// Far more than any bundle of authorities (about 220 KB); a larger file is not read.
const size_t maxTrustFileBytes = 16 * 1024 * 1024;
const char utf8ByteOrderMark[] = "\xEF\xBB\xBF";

// The whole file, read through the platform's file call, so that a UTF-8 path outside the
// ANSI code page opens on Windows too. False when it is missing, unreadable or too large.
bool readTrustFile(const char* path, std::string& bytes)
{
    FILE* file = openFile(path, "rb");
    if (file == nullptr)
        return false;
    char chunk[16384];
    size_t got = 0;
    bool fits = true;
    while (fits && (got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        fits = bytes.size() + got <= maxTrustFileBytes;
        if (fits)
            bytes.append(chunk, got);
    }
    bool readWell = fits && std::ferror(file) == 0;
    std::fclose(file);
    return readWell;
}

unsigned long subjectHash(const X509_NAME* name)
{
    return X509_NAME_hash_ex(name, nullptr, nullptr, nullptr);
}

// One method for every index, made once; the process keeps it to its end.
X509_LOOKUP_METHOD* indexLookupMethod(X509_LOOKUP_get_by_subject_fn getBySubject)
{
    static X509_LOOKUP_METHOD* const method = [getBySubject] {
        X509_LOOKUP_METHOD* made = X509_LOOKUP_meth_new("pellwick trust index");
        if (made != nullptr && !X509_LOOKUP_meth_set_get_by_subject(made, getBySubject)) {
            X509_LOOKUP_meth_free(made);
            made = nullptr;
        }
        return made;
    }();
    return method;
}

} // namespace

bool TrustIndex::attachTo(X509_STORE* store)
{
    X509_LOOKUP_METHOD* method = indexLookupMethod(getBySubject);
    X509_LOOKUP* lookup = method != nullptr ? X509_STORE_add_lookup(store, method) : nullptr;
    return lookup != nullptr && X509_LOOKUP_set_method_data(lookup, this) == 1;
}

// The certificates are read one at a time, so that only one is held parsed. The end of the
// file shows as a missing start line; any other failure discards the file's certificates.
void TrustIndex::addPemFile(const char* path)
{
    std::string bytes;
    if (!readTrustFile(path, bytes))
        return;
    // An editor may start the file with a byte-order mark, which would hide the first line.
    size_t start =
        bytes.compare(0, sizeof utf8ByteOrderMark - 1, utf8ByteOrderMark) == 0 ? sizeof utf8ByteOrderMark - 1 : 0;
    OwnedBio file(BIO_new_mem_buf(bytes.data() + start, static_cast<int>(bytes.size() - start)));
    if (file == nullptr) {
        ERR_clear_error();
        return;
    }
    size_t before = entries.size();
    bool complete = true;
    for (;;) {
        ERR_clear_error();
        OwnedCertificate certificate(PEM_read_bio_X509_AUX(file.get(), nullptr, nullptr, nullptr));
        if (certificate == nullptr) {
            unsigned long why = ERR_peek_last_error();
            complete = ERR_GET_LIB(why) == ERR_LIB_PEM && ERR_GET_REASON(why) == PEM_R_NO_START_LINE;
            break;
        }
        if (!add(certificate.get())) {
            complete = false;
            break;
        }
    }
    ERR_clear_error();
    if (!complete)
        entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(before), entries.end());
}

bool TrustIndex::add(X509* certificate)
{
    Entry added{subjectHash(X509_get_subject_name(certificate)), i2d_X509_AUX(certificate, nullptr), nullptr};
    if (added.length <= 0)
        return false;
    added.encoding.reset(new (std::nothrow) unsigned char[static_cast<size_t>(added.length)]);
    unsigned char* out = added.encoding.get();
    if (out == nullptr || i2d_X509_AUX(certificate, &out) != added.length)
        return false;
    if (!holds(added)) // the same certificate from another source is kept once
        entries.push_back(std::move(added));
    return true;
}

bool TrustIndex::holds(const Entry& candidate) const
{
    for (const Entry& entry : entries) {
        if (entry.subjectHash == candidate.subjectHash && entry.length == candidate.length &&
            std::memcmp(entry.encoding.get(), candidate.encoding.get(), static_cast<size_t>(entry.length)) == 0)
            return true;
    }
    return false;
}

// Adds every indexed certificate named `name` to the store, then answers with the store's own
// object, as OpenSSL's directory lookup does. The caller takes its own reference to the
// answer, so the one set1 takes is given back.
int TrustIndex::getBySubject(X509_LOOKUP* lookup, X509_LOOKUP_TYPE type, const X509_NAME* name, X509_OBJECT* result)
{
    const auto* index = static_cast<const TrustIndex*>(X509_LOOKUP_get_method_data(lookup));
    X509_STORE* store = X509_LOOKUP_get_store(lookup);
    if (index == nullptr || store == nullptr || type != X509_LU_X509 || !index->addMatches(store, name))
        return 0;
    if (!X509_STORE_lock(store))
        return 0;
    X509_OBJECT* held = X509_OBJECT_retrieve_by_subject(X509_STORE_get0_objects(store), type, name);
    X509* certificate = held != nullptr ? X509_OBJECT_get0_X509(held) : nullptr;
    bool answered = certificate != nullptr && X509_OBJECT_set1_X509(result, certificate) == 1;
    X509_STORE_unlock(store);
    if (answered)
        X509_free(certificate);
    return answered ? 1 : 0;
}

// Connections on several threads may share the store (mail/tls/trusted_context.h): one thread
// adds at a time, and a certificate's extensions are read into its cache before the store
// shows it to the others, so that no verification finds it half made.
bool TrustIndex::addMatches(X509_STORE* store, const X509_NAME* name) const
{
    std::lock_guard<std::mutex> hold(adding);
    unsigned long hash = subjectHash(name);
    bool added = false;
    for (const Entry& entry : entries) {
        if (entry.subjectHash != hash)
            continue;
        const unsigned char* in = entry.encoding.get();
        OwnedCertificate certificate(d2i_X509_AUX(nullptr, &in, entry.length));
        if (certificate == nullptr || X509_NAME_cmp(X509_get_subject_name(certificate.get()), name) != 0)
            continue;
        X509_check_purpose(certificate.get(), -1, 0);
        if (X509_STORE_add_cert(store, certificate.get()) == 1)
            added = true;
    }
    ERR_clear_error();
    return added;
}

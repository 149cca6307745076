#include "mail/tls/trusted_context.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include "mail/platform/trust_sources.h"
#include "mail/tls/trust_files.h"

namespace {

// The contexts connections hold now, by their trust files. Weak: the last connection to let go
// of a context frees it, and the next reads the files afresh.
struct LiveContexts {
    std::mutex lock;
    std::map<std::string, std::weak_ptr<TrustedContext>> byFiles; // guarded by lock
};

LiveContexts& liveContexts()
{
    static LiveContexts contexts;
    return contexts;
}

// A missing trust file is not an error here: the handshake then fails verification. The index
// is consulted before any lookup the platform adds.
std::shared_ptr<TrustedContext> makeContext(const std::vector<std::string>& files)
{
    std::shared_ptr<TrustedContext> made = std::make_shared<TrustedContext>();
    made->context.reset(SSL_CTX_new(TLS_client_method()));
    if (made->context == nullptr)
        return nullptr;
    SSL_CTX_set_min_proto_version(made->context.get(), TLS1_2_VERSION);
    SSL_CTX_set_verify(made->context.get(), SSL_VERIFY_PEER, nullptr);
    X509_STORE* store = SSL_CTX_get_cert_store(made->context.get());
    made->index.attachTo(store);
    addTrustFiles(made->index, files);
    PlatformRootSink addToIndex = [](X509* certificate, void* index) {
        static_cast<TrustIndex*>(index)->add(certificate);
    };
    const char* platformFile = addPlatformRoots(store, addToIndex, &made->index);
    if (platformFile != nullptr)
        made->index.addPemFile(platformFile);
    ERR_clear_error();
    return made;
}

std::string keyOf(const std::vector<std::string>& files)
{
    std::string key;
    for (const std::string& file : files) {
        key += file;
        key += '\0'; // no path holds one
    }
    return key;
}

} // namespace

// Made under the lock, so that accounts starting together read the files once between them.
std::shared_ptr<TrustedContext> sharedTrustedContext(const char* constructionFile)
{
    std::vector<std::string> files = trustFilesOf(constructionFile);
    std::string key = keyOf(files);
    LiveContexts& contexts = liveContexts();
    std::lock_guard<std::mutex> hold(contexts.lock);
    for (auto it = contexts.byFiles.begin(); it != contexts.byFiles.end();)
        it = it->second.expired() ? contexts.byFiles.erase(it) : std::next(it);
    std::shared_ptr<TrustedContext> context = contexts.byFiles[key].lock();
    if (context == nullptr) {
        context = makeContext(files);
        contexts.byFiles[key] = context;
    }
    return context;
}

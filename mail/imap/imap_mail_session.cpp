#include "mail/imap/imap_mail_session.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

bool ImapMailSession::connect(const char* host, int port, ConnectionSecurity security)
{
    examined = false;
    fetchRefused = false;
    imap.clearIdleEnd(); // a request to end an IDLE was for the connection before
    lastStep = imap.connect(host, port, security);
    return lastStep == ImapStatus::Ok;
}

// [UNAVAILABLE] (RFC 5530) is the server's own word that it cannot judge the login now.
bool ImapMailSession::logIn(const char* user, const char* password)
{
    ImapStatus status = imap.logIn(user, password);
    busy = status == ImapStatus::Unavailable;
    return status == ImapStatus::Ok;
}

TokenLogin ImapMailSession::logInWithToken(const char* user, const std::string& token)
{
    ImapStatus status = imap.logInWithToken(user, token);
    busy = status == ImapStatus::Unavailable;
    switch (status) {
    case ImapStatus::Unavailable:
        return TokenLogin::Busy;
    case ImapStatus::Ok:
        return TokenLogin::LoggedIn;
    case ImapStatus::LoginRefused:
    case ImapStatus::No:
        return TokenLogin::Refused;
    case ImapStatus::NotOffered:
        return TokenLogin::NotOffered;
    default:
        return TokenLogin::Failed;
    }
}

bool ImapMailSession::updateMailbox()
{
    if (!examined) {
        lastStep = imap.examine(folderName, markOnServer);
        if (lastStep != ImapStatus::Ok)
            return false;
        examined = true;
    }
    return listUnseen();
}

// The unseen UIDs as the listing, named under the folder's UIDVALIDITY.
bool ImapMailSession::listUnseen()
{
    std::vector<uint32_t> uids;
    lastStep = imap.searchUids(ImapSearch::Unseen, uids);
    if (lastStep != ImapStatus::Ok)
        return false;
    const std::string scope = idScope();
    mailbox.enterScope(scope);
    mailbox.startListing();
    {
        Mailbox::ListingBatch batch(mailbox);
        char id[32];
        for (uint32_t uid : uids) {
            std::snprintf(id, sizeof id, "%s%u", scope.c_str(), static_cast<unsigned>(uid));
            batch.add(id);
        }
    }
    mailbox.finishListing(true);
    if (!describeNewMail)
        mailbox.dropPreviews();
    else if (!describeNewMessages(uids, scope.c_str()))
        return false;
    int total = static_cast<int>(imap.folder().exists);
    return mailbox.reconcile([this] { return imap.abortPending(); }, total);
}

// Before the reconcile, so that the window hears of new mail and what it is about together.
// False only when the connection broke; a refused fetch leaves the messages undescribed.
bool ImapMailSession::describeNewMessages(const std::vector<uint32_t>& uids, const char* scope)
{
    std::vector<uint32_t> wanted;
    char id[32];
    for (auto uid = uids.rbegin(); uid != uids.rend() && wanted.size() < MessagePreviews::maxKept; ++uid) {
        std::snprintf(id, sizeof id, "%s%u", scope, static_cast<unsigned>(*uid));
        if (mailbox.needsPreview(id))
            wanted.push_back(*uid);
    }
    if (wanted.empty() || fetchRefused)
        return true;
    std::vector<FetchedHeader> headers;
    ImapStatus status = imap.fetchHeaders(wanted, headers);
    fetchRefused = status == ImapStatus::No || status == ImapStatus::Bad;
    if (status != ImapStatus::Ok && !fetchRefused)
        lastStep = status; // the connection broke: the checker reconnects
    if (status != ImapStatus::Ok)
        return fetchRefused;
    std::sort(headers.begin(), headers.end(),
              [](const FetchedHeader& a, const FetchedHeader& b) { return a.uid > b.uid; });
    std::vector<DescribedMessage> described;
    for (const FetchedHeader& fetched : headers) {
        std::snprintf(id, sizeof id, "%s%u", scope, static_cast<unsigned>(fetched.uid));
        bool repeated = !described.empty() && described.back().id == id;
        if (!repeated && std::find(wanted.begin(), wanted.end(), fetched.uid) != wanted.end())
            described.push_back(DescribedMessage{id, readMessagePreview(fetched.header.data(), fetched.header.size())});
    }
    mailbox.addPreviews(described);
    return true;
}

NewsWait ImapMailSession::waitForNews(int milliseconds)
{
    if (!imap.capabilities().idle || !examined)
        return NewsWait::NotOffered;
    int seconds = (milliseconds + 999) / 1000;
    if (seconds < 1)
        seconds = 1;
    IdleWake wake = IdleWake::TimeLimit;
    ImapStatus status = imap.idle(seconds, wake);
    if (status == ImapStatus::NotOffered)
        return NewsWait::NotOffered;
    lastStep = status;
    if (status == ImapStatus::Ok && (wake == IdleWake::Dropped || wake == IdleWake::Slept)) {
        close();
        lastStep = ImapStatus::StreamFailed;
    }
    if (lastStep != ImapStatus::Ok)
        return NewsWait::Failed;
    if (wake == IdleWake::Changed)
        return NewsWait::Changed;
    return wake == IdleWake::Ended ? NewsWait::Ended : NewsWait::TimeUp;
}

namespace {

// The UID of `id` when it is named under `scope` ("UIDVALIDITY/"); 0 when not.
uint32_t uidUnder(const std::string& id, const std::string& scope)
{
    if (id.compare(0, scope.size(), scope) != 0 || id.size() == scope.size())
        return 0;
    const char* digits = id.c_str() + scope.size();
    char* end = nullptr;
    unsigned long long uid = std::strtoull(digits, &end, 10);
    bool whole = *end == '\0' && *digits >= '0' && *digits <= '9';
    return whole && uid <= UINT32_MAX ? static_cast<uint32_t>(uid) : 0;
}

} // namespace

std::string ImapMailSession::idScope() const
{
    char text[16];
    std::snprintf(text, sizeof text, "%u/", static_cast<unsigned>(imap.folder().uidValidity));
    return text;
}

ImapStatus ImapMailSession::markSeen(const std::vector<std::string>& ids)
{
    if (!examined)
        return ImapStatus::NotOffered;
    const std::string scope = idScope();
    std::vector<uint32_t> uids;
    for (const std::string& id : ids) {
        uint32_t uid = uidUnder(id, scope);
        if (uid != 0)
            uids.push_back(uid);
    }
    if (uids.empty())
        return ImapStatus::Ok;
    lastStep = imap.markSeen(uids);
    return lastStep;
}

void ImapMailSession::close()
{
    examined = false;
    imap.close();
}

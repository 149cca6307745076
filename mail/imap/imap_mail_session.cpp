#include "mail/imap/imap_mail_session.h"

#include <algorithm>
#include <cstdio>
#include <vector>

bool ImapMailSession::connect(const char* host, int port, ConnectionSecurity security)
{
    examined = false;
    fetchRefused = false;
    return imap.connect(host, port, security) == ImapStatus::Ok;
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
        if (imap.examine(folderName) != ImapStatus::Ok)
            return false;
        examined = true;
    }
    return listUnseen();
}

// The unseen UIDs as the listing, named under the folder's UIDVALIDITY.
bool ImapMailSession::listUnseen()
{
    std::vector<uint32_t> uids;
    if (imap.searchUids(ImapSearch::Unseen, uids) != ImapStatus::Ok)
        return false;
    char scope[16];
    std::snprintf(scope, sizeof scope, "%u/", static_cast<unsigned>(imap.folder().uidValidity));
    mailbox.enterScope(scope);
    mailbox.startListing();
    {
        Mailbox::ListingBatch batch(mailbox);
        char id[32];
        for (uint32_t uid : uids) {
            std::snprintf(id, sizeof id, "%s%u", scope, static_cast<unsigned>(uid));
            batch.add(id);
        }
    }
    mailbox.finishListing(true);
    if (!describeNewMail)
        mailbox.dropPreviews();
    else if (!describeNewMessages(uids, scope))
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
    if (status != ImapStatus::Ok)
        return NewsWait::Failed;
    if (wake == IdleWake::Changed)
        return NewsWait::Changed;
    return wake == IdleWake::Ended ? NewsWait::Ended : NewsWait::TimeUp;
}

void ImapMailSession::close()
{
    examined = false;
    imap.close();
}

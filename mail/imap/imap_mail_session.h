#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mail/imap/imap_session.h"
#include "mail/mailbox/mailbox.h"
#include "mail/session/mail_session.h"

// An IMAP folder watched as a MailSession: the checker's cycle over ImapSession. The listing
// put into the Mailbox is the folder's messages without \Seen, each as "UIDVALIDITY/UID", so
// that an arrival is announced once under its folder's UIDVALIDITY and the seen-message file
// keeps both; the total is the folder's message count. Mark as read stays in the Mailbox
// unless the account marks on the server too (setMarkOnServer, then markSeen). A
// UIDVALIDITY unlike the one the Mailbox's ids carry starts afresh: the ids go and the
// folder's present messages are taken as announced.
// Used by one thread; abort(), clearAbort(), endWait() and dropWait() may be called from
// another.
class ImapMailSession final : public MailSession {
public:
    // The Mailbox the listings fill; it outlives the session.
    explicit ImapMailSession(Mailbox& mailbox) : mailbox(mailbox) {}

    // The folder watched from the next connect on, in UTF-8; null or empty: INBOX.
    void setFolder(const char* name) { folderName = name != nullptr && *name != '\0' ? name : "INBOX"; }

    // From the next connect on: the folder selected writable (SELECT), for markSeen.
    void setMarkOnServer(bool on) { markOnServer = on; }

    bool connect(const char* host, int port, ConnectionSecurity security) override;
    bool logIn(const char* user, const char* password) override;
    TokenLogin logInWithToken(const char* user, const std::string& token) override;
    bool logInBusy() const override { return busy; }
    // EXAMINE (SELECT when marking on the server) once per connection, then UID SEARCH
    // UNSEEN into the Mailbox and its reconcile.
    bool updateMailbox() override;
    // \Seen set on the server for those of `ids` ("UIDVALIDITY/UID", as the listing names
    // them) under the selected folder's UIDVALIDITY; the others name messages gone with an
    // older numbering and are skipped. Ok when none is left to set; NotOffered before the
    // folder is selected.
    ImapStatus markSeen(const std::vector<std::string>& ids);
    bool connectionLost() const override { return lastStep == ImapStatus::StreamFailed || lastStep == ImapStatus::Bye; }
    // IDLE where the server lists it, renewed at most every maxIdleSeconds by the caller's loop.
    // Dropped or woken by a sleep, it closes the connection and says Failed.
    NewsWait waitForNews(int milliseconds) override;
    // Ends an IDLE without DONE; the connection is closed (a fresh one answers sooner than
    // one that may have died while the machine slept or the network changed).
    void dropWait() { imap.dropIdle(); }
    void endWait() override { imap.endIdle(); }
    void close() override;
    ConnectionError lastError() const override { return imap.lastError(); }
    void abort() override { imap.abort(); }
    void clearAbort() override { imap.clearAbort(); }
    void pinCertificate(const char* sha256Text) override { imap.pinCertificate(sha256Text); }

    // The protocol's own session; tests set its time limits and network steps.
    ImapSession imap;
    // Set by the owner: each listing is followed by a fetch of the header fields of the
    // newest unseen messages not described yet; off, nothing but UIDs is asked.
    bool describeNewMail = false;

private:
    bool listUnseen();
    std::string idScope() const; // "UIDVALIDITY/" of the selected folder, the ids' beginning
    bool describeNewMessages(const std::vector<uint32_t>& uids, const char* scope);

    Mailbox& mailbox;
    std::string folderName = "INBOX";
    bool examined = false;
    bool markOnServer = false;
    ImapStatus lastStep = ImapStatus::Ok; // of the last step that talked to the server
    bool busy = false;                    // the last login was answered [UNAVAILABLE]
    bool fetchRefused = false;            // the server answered the header fetch NO or BAD
};

#pragma once

#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "mail/mailbox/message_previews.h"
#include "mail/mailbox/uid_list.h"

// What the window shows of a mailbox, read in one step.
struct MailboxCounts {
    int unseenCount = 0;
    int totalCount = 0;
    int freshMail = 0;
    // What the unseen messages described are about, newest first.
    std::vector<MessagePreview> previews;
};

// One mailbox's unique-ids, whatever protocol lists them: the ids of the last complete listing
// (`current`), the ids the user marked as read (`seen`, kept in the seen-message file) and
// the unseen ids already announced (`notified`), with the counts the window shows. The
// session that lists the mailbox fills a listing in (ListingBatch, finishListing); the window
// marks as read and takes the counts. Every operation takes the mailbox's own lock, so the
// checker thread and the window thread may use it at once.
class Mailbox {
public:
    // Longest id kept from the seen-message file; a longer line is skipped, never split.
    static const int maxSeenIdLength = 1023;

    Mailbox();
    Mailbox(const Mailbox&) = delete;
    Mailbox& operator=(const Mailbox&) = delete;

    // --- A listing as the session receives it ---
    // Starts an empty listing, sized like the last one: most listings are much like it.
    void startListing();
    // Adds ids to the listing under the lock, which it holds while it lives: one batch per
    // buffer of lines, never while waiting for the server.
    class ListingBatch {
    public:
        explicit ListingBatch(Mailbox& mailbox) : mailbox(mailbox), hold(mailbox.lock) {}
        // Inserts `id` at the front of the listing; false (skipped) when the storage cannot take it.
        bool add(const char* id) { return mailbox.listing.insertFrontAsIn(id, mailbox.current); }

    private:
        Mailbox& mailbox;
        std::lock_guard<std::mutex> hold;
    };
    // A complete listing becomes `current` (the last complete one stays until then, so that
    // Mark As Read after a cut-short listing still marks what the user was shown); an
    // incomplete one is dropped. Returns `complete`.
    bool finishListing(bool complete);

    // --- Counting ---
    // Counts `current` against seen and notified, raises freshMail for ids not announced
    // before, and forgets seen ids the server no longer lists. `stopRequested`, when given, is
    // asked now and then: true ends it early (false), the counts then unchanged and seen maybe
    // still holding ids that were about to be forgotten. Only the window clears freshMail.
    // `serverTotal`, when not negative, is the total instead of the listing's size: for a
    // listing of part of the mailbox (IMAP lists its unseen messages).
    bool reconcile(const std::function<bool()>& stopRequested = nullptr, int serverTotal = -1);
    // Ids named in a scope begin with it (IMAP: "UIDVALIDITY/"). When the mailbox holds ids
    // and none in `scope`, the scope changed: the ids go, and the next listing announces
    // nothing, so that a renumbered folder is not announced whole.
    void enterScope(const std::string& scope);
    // Moves every listed id into seen, forgets the announcements (freshMail too, so that no
    // sound follows for mail already read), unseenCount 0. `marked`, when given, gets the ids
    // this moved: the ones the user was shown as unseen.
    void markAsRead(std::vector<std::string>* marked = nullptr);
    // The counts, with freshMail cleared in the same step, so an announcement is taken once.
    MailboxCounts takeCounts();

    // --- What unseen messages are about (for an account that shows senders) ---
    // The first `count` ids of the last complete listing: the ones listed last, last first.
    std::vector<std::string> newestListed(size_t count) const;
    // True when `id` is in the last complete listing, not seen and not described yet.
    bool needsPreview(const char* id) const;
    // Adds the previews of messages newer than all described before, newest first.
    // Reconcile drops those of messages seen or gone; Mark As Read drops them all.
    void addPreviews(const std::vector<DescribedMessage>& described);
    void dropPreviews();

    // --- The seen ids and the seen-message file ---
    // Replaces seen with the ids of `file` (read to its end, left open; null: none): one id
    // per line, a CR before the LF and a byte-order mark before an id dropped; empty and
    // over-long lines, and lines holding white space or NUL, skipped.
    void loadSeen(FILE* file);
    // Writes seen, one id and "\n" per line, front to back. False when a write fails.
    bool saveSeen(FILE* file);

    // Where seen stands with the seen-message file of a running program (SeenMessageFile). A
    // mailbox without one stays NotRead.
    enum class SeenFileState { NotRead, Unreadable, Read };
    // Reads the ids of `file` (read to its end, left open; null for a file that is not there)
    // into seen, as loadSeen does, and adds this run's marks (what seen held) to them; state
    // Read. Read straight into seen, under the lock, so that a large file is held only once.
    // False, and seen back to the marks alone, when the file cannot be read whole. Nothing
    // happens once Read.
    bool mergeSeen(FILE* file);
    // The file exists but could not be read whole; seen holds only this run's marks. Found
    // so before any complete listing, that listing counts as usual but announces nothing:
    // any of the mailbox may have been seen before.
    void seenFileUnreadable();
    SeenFileState seenFileState() const;

    // Changed only under the lock by the operations above; tests set them directly.
    int totalCount = 0;
    UidList current;
    UidList seen;
    UidList notified;
    int unseenCount = 0;
    std::atomic<int> freshMail{0};

private:
    // Adds the ids of `file` (read to its end, left open) to `ids`, as loadSeen reads them.
    static void readSeenIds(FILE* file, UidList& ids);

    // The listing being received; it becomes `current` once complete.
    UidList listing;
    MessagePreviews previews;
    SeenFileState seenState = SeenFileState::NotRead;
    bool quietListing = false;
    // Guards the lists, the counts and the states between the checker thread and the window
    // thread. The four lists share one storage, so any change to one needs it.
    mutable std::mutex lock;
};

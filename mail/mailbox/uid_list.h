#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "mail/mailbox/uid_storage.h"

// A list of unique-ids, newest first. The ids' texts live in a UidStorage, which up to four
// lists can share (shareStorageWith), so that an id that is listed, seen and announced is
// stored once. The list itself is an array of its ids' entries in that storage, kept oldest
// first so that insertFront() appends. Nothing is allocated per id, and insertFront() and
// contains() stay O(1) amortised however often one id repeats.
//
// Lists that share a storage change it together: whoever uses them from several threads holds
// one lock over all of them.
class UidList : private UidStorage::Member {
public:
    // Walks the ids front to back, newest first; `*` gives an id's text, or null for an absent
    // id. The text stays valid until the list or one sharing its storage changes; the walk
    // itself stays valid through erase() (which gives the next place) and through changes to
    // other lists.
    class Iterator {
    public:
        const char* operator*() const { return list->textAt(index); }
        Iterator& operator++()
        {
            index = list->newestLiveBelow(index);
            return *this;
        }
        bool operator==(const Iterator& other) const { return index == other.index; }
        bool operator!=(const Iterator& other) const { return index != other.index; }

    private:
        friend class UidList;
        Iterator(const UidList* list, size_t index) : list(list), index(index) {}
        const UidList* list;
        size_t index; // in the list's oldestFirst; pastOldest at the end
    };

    UidList();
    ~UidList();
    UidList(const UidList&) = delete;
    UidList& operator=(const UidList&) = delete;

    // Empties this list and lets it keep its ids in `other`'s storage from now on, when that
    // has room for one more list; otherwise it keeps its own.
    void shareStorageWith(UidList& other);

    // False, and the list unchanged, only when the storage's limit of about 4 GB of distinct
    // ids is reached.
    bool insertFront(const char* id);
    bool contains(const char* id) const;
    // insertFront(id), looking first at the id `earlier` holds at the place `id` takes here
    // (counted from the oldest), as a listing mostly repeats the one before it in its order,
    // and at the id inserted just before: a match spares the lookup by text.
    bool insertFrontAsIn(const char* id, const UidList& earlier);
    // The same for the id at `at`, a place in any list: without a lookup by text when that
    // list shares this one's storage.
    bool insertFrontIdAt(Iterator at);
    bool containsIdAt(Iterator at) const;
    // Removes the id at `at`; gives the place of the one after it.
    Iterator erase(Iterator at);
    // Sizes the list for this many ids, sparing the steps of its growth.
    void reserve(size_t ids);
    // Gives back the room the list grew into beyond what it holds (reading a file or a
    // listing of unknown length doubles it as it goes).
    void shrinkToFit();
    // Releases every id, and the storage when no other list uses it.
    void clear();
    // Makes this list hold the ids of `other`, in its order, in this list's storage.
    void copyFrom(const UidList& other);
    // Exchanges the contents of two lists, without copying.
    void swap(UidList& other);

    Iterator begin() const { return Iterator(this, newestLiveBelow(oldestFirst.size())); }
    Iterator end() const { return Iterator(this, pastOldest); }
    size_t size() const { return count; }
    // The room reserved for ids in the storage's index, shared with the lists sharing it.
    size_t indexSlots() const { return storage->indexSlots(); }

private:
    using TextRef = UidStorage::TextRef;
    static constexpr size_t pastOldest = SIZE_MAX; // where a walk ends

    const char* textAt(size_t index) const;
    TextRef entryAt(Iterator at) const { return at.list->oldestFirst[at.index]; }
    bool sharesStorageWith(const UidList& other) const { return other.storage == storage; }
    // The index of the newest id held below `index`, or pastOldest when there is none.
    size_t newestLiveBelow(size_t index) const;
    TextRef likelyEntryOf(const char* id, const UidList& earlier) const;
    // True when `entry` (or marker) is an entry of this list's storage whose text is `id`.
    bool holdsText(TextRef entry, const char* id) const;
    void hold(TextRef entry);
    void closeGaps();
    void dropAll();
    void followMovedEntries(const UidStorage& moved) override;

    std::shared_ptr<UidStorage> storage;
    int number = 0; // which of the storage's lists this is
    // The ids' entries in the storage, or markers (an absent id, an erased place).
    std::vector<TextRef> oldestFirst;
    size_t count = 0;  // ids held, absent ones included
    size_t absent = 0; // absent (null) ids held
    size_t gaps = 0;   // places in oldestFirst left by erase()
};

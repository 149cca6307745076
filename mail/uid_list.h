#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// A list of unique-ids, newest first, on compact storage. The text of each distinct id is kept
// once, side by side with the others in large blocks, together with how many times each list
// holds it; an open-addressing index finds it. A list itself is an array of 4-byte references
// in its order. Up to four lists can share one storage (shareStorageWith), so that an id that
// is listed, seen and announced is stored once. Nothing is allocated per id, and insertFront()
// and contains() stay O(1) amortised however often one id repeats.
//
// Lists that share a storage change it together: whoever uses them from several threads holds
// one lock over all of them.
class UidList {
public:
    // Walks the ids front to back; `*` gives an id's text, or null for an absent id. The text
    // stays valid until the list or one sharing its storage changes; the walk itself stays valid
    // through erase() (which gives the next place) and through changes to other lists.
    class Iterator {
    public:
        const char* operator*() const { return list->textAt(place - 1); }
        Iterator& operator++()
        {
            place = list->liveBelow(place - 1);
            return *this;
        }
        bool operator==(const Iterator& other) const { return place == other.place; }
        bool operator!=(const Iterator& other) const { return place != other.place; }

    private:
        friend class UidList;
        Iterator(const UidList* list, size_t place) : list(list), place(place) {}
        const UidList* list;
        size_t place; // one past the array index of the id it stands on; 0 at the end
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
    // The same for the id at `at`, a place in any list: without a lookup when that list
    // shares this one's storage.
    bool insertFront(Iterator at);
    bool contains(Iterator at) const;
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

    Iterator begin() const { return Iterator(this, liveBelow(order.size())); }
    Iterator end() const { return Iterator(this, 0); }
    size_t size() const { return count; }

private:
    struct Store;
    const char* textAt(size_t index) const;
    uint32_t referenceAt(Iterator at) const { return at.list->order[at.place - 1]; }
    void hold(uint32_t reference);
    // One past the index of the last id held below `index`, or 0 when there is none.
    size_t liveBelow(size_t index) const;
    void dropErasedPlaces();
    void dropAll();

    std::shared_ptr<Store> store;
    int lane = 0;                // which of the storage's lists this is
    std::vector<uint32_t> order; // oldest first, so that insertFront appends
    size_t count = 0;            // ids held, absent ones included
    size_t absent = 0;
    size_t erased = 0; // places in `order` left by erase()
};

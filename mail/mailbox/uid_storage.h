#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

// The storage behind up to four unique-id lists (UidList): the text of each distinct id, kept
// once; how many times each list holds it; and an index that finds it by its text.
//
// Stored. Each distinct id is one entry in a text block:
//     [count of list 0][count of list 1][count of list 2][count of list 3][text][NUL]
// Blocks are filled one after the other and never moved, so an entry's place, its TextRef
// (block number and offset, made by encodeTextRef), stays valid until pack() copies the live
// entries into new blocks.
//
// Counted. List n's count byte says how often list n holds the id; counts past what a byte
// holds (only a hostile listing repeats an id that often) go on in extraCounts. An entry that
// no list holds any more leaves the index at once; its bytes are dead until pack() drops them.
//
// Found. The index is a table of TextRefs, open addressing with linear probing, at most three
// quarters full. An id starts looking at its home slot, picked by a keyed hash of its text
// (SipHash, with a key drawn at random once per run, so that a server cannot choose ids that
// crowd one slot), and walks on slot by slot until it meets its entry or an empty slot.
class UidStorage {
public:
    // Where an entry lives: see encodeTextRef.
    using TextRef = uint32_t;
    // Every entry's TextRef is below this, which leaves room for 0xFFFE blocks (about 4 GB);
    // values from here up are markers (noText here, and the lists' own markers in UidList).
    static constexpr TextRef firstMarker = 0xFFFE0000;
    // No entry: an empty slot of the index, or a text that is not stored.
    static constexpr TextRef noText = UINT32_MAX;
    // A mailbox's lists: current, seen, notified and the listing being read.
    static constexpr int maxLists = 4;

    // A list that keeps TextRefs into the storage. pack() calls it while the old entries can
    // still be read, and the list replaces each of its TextRefs with newPlaceOf(it).
    class Member {
    public:
        virtual void followMovedEntries(const UidStorage& storage) = 0;

    protected:
        ~Member() = default;
    };

    UidStorage();
    ~UidStorage();
    UidStorage(const UidStorage&) = delete;
    UidStorage& operator=(const UidStorage&) = delete;

    // --- The lists using it: each has a number, which picks its count byte in every entry ---
    // The lowest number no list uses, or -1 when maxLists lists use the storage.
    int freeListNumber() const;
    // `list` uses the storage under `number` from now on; null frees the number.
    void setMember(int number, Member* list);
    // True when a list other than `number` uses the storage.
    bool usedBesides(int number) const;

    // --- Texts ---
    // The entry of `text`, or noText.
    TextRef find(const char* text) const;
    // The entry of `text`, made (held by no list yet) when there is none; noText when the
    // storage's limit of about 4 GB of entries is reached.
    TextRef store(const char* text);
    const char* textOf(TextRef entry) const;

    // --- Counts ---
    bool isHeldBy(TextRef entry, int list) const;
    void addHolding(TextRef entry, int list);
    // The entry leaves the index when no list holds it any more.
    void dropHolding(TextRef entry, int list);

    // --- Upkeep ---
    // Room in the index for this many distinct ids, as storing them one by one would make,
    // without the steps between.
    void reserve(size_t ids);
    // Copies the live entries into new blocks when dead bytes outweigh the live ones.
    void packIfWorthIt();
    // Once no entry is live, gives back the blocks and the index.
    void releaseIfUnused();
    // During pack() only: where the entry that was at `old` is now.
    TextRef newPlaceOf(TextRef old) const;

    // The most slots a lookup of a stored id walks (1 when every id is in its home slot).
    size_t longestProbe() const;
    // The index's slots: the room reserved for ids, used or not.
    size_t indexSlots() const { return slots.size(); }

private:
    class TextBlocks;
    using ExtraCountKey = uint64_t; // an entry and a list: see encodeExtraCountKey

    size_t homeSlot(uint32_t hash) const;
    size_t homeSlot(const char* text) const;
    size_t nextSlot(size_t slot) const { return slot + 1 == slots.size() ? 0 : slot + 1; }
    size_t slotOf(const char* text, size_t home) const;
    size_t emptySlotFrom(size_t home) const;
    size_t slotOfEntry(TextRef entry) const;
    unsigned char& countByte(TextRef entry, int list) const;
    bool dropExtraCount(TextRef entry, int list);
    void release(TextRef entry);
    void growIfFull();
    void rebuildIndex(size_t capacity);
    void closeGapAt(size_t slot);
    void pack();

    std::unique_ptr<TextBlocks> texts;
    std::vector<TextRef> slots; // the index
    size_t distinct = 0;        // live entries
    size_t liveBytes = 0;
    size_t deadBytes = 0;
    std::unordered_map<ExtraCountKey, uint32_t> extraCounts; // holdings beyond a full count byte
    Member* members[maxLists] = {};
};

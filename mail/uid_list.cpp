#include "mail/uid_list.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace {

// Where a distinct id lives: its text block in the high 16 bits, its offset in the low 16.
using TextRef = uint32_t;
const TextRef noText = UINT32_MAX;
const size_t maxTextBlocks = 0xFFFF;  // keeps every reference below noText

// The texts of distinct ids, side by side: each entry is the number of nodes holding the id
// (4 bytes, unaligned), then the text and its NUL. Blocks never move, so nodes point straight
// at their text; they grow from 1 KB to 64 KB, and an id longer than that has a block of its own.
class TextBlocks {
public:
    static const size_t countBytes = sizeof(uint32_t);
    static const size_t firstBlockSize = 1024;
    static const size_t largestBlockSize = 65536;  // offsets fit in 16 bits

    bool add(const char* text, size_t length, uint32_t holders, TextRef& ref)
    {
        size_t needed = countBytes + length + 1;
        if (blocks.empty() || newestUsed + needed > newestSize) {
            if (blocks.size() == maxTextBlocks)
                return false;
            size_t grown = blocks.empty() ? firstBlockSize : newestSize * 2;
            newestSize = grown < largestBlockSize ? grown : largestBlockSize;
            if (needed > newestSize)
                newestSize = needed;
            blocks.emplace_back(new char[newestSize]);
            newestUsed = 0;
        }
        ref = static_cast<TextRef>((blocks.size() - 1) << 16 | newestUsed);
        char* entry = blocks.back().get() + newestUsed;
        std::memcpy(entry, &holders, countBytes);
        std::memcpy(entry + countBytes, text, length);
        entry[countBytes + length] = '\0';
        newestUsed += needed;
        return true;
    }

    char* entryAt(TextRef ref) const { return blocks[ref >> 16].get() + (ref & 0xFFFF); }
    char* textAt(TextRef ref) const { return entryAt(ref) + countBytes; }

    uint32_t holdersAt(TextRef ref) const
    {
        uint32_t holders;
        std::memcpy(&holders, entryAt(ref), countBytes);
        return holders;
    }
    void setHolders(TextRef ref, uint32_t holders) { std::memcpy(entryAt(ref), &holders, countBytes); }

    void swap(TextBlocks& other)
    {
        blocks.swap(other.blocks);
        std::swap(newestSize, other.newestSize);
        std::swap(newestUsed, other.newestUsed);
    }

private:
    std::vector<std::unique_ptr<char[]>> blocks;
    size_t newestSize = 0;
    size_t newestUsed = 0;
};

// Nodes handed out from blocks that grow from 16 to 4096 nodes; removed ones are reused.
class NodeBlocks {
public:
    static const size_t firstBlockNodes = 16;
    static const size_t largestBlockNodes = 4096;

    UidList::Node* take()
    {
        if (spare != nullptr) {
            UidList::Node* node = spare;
            spare = node->next;
            return node;
        }
        if (blocks.empty() || newestUsed == newestSize) {
            size_t grown = blocks.empty() ? firstBlockNodes : newestSize * 2;
            newestSize = grown < largestBlockNodes ? grown : largestBlockNodes;
            blocks.emplace_back(new UidList::Node[newestSize]);
            newestUsed = 0;
        }
        return &blocks.back()[newestUsed++];
    }

    void give(UidList::Node* node)
    {
        node->id.text = nullptr;
        node->next = spare;
        spare = node;
    }

private:
    std::vector<std::unique_ptr<UidList::Node[]>> blocks;
    size_t newestSize = 0;
    size_t newestUsed = 0;
    UidList::Node* spare = nullptr;
};

// Differs from run to run, so that a server cannot choose ids that all land on one slot.
const uint64_t hashSeed = reinterpret_cast<uintptr_t>(&maxTextBlocks) * 0x9e3779b97f4a7c15ull ^
                          static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());

// Eight bytes at a time: multiply, fold, and a finishing mix for the high bits that place a
// hash among the slots.
uint32_t hashOf(const char* text, size_t length)
{
    uint64_t hash = hashSeed ^ length;
    size_t at = 0;
    for (; at + 8 <= length; at += 8) {
        uint64_t word;
        std::memcpy(&word, text + at, 8);
        hash = (hash ^ word) * 0xff51afd7ed558ccdull;
        hash ^= hash >> 32;
    }
    uint64_t tail = 0;
    for (; at < length; ++at)
        tail = tail << 8 | static_cast<unsigned char>(text[at]);
    hash = (hash ^ tail) * 0xc4ceb9fe1a85ec53ull;
    hash ^= hash >> 33;
    hash *= 0xff51afd7ed558ccdull;
    hash ^= hash >> 33;
    return static_cast<uint32_t>(hash >> 32);
}

} // namespace

// Linear probing over slots of 8 bytes, at most three quarters full. Removing a distinct id
// shifts the following slots back, so no tombstones build up over many listings. An absent
// (null) id is only counted.
struct UidList::Store {
    struct Slot {
        TextRef ref;
        uint32_t hash;
    };
    static const size_t firstCapacity = 16;

    std::vector<Slot> slots;
    size_t distinct = 0;
    size_t absent = 0;
    TextBlocks texts;
    NodeBlocks nodes;
    size_t liveTextBytes = 0;
    size_t deadTextBytes = 0;

    // Any capacity works: a hash is mapped onto the slots by multiplication, not by a mask.
    size_t home(uint32_t hash) const { return static_cast<size_t>((static_cast<uint64_t>(hash) * slots.size()) >> 32); }
    size_t after(size_t i) const { return i + 1 == slots.size() ? 0 : i + 1; }

    // The slot of `text`, or the free slot where it would go.
    size_t probe(const char* text, uint32_t hash) const
    {
        size_t i = home(hash);
        while (slots[i].ref != noText &&
               !(slots[i].hash == hash && std::strcmp(texts.textAt(slots[i].ref), text) == 0))
            i = after(i);
        return i;
    }

    // The slot whose stored text is `text` itself (a pointer taken from a node).
    size_t slotHolding(const char* text) const
    {
        size_t i = home(hashOf(text, std::strlen(text)));
        while (slots[i].ref != noText && texts.textAt(slots[i].ref) != text)
            i = after(i);
        return i;
    }

    void growIfFull()
    {
        if ((distinct + 1) * 4 <= slots.size() * 3)
            return;
        rehash(slots.size() < firstCapacity ? firstCapacity : slots.size() + slots.size() / 2);
    }

    void rehash(size_t capacity)
    {
        std::vector<Slot> old(capacity, Slot{noText, 0});
        old.swap(slots);
        for (const Slot& slot : old)
            if (slot.ref != noText) {
                size_t i = home(slot.hash);
                while (slots[i].ref != noText)
                    i = after(i);
                slots[i] = slot;
            }
    }

    // The stored text for a new holder of `id`: the existing one, or a new entry.
    const char* holdText(const char* id)
    {
        size_t length = std::strlen(id);
        uint32_t hash = hashOf(id, length);
        if (!slots.empty()) {
            size_t i = probe(id, hash);
            if (slots[i].ref != noText) {
                texts.setHolders(slots[i].ref, texts.holdersAt(slots[i].ref) + 1);
                return texts.textAt(slots[i].ref);
            }
        }
        growIfFull();
        TextRef ref;
        if (!texts.add(id, length, 1, ref))
            return nullptr;
        slots[probe(id, hash)] = Slot{ref, hash};
        ++distinct;
        liveTextBytes += TextBlocks::countBytes + length + 1;
        return texts.textAt(ref);
    }

    void releaseText(const char* text)
    {
        size_t i = slotHolding(text);
        if (slots[i].ref == noText)
            return;  // not this list's text; cannot happen
        uint32_t holders = texts.holdersAt(slots[i].ref) - 1;
        texts.setHolders(slots[i].ref, holders);
        if (holders > 0)
            return;
        size_t bytes = TextBlocks::countBytes + std::strlen(text) + 1;
        liveTextBytes -= bytes;
        deadTextBytes += bytes;
        shiftBackFrom(i);
        --distinct;
    }

    // Frees slot `hole` and moves later members of its probe run into it where their home
    // slot allows, so that every remaining slot stays reachable from its home.
    void shiftBackFrom(size_t hole)
    {
        size_t next = hole;
        for (;;) {
            next = after(next);
            if (slots[next].ref == noText)
                break;
            size_t at = home(slots[next].hash);
            // Movable when its home does not lie cyclically in (hole, next].
            bool homeAfterHole = hole <= next ? (at > hole && at <= next) : (at > hole || at <= next);
            if (!homeAfterHole) {
                slots[hole] = slots[next];
                hole = next;
            }
        }
        slots[hole] = Slot{noText, 0};
    }

    bool worthPacking() const
    {
        return deadTextBytes > liveTextBytes && deadTextBytes > TextBlocks::largestBlockSize;
    }

    // Copies the live texts into fresh blocks and points the nodes and slots at the copies.
    void pack(Node* first)
    {
        TextBlocks fresh;
        std::vector<TextRef> moved(slots.size(), noText);
        for (size_t i = 0; i < slots.size(); ++i)
            if (slots[i].ref != noText) {
                const char* text = texts.textAt(slots[i].ref);
                // Never fails: the live texts are fewer than the ones they were taken from.
                fresh.add(text, std::strlen(text), texts.holdersAt(slots[i].ref), moved[i]);
            }
        for (Node* node = first; node != nullptr; node = node->next)
            if (node->id.text != nullptr)
                node->id.text = fresh.textAt(moved[slotHolding(node->id.text)]);
        for (size_t i = 0; i < slots.size(); ++i)
            slots[i].ref = moved[i];
        texts.swap(fresh);
        deadTextBytes = 0;
    }
};

UidList::UidList() : store(new Store) {}

UidList::~UidList()
{
    delete store;
}

bool UidList::insertFront(const char* id)
{
    const char* text = nullptr;
    if (id != nullptr && (text = store->holdText(id)) == nullptr)
        return false;
    if (id == nullptr)
        ++store->absent;
    Node* node = store->nodes.take();
    node->id.text = text;
    node->next = first;
    first = node;
    ++count;
    return true;
}

bool UidList::contains(const char* id) const
{
    if (id == nullptr)
        return store->absent > 0;
    if (store->distinct == 0)
        return false;
    size_t i = store->probe(id, hashOf(id, std::strlen(id)));
    return store->slots[i].ref != noText;
}

void UidList::remove(Node* previous, Node* node)
{
    if (previous == nullptr)
        first = node->next;
    else
        previous->next = node->next;
    if (node->id.text == nullptr)
        --store->absent;
    else
        store->releaseText(node->id.text);
    store->nodes.give(node);
    if (--count == 0)
        clear();
    else if (store->worthPacking())
        store->pack(first);
}

size_t UidList::distinctCount() const
{
    return store->distinct;
}

void UidList::reserve(size_t distinctIds)
{
    size_t capacity = distinctIds + distinctIds / 3 + 1;  // three quarters full at most
    if (capacity > store->slots.size())
        store->rehash(capacity);
}

void UidList::clear()
{
    Store* empty = new Store;
    delete store;
    store = empty;
    first = nullptr;
    count = 0;
}

void UidList::swap(UidList& other)
{
    std::swap(first, other.first);
    std::swap(count, other.count);
    std::swap(store, other.store);
}

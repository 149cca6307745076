#include "mail/uid_list.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <unordered_map>
#include <utility>

namespace {

// Where a distinct id lives: its text block in the high 16 bits, its offset in the low 16.
using TextRef = uint32_t;
const TextRef noText = UINT32_MAX;
// What a list's order holds in place of a reference for an absent id, and where one was erased.
const TextRef absentId = UINT32_MAX - 1;
const TextRef erasedPlace = UINT32_MAX - 2;
const size_t maxTextBlocks = 0xFFFE; // keeps every reference below erasedPlace

const int laneCount = 4;               // lists that can share one storage
using LaneCounts = uint32_t;           // one byte a list: how many times it holds the id
const unsigned char manyHolders = 255; // the list's count is kept aside, in Store::manyCounts

// The texts of distinct ids, side by side: each entry is the lists' counts (4 bytes), then the
// text and its NUL. Blocks never move; they grow from 1 KB to 64 KB, and an id longer than that
// has a block of its own.
class TextBlocks {
public:
    static const size_t countBytes = sizeof(LaneCounts);
    static const size_t firstBlockSize = 1024;
    static const size_t largestBlockSize = 65536; // offsets fit in 16 bits

    bool add(const char* text, size_t length, LaneCounts counts, TextRef& ref)
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
        std::memcpy(entry, &counts, countBytes);
        std::memcpy(entry + countBytes, text, length);
        entry[countBytes + length] = '\0';
        newestUsed += needed;
        return true;
    }

    char* entryAt(TextRef ref) const { return blocks[ref >> 16].get() + (ref & 0xFFFF); }
    char* textAt(TextRef ref) const { return entryAt(ref) + countBytes; }
    unsigned char& laneAt(TextRef ref, int lane) const { return reinterpret_cast<unsigned char*>(entryAt(ref))[lane]; }

    LaneCounts countsAt(TextRef ref) const
    {
        LaneCounts counts;
        std::memcpy(&counts, entryAt(ref), countBytes);
        return counts;
    }

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

uint32_t hashOf(const char* text)
{
    return hashOf(text, std::strlen(text));
}

uint64_t laneKey(TextRef ref, int lane)
{
    return static_cast<uint64_t>(ref) << 2 | static_cast<uint64_t>(lane);
}

} // namespace

// The distinct ids of up to four lists, and how often each list holds each. The index is linear
// probing over 4-byte slots, at most three quarters full; removing an id shifts the following
// slots back, so no tombstones build up over many listings.
struct UidList::Store {
    static const size_t firstCapacity = 16;

    std::vector<TextRef> slots;
    size_t distinct = 0;
    TextBlocks texts;
    size_t liveTextBytes = 0;
    size_t deadTextBytes = 0;
    // Counts of 255 and more, which a count byte cannot hold; only a hostile listing gets here.
    std::unordered_map<uint64_t, uint32_t> manyCounts;
    UidList* lists[laneCount] = {};

    // Any capacity works: a hash is mapped onto the slots by multiplication, not by a mask.
    size_t home(uint32_t hash) const { return static_cast<size_t>((static_cast<uint64_t>(hash) * slots.size()) >> 32); }
    size_t after(size_t i) const { return i + 1 == slots.size() ? 0 : i + 1; }
    const char* textAt(TextRef ref) const { return texts.textAt(ref); }

    // The slot of `text`, or the free slot where it would go.
    size_t probe(const char* text, uint32_t hash) const
    {
        size_t i = home(hash);
        while (slots[i] != noText && std::strcmp(textAt(slots[i]), text) != 0)
            i = after(i);
        return i;
    }

    TextRef find(const char* text) const { return distinct == 0 ? noText : slots[probe(text, hashOf(text))]; }

    size_t slotOf(TextRef ref) const
    {
        size_t i = home(hashOf(textAt(ref)));
        while (slots[i] != ref)
            i = after(i);
        return i;
    }

    int freeLane() const
    {
        for (int lane = 0; lane < laneCount; ++lane)
            if (lists[lane] == nullptr)
                return lane;
        return -1;
    }

    bool onlyUser(int lane) const
    {
        for (int other = 0; other < laneCount; ++other)
            if (other != lane && lists[other] != nullptr)
                return false;
        return true;
    }

    // The reference of `text`, stored anew (held by no list yet) when it is not there.
    TextRef intern(const char* text)
    {
        size_t length = std::strlen(text);
        uint32_t hash = hashOf(text, length);
        if (distinct > 0) {
            TextRef found = slots[probe(text, hash)];
            if (found != noText)
                return found;
        }
        growIfFull();
        TextRef ref;
        if (!texts.add(text, length, 0, ref))
            return noText;
        slots[probe(text, hash)] = ref;
        ++distinct;
        liveTextBytes += TextBlocks::countBytes + length + 1;
        return ref;
    }

    bool holds(TextRef ref, int lane) const { return texts.laneAt(ref, lane) != 0; }

    void addHolder(TextRef ref, int lane)
    {
        unsigned char& held = texts.laneAt(ref, lane);
        if (held == manyHolders)
            ++manyCounts[laneKey(ref, lane)];
        else if (held == manyHolders - 1)
            manyCounts[laneKey(ref, lane)] = held = manyHolders;
        else
            ++held;
    }

    // The text goes when no lane holds it any more.
    void dropHolder(TextRef ref, int lane)
    {
        unsigned char& held = texts.laneAt(ref, lane);
        if (held == manyHolders) {
            auto many = manyCounts.find(laneKey(ref, lane));
            if (--many->second < manyHolders) {
                held = static_cast<unsigned char>(many->second);
                manyCounts.erase(many);
            }
        } else {
            --held;
        }
        if (held == 0 && texts.countsAt(ref) == 0)
            release(ref);
    }

    void release(TextRef ref)
    {
        size_t bytes = TextBlocks::countBytes + std::strlen(textAt(ref)) + 1;
        liveTextBytes -= bytes;
        deadTextBytes += bytes;
        shiftBackFrom(slotOf(ref));
        --distinct;
    }

    void growIfFull()
    {
        if ((distinct + 1) * 4 <= slots.size() * 3)
            return;
        rehash(slots.size() < firstCapacity ? firstCapacity : slots.size() + slots.size() / 2);
    }

    void rehash(size_t capacity)
    {
        std::vector<TextRef> old(capacity, noText);
        old.swap(slots);
        for (TextRef ref : old)
            if (ref != noText) {
                size_t i = home(hashOf(textAt(ref)));
                while (slots[i] != noText)
                    i = after(i);
                slots[i] = ref;
            }
    }

    // Frees slot `hole` and moves later members of its probe run into it where their home
    // slot allows, so that every remaining slot stays reachable from its home.
    void shiftBackFrom(size_t hole)
    {
        size_t next = hole;
        for (;;) {
            next = after(next);
            if (slots[next] == noText)
                break;
            size_t at = home(hashOf(textAt(slots[next])));
            // Movable when its home does not lie cyclically in (hole, next].
            bool homeAfterHole = hole <= next ? (at > hole && at <= next) : (at > hole || at <= next);
            if (!homeAfterHole) {
                slots[hole] = slots[next];
                hole = next;
            }
        }
        slots[hole] = noText;
    }

    // Once no list holds anything, the blocks and the index go too.
    void releaseIfUnused()
    {
        if (distinct != 0)
            return;
        TextBlocks none;
        texts.swap(none);
        std::vector<TextRef>().swap(slots);
        manyCounts.clear();
        liveTextBytes = deadTextBytes = 0;
    }

    void packIfWorthIt()
    {
        if (deadTextBytes > liveTextBytes && deadTextBytes > TextBlocks::largestBlockSize)
            pack();
    }

    // Copies the live texts into fresh blocks and points the slots, the lists and the kept
    // counts at the copies.
    void pack()
    {
        TextBlocks fresh;
        std::vector<TextRef> moved(slots.size(), noText);
        for (size_t i = 0; i < slots.size(); ++i)
            if (slots[i] != noText) {
                const char* text = textAt(slots[i]);
                // Never fails: the live texts are fewer than the ones they were taken from.
                fresh.add(text, std::strlen(text), texts.countsAt(slots[i]), moved[i]);
            }
        for (UidList* list : lists)
            if (list != nullptr)
                for (TextRef& ref : list->order)
                    if (ref != absentId && ref != erasedPlace)
                        ref = moved[slotOf(ref)];
        std::unordered_map<uint64_t, uint32_t> movedCounts;
        for (const auto& many : manyCounts) {
            TextRef ref = static_cast<TextRef>(many.first >> 2);
            movedCounts[laneKey(moved[slotOf(ref)], static_cast<int>(many.first & 3))] = many.second;
        }
        manyCounts.swap(movedCounts);
        for (size_t i = 0; i < slots.size(); ++i)
            slots[i] = moved[i];
        texts.swap(fresh);
        deadTextBytes = 0;
    }
};

UidList::UidList() : store(std::make_shared<Store>())
{
    store->lists[lane] = this;
}

UidList::~UidList()
{
    if (!store->onlyUser(lane))
        dropAll();
    store->lists[lane] = nullptr;
}

void UidList::shareStorageWith(UidList& other)
{
    clear();
    int freeLane = other.store->freeLane();
    if (other.store == store || freeLane < 0)
        return;
    store->lists[lane] = nullptr;
    store = other.store;
    lane = freeLane;
    store->lists[lane] = this;
}

bool UidList::insertFront(const char* id)
{
    TextRef ref = absentId;
    if (id != nullptr && (ref = store->intern(id)) == noText)
        return false;
    hold(ref);
    return true;
}

bool UidList::contains(const char* id) const
{
    if (id == nullptr)
        return absent > 0;
    TextRef ref = store->find(id);
    return ref != noText && store->holds(ref, lane);
}

bool UidList::insertFront(Iterator at)
{
    if (at.list->store != store)
        return insertFront(*at);
    hold(referenceAt(at));
    return true;
}

bool UidList::contains(Iterator at) const
{
    TextRef ref = referenceAt(at);
    if (at.list->store != store || ref == absentId)
        return contains(*at);
    return store->holds(ref, lane);
}

// Puts a reference into this list's storage at the front.
void UidList::hold(TextRef ref)
{
    if (erased > count && erased > 4096)
        dropErasedPlaces();
    order.push_back(ref);
    ++count;
    if (ref == absentId)
        ++absent;
    else
        store->addHolder(ref, lane);
}

UidList::Iterator UidList::erase(Iterator at)
{
    size_t index = at.place - 1;
    TextRef ref = order[index];
    order[index] = erasedPlace;
    ++erased;
    // Places at the front go at once, so that a list emptied from its front is not walked
    // over its gaps again and again; a walk moves away from the front, so it is unaffected.
    while (!order.empty() && order.back() == erasedPlace) {
        order.pop_back();
        --erased;
    }
    --count;
    if (ref == absentId)
        --absent;
    else
        store->dropHolder(ref, lane);
    if (count == 0) {
        clear();
        return end();
    }
    store->packIfWorthIt();
    // The gaps just dropped from the front may reach below `index`.
    return Iterator(this, liveBelow(std::min(index, order.size())));
}

void UidList::reserve(size_t ids)
{
    order.reserve(ids);
    size_t capacity = ids + ids / 3 + 1; // three quarters full at most
    if (capacity > store->slots.size())
        store->rehash(capacity);
}

void UidList::shrinkToFit()
{
    if (erased > 0)
        dropErasedPlaces();
    else
        order.shrink_to_fit();
}

void UidList::clear()
{
    if (store->onlyUser(lane)) {
        store->lists[lane] = nullptr;
        store = std::make_shared<Store>();
        store->lists[lane] = this;
        std::vector<TextRef>().swap(order);
    } else {
        dropAll();
        store->releaseIfUnused();
        store->packIfWorthIt();
    }
    count = absent = erased = 0;
}

// Lets go of every id in a storage other lists use too, and of the order.
void UidList::dropAll()
{
    std::vector<TextRef> held;
    held.swap(order);
    for (TextRef ref : held)
        if (ref != absentId && ref != erasedPlace)
            store->dropHolder(ref, lane);
}

void UidList::copyFrom(const UidList& other)
{
    if (&other == this)
        return;
    clear();
    order.reserve(other.count);
    for (TextRef ref : other.order) // oldest first, so each lands in front of the one before
        if (ref != erasedPlace)
            insertFront(ref == absentId ? nullptr : other.store->textAt(ref));
}

void UidList::swap(UidList& other)
{
    std::swap(store, other.store);
    std::swap(lane, other.lane);
    order.swap(other.order);
    std::swap(count, other.count);
    std::swap(absent, other.absent);
    std::swap(erased, other.erased);
    store->lists[lane] = this;
    other.store->lists[other.lane] = &other;
}

const char* UidList::textAt(size_t index) const
{
    TextRef ref = order[index];
    return ref == absentId ? nullptr : store->textAt(ref);
}

size_t UidList::liveBelow(size_t index) const
{
    while (index > 0 && order[index - 1] == erasedPlace)
        --index;
    return index;
}

// Closes the gaps erase() left, once they outnumber the ids.
void UidList::dropErasedPlaces()
{
    size_t kept = 0;
    for (TextRef ref : order)
        if (ref != erasedPlace)
            order[kept++] = ref;
    order.resize(kept);
    order.shrink_to_fit();
    erased = 0;
}

#include "mail/mailbox/uid_storage.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>

#include "mail/platform/random_bytes.h"
#include "mail/mailbox/sip_hash.h"

namespace {

using TextRef = UidStorage::TextRef;

// A TextRef is an entry's block number in the high bits and its offset in the low 16: blocks
// are at most 64 KB (an id longer than that has a block of its own, where it starts at 0).
const int offsetBits = 16;
const TextRef offsetMask = (TextRef(1) << offsetBits) - 1;
// So that every TextRef stays below the markers.
const size_t maxTextBlocks = UidStorage::firstMarker >> offsetBits;

struct TextPlace {
    size_t block;
    size_t offset;
};

TextRef encodeTextRef(TextPlace place)
{
    return static_cast<TextRef>(place.block << offsetBits | place.offset);
}

TextPlace decodeTextRef(TextRef entry)
{
    return {entry >> offsetBits, entry & offsetMask};
}

// An entry begins with one count byte for each list.
const size_t countBytes = UidStorage::maxLists;
// The largest count a count byte holds; a list holding an id more often counts on in
// extraCounts, with the byte left at this.
const unsigned char fullCountByte = 255;

// The index starts this small: most lists never hold more than a few ids.
const size_t firstIndexCapacity = 16;

// The index is kept at most three quarters full: linear probing slows sharply beyond.
bool withinLoadLimit(size_t ids, size_t capacity)
{
    return ids * 4 <= capacity * 3;
}

// It grows by half at a time: fewer copies than by a tenth, fewer empty slots than by double.
size_t grownCapacity(size_t capacity)
{
    return capacity < firstIndexCapacity ? firstIndexCapacity : capacity + capacity / 2;
}

// The last resort: the clock and where this run's stack lies, which a server cannot see.
SipHashKey keyOfThisRun()
{
    uint64_t clock = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    uint64_t place = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&clock));
    return {clock * 0x9E3779B97F4A7C15u ^ place, place * 0xC2B2AE3D27D4EB4Fu ^ clock};
}

// The key of the index's hash, drawn once per run from the operating system's random source:
// a server can neither learn it nor choose ids whose hashes agree under it.
SipHashKey drawIndexKey()
{
    SipHashKey key;
    if (fillWithRandomBytes(&key, sizeof key))
        return key;
    // Only where the system gives nothing. The C++ library's source is the next best, but it
    // reports having none by throwing, which must not end the program.
    try {
        std::random_device device;
        return {static_cast<uint64_t>(device()) << 32 ^ device(), static_cast<uint64_t>(device()) << 32 ^ device()};
    } catch (...) {
        return keyOfThisRun();
    }
}

const SipHashKey& indexKey()
{
    static const SipHashKey key = drawIndexKey();
    return key;
}

// SipHash-1-3 of the text under the run's key; its high 32 bits pick the home slot.
uint32_t hashOf(const char* text, size_t length)
{
    return static_cast<uint32_t>(sipHash<1, 3>(indexKey(), text, length) >> 32);
}

} // namespace

// The entries, side by side in blocks that grow from 1 KB to 64 KB as the storage grows.
class UidStorage::TextBlocks {
public:
    static constexpr size_t firstBlockSize = 1024;                      // small lists stay small
    static constexpr size_t largestBlockSize = size_t(1) << offsetBits; // offsets fit their bits

    static size_t entrySize(size_t textLength) { return countBytes + textLength + 1; }

    // A new entry for `text`, held by no list; noText when maxTextBlocks are full.
    TextRef add(const char* text, size_t length)
    {
        size_t needed = entrySize(length);
        if (blocks.empty() || newestUsed + needed > newestSize) {
            if (blocks.size() == maxTextBlocks)
                return noText;
            startBlock(needed);
        }
        TextRef entry = encodeTextRef({blocks.size() - 1, newestUsed});
        char* bytes = blocks.back().get() + newestUsed;
        std::memset(bytes, 0, countBytes);
        std::memcpy(bytes + countBytes, text, length);
        bytes[countBytes + length] = '\0';
        newestUsed += needed;
        return entry;
    }

    char* entryAt(TextRef entry) const
    {
        TextPlace place = decodeTextRef(entry);
        return blocks[place.block].get() + place.offset;
    }

    char* textAt(TextRef entry) const { return entryAt(entry) + countBytes; }
    unsigned char* countsAt(TextRef entry) const { return reinterpret_cast<unsigned char*>(entryAt(entry)); }

    bool heldByNoList(TextRef entry) const
    {
        const unsigned char* counts = countsAt(entry);
        for (size_t list = 0; list < countBytes; ++list)
            if (counts[list] != 0)
                return false;
        return true;
    }

private:
    void startBlock(size_t needed)
    {
        size_t grown = blocks.empty() ? firstBlockSize : newestSize * 2;
        newestSize = grown < largestBlockSize ? grown : largestBlockSize;
        if (needed > newestSize)
            newestSize = needed;
        blocks.emplace_back(new char[newestSize]);
        newestUsed = 0;
    }

    std::vector<std::unique_ptr<char[]>> blocks;
    size_t newestSize = 0;
    size_t newestUsed = 0;
};

namespace {

// The key of a list's count in extraCounts: the entry, then the list number in the low bits.
const int listBits = 2;
static_assert(UidStorage::maxLists <= 1 << listBits, "a list number fits its bits");

struct CountOwner {
    TextRef entry;
    int list;
};

uint64_t encodeExtraCountKey(CountOwner owner)
{
    return static_cast<uint64_t>(owner.entry) << listBits | static_cast<uint64_t>(owner.list);
}

CountOwner decodeExtraCountKey(uint64_t key)
{
    return {static_cast<TextRef>(key >> listBits), static_cast<int>(key & ((1u << listBits) - 1))};
}

// pack() leaves, in each old entry's count bytes, the TextRef of its copy.
static_assert(sizeof(TextRef) <= countBytes, "a forwarding TextRef fits an entry's count bytes");

} // namespace

UidStorage::UidStorage() : texts(new TextBlocks) {}

UidStorage::~UidStorage() = default;

int UidStorage::freeListNumber() const
{
    for (int number = 0; number < maxLists; ++number)
        if (members[number] == nullptr)
            return number;
    return -1;
}

void UidStorage::setMember(int number, Member* list)
{
    members[number] = list;
}

bool UidStorage::usedBesides(int number) const
{
    for (int other = 0; other < maxLists; ++other)
        if (other != number && members[other] != nullptr)
            return true;
    return false;
}

// Any capacity works: the 32-bit hash, taken as a fraction of 2^32, is scaled to the number
// of slots by a multiplication, not cut by a mask.
size_t UidStorage::homeSlot(uint32_t hash) const
{
    return static_cast<size_t>((static_cast<uint64_t>(hash) * slots.size()) >> 32);
}

size_t UidStorage::homeSlot(const char* text) const
{
    return homeSlot(hashOf(text, std::strlen(text)));
}

// The slot holding `text`, or the empty slot where it would go.
size_t UidStorage::slotOf(const char* text, size_t home) const
{
    size_t slot = home;
    while (slots[slot] != noText && std::strcmp(textOf(slots[slot]), text) != 0)
        slot = nextSlot(slot);
    return slot;
}

size_t UidStorage::emptySlotFrom(size_t home) const
{
    size_t slot = home;
    while (slots[slot] != noText)
        slot = nextSlot(slot);
    return slot;
}

size_t UidStorage::slotOfEntry(TextRef entry) const
{
    size_t slot = homeSlot(textOf(entry));
    while (slots[slot] != entry)
        slot = nextSlot(slot);
    return slot;
}

UidStorage::TextRef UidStorage::find(const char* text) const
{
    if (distinct == 0)
        return noText;
    return slots[slotOf(text, homeSlot(text))];
}

UidStorage::TextRef UidStorage::store(const char* text)
{
    size_t length = std::strlen(text);
    uint32_t hash = hashOf(text, length);
    if (distinct > 0) {
        TextRef found = slots[slotOf(text, homeSlot(hash))];
        if (found != noText)
            return found;
    }
    growIfFull();
    TextRef entry = texts->add(text, length);
    if (entry == noText)
        return noText;
    slots[slotOf(text, homeSlot(hash))] = entry;
    ++distinct;
    liveBytes += TextBlocks::entrySize(length);
    return entry;
}

const char* UidStorage::textOf(TextRef entry) const
{
    return texts->textAt(entry);
}

unsigned char& UidStorage::countByte(TextRef entry, int list) const
{
    return texts->countsAt(entry)[list];
}

bool UidStorage::isHeldBy(TextRef entry, int list) const
{
    return countByte(entry, list) != 0;
}

void UidStorage::addHolding(TextRef entry, int list)
{
    unsigned char& count = countByte(entry, list);
    if (count < fullCountByte)
        ++count;
    else
        ++extraCounts[encodeExtraCountKey({entry, list})];
}

void UidStorage::dropHolding(TextRef entry, int list)
{
    unsigned char& count = countByte(entry, list);
    if (count == fullCountByte && dropExtraCount(entry, list))
        return;
    --count;
    if (count == 0 && texts->heldByNoList(entry))
        release(entry);
}

// False when the list holds the entry no more often than its count byte says.
bool UidStorage::dropExtraCount(TextRef entry, int list)
{
    auto extra = extraCounts.find(encodeExtraCountKey({entry, list}));
    if (extra == extraCounts.end())
        return false;
    if (--extra->second == 0)
        extraCounts.erase(extra);
    return true;
}

void UidStorage::release(TextRef entry)
{
    size_t bytes = TextBlocks::entrySize(std::strlen(textOf(entry)));
    liveBytes -= bytes;
    deadBytes += bytes;
    closeGapAt(slotOfEntry(entry));
    --distinct;
}

// The capacity that storing the ids one by one would reach, in one step.
void UidStorage::reserve(size_t ids)
{
    size_t capacity = slots.size();
    while (!withinLoadLimit(ids, capacity))
        capacity = grownCapacity(capacity);
    if (capacity > slots.size())
        rebuildIndex(capacity);
}

void UidStorage::growIfFull()
{
    if (!withinLoadLimit(distinct + 1, slots.size()))
        rebuildIndex(grownCapacity(slots.size()));
}

void UidStorage::rebuildIndex(size_t capacity)
{
    std::vector<TextRef> old(capacity, noText);
    old.swap(slots);
    for (TextRef entry : old)
        if (entry != noText)
            slots[emptySlotFrom(homeSlot(textOf(entry)))] = entry;
}

// Empties `slot` and moves later members of its run into the gap where their home slot
// allows, so that every id stays reachable from its home without tombstones.
void UidStorage::closeGapAt(size_t gap)
{
    for (size_t next = nextSlot(gap); slots[next] != noText; next = nextSlot(next)) {
        size_t home = homeSlot(textOf(slots[next]));
        // It may move when its home does not lie cyclically in (gap, next].
        bool homeAfterGap = gap <= next ? (home > gap && home <= next) : (home > gap || home <= next);
        if (!homeAfterGap) {
            slots[gap] = slots[next];
            gap = next;
        }
    }
    slots[gap] = noText;
}

void UidStorage::releaseIfUnused()
{
    if (distinct != 0)
        return;
    texts.reset(new TextBlocks);
    std::vector<TextRef>().swap(slots);
    extraCounts.clear();
    liveBytes = deadBytes = 0;
}

// Not before the dead bytes fill more than a block, so that a small storage is not packed
// again and again.
void UidStorage::packIfWorthIt()
{
    if (deadBytes > liveBytes && deadBytes > TextBlocks::largestBlockSize)
        pack();
}

UidStorage::TextRef UidStorage::newPlaceOf(TextRef old) const
{
    TextRef moved;
    std::memcpy(&moved, texts->countsAt(old), sizeof moved);
    return moved;
}

// Copies the live entries into new blocks, leaving in each old entry where its copy is, then
// points the index, the lists and the extra counts at the copies.
void UidStorage::pack()
{
    std::unique_ptr<TextBlocks> fresh(new TextBlocks);
    for (TextRef& slot : slots) {
        if (slot == noText)
            continue;
        const char* text = textOf(slot);
        // Never fails: the live entries are fewer than the ones they are taken from.
        TextRef copy = fresh->add(text, std::strlen(text));
        std::memcpy(fresh->countsAt(copy), texts->countsAt(slot), countBytes);
        std::memcpy(texts->countsAt(slot), &copy, sizeof copy);
        slot = copy;
    }
    for (Member* list : members)
        if (list != nullptr)
            list->followMovedEntries(*this);
    std::unordered_map<ExtraCountKey, uint32_t> moved;
    for (const auto& extra : extraCounts) {
        CountOwner owner = decodeExtraCountKey(extra.first);
        moved[encodeExtraCountKey({newPlaceOf(owner.entry), owner.list})] = extra.second;
    }
    extraCounts.swap(moved);
    texts.swap(fresh);
    deadBytes = 0;
}

size_t UidStorage::longestProbe() const
{
    size_t longest = 0;
    for (size_t slot = 0; slot < slots.size(); ++slot) {
        if (slots[slot] == noText)
            continue;
        size_t home = homeSlot(textOf(slots[slot]));
        size_t walked = (slot >= home ? slot - home : slot + slots.size() - home) + 1;
        if (walked > longest)
            longest = walked;
    }
    return longest;
}

#include "mail/mailbox/uid_list.h"

#include <algorithm>
#include <cstring>

namespace {

using TextRef = UidStorage::TextRef;

// What oldestFirst holds besides entries.
const TextRef absentId = UINT32_MAX - 1;    // a null id, which has no text to store
const TextRef erasedPlace = UINT32_MAX - 2; // a place erase() left, which walks skip
static_assert(erasedPlace >= UidStorage::firstMarker && absentId != UidStorage::noText, "markers are no entries");

bool isEntry(TextRef value)
{
    return value < UidStorage::firstMarker;
}

// Gaps are closed (the array copied without them) once they outnumber the ids and there are
// at least this many, so that the copy is rare and its cost spread over the erasures before it.
const size_t fewestGapsWorthClosing = 4096;

} // namespace

UidList::UidList() : storage(std::make_shared<UidStorage>())
{
    storage->setMember(number, this);
}

UidList::~UidList()
{
    if (storage->usedBesides(number))
        dropAll();
    storage->setMember(number, nullptr);
}

void UidList::shareStorageWith(UidList& other)
{
    clear();
    int freeNumber = other.storage->freeListNumber();
    if (sharesStorageWith(other) || freeNumber < 0)
        return;
    storage->setMember(number, nullptr);
    storage = other.storage;
    number = freeNumber;
    storage->setMember(number, this);
}

bool UidList::insertFront(const char* id)
{
    if (id == nullptr) {
        hold(absentId);
        return true;
    }
    TextRef entry = storage->store(id);
    if (entry == UidStorage::noText)
        return false;
    hold(entry);
    return true;
}

bool UidList::insertFrontAsIn(const char* id, const UidList& earlier)
{
    TextRef entry = id != nullptr ? likelyEntryOf(id, earlier) : UidStorage::noText;
    if (entry == UidStorage::noText)
        return insertFront(id);
    hold(entry);
    return true;
}

// The entry `earlier` holds at the place `id` takes here, or the one inserted here just
// before (a hostile listing repeats one id), when its text is `id`; otherwise noText.
UidStorage::TextRef UidList::likelyEntryOf(const char* id, const UidList& earlier) const
{
    size_t place = oldestFirst.size();
    if (sharesStorageWith(earlier) && place < earlier.oldestFirst.size() && holdsText(earlier.oldestFirst[place], id))
        return earlier.oldestFirst[place];
    if (place > 0 && holdsText(oldestFirst.back(), id))
        return oldestFirst.back();
    return UidStorage::noText;
}

bool UidList::holdsText(TextRef entry, const char* id) const
{
    return isEntry(entry) && std::strcmp(storage->textOf(entry), id) == 0;
}

bool UidList::contains(const char* id) const
{
    if (id == nullptr)
        return absent > 0;
    TextRef entry = storage->find(id);
    return entry != UidStorage::noText && storage->isHeldBy(entry, number);
}

bool UidList::insertFrontIdAt(Iterator at)
{
    if (!sharesStorageWith(*at.list))
        return insertFront(*at);
    hold(entryAt(at));
    return true;
}

bool UidList::containsIdAt(Iterator at) const
{
    TextRef entry = entryAt(at);
    if (!sharesStorageWith(*at.list) || !isEntry(entry))
        return contains(*at);
    return storage->isHeldBy(entry, number);
}

// Puts an entry (or the absent id's marker) at the front.
void UidList::hold(TextRef entry)
{
    if (gaps > count && gaps > fewestGapsWorthClosing)
        closeGaps();
    oldestFirst.push_back(entry);
    ++count;
    if (entry == absentId)
        ++absent;
    else
        storage->addHolding(entry, number);
}

UidList::Iterator UidList::erase(Iterator at)
{
    size_t index = at.index;
    TextRef entry = oldestFirst[index];
    oldestFirst[index] = erasedPlace;
    ++gaps;
    // Places at the front go at once, so that a list emptied from its front is not walked
    // over its gaps again and again; a walk moves away from the front, so it is unaffected.
    while (!oldestFirst.empty() && oldestFirst.back() == erasedPlace) {
        oldestFirst.pop_back();
        --gaps;
    }
    --count;
    if (entry == absentId)
        --absent;
    else
        storage->dropHolding(entry, number);
    if (count == 0) {
        clear();
        return end();
    }
    storage->packIfWorthIt();
    // The gaps just dropped from the front may reach below `index`.
    return Iterator(this, newestLiveBelow(std::min(index, oldestFirst.size())));
}

void UidList::reserve(size_t ids)
{
    oldestFirst.reserve(ids);
    storage->reserve(ids);
}

void UidList::shrinkToFit()
{
    if (gaps > 0)
        closeGaps();
    else
        oldestFirst.shrink_to_fit();
}

void UidList::clear()
{
    if (!storage->usedBesides(number)) {
        storage->setMember(number, nullptr);
        storage = std::make_shared<UidStorage>();
        storage->setMember(number, this);
        std::vector<TextRef>().swap(oldestFirst);
    } else {
        dropAll();
        storage->releaseIfUnused();
        storage->packIfWorthIt();
    }
    count = absent = gaps = 0;
}

// Lets go of every id in a storage other lists use too, and of the array.
void UidList::dropAll()
{
    std::vector<TextRef> held;
    held.swap(oldestFirst);
    for (TextRef entry : held)
        if (isEntry(entry))
            storage->dropHolding(entry, number);
}

void UidList::copyFrom(const UidList& other)
{
    if (&other == this)
        return;
    clear();
    oldestFirst.reserve(other.count);
    for (TextRef entry : other.oldestFirst) // oldest first, so each lands in front of the one before
        if (entry != erasedPlace)
            insertFront(entry == absentId ? nullptr : other.storage->textOf(entry));
}

void UidList::swap(UidList& other)
{
    std::swap(storage, other.storage);
    std::swap(number, other.number);
    oldestFirst.swap(other.oldestFirst);
    std::swap(count, other.count);
    std::swap(absent, other.absent);
    std::swap(gaps, other.gaps);
    storage->setMember(number, this);
    other.storage->setMember(other.number, &other);
}

const char* UidList::textAt(size_t index) const
{
    TextRef entry = oldestFirst[index];
    return entry == absentId ? nullptr : storage->textOf(entry);
}

size_t UidList::newestLiveBelow(size_t index) const
{
    while (index > 0) {
        --index;
        if (oldestFirst[index] != erasedPlace)
            return index;
    }
    return pastOldest;
}

// Closes the gaps erase() left.
void UidList::closeGaps()
{
    size_t kept = 0;
    for (TextRef entry : oldestFirst)
        if (entry != erasedPlace)
            oldestFirst[kept++] = entry;
    oldestFirst.resize(kept);
    oldestFirst.shrink_to_fit();
    gaps = 0;
}

void UidList::followMovedEntries(const UidStorage& moved)
{
    for (TextRef& entry : oldestFirst)
        if (isEntry(entry))
            entry = moved.newPlaceOf(entry);
}

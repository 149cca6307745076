#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "mail/uid_storage.h"

namespace {

using TextRef = UidStorage::TextRef;

// ---- The storage: texts, counts and index, with two lists ----

// Holds one entry per id, as a list would, and follows the entries when the storage packs.
struct Holder : UidStorage::Member {
    std::vector<TextRef> entries;
    void followMovedEntries(const UidStorage& moved) override
    {
        for (TextRef& entry : entries)
            if (entry != UidStorage::noText)
                entry = moved.newPlaceOf(entry);
    }
};

std::vector<std::string> ordinaryIds(int count)
{
    std::vector<std::string> ids;
    char id[32];
    for (int i = 0; i < count; ++i) {
        std::snprintf(id, sizeof id, "%08X%08X", i, 0x5F3A1C07);
        ids.push_back(id);
    }
    return ids;
}

// Linear probing at the load the index keeps gives runs of a few dozen slots; this is far
// above what chance gives and far below one slot per id.
const size_t probeBound = 256;

struct StorageCase {
    const char* name;
    std::vector<std::string> ids;
    int holdings;  // how often list 1 holds each id
    int keepEvery; // list 1 keeps every n-th id and lets the others go
};

// Ids let go until dead texts outweigh live ones and get packed; an id held more often than
// a count byte says.
const StorageCase storageCases[] = {
    {"most ids let go, the rest packed", ordinaryIds(20000), 1, 10},
    {"one id held past a count byte", ordinaryIds(1), 600, 1},
};

TEST(UidStorageTable, KeepsTextsAndCountsAndFindsEveryIdInFewSlots)
{
    for (const StorageCase& row : storageCases) {
        SCOPED_TRACE(row.name);
        UidStorage storage;
        Holder lists[2];
        for (int list = 0; list < 2; ++list)
            storage.setMember(list, &lists[list]);
        size_t count = row.ids.size();
        for (size_t i = 0; i < count; ++i) {
            TextRef entry = storage.store(row.ids[i].c_str());
            ASSERT_NE(entry, UidStorage::noText);
            for (int copy = 0; copy < row.holdings; ++copy)
                storage.addHolding(entry, 1);
            lists[1].entries.push_back(entry);
            // List 0 holds every third id too, so that its text outlives list 1's holding.
            lists[0].entries.push_back(i % 3 == 0 ? entry : UidStorage::noText);
            if (i % 3 == 0)
                storage.addHolding(entry, 0);
        }
        EXPECT_LE(storage.longestProbe(), probeBound);

        for (size_t i = 0; i < count; ++i)
            if (i % row.keepEvery != 0) {
                for (int copy = 0; copy < row.holdings; ++copy)
                    storage.dropHolding(lists[1].entries[i], 1);
                lists[1].entries[i] = UidStorage::noText;
            }
        storage.packIfWorthIt();
        for (size_t i = 0; i < count; ++i) {
            const char* id = row.ids[i].c_str();
            bool inList1 = i % row.keepEvery == 0;
            ASSERT_EQ(storage.find(id) != UidStorage::noText, inList1 || i % 3 == 0) << i;
            for (const Holder& list : lists)
                ASSERT_TRUE(list.entries[i] == UidStorage::noText || row.ids[i] == storage.textOf(list.entries[i]))
                    << i;
            if (!inList1)
                continue;
            ASSERT_TRUE(storage.isHeldBy(lists[1].entries[i], 1)) << i;
            for (int copy = 1; copy < row.holdings; ++copy)
                storage.dropHolding(lists[1].entries[i], 1);
            ASSERT_TRUE(storage.isHeldBy(lists[1].entries[i], 1)) << i;
            storage.dropHolding(lists[1].entries[i], 1);
            ASSERT_EQ(storage.find(id) != UidStorage::noText, i % 3 == 0) << i;
        }
    }
}

} // namespace

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "mail/mailbox/sip_hash.h"
#include "mail/mailbox/uid_storage.h"
#include "tests/support/colliding_ids.h"

namespace {

using TextRef = UidStorage::TextRef;

// ---- The index's hash: the authors' published vectors, messages 00 01 02 ... ----

struct SipHashCase {
    const char* name;
    uint64_t (*hash)(const SipHashKey&, const void*, size_t);
    SipHashKey key;
    size_t length;
    uint64_t expected;
};

const SipHashKey keyOfTheVectors = {0x0706050403020100ull, 0x0f0e0d0c0b0a0908ull}; // bytes 00 to 0f
const SipHashKey zeroKey = {0, 0};

const SipHashCase sipHashCases[] = {
    {"2-4, empty", sipHash<2, 4>, keyOfTheVectors, 0, 0x726fdb47dd0e0e31ull},
    {"2-4, the paper's 15 bytes", sipHash<2, 4>, keyOfTheVectors, 15, 0xa129ca6149be45e5ull},
    {"2-4, 63 bytes", sipHash<2, 4>, keyOfTheVectors, 63, 0x958a324ceb064572ull},
    {"1-3, empty", sipHash<1, 3>, zeroKey, 0, 0xd1fba762150c532cull},
    {"1-3, one word", sipHash<1, 3>, zeroKey, 8, 0xead411e67ebe2eeaull},
    {"1-3, 15 bytes", sipHash<1, 3>, zeroKey, 15, 0xf30eb725bb91c9eaull},
    {"1-3, two words", sipHash<1, 3>, zeroKey, 16, 0x8972188433a5c5b7ull},
};

TEST(UidIndexHash, GivesThePublishedValues)
{
    unsigned char message[64];
    for (int i = 0; i < 64; ++i)
        message[i] = static_cast<unsigned char>(i);
    for (const SipHashCase& row : sipHashCases)
        EXPECT_EQ(row.hash(row.key, message, row.length), row.expected) << row.name;
}

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
    std::vector<std::string> (*ids)(); // made when the row runs, not for every test
    int holdings;                      // how often list 1 holds each id
    int keepEvery;                     // list 1 keeps every n-th id and lets the others go
};

// Ids let go until dead texts outweigh live ones and get packed; an id held more often than
// a count byte says; 65,536 ids that a multiply-fold hash puts into one slot.
const StorageCase storageCases[] = {
    {"most ids let go, the rest packed", [] { return ordinaryIds(20000); }, 1, 10},
    {"one id held past a count byte", [] { return ordinaryIds(1); }, 600, 1},
    {"ids crafted to collide under a multiply-fold hash", [] { return foldCollidingIds(16); }, 1, 1},
};

TEST(UidStorageTable, KeepsTextsAndCountsAndFindsEveryIdInFewSlots)
{
    for (const StorageCase& row : storageCases) {
        SCOPED_TRACE(row.name);
        const std::vector<std::string> ids = row.ids();
        UidStorage storage;
        Holder lists[2];
        for (int list = 0; list < 2; ++list)
            storage.setMember(list, &lists[list]);
        size_t count = ids.size();
        for (size_t i = 0; i < count; ++i) {
            TextRef entry = storage.store(ids[i].c_str());
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
            const char* id = ids[i].c_str();
            bool inList1 = i % row.keepEvery == 0;
            ASSERT_EQ(storage.find(id) != UidStorage::noText, inList1 || i % 3 == 0) << i;
            for (const Holder& list : lists)
                ASSERT_TRUE(list.entries[i] == UidStorage::noText || ids[i] == storage.textOf(list.entries[i])) << i;
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

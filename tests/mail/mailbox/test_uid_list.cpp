#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "mail/mailbox/uid_list.h"
#include "tests/mail/mail_test_support.h"

using mailtest::idsOf;

namespace {

std::vector<std::string> inOrder(const UidList& list)
{
    std::vector<std::string> ids;
    for (const char* id : list)
        ids.push_back(id != nullptr ? id : "<absent>");
    return ids;
}

// Removes the first copy of `id`; false when there is none.
bool removeFirst(UidList& list, const char* id)
{
    for (UidList::Iterator at = list.begin(); at != list.end(); ++at)
        if (*at != nullptr && std::string(*at) == id) {
            list.erase(at);
            return true;
        }
    return false;
}

// ---- Membership ----

TEST(UidListMembership, FindsOnlyExactBytes)
{
    UidList list;
    list.insertFront("Abc01");
    EXPECT_TRUE(list.contains("Abc01"));
    EXPECT_FALSE(list.contains("abc01"));
    EXPECT_FALSE(list.contains("Abc0"));
    EXPECT_FALSE(list.contains("Abc01 "));
}

TEST(UidListMembership, AbsentIdEqualsOnlyAbsentId)
{
    UidList list;
    list.insertFront("");
    EXPECT_TRUE(list.contains(""));
    EXPECT_FALSE(list.contains(nullptr));
    list.insertFront(nullptr);
    EXPECT_TRUE(list.contains(nullptr));
}

// ---- Order and removal ----

TEST(UidListOrder, NewestIdComesFirst)
{
    UidList list;
    list.insertFront("a");
    list.insertFront("b");
    list.insertFront("c");
    EXPECT_EQ(inOrder(list), (std::vector<std::string>{"c", "b", "a"}));
    EXPECT_EQ(list.size(), 3u);
}

// A listing taken as in the last one: an id at the same place, or the one just before, is
// taken over only when equal.
TEST(UidListOrder, InsertingAsInAnEarlierListKeepsTheIdsGiven)
{
    UidList earlier;
    UidList list;
    list.shareStorageWith(earlier);
    for (const char* id : {"a", "b", "c"})
        earlier.insertFront(id);
    for (const char* id : {"a", "x", "c", "c", "d"})
        ASSERT_TRUE(list.insertFrontAsIn(id, earlier));
    EXPECT_EQ(inOrder(list), (std::vector<std::string>{"d", "c", "c", "x", "a"}));
    EXPECT_FALSE(list.contains("b"));
}

struct RemovalCase {
    const char* name;
    std::vector<std::string> inserted; // oldest first
    std::vector<std::string> removed;  // in this order
    std::vector<std::string> kept;     // front to back
};

const RemovalCase removalCases[] = {
    {"head, middle, tail", {"a", "b", "c", "d", "e"}, {"e", "c", "a"}, {"d", "b"}},
    // The middle's gap and the front go together; the walk goes on below both.
    {"middle, then the head", {"a", "b", "c"}, {"b", "c"}, {"a"}},
};

TEST(UidListOrder, RemovingAnyIdKeepsTheRest)
{
    for (const RemovalCase& row : removalCases) {
        SCOPED_TRACE(row.name);
        UidList list;
        for (const std::string& id : row.inserted)
            list.insertFront(id.c_str());
        for (const std::string& id : row.removed) {
            ASSERT_TRUE(removeFirst(list, id.c_str()));
            EXPECT_FALSE(list.contains(id.c_str()));
        }
        EXPECT_EQ(inOrder(list), row.kept);
        for (const std::string& id : row.kept)
            EXPECT_TRUE(list.contains(id.c_str()));
    }
}

TEST(UidListOrder, DuplicateStaysFoundUntilItsLastCopyIsRemoved)
{
    UidList list;
    list.insertFront("dup");
    list.insertFront("other");
    list.insertFront("dup");
    EXPECT_EQ(list.size(), 3u);
    ASSERT_TRUE(removeFirst(list, "dup"));
    EXPECT_TRUE(list.contains("dup"));
    ASSERT_TRUE(removeFirst(list, "dup"));
    EXPECT_FALSE(list.contains("dup"));
    EXPECT_TRUE(list.contains("other"));
}

TEST(UidListOrder, SwapExchangesContentsAndLookups)
{
    UidList left;
    UidList right;
    left.insertFront("l1");
    left.insertFront("l2");
    right.insertFront("r1");
    left.swap(right);
    EXPECT_EQ(inOrder(left), (std::vector<std::string>{"r1"}));
    EXPECT_EQ(inOrder(right), (std::vector<std::string>{"l2", "l1"}));
    EXPECT_TRUE(left.contains("r1"));
    EXPECT_FALSE(left.contains("l1"));
    EXPECT_TRUE(right.contains("l1"));
    EXPECT_FALSE(right.contains("r1"));
}

// ---- Many ids: the index must agree with the list through growth and removals ----

TEST(UidListIndex, AgreesWithListThroughManyInsertionsAndRemovals)
{
    const int idCount = 5000;
    UidList list;
    for (int i = 0; i < idCount; ++i)
        list.insertFront(("uid" + std::to_string(i)).c_str());
    // Remove every third id, walking the list.
    for (UidList::Iterator at = list.begin(); at != list.end();) {
        int number = std::stoi(std::string(*at).substr(3));
        if (number % 3 == 0)
            at = list.erase(at);
        else
            ++at;
    }
    int found = 0;
    for (int i = 0; i < idCount; ++i) {
        bool expected = i % 3 != 0;
        bool present = list.contains(("uid" + std::to_string(i)).c_str());
        EXPECT_EQ(present, expected) << i;
        found += present ? 1 : 0;
    }
    EXPECT_EQ(static_cast<size_t>(found), list.size());
    EXPECT_EQ(idsOf(list).size(), list.size());
}

// ---- Compact storage: its own edges ----

struct StorageCase {
    const char* name;
    int distinct; // ids
    int copies;   // how often each is inserted, round after round
    size_t idLength;
};

// Every growth step of index, text blocks and order; one id held very many times;
// ids at the listing's length limit, which fill text blocks fast; an id longer than a block.
const StorageCase storageCases[] = {
    {"growth across resizes", 70000, 1, 16},      {"many duplicates", 1, 200000, 16},
    {"distinct ids repeated", 1000, 40, 16},      {"ids at the length limit", 300, 2, 1023},
    {"id longer than a text block", 3, 2, 70000},
};

std::string storageId(int number, size_t length)
{
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%08X", number);
    std::string id(prefix);
    id.resize(length, 'x');
    return id;
}

TEST(UidListStorage, KeepsOrderTextsAndCountsThroughGrowthAndRemoval)
{
    for (const StorageCase& row : storageCases) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> ids;
        for (int i = 0; i < row.distinct; ++i)
            ids.push_back(storageId(i, row.idLength));
        UidList list;
        std::vector<int> expected; // id numbers, front to back
        for (int round = 0; round < row.copies; ++round)
            for (int i = 0; i < row.distinct; ++i) {
                ASSERT_TRUE(list.insertFront(ids[i].c_str()));
                expected.push_back(i);
            }
        std::reverse(expected.begin(), expected.end());
        ASSERT_EQ(list.size(), expected.size());

        // Remove two ids of every three: most texts then lie unused and get packed.
        std::vector<int> holders(row.distinct, 0);
        std::vector<int> kept;
        UidList::Iterator at = list.begin();
        for (size_t position = 0; at != list.end(); ++position) {
            ASSERT_EQ(ids[expected[position]], *at) << position;
            if (position % 3 != 0) {
                at = list.erase(at);
            } else {
                kept.push_back(expected[position]);
                ++holders[expected[position]];
                ++at;
            }
        }
        ASSERT_EQ(list.size(), kept.size());
        size_t position = 0;
        for (at = list.begin(); at != list.end(); ++at, ++position)
            ASSERT_EQ(ids[kept[position]], *at) << position;
        for (int i = 0; i < row.distinct; ++i)
            ASSERT_EQ(list.contains(ids[i].c_str()), holders[i] > 0) << i;
        EXPECT_FALSE(list.contains(storageId(row.distinct, row.idLength).c_str()));

        while (list.begin() != list.end())
            list.erase(list.begin());
        EXPECT_EQ(list.size(), 0u);
        EXPECT_FALSE(list.contains(ids[0].c_str()));
        ASSERT_TRUE(list.insertFront(ids[0].c_str()));
        EXPECT_TRUE(list.contains(ids[0].c_str()));
    }
}

} // namespace

// ---- Lists sharing one storage ----

// Random steps on four lists that share a storage and one that has its own, each checked
// against a plain vector after every step: removals that get texts packed under the other
// lists, an id held past what a count byte holds, clearing, swapping and copying between lists.
TEST(UidListSharing, ListsSharingAStorageEachKeepTheirOwnIdsAndOrder)
{
    const int listCount = 5;
    const int steps = 60000;
    UidList lists[listCount];
    for (int i = 1; i < listCount; ++i)
        lists[i].shareStorageWith(lists[0]);   // the fifth finds no room and keeps its own
    std::vector<std::string> model[listCount]; // front to back
    for (int which : {0, 1, 4})
        for (int copy = 0; copy < 600; ++copy) {
            lists[which].insertFront("hot");
            model[which].push_back("hot");
        }
    // Texts packed away while list 0 holds "hot" more often than a count byte can say.
    for (int i = 0; i < 8000; ++i)
        ASSERT_TRUE(lists[0].insertFront(("tail" + std::to_string(i)).c_str()));
    for (UidList::Iterator at = lists[0].begin(); at != lists[0].end();)
        at = std::string(*at) == "hot" ? ++at : lists[0].erase(at);
    std::mt19937 random(7);
    auto pick = [&](int bound) { return static_cast<int>(random() % static_cast<unsigned>(bound)); };
    for (int step = 0; step < steps; ++step) {
        int which = pick(listCount);
        UidList& list = lists[which];
        std::vector<std::string>& ids = model[which];
        int action = pick(100);
        if (action < 55) {
            // Few distinct ids, so that copies pile up; a long tail, so that texts die and get packed.
            std::string id = pick(4) == 0 ? "hot" : storageId(pick(step / 4 + 8), 12);
            ASSERT_TRUE(list.insertFront(id.c_str()));
            ids.insert(ids.begin(), id);
        } else if (action < 97 && !ids.empty()) {
            int position = pick(static_cast<int>(ids.size()));
            UidList::Iterator at = list.begin();
            for (int i = 0; i < position; ++i)
                ++at;
            list.erase(at);
            ids.erase(ids.begin() + position);
        } else if (action < 98) {
            list.clear();
            ids.clear();
        } else if (action < 99) {
            int other = pick(listCount);
            list.swap(lists[other]);
            ids.swap(model[other]);
        } else {
            int other = pick(listCount);
            list.copyFrom(lists[other]);
            ids = model[other];
        }
        if (step % 1000 == 0 || step == steps - 1)
            for (int i = 0; i < listCount; ++i) {
                SCOPED_TRACE("step " + std::to_string(step) + ", list " + std::to_string(i));
                ASSERT_EQ(inOrder(lists[i]), model[i]);
                ASSERT_EQ(lists[i].size(), model[i].size());
                for (const char* probe : {"hot", "00000003xxxx", "00000100xxxx", "never"})
                    ASSERT_EQ(lists[i].contains(probe),
                              std::find(model[i].begin(), model[i].end(), probe) != model[i].end())
                        << probe;
            }
    }
}

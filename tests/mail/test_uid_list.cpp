#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "mail/uid_list.h"
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

TEST(UidListOrder, RemovingHeadMiddleAndTailKeepsTheRest)
{
    UidList list;
    for (const char* id : {"a", "b", "c", "d", "e"})
        list.insertFront(id);
    ASSERT_TRUE(removeFirst(list, "e"));  // head
    ASSERT_TRUE(removeFirst(list, "c"));  // middle
    ASSERT_TRUE(removeFirst(list, "a"));  // tail
    EXPECT_EQ(inOrder(list), (std::vector<std::string>{"d", "b"}));
    EXPECT_FALSE(list.contains("e"));
    EXPECT_FALSE(list.contains("c"));
    EXPECT_FALSE(list.contains("a"));
    EXPECT_TRUE(list.contains("d"));
    EXPECT_TRUE(list.contains("b"));
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
    int distinct;      // ids
    int copies;        // how often each is inserted, round after round
    size_t idLength;
};

// Every growth step of index, text blocks and order; one id held very many times;
// ids at the listing's length limit, which fill text blocks fast; an id longer than a block.
const StorageCase storageCases[] = {
    {"growth across resizes", 70000, 1, 16},
    {"many duplicates", 1, 200000, 16},
    {"distinct ids repeated", 1000, 40, 16},
    {"ids at the length limit", 300, 2, 1023},
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
        std::vector<int> expected;  // id numbers, front to back
        for (int round = 0; round < row.copies; ++round)
            for (int i = 0; i < row.distinct; ++i) {
                ASSERT_TRUE(list.insertFront(ids[i].c_str()));
                expected.push_back(i);
            }
        std::reverse(expected.begin(), expected.end());
        ASSERT_EQ(list.size(), expected.size());

        // Remove two nodes of every three: most texts then lie unused and get packed.
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

}  // namespace

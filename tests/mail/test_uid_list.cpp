#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mail/uid_list.h"
#include "tests/mail/mail_test_support.h"

using mailtest::idsOf;

namespace {

std::vector<std::string> inOrder(const UidList& list)
{
    std::vector<std::string> ids;
    for (const UidList::Node* node = list.head(); node != nullptr; node = node->next)
        ids.push_back(node->id.text != nullptr ? node->id.text : "<absent>");
    return ids;
}

// Removes the first node whose id is `id`; false when there is none.
bool removeFirst(UidList& list, const char* id)
{
    UidList::Node* previous = nullptr;
    for (UidList::Node* node = list.head(); node != nullptr; previous = node, node = node->next)
        if (node->id.text != nullptr && std::string(node->id.text) == id) {
            list.remove(previous, node);
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
    UidList::Node* previous = nullptr;
    UidList::Node* node = list.head();
    while (node != nullptr) {
        UidList::Node* next = node->next;
        int number = std::stoi(std::string(node->id.text).substr(3));
        if (number % 3 == 0)
            list.remove(previous, node);
        else
            previous = node;
        node = next;
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

}  // namespace

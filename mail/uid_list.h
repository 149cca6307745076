#pragma once

#include <cstddef>

#include "util/text_record.h"

// A list of unique-ids, newest first. Each node owns a copy of its id.
// contains() is answered from a hash index, so reconciling a listing is linear in its size.
class UidList {
public:
    struct Node {
        TextRecord id;
        Node* next = nullptr;
    };

    UidList();
    ~UidList();
    UidList(const UidList&) = delete;
    UidList& operator=(const UidList&) = delete;

    void insertFront(const char* id);
    bool contains(const char* id) const;
    // Unlinks and releases `node`; `previous` is the node before it, or null for the head.
    void remove(Node* previous, Node* node);
    // Releases every node, front to back.
    void clear();
    // Exchanges the contents of two lists (nodes and index), without copying.
    void swap(UidList& other);

    Node* head() const { return first; }
    size_t size() const { return count; }

private:
    struct Index;
    Node* first = nullptr;
    size_t count = 0;
    Index* index;
};

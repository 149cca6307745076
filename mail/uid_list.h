#pragma once

#include <cstddef>

// A list of unique-ids, newest first, on compact storage: the text of each distinct id is kept
// once, side by side with the others in large blocks; the nodes come from blocks as well; and an
// open-addressing index maps each distinct id to its text and to the number of nodes that hold
// it. Nothing is allocated per id, and insertFront() and contains() stay O(1) amortised however
// often one id repeats.
class UidList {
public:
    // A node's id: `text` points into the list's storage, or is null for an absent id. It stays
    // valid until that node is removed or the list is cleared; remove() may move the texts of
    // other nodes (it packs the storage when most of it is no longer used), never the nodes.
    struct IdText {
        const char* text = nullptr;
    };
    struct Node {
        IdText id;
        Node* next = nullptr;
    };

    UidList();
    ~UidList();
    UidList(const UidList&) = delete;
    UidList& operator=(const UidList&) = delete;

    // False, and the list unchanged, only when the storage's limit of about 4 GB of distinct
    // ids is reached.
    bool insertFront(const char* id);
    bool contains(const char* id) const;
    // Unlinks and releases `node`; `previous` is the node before it, or null for the head.
    void remove(Node* previous, Node* node);
    // Sizes the index for this many distinct ids at once, sparing the steps of its growth.
    void reserve(size_t distinctIds);
    // Releases every node and all storage.
    void clear();
    // Exchanges the contents of two lists, without copying.
    void swap(UidList& other);

    Node* head() const { return first; }
    size_t size() const { return count; }
    // How many different ids the list holds (an absent id not counted).
    size_t distinctCount() const;

private:
    struct Store;
    Node* first = nullptr;
    size_t count = 0;
    Store* store;
};

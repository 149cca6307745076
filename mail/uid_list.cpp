#include "mail/uid_list.h"

#include <cstdint>
#include <cstring>

// Open addressing with linear probing over the nodes themselves: one slot per node, so an id
// listed twice has two slots, and removing one of them leaves the other findable. Removal
// shifts the following slots back, so no tombstones build up over many listings.
struct UidList::Index {
    struct Slot {
        uint64_t hash;
        Node* node; // null: the slot is free
    };

    static const size_t initialCapacity = 16; // a power of two

    Slot* slots = nullptr;
    size_t capacity = 0;
    size_t used = 0;

    ~Index() { delete[] slots; }

    static uint64_t hashOf(const char* text)
    {
        // An absent id has a hash of its own; equality still tells it from the empty text.
        if (text == nullptr)
            return 0x9e3779b97f4a7c15ull;
        uint64_t hash = 0xcbf29ce484222325ull; // FNV-1a
        for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
            hash ^= *p;
            hash *= 0x100000001b3ull;
        }
        return hash;
    }

    static bool sameText(const char* a, const char* b)
    {
        if (a == nullptr || b == nullptr)
            return a == b;
        return std::strcmp(a, b) == 0;
    }

    size_t mask() const { return capacity - 1; }

    void place(uint64_t hash, Node* node)
    {
        size_t i = hash & mask();
        while (slots[i].node != nullptr)
            i = (i + 1) & mask();
        slots[i].hash = hash;
        slots[i].node = node;
    }

    void grow()
    {
        Slot* old = slots;
        size_t oldCapacity = capacity;
        capacity = capacity == 0 ? initialCapacity : capacity * 2;
        slots = new Slot[capacity]();
        for (size_t i = 0; i < oldCapacity; ++i)
            if (old[i].node != nullptr)
                place(old[i].hash, old[i].node);
        delete[] old;
    }

    void add(Node* node)
    {
        // Kept at most half full, so probe runs stay short.
        if ((used + 1) * 2 > capacity)
            grow();
        place(hashOf(node->id.text), node);
        ++used;
    }

    bool find(const char* text) const
    {
        if (used == 0)
            return false;
        uint64_t hash = hashOf(text);
        for (size_t i = hash & mask(); slots[i].node != nullptr; i = (i + 1) & mask())
            if (slots[i].hash == hash && sameText(slots[i].node->id.text, text))
                return true;
        return false;
    }

    void erase(Node* node)
    {
        if (used == 0)
            return;
        size_t i = hashOf(node->id.text) & mask();
        while (slots[i].node != node) {
            if (slots[i].node == nullptr)
                return; // not indexed; cannot happen for a node of this list
            i = (i + 1) & mask();
        }
        shiftBackFrom(i);
        --used;
    }

    // Frees slot `hole` and moves later members of its probe run into it where their home
    // slot allows, so that every remaining slot stays reachable from its home.
    void shiftBackFrom(size_t hole)
    {
        size_t next = hole;
        for (;;) {
            next = (next + 1) & mask();
            if (slots[next].node == nullptr)
                break;
            size_t home = slots[next].hash & mask();
            // Movable when `home` does not lie cyclically in (hole, next].
            bool homeAfterHole = hole <= next ? (home > hole && home <= next)
                                              : (home > hole || home <= next);
            if (!homeAfterHole) {
                slots[hole] = slots[next];
                hole = next;
            }
        }
        slots[hole].node = nullptr;
        slots[hole].hash = 0;
    }

    void reset()
    {
        delete[] slots;
        slots = nullptr;
        capacity = 0;
        used = 0;
    }
};

UidList::UidList() : index(new Index) {}

UidList::~UidList()
{
    clear();
    delete index;
}

void UidList::insertFront(const char* id)
{
    Node* node = new Node;
    node->id.assign(id);
    node->next = first;
    first = node;
    ++count;
    index->add(node);
}

bool UidList::contains(const char* id) const
{
    return index->find(id);
}

void UidList::remove(Node* previous, Node* node)
{
    if (previous == nullptr)
        first = node->next;
    else
        previous->next = node->next;
    index->erase(node);
    --count;
    delete node;
}

void UidList::clear()
{
    // Iteratively, so that a long list cannot exhaust the stack.
    while (first != nullptr) {
        Node* node = first;
        first = node->next;
        delete node;
    }
    count = 0;
    index->reset();
}

void UidList::swap(UidList& other)
{
    Node* otherFirst = other.first;
    size_t otherCount = other.count;
    Index* otherIndex = other.index;
    other.first = first;
    other.count = count;
    other.index = index;
    first = otherFirst;
    count = otherCount;
    index = otherIndex;
}

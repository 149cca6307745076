#pragma once

#include <cstddef>

// Collects a long text that arrives in small pieces: one allocation per 64 KB block, and one
// copy into a contiguous buffer at the end. A piece is never split between blocks.
class TextAccumulator {
public:
    static const int blockSize = 65536;

    TextAccumulator() = default;
    ~TextAccumulator();
    TextAccumulator(const TextAccumulator&) = delete;
    TextAccumulator& operator=(const TextAccumulator&) = delete;

    // Appends a NUL-terminated text; a text longer than blockSize - 1 is dropped.
    void append(const char* text);
    // A new contiguous, NUL-terminated copy owned by the caller (free with delete[]);
    // `size` receives length + 1 when given.
    char* flatten(size_t* size = nullptr) const;
    // Frees every block; the accumulator is empty again.
    void release();

private:
    struct Block {
        Block* link;
        int used;
        char data[blockSize];
    };
    Block* newest = nullptr;
};

#include "util/text_accumulator.h"

#include <cstring>

#include "util/copy_bounded.h"

TextAccumulator::~TextAccumulator()
{
    release();
}

namespace {

// Where the next text starts: over the terminating NUL of a used block, or at its start.
int writeOffset(int used)
{
    return used > 0 ? used - 1 : 0;
}

} // namespace

void TextAccumulator::append(const char* text)
{
    size_t length = std::strlen(text);
    if (length > static_cast<size_t>(blockSize - 1))
        return; // fits in no block
    int needed = static_cast<int>(length) + 1;
    if (newest == nullptr || writeOffset(newest->used) + needed > blockSize) {
        Block* block = new Block(); // zero-filled
        block->link = newest;
        newest = block;
    }
    int offset = writeOffset(newest->used);
    copyBounded(newest->data + offset, static_cast<size_t>(blockSize - offset), text);
    newest->used = offset + needed;
}

char* TextAccumulator::flatten(size_t* size) const
{
    size_t length = 0;
    for (const Block* block = newest; block != nullptr; block = block->link)
        length += static_cast<size_t>(block->used - 1);
    char* result = new char[length + 1];
    result[length] = '\0';
    // The chain runs newest first, so the text is laid down from its end backwards.
    size_t end = length;
    for (const Block* block = newest; block != nullptr; block = block->link) {
        size_t blockLength = static_cast<size_t>(block->used - 1);
        end -= blockLength;
        std::memcpy(result + end, block->data, blockLength);
    }
    if (size != nullptr)
        *size = length + 1;
    return result;
}

void TextAccumulator::release()
{
    while (newest != nullptr) {
        Block* older = newest->link;
        delete newest;
        newest = older;
    }
}

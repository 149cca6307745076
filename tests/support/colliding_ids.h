#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Ids a server can craft against a hash that multiplies each 8-byte word in and folds the
// high half onto the low (h = (h ^ word) * odd; h ^= h >> 32): flipping bit 63 of one word
// flips only bits 63 and 31 of h, so flipping bits 63 and 31 of the next word as well cancels
// it, whatever the seed. Each of `pairs` word pairs flipped or not gives 2^pairs ids of one hash.
// Ids may hold bytes from 0x80, so a server can send these.
inline std::vector<std::string> foldCollidingIds(int pairs)
{
    const size_t pairBytes = 16;
    auto flipTopBit = [](std::string& id, size_t at) { id[at] = static_cast<char>(id[at] ^ 0x80); };
    std::vector<std::string> ids;
    for (uint32_t flips = 0; flips < (1u << pairs); ++flips) {
        std::string id(static_cast<size_t>(pairs) * pairBytes, 'a');
        for (int pair = 0; pair < pairs; ++pair) {
            if ((flips >> pair & 1) == 0)
                continue;
            size_t first = static_cast<size_t>(pair) * pairBytes; // little-endian words
            flipTopBit(id, first + 7);                            // bit 63 of the first word
            flipTopBit(id, first + 8 + 7);                        // bit 63 of the second
            flipTopBit(id, first + 8 + 3);                        // bit 31 of the second
        }
        ids.push_back(id);
    }
    return ids;
}

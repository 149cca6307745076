#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// SipHash (Aumasson and Bernstein): a keyed hash of a byte string. Without the key, nobody can
// choose inputs that collide more often than chance would have them, which a hash table
// filled with a server's data needs. The unique-id index uses SipHash-1-3 (one compression
// round per 8 bytes, three to finish), the variant made for hash tables; SipHash-2-4 is the
// one the authors' published test vectors cover first.
struct SipHashKey {
    uint64_t k0;
    uint64_t k1;
};

namespace siphash_detail {

inline uint64_t rotateLeft(uint64_t value, int bits)
{
    return value << bits | value >> (64 - bits);
}

// Eight bytes as a little-endian number, whatever the machine's byte order.
inline uint64_t littleEndianWord(const unsigned char* bytes)
{
    uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    word = __builtin_bswap64(word);
#endif
    return word;
}

struct State {
    uint64_t v0, v1, v2, v3;

    void round()
    {
        v0 += v1;
        v1 = rotateLeft(v1, 13);
        v1 ^= v0;
        v0 = rotateLeft(v0, 32);
        v2 += v3;
        v3 = rotateLeft(v3, 16);
        v3 ^= v2;
        v0 += v3;
        v3 = rotateLeft(v3, 21);
        v3 ^= v0;
        v2 += v1;
        v1 = rotateLeft(v1, 17);
        v1 ^= v2;
        v2 = rotateLeft(v2, 32);
    }

    template <int rounds> void absorb(uint64_t word)
    {
        v3 ^= word;
        for (int i = 0; i < rounds; ++i)
            round();
        v0 ^= word;
    }
};

} // namespace siphash_detail

template <int compressionRounds, int finalizationRounds>
uint64_t sipHash(const SipHashKey& key, const void* data, size_t length)
{
    using namespace siphash_detail;
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    // The initial state: the key under the ASCII of "somepseudorandomlygeneratedbytes".
    State state{key.k0 ^ 0x736f6d6570736575ull, key.k1 ^ 0x646f72616e646f6dull, key.k0 ^ 0x6c7967656e657261ull,
                key.k1 ^ 0x7465646279746573ull};
    size_t whole = length - length % 8;
    for (size_t at = 0; at < whole; at += 8)
        state.absorb<compressionRounds>(littleEndianWord(bytes + at));
    // The last word: the remaining bytes, and the length's low byte on top.
    uint64_t last = static_cast<uint64_t>(length) << 56;
    for (size_t i = 0; i < length % 8; ++i)
        last |= static_cast<uint64_t>(bytes[whole + i]) << (8 * i);
    state.absorb<compressionRounds>(last);
    state.v2 ^= 0xff;
    for (int i = 0; i < finalizationRounds; ++i)
        state.round();
    return state.v0 ^ state.v1 ^ state.v2 ^ state.v3;
}

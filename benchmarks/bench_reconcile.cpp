// The cost of reconciling a listing with the seen and notified lists: 10,000 and 100,000 ids,
// half of them seen. Prints both times and their ratio, which stays close to 10 while
// membership tests are answered from the index rather than by walking the lists (above 10
// where the larger lists no longer fit the processor's caches).
//
// Then the duplicate-id case: building `current` from a listing and reconciling it, for
// 100,000 distinct ids and for 100,000 copies of one id. The ratio stays close to 1 while
// a repeated id costs no more than a new one.
//
// Then ids a server crafts so that a weak hash gives them all one value: 65,536 of each of
// three published families, against as many distinct ids of the same length. The ratio stays
// at most 2 while the index's hash is one a server cannot steer.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "mail/mailbox/mailbox.h"
#include "tests/support/colliding_ids.h"

namespace {

const int repetitions = 5;

void fillMailbox(Mailbox& mailbox, int ids)
{
    char id[32];
    for (int i = 0; i < ids; ++i) {
        std::snprintf(id, sizeof id, "%08X%08X", i, 0x5F3A1C07);
        mailbox.current.insertFront(id);
        if (i % 2 == 0)
            mailbox.seen.insertFront(id);
    }
    // A few seen ids the server no longer lists, to be pruned.
    for (int i = 0; i < ids / 100; ++i) {
        std::snprintf(id, sizeof id, "gone%08X", i);
        mailbox.seen.insertFront(id);
    }
}

// The best of a few runs of the first reconcile after a listing, in seconds.
double timeReconcile(int ids)
{
    double best = 1e9;
    for (int run = 0; run < repetitions; ++run) {
        Mailbox mailbox;
        fillMailbox(mailbox, ids);
        auto start = std::chrono::steady_clock::now();
        mailbox.reconcile();
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        best = std::min(best, seconds);
        if (mailbox.totalCount != ids || mailbox.unseenCount != ids / 2) {
            std::printf("wrong counts: %d / %d\n", mailbox.unseenCount, mailbox.totalCount);
            return -1;
        }
    }
    return best;
}

void fillListing(Mailbox& mailbox, int ids, bool oneIdRepeated)
{
    char id[32];
    for (int i = 0; i < ids; ++i) {
        std::snprintf(id, sizeof id, "%08X%08X", oneIdRepeated ? 0 : i, 0x5F3A1C07);
        mailbox.current.insertFront(id);
    }
}

// The best of a few runs of filling `current` and reconciling it, in seconds.
double timeListingAndReconcile(int ids, bool oneIdRepeated)
{
    double best = 1e9;
    for (int run = 0; run < repetitions; ++run) {
        Mailbox mailbox;
        auto start = std::chrono::steady_clock::now();
        fillListing(mailbox, ids, oneIdRepeated);
        mailbox.reconcile();
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        best = std::min(best, seconds);
        if (mailbox.totalCount != ids || mailbox.unseenCount != ids)
            return -1;
    }
    return best;
}

// The best of a few runs of filling `current` with `ids` and reconciling it, in seconds.
double timeListingAndReconcile(const std::vector<std::string>& ids)
{
    double best = 1e9;
    for (int run = 0; run < repetitions; ++run) {
        Mailbox mailbox;
        auto start = std::chrono::steady_clock::now();
        for (const std::string& id : ids)
            mailbox.current.insertFront(id.c_str());
        mailbox.reconcile();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (mailbox.totalCount != static_cast<int>(ids.size()) || mailbox.unseenCount != mailbox.totalCount)
            return -1;
    }
    return best;
}

const int craftedPairs = 16; // 2^16 ids of each family

// The multiplicative inverse of an odd number modulo 2^64 (or 2^32), by Newton's iteration.
template <typename Word> Word inverseOf(Word odd)
{
    Word inverse = odd;
    for (int step = 0; step < 5; ++step)
        inverse *= static_cast<Word>(2 - odd * inverse);
    return inverse;
}

template <typename Word> bool holdsNul(Word word)
{
    for (size_t byte = 0; byte < sizeof word; ++byte)
        if ((word >> (8 * byte) & 0xFF) == 0)
            return true;
    return false;
}

// Ids of craftedPairs block pairs, each pair one of two choices (a bit of the id's number);
// `pairOf` fills in the two choices of one pair, and is asked again while a block holds a NUL.
template <typename Word, typename PairOf> std::vector<std::string> pairedIds(PairOf pairOf)
{
    std::mt19937_64 random(20121229);
    Word choices[craftedPairs][2][2];
    for (auto& pair : choices)
        do
            pairOf(random, pair);
        while (holdsNul(pair[0][0]) || holdsNul(pair[0][1]) || holdsNul(pair[1][0]) || holdsNul(pair[1][1]));
    std::vector<std::string> ids;
    for (uint32_t number = 0; number < (1u << craftedPairs); ++number) {
        std::string id;
        for (int pair = 0; pair < craftedPairs; ++pair)
            for (Word block : choices[pair][number >> pair & 1])
                id.append(reinterpret_cast<const char*>(&block), sizeof block); // little-endian, as read
        ids.push_back(id);
    }
    return ids;
}

// MurmurHash2, 64-bit (Aumasson, Bernstein and Bosslet, 2012): a block is mixed by an
// invertible function and then multiplied into the hash, so blocks whose mixed values differ
// in bit 63 only, one pair after the other, cancel whatever the seed.
std::vector<std::string> murmur2CollidingIds()
{
    const uint64_t m = 0xc6a4a7935bd1e995ull;
    auto unmix = [m](uint64_t mixed) {
        uint64_t k = mixed * inverseOf(m);
        k ^= k >> 47; // its own inverse, as 47 >= 32
        return k * inverseOf(m);
    };
    return pairedIds<uint64_t>([&](std::mt19937_64& random, uint64_t(&pair)[2][2]) {
        uint64_t first = random();
        uint64_t second = random();
        const uint64_t top = 1ull << 63;
        pair[0][0] = unmix(first);
        pair[0][1] = unmix(second);
        pair[1][0] = unmix(first ^ top);
        pair[1][1] = unmix(second ^ top);
    });
}

// MurmurHash3, 32-bit (the same authors): a difference in bit 18 of the first mixed block
// becomes bit 31 after the hash's rotation by 13 and survives "* 5 + constant"; the second
// block's bit 31 cancels it.
std::vector<std::string> murmur3CollidingIds()
{
    const uint32_t c1 = 0xcc9e2d51;
    const uint32_t c2 = 0x1b873593;
    auto unmix = [=](uint32_t mixed) {
        uint32_t k = mixed * inverseOf(c2);
        k = k >> 15 | k << 17;
        return k * inverseOf(c1);
    };
    return pairedIds<uint32_t>([&](std::mt19937_64& random, uint32_t(&pair)[2][2]) {
        uint32_t first = static_cast<uint32_t>(random());
        uint32_t second = static_cast<uint32_t>(random());
        pair[0][0] = unmix(first);
        pair[0][1] = unmix(second);
        pair[1][0] = unmix(first ^ 1u << 18);
        pair[1][1] = unmix(second ^ 1u << 31);
    });
}

// As many distinct ids as `like` holds, of the same length.
std::vector<std::string> distinctIdsLike(const std::vector<std::string>& like)
{
    std::vector<std::string> ids;
    char number[24];
    for (size_t i = 0; i < like.size(); ++i) {
        std::snprintf(number, sizeof number, "%08zX", i);
        std::string id(like[i].size(), 'a');
        id.replace(0, std::strlen(number), number);
        ids.push_back(id);
    }
    return ids;
}

bool reportCrafted(const char* family, const std::vector<std::string>& crafted)
{
    double craftedSeconds = timeListingAndReconcile(crafted);
    double distinctSeconds = timeListingAndReconcile(distinctIdsLike(crafted));
    if (craftedSeconds <= 0 || distinctSeconds <= 0)
        return false;
    std::printf("%s (%zu bytes): %.3f ms, distinct %.3f ms, ratio %.2f (goal: at most 2)\n", family, crafted[0].size(),
                craftedSeconds * 1000, distinctSeconds * 1000, craftedSeconds / distinctSeconds);
    return true;
}

} // namespace

int main()
{
    double distinct = timeListingAndReconcile(100000, false);
    double repeated = timeListingAndReconcile(100000, true);
    if (distinct <= 0 || repeated <= 0)
        return 1;
    std::printf("listing and reconcile, 100,000 distinct ids:     %.3f ms\n", distinct * 1000);
    std::printf("listing and reconcile, 100,000 copies of one id: %.3f ms\n", repeated * 1000);
    std::printf("ratio copies / distinct: %.2f (goal: close to 1)\n", repeated / distinct);

    double small = timeReconcile(10000);
    double large = timeReconcile(100000);
    if (small <= 0 || large <= 0)
        return 1;
    std::printf("reconcile, 10,000 ids (half seen):  %.3f ms\n", small * 1000);
    std::printf("reconcile, 100,000 ids (half seen): %.3f ms\n", large * 1000);
    std::printf("ratio 100,000 / 10,000: %.1f (linear: about 10)\n", large / small);

    std::printf("65,536 crafted ids listed and reconciled, against as many distinct ids:\n");
    bool reported = reportCrafted("multiply-fold pairs", foldCollidingIds(craftedPairs)) &&
                    reportCrafted("MurmurHash2 64-bit pairs", murmur2CollidingIds()) &&
                    reportCrafted("MurmurHash3 32-bit pairs", murmur3CollidingIds());
    return reported ? 0 : 1;
}

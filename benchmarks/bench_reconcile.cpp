// The cost of reconciling a listing with the seen and notified lists: 10,000 and 100,000 ids,
// half of them seen. Prints both times and their ratio, which stays close to 10 while
// membership tests are answered from the index rather than by walking the lists (above 10
// where the larger lists no longer fit the processor's caches).
//
// Then the duplicate-id case: building `current` from a listing and reconciling it, for
// 100,000 distinct ids and for 100,000 copies of one id. The ratio stays close to 1 while
// a repeated id costs no more than a new one.
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "mail/pop3_session.h"

namespace {

const int repetitions = 5;

void fillSession(Pop3Session& session, int ids)
{
    char id[32];
    for (int i = 0; i < ids; ++i) {
        std::snprintf(id, sizeof id, "%08X%08X", i, 0x5F3A1C07);
        session.current.insertFront(id);
        if (i % 2 == 0)
            session.seen.insertFront(id);
    }
    // A few seen ids the server no longer lists, to be pruned.
    for (int i = 0; i < ids / 100; ++i) {
        std::snprintf(id, sizeof id, "gone%08X", i);
        session.seen.insertFront(id);
    }
}

// The best of a few runs of the first reconcile after a listing, in seconds.
double timeReconcile(int ids)
{
    double best = 1e9;
    for (int run = 0; run < repetitions; ++run) {
        Pop3Session session;
        fillSession(session, ids);
        auto start = std::chrono::steady_clock::now();
        session.reconcile();
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        best = std::min(best, seconds);
        if (session.totalCount != ids || session.unseenCount != ids / 2) {
            std::printf("wrong counts: %d / %d\n", session.unseenCount, session.totalCount);
            return -1;
        }
    }
    return best;
}

void fillListing(Pop3Session& session, int ids, bool oneIdRepeated)
{
    char id[32];
    for (int i = 0; i < ids; ++i) {
        std::snprintf(id, sizeof id, "%08X%08X", oneIdRepeated ? 0 : i, 0x5F3A1C07);
        session.current.insertFront(id);
    }
}

// The best of a few runs of filling `current` and reconciling it, in seconds.
double timeListingAndReconcile(int ids, bool oneIdRepeated)
{
    double best = 1e9;
    for (int run = 0; run < repetitions; ++run) {
        Pop3Session session;
        auto start = std::chrono::steady_clock::now();
        fillListing(session, ids, oneIdRepeated);
        session.reconcile();
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        best = std::min(best, seconds);
        if (session.totalCount != ids || session.unseenCount != ids)
            return -1;
    }
    return best;
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
    return 0;
}

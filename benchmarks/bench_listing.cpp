// The cost of reading and parsing a UIDL listing, fed from memory in 1024-byte reads.
// Prints the time per listing of 10,000 and 100,000 ids and their ratio, which should be
// close to 10 when the reader and the parser are linear in the listing's size.
//
// Then, outside the benchmark library's timing: 1,000,000 copies of one id (goal: well under
// a second), and the memory a listing at the cap takes, for the two worst kinds of listing:
// the shortest lines of one id, and the shortest lines of distinct ids.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>

#include <cstdio>
#include <map>
#include <string>

#include <openssl/bio.h>

#include "mail/pop3/pop3_session.h"

namespace {

std::string listing(int lines)
{
    std::string text = "+OK " + std::to_string(lines) + " messages\r\n";
    char line[64];
    for (int i = 1; i <= lines; ++i) {
        std::snprintf(line, sizeof line, "%d %08X%08X\r\n", i, i, 0x5F3A1C07);
        text += line;
    }
    return text + ".\r\n";
}

// A connected pair of memory BIOs: the session reads the listing from one side, and its
// UIDL command lands in the other. Reads return at most what is asked, 1024 bytes.
BIO* streamHolding(const std::string& reply)
{
    BIO* client = nullptr;
    BIO* server = nullptr;
    size_t room = reply.size() + 64;
    if (BIO_new_bio_pair(&client, room, &server, room) != 1)
        return nullptr;
    BIO_write(server, reply.data(), static_cast<int>(reply.size()));
    // The server side is freed with the client side when the session releases its stream.
    BIO_push(client, server);
    return client;
}

std::map<int, double> secondsPerListing;

void listUids(benchmark::State& state)
{
    int lines = static_cast<int>(state.range(0));
    std::string reply = listing(lines);
    Pop3Session session;
    for (auto _ : state) {
        state.PauseTiming();
        session.adopt(streamHolding(reply));
        state.ResumeTiming();
        int listed = session.listUids();
        if (listed != lines)
            state.SkipWithError("listing incomplete");
        state.PauseTiming();
        session.close();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(reply.size()));
}

} // namespace

BENCHMARK(listUids)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->MinTime(1.0);

namespace {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.iterations > 0) {
                double seconds = run.real_accumulated_time / static_cast<double>(run.iterations);
                secondsPerListing[static_cast<int>(std::stol(run.run_name.args))] = seconds;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

// The largest resident set since the last resetPeak(), from the kernel's high-water mark.
long peakKilobytes()
{
    long peak = 0;
    if (FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, status) != nullptr)
            if (std::sscanf(line, "VmHWM: %ld kB", &peak) == 1)
                break;
        std::fclose(status);
    }
    return peak;
}

// Starts the high-water mark again from the present resident set, so that what building the
// listing's text took before is not counted as the listing's.
void resetPeak()
{
    if (FILE* refs = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", refs);
        std::fclose(refs);
    }
}

long residentKilobytes()
{
    long pages = 0;
    long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// "n id\r\n" lines up to `bytes`, then the terminator; ids of `idLength` characters, all the
// same or all different.
std::string listingOfSize(size_t bytes, int idLength, bool distinct)
{
    std::string text = "+OK\r\n";
    text.reserve(bytes + 64);
    std::string id(static_cast<size_t>(idLength), 'a');
    const char digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    for (long n = 0; text.size() + 4 + id.size() + 5 <= bytes; ++n) {
        if (distinct)
            for (long value = n, i = idLength - 1; i >= 0; --i, value /= 62)
                id[static_cast<size_t>(i)] = digits[value % 62];
        text += "1 " + id + "\r\n";
    }
    return text + ".\r\n";
}

void listOnce(const char* what, const std::string& reply)
{
    Pop3Session session;
    session.adopt(streamHolding(reply));
    long before = residentKilobytes();
    resetPeak();
    auto start = std::chrono::steady_clock::now();
    int listed = session.listUids();
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    // Measured from the memory in use before, with the listing's text already in memory.
    std::printf("%s: %d ids in %.0f ms; peak memory above the start: %.1f MB\n", what, listed, ms,
                (peakKilobytes() - before) / 1024.0);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (secondsPerListing.count(10000) && secondsPerListing.count(100000)) {
        double small = secondsPerListing[10000];
        double large = secondsPerListing[100000];
        std::printf("10,000 ids: %.3f ms; 100,000 ids: %.3f ms; ratio %.2f (linear: about 10)\n", small * 1000,
                    large * 1000, large / small);
    }
    listOnce("1,000,000 copies of one id", listingOfSize(20000010, 16, false));
    // The cap holds the listing's bytes; the memory grows with the number of lines in it.
    listOnce("at the cap, one 1-character id repeated", listingOfSize(Pop3Session::maxListingBytes, 1, false));
    listOnce("at the cap, distinct 4-character ids", listingOfSize(Pop3Session::maxListingBytes, 4, true));
    return 0;
}

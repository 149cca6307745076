// A stream for a Pop3Session that needs no socket: the session adopts bio(), its reads return
// the given pieces in order (never more than one piece per read, so the pieces decide where
// the stream splits), then end of stream; what it writes is recorded. Used by the tests and
// the fuzz targets. The stream must outlive the session's use of the BIO.
#pragma once

#include <string>
#include <vector>

typedef struct bio_st BIO;

namespace testbench {

class ScriptedStream {
public:
    explicit ScriptedStream(std::vector<std::string> pieces = {}) : pieces(std::move(pieces)) {}
    ScriptedStream(const ScriptedStream&) = delete;
    ScriptedStream& operator=(const ScriptedStream&) = delete;

    void add(const std::string& piece) { pieces.push_back(piece); }
    // A new BIO reading this stream; whoever adopts it frees it.
    BIO* bio();
    // Everything written to the stream, in order.
    const std::string& written() const { return writes; }

private:
    static int read(BIO* bio, char* buffer, int size);
    static int write(BIO* bio, const char* data, int length);

    std::vector<std::string> pieces;
    size_t next = 0;
    size_t offset = 0;
    std::string writes;
};

} // namespace testbench

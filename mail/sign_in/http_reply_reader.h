#pragma once

#include <cstddef>
#include <string>

#include "mail/sign_in/https_post.h"

// Reads an HTTP/1.1 reply from bytes as they arrive: the status line, the head, and a body
// delimited by Content-Length, by chunks, or by the end of the stream. Bounded by
// HttpsPoster::maxHeadBytes and maxBodyBytes.
class HttpReplyReader {
public:
    enum class State { NeedMore, Done, Failed };

    // Takes the next bytes. Done once the reply is whole; Failed for a reply that is not one
    // or is too large (error() tells which).
    State feed(const char* data, size_t length);
    // The stream ended: Done when the body runs to the end of the stream, Failed otherwise.
    State finish();
    HttpsError error() const { return failure; }
    const HttpsReply& reply() const { return result; }

private:
    enum class Stage { Head, Sized, ChunkSize, ChunkData, ChunkDataEnd, Trailer, ToEnd, Done, Failed };

    State fail(HttpsError why);
    State readHead();
    State startBody(const std::string& head);
    State readBody();
    bool takeLine(std::string& line);
    State appendBody(size_t length);

    Stage stage = Stage::Head;
    std::string pending; // bytes not yet consumed
    HttpsReply result;
    size_t remaining = 0; // of the sized body or the current chunk
    HttpsError failure = HttpsError::None;
};

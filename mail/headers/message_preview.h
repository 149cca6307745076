#pragma once

#include <cstddef>
#include <string>

// What the notification and the menu show of one message: who sent it and what about, as
// UTF-8 made safe to show on one line (header_text.h). Empty when the header had none.
struct MessagePreview {
    std::string sender;
    std::string subject;
    std::string date;
};

// Bounds of what is read of an untrusted header block and of what is shown of it.
struct MessagePreviewBounds {
    // Bytes of the header block read; the rest of a longer header is never looked at.
    static const size_t maxHeaderBytes = 16384;
    // Bytes of one field kept, unfolded: far more than any name or subject shown.
    static const size_t maxFieldBytes = 2048;
    static const size_t maxSenderCharacters = 64;
    static const size_t maxSubjectCharacters = 120;
    static const size_t maxDateCharacters = 40;
};

// Reads From, Subject and Date of a message's header block (the lines before the first empty
// line; CR LF or LF; folded lines unfolded), at most maxHeaderBytes of `size`. The sender is
// the first address's display name, or the address when it has none.
MessagePreview readMessagePreview(const char* header, size_t size);

// The display name of the first mailbox of a From field's value, decoded, or else its address.
std::string senderOfFromField(const std::string& value);

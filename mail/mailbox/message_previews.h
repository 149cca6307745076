#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "mail/headers/message_preview.h"

// A message the session described: its id as the listing names it, and what it is about.
struct DescribedMessage {
    std::string id;
    MessagePreview preview;
};

// The previews of unseen messages, newest first, each under its id: memory only, never
// written anywhere. At most maxKept; past that the oldest go.
class MessagePreviews {
public:
    static const size_t maxKept = 50;

    bool describes(const char* id) const;
    // `described`, newest first, are newer than every preview kept.
    void addNewest(const std::vector<DescribedMessage>& described);
    // Drops every preview whose id `keep` refuses.
    void keepOnly(const std::function<bool(const char* id)>& keep);
    void clear() { entries.clear(); }
    // Every preview, newest first.
    std::vector<MessagePreview> all() const;

private:
    struct Entry {
        std::string id;
        MessagePreview preview;
    };
    std::vector<Entry> entries;
};

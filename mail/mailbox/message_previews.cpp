#include "mail/mailbox/message_previews.h"

#include <algorithm>

bool MessagePreviews::describes(const char* id) const
{
    return std::any_of(entries.begin(), entries.end(), [id](const Entry& entry) { return entry.id == id; });
}

void MessagePreviews::addNewest(const std::vector<DescribedMessage>& described)
{
    std::vector<Entry> newest;
    for (const DescribedMessage& message : described)
        if (newest.size() < maxKept)
            newest.push_back(Entry{message.id, message.preview});
    for (Entry& entry : entries)
        if (newest.size() < maxKept)
            newest.push_back(std::move(entry));
    entries.swap(newest);
}

void MessagePreviews::keepOnly(const std::function<bool(const char* id)>& keep)
{
    entries.erase(
        std::remove_if(entries.begin(), entries.end(), [&keep](const Entry& entry) { return !keep(entry.id.c_str()); }),
        entries.end());
}

std::vector<MessagePreview> MessagePreviews::all() const
{
    std::vector<MessagePreview> previews;
    for (const Entry& entry : entries)
        previews.push_back(entry.preview);
    return previews;
}

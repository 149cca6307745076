#include "mail/headers/header_text.h"
#include "mail/headers/message_preview.h"

#include <cstring>

namespace {

enum class Field { Other, From, Subject, Date };

bool equalsIgnoringCase(const char* text, size_t length, const char* name)
{
    if (length != std::strlen(name))
        return false;
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != name[i])
            return false;
    }
    return true;
}

Field fieldNamed(const char* line, size_t length, size_t& valueStart)
{
    const char* colon = static_cast<const char*>(std::memchr(line, ':', length));
    if (colon == nullptr)
        return Field::Other;
    size_t nameLength = static_cast<size_t>(colon - line);
    valueStart = nameLength + 1;
    while (nameLength > 0 && (line[nameLength - 1] == ' ' || line[nameLength - 1] == '\t'))
        --nameLength;
    if (equalsIgnoringCase(line, nameLength, "from"))
        return Field::From;
    if (equalsIgnoringCase(line, nameLength, "subject"))
        return Field::Subject;
    return equalsIgnoringCase(line, nameLength, "date") ? Field::Date : Field::Other;
}

void appendBounded(std::string& value, const char* text, size_t length)
{
    size_t room = MessagePreviewBounds::maxFieldBytes - value.size();
    value.append(text, length < room ? length : room);
}

// The first mailbox of an address list: its phrase (quotes removed, escapes resolved), its
// address in angle brackets, and, for the old "address (Name)" form, the comment.
struct FirstMailbox {
    std::string phrase;
    std::string address;
    std::string comment;
    bool angled = false;
};

FirstMailbox firstMailboxOf(const std::string& value)
{
    FirstMailbox mailbox;
    bool quoted = false;
    int commentDepth = 0;
    bool inAngle = false;
    std::string bare; // outside quotes, angles and comments
    for (size_t at = 0; at < value.size(); ++at) {
        char c = value[at];
        if (c == '\\' && (quoted || commentDepth > 0) && at + 1 < value.size()) {
            (commentDepth > 0 ? mailbox.comment : mailbox.phrase) += value[++at];
        } else if (quoted) {
            if (c == '"')
                quoted = false;
            else
                mailbox.phrase += c;
        } else if (commentDepth > 0) {
            commentDepth += c == '(' ? 1 : c == ')' ? -1 : 0;
            if (commentDepth > 0)
                mailbox.comment += c;
        } else if (c == '(') {
            commentDepth = 1;
            mailbox.comment.clear();
        } else if (inAngle) {
            if (c == '>')
                break;
            mailbox.address += c;
        } else if (c == '<') {
            inAngle = mailbox.angled = true;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            break;
        } else {
            bare += c;
        }
    }
    if (mailbox.angled)
        mailbox.phrase += bare;
    else
        mailbox.address = bare;
    return mailbox;
}

} // namespace

std::string senderOfFromField(const std::string& value)
{
    const size_t bound = MessagePreviewBounds::maxSenderCharacters;
    FirstMailbox mailbox = firstMailboxOf(value);
    std::string name = sanitizedForDisplay(decodeHeaderText(mailbox.phrase), bound);
    if (name.empty() && !mailbox.angled)
        name = sanitizedForDisplay(decodeHeaderText(mailbox.comment), bound);
    return name.empty() ? sanitizedForDisplay(decodeHeaderText(mailbox.address), bound) : name;
}

MessagePreview readMessagePreview(const char* header, size_t size)
{
    if (size > MessagePreviewBounds::maxHeaderBytes)
        size = MessagePreviewBounds::maxHeaderBytes;
    std::string values[4];
    bool seen[4] = {};
    Field current = Field::Other;
    size_t at = 0;
    while (at < size) {
        const char* line = header + at;
        const char* lineFeed = static_cast<const char*>(std::memchr(line, '\n', size - at));
        size_t length = lineFeed != nullptr ? static_cast<size_t>(lineFeed - line) : size - at;
        at += length + 1;
        if (length > 0 && line[length - 1] == '\r')
            --length;
        if (length == 0)
            break; // the end of the header
        if (line[0] == ' ' || line[0] == '\t') {
            if (current != Field::Other)
                appendBounded(values[static_cast<int>(current)], line, length);
            continue;
        }
        size_t valueStart = 0;
        current = fieldNamed(line, length, valueStart);
        // The first of each field counts: a second From or Subject is a forgery's trick.
        if (current != Field::Other && seen[static_cast<int>(current)])
            current = Field::Other;
        if (current != Field::Other) {
            seen[static_cast<int>(current)] = true;
            appendBounded(values[static_cast<int>(current)], line + valueStart, length - valueStart);
        }
    }
    MessagePreview preview;
    preview.sender = senderOfFromField(values[static_cast<int>(Field::From)]);
    preview.subject = sanitizedForDisplay(decodeHeaderText(values[static_cast<int>(Field::Subject)]),
                                          MessagePreviewBounds::maxSubjectCharacters);
    preview.date = sanitizedForDisplay(decodeHeaderText(values[static_cast<int>(Field::Date)]),
                                       MessagePreviewBounds::maxDateCharacters);
    return preview;
}

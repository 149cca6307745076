#include "mail/headers/new_mail_text.h"

#include <cstdio>
#include <cstring>

#include "mail/headers/charset.h"
#include "mail/headers/header_text.h"

namespace {

size_t utf16Units(const std::string& text)
{
    size_t units = 0;
    size_t at = 0;
    while (at < text.size())
        units += nextCodePoint(text.data(), text.size(), at) >= 0x10000 ? 2 : 1;
    return units;
}

// Room kept for the last line, "and N more".
const size_t moreLineUnits = 20;

const char* const monthNames[] = {"jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};

// The month of a three-letter name in any case; 0 for none.
int monthOf(const char* name)
{
    char lower[4] = "";
    for (size_t at = 0; at < 3 && name[at]; ++at)
        lower[at] = name[at] >= 'A' && name[at] <= 'Z' ? static_cast<char>(name[at] - 'A' + 'a') : name[at];
    for (int month = 0; month < 12; ++month)
        if (std::strcmp(lower, monthNames[month]) == 0)
            return month + 1;
    return 0;
}

// Days from 1970-01-01 to the date of the proleptic Gregorian calendar.
long long daysSince1970(long long year, unsigned month, unsigned day)
{
    year -= month <= 2 ? 1 : 0;
    long long era = (year >= 0 ? year : year - 399) / 400;
    unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// "+0200" or "-0500" in minutes east of UTC; a zone named otherwise (GMT, UT, EST) counts as
// UTC: a few hours matter little for which of two messages came first.
int zoneMinutes(const char* text)
{
    char sign = 0;
    int zone = 0;
    if (std::sscanf(text, " %c%4d", &sign, &zone) != 2 || (sign != '+' && sign != '-') || zone < 0)
        return 0;
    int minutes = zone / 100 * 60 + zone % 100;
    return sign == '-' ? -minutes : minutes;
}

} // namespace

long long messageDateSeconds(const std::string& date)
{
    size_t comma = date.find(',');
    const char* text = date.c_str() + (comma == std::string::npos ? 0 : comma + 1);
    // Widths bound every number read: the field is untrusted.
    int day = 0, year = 0, hour = 0, minute = 0, second = 0, used = 0;
    char month[4] = "";
    if (std::sscanf(text, "%2d %3s %4d %2d:%2d%n", &day, month, &year, &hour, &minute, &used) != 5)
        return 0;
    text += used;
    int secondsUsed = 0;
    if (std::sscanf(text, ":%2d%n", &second, &secondsUsed) == 1)
        text += secondsUsed;
    int monthNumber = monthOf(month);
    if (monthNumber == 0 || day < 1 || day > 31 || year < 0 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 60)
        return 0;
    // Two-digit years as RFC 5322 reads them.
    if (year < 50)
        year += 2000;
    else if (year < 1000)
        year += 1900;
    long long days = daysSince1970(year, static_cast<unsigned>(monthNumber), static_cast<unsigned>(day));
    return days * 86400 + hour * 3600 + minute * 60 + second - zoneMinutes(text) * 60LL;
}

std::string previewLine(const MessagePreview& preview, size_t maxCharacters)
{
    std::string line = preview.sender;
    if (!line.empty() && !preview.subject.empty())
        line += ": ";
    line += preview.subject;
    return sanitizedForDisplay(line.empty() ? "(no sender)" : line, maxCharacters);
}

std::string accountPreviewLine(const std::string& account, const MessagePreview& preview, size_t maxCharacters)
{
    return sanitizedForDisplay(account + " - " + previewLine(preview, maxCharacters), maxCharacters);
}

std::string newMailText(const std::vector<MessagePreview>& previews, int unseenCount)
{
    std::vector<std::string> lines;
    for (const MessagePreview& preview : previews) {
        if (lines.size() == NewMailText::maxListed)
            break;
        lines.push_back(previewLine(preview, NewMailText::maxLineCharacters));
    }
    return newMailText(lines, unseenCount);
}

std::string accountsNewMailText(const std::string& accountsLine, const std::vector<AccountPreviews>& accounts,
                                int unseenCount)
{
    std::vector<std::string> lines;
    for (const MergedPreview& each : newestAcrossAccounts(accounts, NewMailText::maxListed))
        lines.push_back(accountPreviewLine(accounts[each.account].name, each.preview, NewMailText::maxLineCharacters));
    size_t used = utf16Units(accountsLine) + 1;
    if (used >= NewMailText::maxUtf16Units)
        return accountsLine;
    std::string listed = newMailText(lines, unseenCount, NewMailText::maxUtf16Units - used);
    return listed.empty() ? accountsLine : accountsLine + "\n" + listed;
}

std::string newMailText(const std::vector<std::string>& lines, int unseenCount, size_t maxUtf16Units)
{
    std::string text;
    size_t listed = 0;
    const size_t room = maxUtf16Units > moreLineUnits ? maxUtf16Units - moreLineUnits : 0;
    for (const std::string& each : lines) {
        if (listed == NewMailText::maxListed)
            break;
        std::string line = (listed > 0 ? "\n" : "") + each;
        if (utf16Units(text) + utf16Units(line) > room)
            break;
        text += line;
        ++listed;
    }
    int more = unseenCount - static_cast<int>(listed);
    if (listed > 0 && more > 0)
        text += "\nand " + std::to_string(more) + " more";
    return text;
}

std::vector<MergedPreview> newestAcrossAccounts(const std::vector<AccountPreviews>& accounts, size_t limit)
{
    std::vector<size_t> next(accounts.size(), 0);
    std::vector<MergedPreview> merged;
    while (merged.size() < limit) {
        size_t chosen = accounts.size();
        long long newest = 0;
        for (size_t at = 0; at < accounts.size(); ++at) {
            if (next[at] >= accounts[at].previews.size())
                continue;
            long long sent = messageDateSeconds(accounts[at].previews[next[at]].date);
            if (chosen == accounts.size() || sent > newest) {
                chosen = at;
                newest = sent;
            }
        }
        if (chosen == accounts.size())
            break;
        merged.push_back(MergedPreview{chosen, accounts[chosen].previews[next[chosen]++]});
    }
    return merged;
}

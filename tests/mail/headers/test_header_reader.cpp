#include <gtest/gtest.h>

#include <string>

#include "mail/headers/message_preview.h"
#include "mail/headers/new_mail_text.h"

namespace {

struct HeaderCase {
    const char* name;
    std::string header;
    std::string sender;
    std::string subject;
};

std::string repeated(const std::string& piece, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += piece;
    return text;
}

const std::string ellipsis = "\xE2\x80\xA6";
const std::string replacement = "\xEF\xBF\xBD";

// Header lines in, what the notification shows out.
const HeaderCase headerCases[] = {
    {"NameAndAddress", "From: Ann Example <ann@example.org>\r\nSubject: Lunch?\r\n\r\n", "Ann Example", "Lunch?"},
    {"AddressAlone", "From: bob@example.org\r\n", "bob@example.org", ""},
    {"AngleAddressAlone", "From: <carol@example.org>\r\n", "carol@example.org", ""},
    {"EmptyQuotedNameGivesAddress", "From: \"\" <e@example.org>\r\n", "e@example.org", ""},
    {"QuotedNameWithEscapes", "From: \"Doe, \\\"JD\\\" John\" <jd@example.org>\r\n", "Doe, \"JD\" John", ""},
    {"CommentNameOfTheOldForm", "From: dan@example.org (Dan Smith)\r\n", "Dan Smith", ""},
    {"FirstOfSeveralAddresses", "From: a@example.org, Bee <b@example.org>\r\n", "a@example.org", ""},
    {"FoldedLinesUnfolded", "Subject: a long\r\n  folded\r\n\tline\r\nX-Other: y\r\n", "", "a long folded line"},
    {"FieldNamesInAnyCaseAndBareLineFeeds", "FROM: x@example.org\nsubject : hi\n", "x@example.org", "hi"},
    {"EmptyLineEndsTheHeader", "From: a@example.org\r\n\r\nSubject: in the body\r\n", "a@example.org", ""},
    {"SecondFromIgnored", "From: a@example.org\r\nFrom: Bank <evil@example.net>\r\n", "a@example.org", ""},
    {"Base64Utf8", "Subject: =?UTF-8?B?w4lsw6huZQ==?=\r\n", "", "\xC3\x89l\xC3\xA8ne"},
    {"Base64WithoutPadding", "Subject: =?utf-8?b?w4lsw6huZQ?=\r\n", "", "\xC3\x89l\xC3\xA8ne"},
    {"EncodedNameInFrom", "From: =?utf-8?b?SsO8cmdlbg==?= <j@example.org>\r\n", "J\xC3\xBCrgen", ""},
    {"QuotedPrintableLatin1", "Subject: =?ISO-8859-1?Q?Caf=E9_cr=E8me?=\r\n", "", "Caf\xC3\xA9 cr\xC3\xA8me"},
    {"SpaceBetweenWordAndTextKept", "Subject: Re: =?utf-8?q?Gr=C3=BC=C3=9Fe?= from Bern\r\n", "",
     "Re: Gr\xC3\xBC\xC3\x9F"
     "e from Bern"},
    {"CharacterSplitBetweenAdjacentWords", "Subject: =?utf-8?Q?=C3?=\r\n =?utf-8?Q?=89t=C3=A9?=\r\n", "",
     "\xC3\x89t\xC3\xA9"},
    {"Windows1252", "Subject: =?windows-1252?Q?=93Quoted=94_=80?=\r\n", "",
     "\xE2\x80\x9CQuoted\xE2\x80\x9D \xE2\x82\xAC"},
    {"Iso8859Part2", "Subject: =?iso-8859-2?q?=A3=F3d=BC?=\r\n", "",
     "\xC5\x81\xC3\xB3"
     "d\xC5\xBA"},
    {"ShiftJis", "Subject: =?Shift_JIS?B?k/qWe4zq?=\r\n", "", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},
    {"UsAsciiHighByteReplaced", "Subject: =?us-ascii?q?a=E9?=\r\n", "", "a" + replacement},
    {"UnknownCharsetLeftAsWritten", "Subject: =?x-unknown?Q?abc?=\r\n", "", "=?x-unknown?Q?abc?="},
    {"BrokenBase64LeftAsWritten", "Subject: =?utf-8?B?!!?=\r\n", "", "=?utf-8?B?!!?="},
    {"RawUtf8Header", "From: \xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD <i@example.org>\r\nSubject: \xD0\x9F\xD1\x80\xD0\xB8\r\n",
     "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD", "\xD0\x9F\xD1\x80\xD0\xB8"},
    {"InvalidUtf8Replaced",
     "Subject: a\xFF\xC3"
     "b \xC0\xAF\r\n",
     "", "a" + replacement + replacement + "b " + replacement + replacement},
    {"BidiOverrideAndIsolateRemoved", "Subject: =?utf-8?q?abc=E2=80=AEgpj.exe?= \xE2\x81\xA7x\xE2\x80\x8F\r\n", "",
     "abcgpj.exe x"},
    {"ControlCharactersRemovedWhiteSpaceCollapsed", "Subject: =?utf-8?q?_a=07b=00c=0D=0A=09__d=C2=A0?=\r\n", "",
     "abc d"},
    {"SubjectCutOnACodePoint", "Subject: " + repeated("\xC3\xA9", 130) + "\r\n", "",
     repeated("\xC3\xA9", 119) + ellipsis},
    {"SenderCut", "From: " + repeated("n", 70) + " <n@example.org>\r\n", repeated("n", 63) + ellipsis, ""},
    {"HeaderPastItsBoundNotRead", "X-Filler: " + repeated("x", 17000) + "\r\nSubject: late\r\n", "", ""},
};

class HeaderDecoding : public testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderDecoding, ShowsWhatAPersonReads)
{
    const HeaderCase& row = GetParam();
    MessagePreview preview = readMessagePreview(row.header.data(), row.header.size());
    EXPECT_EQ(preview.sender, row.sender);
    EXPECT_EQ(preview.subject, row.subject);
}

INSTANTIATE_TEST_SUITE_P(Rows, HeaderDecoding, testing::ValuesIn(headerCases),
                         [](const testing::TestParamInfo<HeaderCase>& info) { return std::string(info.param.name); });

// What the notification says, from the previews newest first and the unseen count; with a
// second account's (`home`), after the accounts line ("N new"), newest first by date.
struct NotificationCase {
    const char* name;
    std::vector<MessagePreview> previews;
    int unseenCount;
    std::string text;
    std::vector<MessagePreview> home;
};

const MessagePreview ann = {"Ann", "Lunch?", ""};
const MessagePreview bob = {"Bob", "", ""};
const MessagePreview nobody = {"", "", ""};
const MessagePreview cee = {"", "Report", ""};
const MessagePreview wide = {repeated("\xF0\x9F\x93\xA7", 50), repeated("s", 60), ""};
// 08:52, 08:00 and 09:30 in UTC.
const MessagePreview annAtTen = {"Ann", "Lunch?", "Tue, 1 Jul 2003 10:52:37 +0200 (CEST)"};
const MessagePreview bobAtEight = {"Bob", "", "1 jul 03 08:00 GMT"};
const MessagePreview ceeAtHalfNine = {"", "Report", "Tue, 01 Jul 2003 04:30:00 -0500"};

const NotificationCase notificationCases[] = {
    {"NothingDescribedSaysNothing", {}, 4, "", {}},
    {"OneSenderAndSubject", {ann}, 1, "Ann: Lunch?", {}},
    {"EitherAloneOrNeither", {bob, cee, nobody}, 3, "Bob\nReport\n(no sender)", {}},
    {"ThreeNewestThenHowManyMore", {ann, bob, cee, nobody}, 6, "Ann: Lunch?\nBob\nReport\nand 3 more", {}},
    {"UndescribedCountedInTheRest", {ann}, 2, "Ann: Lunch?\nand 1 more", {}},
    {"AccountsNewestFirstByDateAndZone",
     {annAtTen, bobAtEight, nobody},
     5,
     "5 new\nHome - Report\nWork - Ann: Lunch?\nWork - Bob\nand 2 more",
     {ceeAtHalfNine}},
    {"AccountsUndatedAfterDated", {nobody}, 2, "2 new\nHome - Report\nWork - (no sender)", {ceeAtHalfNine}},
    // 122 UTF-16 units a line: a second one would not leave room for the last line.
    {"LinesCutToFitTheShell",
     {wide, wide, wide},
     3,
     repeated("\xF0\x9F\x93\xA7", 50) + ": " + repeated("s", 19) + ellipsis + "\nand 2 more",
     {}},
    {"AccountsLinesFitAfterTheAccountsLine",
     {wide, wide},
     3,
     "3 new\nWork - " + repeated("\xF0\x9F\x93\xA7", 50) + ": " + repeated("s", 12) + ellipsis + "\nand 2 more",
     {wide}},
};

class NotificationText : public testing::TestWithParam<NotificationCase> {};

TEST_P(NotificationText, NamesTheNewestArrivals)
{
    const NotificationCase& row = GetParam();
    std::string text = row.home.empty()
                           ? newMailText(row.previews, row.unseenCount)
                           : accountsNewMailText(std::to_string(row.unseenCount) + " new",
                                                 {{"Work", row.previews}, {"Home", row.home}}, row.unseenCount);
    EXPECT_EQ(text, row.text);
}

INSTANTIATE_TEST_SUITE_P(Rows, NotificationText, testing::ValuesIn(notificationCases),
                         [](const testing::TestParamInfo<NotificationCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace

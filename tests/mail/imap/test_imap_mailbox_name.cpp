#include <gtest/gtest.h>

#include <string>

#include "mail/imap/imap_mailbox_name.h"

namespace {

struct NameRow {
    std::string typed;
    std::string sent; // empty: refused
};

TEST(ImapMailboxNames, Utf8FolderNamesGoAsModifiedUtf7)
{
    const NameRow rows[] = {
        {"Entw\xc3\xbcrfe", "Entw&APw-rfe"},
        {"Tom & Jerry", "Tom &- Jerry"},
        {"~peter/mail/\xe5\x8f\xb0\xe5\x8c\x97/\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e",
         "~peter/mail/&U,BTFw-/&ZeVnLIqe-"},
        {"\xf0\x9f\x98\x80", "&2D3eAA-"},
        {"\xc0\xaf", ""},     // an overlong "/"
        {"\xed\xa0\x80", ""}, // a surrogate
        {"\xe6\x97", ""},     // a cut sequence
        {"a\tb", ""},         // a control character
    };
    for (const NameRow& row : rows)
        EXPECT_EQ(imapMailboxName(row.typed), row.sent) << row.typed;
}

} // namespace

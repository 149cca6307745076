#pragma once

#include <string>

// A folder name as the user typed it (UTF-8) in the form IMAP4rev1 names mailboxes on the
// wire (RFC 3501 section 5.1.3, "modified UTF-7"): printable ASCII as itself, "&" as "&-",
// every other run of characters as "&", the modified base64 of its UTF-16, and "-". Empty
// for text that is not UTF-8 (an overlong form, a surrogate, past U+10FFFF, a cut sequence),
// or that holds a control character.
std::string imapMailboxName(const std::string& utf8);

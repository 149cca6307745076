#pragma once

#include "util/text_record.h"

// The password as the settings file holds it: encrypted for the user's Windows account on
// this machine (the data-protection API), in base64, behind a prefix that starts with a
// control character, which nobody types into a password box. Older files hold it in clear.
inline constexpr char protectedPasswordPrefix[] = "\x01"
                                                  "DPAPI:";

enum class StoredPassword {
    Plain,      // an older file's clear text, used as it is
    Protected,  // decrypted
    Unreadable, // protected for another account or machine, or damaged: no password
};

// The file form of `plain`; false (and the empty text) when the platform refused.
bool protectPassword(const char* plain, TextRecord& stored);
// The same bound to another machine's identity: what a copied file would hold. For tests.
bool protectPasswordFor(const char* machineId, const char* plain, TextRecord& stored);
// The password in `stored`, in either form; Unreadable gives the empty text.
StoredPassword revealPassword(const char* stored, TextRecord& plain);

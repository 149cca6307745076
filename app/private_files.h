#pragma once

#include <windows.h>

// Whether a file or folder can be changed only by this user and by the accounts that can
// change anything on this machine anyway (the system, the administrators, the installer
// service): it is owned by one of them, and its access list lets nobody else write to it,
// create or delete in it, or change its rights. Entries that deny rights are not weighed: an
// object that grants such rights to another account at all counts as open to it.

// The object at `path` (UTF-16), for the user this program runs as. A volume that keeps no
// rights at all (FAT, exFAT: most USB sticks) counts as the user's, since whoever can write to
// it can replace the program itself. False when the rights cannot be read.
bool onlyUserMayChange(const wchar_t* path);

// The judgement on one security descriptor holding the owner and the access list.
bool onlyUserMayChange(PSECURITY_DESCRIPTOR descriptor, PSID user);

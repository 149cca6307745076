#pragma once

#include "account/configuration_values.h"

// The modal dialogs the application runs, handed to it by the entry point. A null entry
// means there is no such dialog: Configure then does nothing, and a first start without an
// account goes on unconfigured.
struct AppDialogs {
    // Runs the configuration dialog on `values` without an owner window. True after OK, with
    // the values read back and the password's stored form made with `protect` (kept as it
    // was, with a word to the user, when that fails). False after Cancel, when the dialog
    // cannot be created, or when one is already open (it is brought forward instead).
    bool (*configure)(ConfigurationValues& values, PasswordProtection protect) = nullptr;
    // Runs the configuration dialog on every account, opening at `selected` (and leaving it on
    // the one selected at OK), as `configure` does for one; null: `configure` on the first.
    bool (*configureAccounts)(AccountValuesList& accounts, size_t& selected, PasswordProtection protect) = nullptr;
    // Runs the About dialog without an owner window, or brings an open one forward.
    void (*about)() = nullptr;
};

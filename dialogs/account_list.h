#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>
#include <vector>

#include "account/configuration_values.h"
#include "dialogs/config_dialog.h"
#include "ui/controls.h"

// The most accounts the list takes: each is a connection of its own, and a longer list is no
// longer one to take in at a glance.
const size_t mostAccounts = 32;
const int accountNameMaxLength = 64;

// Makes `to` hold every value `from` holds.
void copyAccountValues(const ConfigurationValues& from, ConfigurationValues& to);
// An account the user adds: today's defaults, with what happens on new mail and the mail
// program taken from `shared` (the first account) when there is one.
std::unique_ptr<ConfigurationValues> newAccountValues(const ConfigurationValues* shared);
// What the list shows for an account: its name, else its address, else "New account".
const char* accountLabel(const char* name, const char* address);

// The account the pane shows, made before the pane that edits it.
struct ShownAccount {
    ConfigurationValues shown;
};

// The configuration dialog over several accounts: beside the pane, the list of accounts with
// Add, Remove, Move up and Move down, and the selected account's name. The pane edits a copy of
// the selected account; choosing another one first checks and keeps what the pane holds, as OK
// does, so a refused value stays in front of the user. Nothing reaches the caller before OK.
class AccountsDialog : private ShownAccount, public ConfigDialog {
public:
    // Copies `accounts` (a new one when there is none) and shows `selected`; at most `most`
    // accounts, and with one no Add.
    AccountsDialog(const AccountValuesList& accounts, size_t selected, PasswordProtection protect,
                   size_t most = mostAccounts);

    INT_PTR onInitDialog(HWND dialog) override;
    INT_PTR onCommand(HWND control, int code) override;
    void onClick(HWND control) override;
    void onEditChange(HWND control) override;
    // Checks every account (the shown one first); a refused one is shown with the control at
    // fault focused and the dialog stays open.
    bool onOk() override;

    // After OK: the accounts in the user's order, and the one selected then.
    AccountValuesList takeAccounts();
    size_t selectedAccount() const { return chosenAtOk; }

    ListBoxControl list;
    ButtonControl add;
    ButtonControl remove;
    ButtonControl moveUp;
    ButtonControl moveDown;
    EditControl name;

private:
    struct Entry {
        std::unique_ptr<ConfigurationValues> values;
        bool checked = false; // passed the pane's checks in this run
    };

    void attachList();
    bool leaveShown();
    void show(size_t index);
    void chooseFromList();
    void addAccount();
    void removeAccount();
    void move(int step);
    void setLabel(size_t index, const char* label);
    void showLabelOfShown();
    void applyListRule();

    std::vector<Entry> entries;
    size_t current = 0;
    size_t most;
    size_t chosenAtOk = 0;
    bool loading = false; // the controls are being filled, not typed in
};

// Runs the configuration dialog on every account, opening at `selected`. True after OK, with
// `accounts` replaced by the list as the user left it (each existing account keeping its
// accountId, new ones with none) and `selected` the account selected then. False after Cancel,
// changing nothing, or when a configuration dialog is open already (it is brought forward).
bool runAccountsDialog(AccountValuesList& accounts, size_t& selected, PasswordProtection protect);

#include "dialogs/account_list.h"

#include <string>
#include <utility>

#include "dialogs/about_dialog.h"
#include "dialogs/message_box.h"

namespace {
const char listCaption[] = "Pellwick";
const char newAccountLabel[] = "New account";

const char listTip[] = "Your accounts, in the order pellwick shows them; the selected one is edited beside";
const char addTip[] = "Add an account, set up with what happens on new mail as for the first one";
const char removeTip[] = "Remove the selected account";
const char moveUpTip[] = "Show the selected account before the one above it";
const char moveDownTip[] = "Show the selected account after the one below it";
const char nameTip[] = "What pellwick calls this account; leave it blank to show the address";

void copyText(const TextRecord& from, TextRecord& to)
{
    if (from.text)
        to.assign(from.text);
    else
        to.clear();
}

const char* labelOf(const ConfigurationValues& values)
{
    return accountLabel(textOrEmpty(values.accountName), textOrEmpty(values.username));
}
} // namespace

void copyAccountValues(const ConfigurationValues& from, ConfigurationValues& to)
{
    copyText(from.accountName, to.accountName);
    to.accountId = from.accountId;
    copyText(from.server, to.server);
    copyText(from.username, to.username);
    copyText(from.password, to.password);
    copyText(from.storedPassword, to.storedPassword);
    to.security = from.security;
    to.port = from.port;
    to.protocol = from.protocol;
    copyText(from.folder, to.folder);
    to.markOnServer = from.markOnServer;
    to.checkMinutes = from.checkMinutes;
    copyText(from.certSha256, to.certSha256);
    to.signIn = from.signIn;
    copyText(from.microsoftClientId, to.microsoftClientId);
    copyText(from.googleClientId, to.googleClientId);
    copyText(from.googleClientSecret, to.googleClientSecret);
    copyText(from.microsoftAuthority, to.microsoftAuthority);
    to.refreshTokenStored = from.refreshTokenStored;
    to.newSignIn = from.newSignIn;
    to.focusSignIn = from.focusSignIn;
    to.playSound = from.playSound;
    copyText(from.customSound, to.customSound);
    to.repeatMinutes = from.repeatMinutes;
    to.changeColour = from.changeColour;
    to.newMailColour = from.newMailColour;
    to.balloon = from.balloon;
    copyText(from.doubleClick, to.doubleClick);
    to.showSenders = from.showSenders;
}

std::unique_ptr<ConfigurationValues> newAccountValues(const ConfigurationValues* shared)
{
    auto values = std::make_unique<ConfigurationValues>();
    values->showSenders = true;
    if (shared == nullptr)
        return values;
    values->playSound = shared->playSound;
    copyText(shared->customSound, values->customSound);
    values->repeatMinutes = shared->repeatMinutes;
    values->changeColour = shared->changeColour;
    values->newMailColour = shared->newMailColour;
    values->balloon = shared->balloon;
    copyText(shared->doubleClick, values->doubleClick);
    return values;
}

const char* accountLabel(const char* name, const char* address)
{
    if (name[0])
        return name;
    return address[0] ? address : newAccountLabel;
}

AccountsDialog::AccountsDialog(const AccountValuesList& accounts, size_t selected, PasswordProtection protect,
                               size_t most)
    : ConfigDialog(shown, protect), most(most)
{
    for (const auto& account : accounts) {
        Entry entry{std::make_unique<ConfigurationValues>()};
        copyAccountValues(*account, *entry.values);
        entries.push_back(std::move(entry));
    }
    if (entries.empty())
        entries.push_back({newAccountValues(nullptr)});
    current = selected < entries.size() ? selected : 0;
}

INT_PTR AccountsDialog::onInitDialog(HWND dialog)
{
    copyAccountValues(*entries[current].values, shown);
    loading = true;
    INT_PTR result = ConfigDialog::onInitDialog(dialog);
    attachList();
    name.setText(textOrEmpty(shown.accountName));
    loading = false;
    list.setCurSel(static_cast<int>(current));
    applyListRule();
    return result;
}

void AccountsDialog::attachList()
{
    list.attachToDialogItem(handle, IDC_ACCOUNT_LIST);
    toolTip.addTool(&list, nullptr, listTip);
    for (const Entry& entry : entries)
        list.insertString(-1, labelOf(*entry.values));
    std::pair<ButtonControl*, const char*> buttons[] = {
        {&add, addTip}, {&remove, removeTip}, {&moveUp, moveUpTip}, {&moveDown, moveDownTip}};
    int id = IDC_ADD_ACCOUNT;
    for (auto& [button, tip] : buttons) {
        button->attachToDialogItem(handle, id++);
        toolTip.addTool(button, nullptr, tip);
    }
    name.attachToDialogItem(handle, IDC_ACCOUNT_NAME);
    name.limitText(accountNameMaxLength);
    toolTip.addTool(&name, nullptr, nameTip);
}

// The pane's checks and reading, as OK does, into the shown account's entry; false (the user
// told, the control at fault focused) when they refuse.
bool AccountsDialog::leaveShown()
{
    if (!ConfigDialog::onOk())
        return false;
    shown.accountName.assign(name.getText().get());
    copyAccountValues(shown, *entries[current].values);
    entries[current].checked = true;
    return true;
}

void AccountsDialog::show(size_t index)
{
    current = index;
    copyAccountValues(*entries[index].values, shown);
    loading = true;
    name.setText(textOrEmpty(shown.accountName));
    showValues();
    colourSwatch.redraw();
    loading = false;
    showLabelOfShown();
    applyListRule();
}

INT_PTR AccountsDialog::onCommand(HWND control, int code)
{
    if (control != nullptr && control == list.handle) {
        if (code == LBN_SELCHANGE)
            chooseFromList();
        return 0;
    }
    return ConfigDialog::onCommand(control, code);
}

void AccountsDialog::chooseFromList()
{
    int chosen = list.getCurSel();
    if (chosen < 0 || static_cast<size_t>(chosen) == current)
        return;
    if (!leaveShown()) {
        list.setCurSel(static_cast<int>(current));
        return;
    }
    show(static_cast<size_t>(chosen));
}

void AccountsDialog::onClick(HWND control)
{
    if (control == add.handle)
        addAccount();
    else if (control == remove.handle)
        removeAccount();
    else if (control == moveUp.handle)
        move(-1);
    else if (control == moveDown.handle)
        move(1);
    else
        ConfigDialog::onClick(control);
}

void AccountsDialog::onEditChange(HWND control)
{
    ConfigDialog::onEditChange(control);
    if (!loading && (control == name.handle || control == account.userName.handle))
        showLabelOfShown();
}

void AccountsDialog::addAccount()
{
    if (entries.size() >= most) {
        std::string refusal =
            "pellwick watches at most " + std::to_string(most) + " accounts: remove one before adding another.";
        dialogMessageBox(handle, refusal.c_str(), listCaption, MB_OK | MB_ICONINFORMATION);
        return;
    }
    if (!leaveShown())
        return;
    entries.push_back({newAccountValues(entries.front().values.get())});
    list.insertString(-1, newAccountLabel);
    show(entries.size() - 1);
    account.userName.focus();
}

// Asks first: the account's settings go, and with them what it has seen.
void AccountsDialog::removeAccount()
{
    if (entries.size() < 2)
        return;
    std::string question = std::string("Remove the account \"") +
                           accountLabel(name.getText().get(), account.userName.getText().get()) +
                           "\"? Its settings are deleted when you press OK.";
    if (dialogMessageBox(handle, question.c_str(), listCaption, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    signIn.read(); // gives up a sign-in still waiting for the browser
    entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(current));
    list.deleteString(static_cast<int>(current));
    show(current < entries.size() ? current : entries.size() - 1);
}

// The pane goes on showing the account moved; only its place changes.
void AccountsDialog::move(int step)
{
    size_t other = current + static_cast<size_t>(step);
    if (other >= entries.size())
        return;
    std::swap(entries[current], entries[other]);
    setLabel(current, labelOf(*entries[current].values));
    current = other;
    showLabelOfShown();
    applyListRule();
}

void AccountsDialog::setLabel(size_t index, const char* label)
{
    int at = static_cast<int>(index);
    list.deleteString(at);
    list.insertString(at, label);
}

// The shown account's label follows its name and address as they are typed.
void AccountsDialog::showLabelOfShown()
{
    setLabel(current, accountLabel(name.getText().get(), account.userName.getText().get()));
    list.setCurSel(static_cast<int>(current));
}

// Add while there is room (never for a dialog of one account), Remove while another is left,
// each Move while there is a place to move to; a button switched off hands the focus to the
// list.
void AccountsDialog::applyListRule()
{
    add.enable(most > 1);
    remove.enable(entries.size() > 1);
    moveUp.enable(current > 0);
    moveDown.enable(current + 1 < entries.size());
    HWND focused = GetFocus();
    if (focused != nullptr && !IsWindowEnabled(focused))
        list.focus();
}

// An account never shown in this run is checked as shown but not read back: what the user did
// not see stays exactly as it was.
bool AccountsDialog::onOk()
{
    size_t chosen = current;
    if (!leaveShown())
        return false;
    for (size_t index = 0; index < entries.size(); ++index) {
        if (entries[index].checked)
            continue;
        show(index);
        if (!validateNumbers())
            return false;
        entries[index].checked = true;
    }
    chosenAtOk = chosen;
    return true;
}

AccountValuesList AccountsDialog::takeAccounts()
{
    AccountValuesList accounts;
    for (Entry& entry : entries)
        accounts.push_back(std::move(entry.values));
    entries.clear();
    return accounts;
}

bool runAccountsDialog(AccountValuesList& accounts, size_t& selected, PasswordProtection protect)
{
    if (raiseRunningDialog(IDD_CONFIGURE))
        return false;
    AccountsDialog dialog(accounts, selected, protect);
    if (dialog.runModal(IDD_CONFIGURE, nullptr) != IDOK)
        return false;
    accounts = dialog.takeAccounts();
    selected = dialog.selectedAccount();
    return true;
}

// One account: the list shows it alone, with no Add.
bool runConfigDialog(ConfigurationValues& values, PasswordProtection protect)
{
    if (raiseRunningDialog(IDD_CONFIGURE))
        return false;
    AccountValuesList one;
    one.push_back(std::make_unique<ConfigurationValues>());
    copyAccountValues(values, *one.front());
    AccountsDialog dialog(one, 0, protect, 1);
    if (dialog.runModal(IDD_CONFIGURE, nullptr) != IDOK)
        return false;
    copyAccountValues(*dialog.takeAccounts().front(), values);
    return true;
}

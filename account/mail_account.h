#pragma once

#include <string>

#include "account/configuration_values.h"
#include "mail/checker/checker_thread.h"

// Where an account keeps its sign-in's refresh token between runs. The application stores it
// in the settings file, protected for the user; tests record it.
class RefreshTokenStore {
public:
    // "" removes the stored token.
    virtual void storeRefreshToken(const std::string& token) = 0;

protected:
    ~RefreshTokenStore() = default;
};

// One mailbox the program watches, with all that is its own: the checker that checks it with
// its values, its seen-message file, and its sign-in's tokens. The application owns it, reads
// its values from the settings and hands them in; the refresh tokens that must outlive the run
// go to the store it is given.
//
// Use from the window thread:
//   MailAccount account(checkResultMessage, store);
//   account.load(stored, refreshToken, seenFilePath);  // start-up, before start()
//   account.start(owner);
//   on the check-result message: account.checker.takeSnapshot();
//   on owner.tokenMessage: account.storeRotatedRefreshTokens();
//   configuration dialog confirmed: account.reconfigure(values, methodBefore, addressBefore);
//   "Mark As Read": account.markAsRead();   window closed: account.saveSeenFile();
//   before the store goes: account.requestStop() for every account, then account.stop() for
//   each, so that the accounts' network operations end together, not one after the other.
class MailAccount {
public:
    MailAccount(unsigned checkResultMessage, RefreshTokenStore& store);
    MailAccount(const MailAccount&) = delete;
    MailAccount& operator=(const MailAccount&) = delete;

    // The values and the refresh token the settings hold (a token protected elsewhere is none:
    // the checker then shows "Sign in again"), and the seen-message file, read now.
    void load(const ConfigurationValues& stored, const char* refreshToken, const char* seenFilePath);
    // The values confirmed in the configuration dialog, with the tokens of a sign-in made there.
    // Without one, another method, address, server or protocol than the ones before makes the
    // stored tokens worthless: they go (a token belongs to the server and the protocol it was
    // obtained for).
    void reconfigure(const ConfigurationValues& values, SignInMethod methodBefore, const char* addressBefore);
    // Starts checking; `owner` hears of every result and of every refresh token to store.
    void start(const CheckOwner& owner);
    // Marks every listed message read and writes the seen-message file at once, so that a
    // crash or a killed process keeps the marks.
    void markAsRead();
    // Writes the seen-message file in one atomic step; false when that failed, or while the
    // file could not be read (it is then left as it is).
    bool saveSeenFile();
    // Stores the refresh tokens the provider replaced during checks.
    void storeRotatedRefreshTokens();
    // Asks the checker to end without waiting for it.
    void requestStop();
    // Stops the checker and waits for it, then stores a refresh token it replaced that the
    // window never heard of: the one on disk may be void.
    void stop();

    CheckerThread checker;

private:
    void apply(const ConfigurationValues& values);

    RefreshTokenStore& store;
    // The server and protocol the checker was last given.
    TextRecord server;
    MailProtocol protocol = MailProtocol::Pop3;
};

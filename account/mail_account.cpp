#include "account/mail_account.h"

#include <cstring>

#include <openssl/crypto.h>

MailAccount::MailAccount(unsigned checkResultMessage, RefreshTokenStore& tokenStore)
    : checker(checkResultMessage), store(tokenStore)
{
}

void MailAccount::load(const ConfigurationValues& stored, const char* refreshToken, const char* seenFilePath)
{
    apply(stored);
    checker.setRefreshToken(refreshToken);
    checker.setSeenFilePath(seenFilePath);
    checker.readSeenFile();
}

// The account with its certificate pin, in one step: a cycle sees either the old pair or
// the new one, never the new server with the old pin.
void MailAccount::apply(const ConfigurationValues& values)
{
    TokenSignIn signIn;
    signIn.provider = signInProviderOf(values);
    if (signIn.provider != nullptr) {
        resolveClientOf(values, *signIn.provider, signIn.client);
        signIn.scope = scopeFor(*signIn.provider, values.protocol);
    }
    server.assign(textOrEmpty(values.server));
    protocol = values.protocol;
    checker.setAccount(textOrEmpty(values.server), textOrEmpty(values.username), textOrEmpty(values.password),
                       values.port, values.security, values.checkMinutes, textOrEmpty(values.certSha256), signIn,
                       values.protocol, textOrEmpty(values.folder));
    checker.setMarkOnServer(values.markOnServer);
    checker.setShowSenders(values.showSenders);
}

void MailAccount::reconfigure(const ConfigurationValues& values, SignInMethod methodBefore, const char* addressBefore)
{
    bool otherServer = OPENSSL_strcasecmp(textOrEmpty(values.server), textOrEmpty(server)) != 0;
    // A token is for one protocol's scope as it is for one server.
    bool otherProtocol = values.protocol != protocol;
    apply(values);
    if (values.newSignIn) {
        checker.takeSignIn(*values.newSignIn);
        store.storeRefreshToken(values.newSignIn->refreshToken);
        return;
    }
    if (values.signIn != methodBefore || std::strcmp(textOrEmpty(values.username), addressBefore) != 0 || otherServer ||
        otherProtocol) {
        checker.setRefreshToken("");
        store.storeRefreshToken("");
    }
}

void MailAccount::start(const CheckOwner& owner)
{
    checker.setOwner(owner);
    checker.start();
}

void MailAccount::markAsRead()
{
    checker.markAsRead();
    saveSeenFile();
}

bool MailAccount::saveSeenFile()
{
    return checker.saveSeenFile();
}

void MailAccount::storeRotatedRefreshTokens()
{
    std::string token;
    while (checker.takeRotatedRefreshToken(token))
        store.storeRefreshToken(token);
}

void MailAccount::requestStop()
{
    checker.requestStop();
}

void MailAccount::stop()
{
    checker.requestStop();
    checker.waitForExit();
    storeRotatedRefreshTokens();
}

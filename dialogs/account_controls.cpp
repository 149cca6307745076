#include "dialogs/account_controls.h"

#include <memory>
#include <string>

#include "account/configuration_values.h"

ServerPreset presetOf(const MailProvider* provider)
{
    if (provider == nullptr)
        return ServerPreset::Other;
    switch (provider->signIn) {
    case SignInMethod::Google:
        return ServerPreset::Google;
    case SignInMethod::Microsoft:
        return ServerPreset::Microsoft;
    case SignInMethod::Password:
        break;
    }
    return ServerPreset::Other;
}

const MailProvider* providerOfPreset(ServerPreset preset)
{
    switch (preset) {
    case ServerPreset::Google:
        return mailProviderSigningInWith(SignInMethod::Google);
    case ServerPreset::Microsoft:
        return mailProviderSigningInWith(SignInMethod::Microsoft);
    case ServerPreset::Other:
        break;
    }
    return nullptr;
}

const SecurityChoices& securityChoicesFor(MailProtocol protocol)
{
    return protocol == MailProtocol::Imap ? imapSecurityChoices : pop3SecurityChoices;
}

void AccountControls::chooseSecurity(ConnectionSecurity chosen)
{
    security.select(chosen);
    port.setNumberText(standardPort(chosen, shownProtocol));
}

void AccountControls::chooseProtocol(MailProtocol chosen)
{
    MailProtocol before = shownProtocol;
    shownProtocol = chosen;
    protocol.select(chosen);
    security.replaceEntries(securityChoicesFor(chosen));
    applyProtocolRule();
    if (before == chosen)
        return;
    moveStandardPort(before, chosen);
    moveProviderServer(before, chosen);
}

// 995 becomes 993 and 110 becomes 143, and back; any other port was typed.
void AccountControls::moveStandardPort(MailProtocol before, MailProtocol after)
{
    std::unique_ptr<char[]> text = port.getText();
    for (ConnectionSecurity each : {ConnectionSecurity::TlsOnConnect, ConnectionSecurity::StartTls})
        if (std::to_string(standardPort(each, before)) == text.get()) {
            port.setNumberText(standardPort(each, after));
            return;
        }
}

// Only a provider's own server for the protocol left, where it has one for the new protocol.
void AccountControls::moveProviderServer(MailProtocol before, MailProtocol after)
{
    std::unique_ptr<char[]> text = host.getText();
    const MailProvider* provider = mailProviderServing(text.get());
    if (provider == nullptr)
        return;
    const char* next = serverFor(*provider, after);
    if (next[0] != '\0' && lstrcmpiA(text.get(), serverFor(*provider, before)) == 0)
        host.setText(next);
}

// Every provider in the table takes TLS from the first byte on its standard port.
void AccountControls::fillServer(const MailProvider& provider)
{
    MailProtocol served = protocolServedBy(provider, protocol.chosen());
    chooseProtocol(served);
    host.setText(serverFor(provider, served));
    chooseSecurity(ConnectionSecurity::TlsOnConnect);
}

void AccountControls::applyPresetRule()
{
    bool other = preset.chosen() == ServerPreset::Other;
    host.enable(other);
    security.enable(other);
    port.enable(other);
}

void AccountControls::applyProtocolRule()
{
    bool imap = shownProtocol == MailProtocol::Imap;
    folder.enable(imap);
    markOnServer.enable(imap);
}

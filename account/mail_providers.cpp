#include "account/mail_providers.h"

#include <cstring>

#include <openssl/crypto.h>

namespace {

// https://support.google.com/mail/answer/7104828 (POP), https://support.google.com/mail/answer/7126229 (IMAP)
const char* const googleDomains[] = {"gmail.com", "googlemail.com", nullptr};
// https://support.microsoft.com/en-us/office/pop-imap-and-smtp-settings-8361e398-8af4-4e97-b147-6c6c4ac95353
// (Outlook.com; Microsoft 365's work accounts, at their own domains, use the same server)
const char* const microsoftDomains[] = {"outlook.com", "hotmail.com", "live.com", "msn.com", nullptr};
// https://support.apple.com/en-us/102525: IMAP only, with an app-specific password
const char* const icloudDomains[] = {"icloud.com", "me.com", "mac.com", nullptr};
// https://help.yahoo.com/kb/SLN4724.html (POP), https://help.yahoo.com/kb/SLN4075.html (IMAP); app password
const char* const yahooDomains[] = {"yahoo.com", "ymail.com", "rocketmail.com", nullptr};
// https://help.aol.com/articles/how-do-i-use-other-email-applications-to-send-and-receive-my-aol-mail;
// app password
const char* const aolDomains[] = {"aol.com", "aim.com", nullptr};
// https://www.fastmail.com/help/technical/servernamesandports.html; app password
const char* const fastmailDomains[] = {"fastmail.com", "fastmail.fm", nullptr};
// https://hilfe.gmx.net/pop-imap/imap/imap-serverdaten.html, https://hilfe.gmx.net/pop-imap/pop3/serverdaten.html
const char* const gmxNetDomains[] = {"gmx.net", "gmx.de", "gmx.at", "gmx.ch", nullptr};
// https://support.gmx.com/pop-imap/imap/server.html, https://support.gmx.com/pop-imap/pop3/server.html
const char* const gmxComDomains[] = {"gmx.com", "gmx.us", nullptr};
// https://hilfe.web.de/pop-imap/imap/imap-serverdaten.html, https://hilfe.web.de/pop-imap/pop3/serverdaten.html
const char* const webDeDomains[] = {"web.de", nullptr};
// https://www.zoho.com/mail/help/pop-access.html, https://www.zoho.com/mail/help/imap-access.html
// (personal accounts; a company's own domain is served by imappro.zoho.com, not filled in)
const char* const zohoDomains[] = {"zoho.com", "zohomail.com", nullptr};

const MailProvider providers[] = {
    {"Google", googleDomains, "pop.gmail.com", "imap.gmail.com", SignInMethod::Google},
    {"Microsoft", microsoftDomains, "outlook.office365.com", "outlook.office365.com", SignInMethod::Microsoft},
    {"iCloud", icloudDomains, "", "imap.mail.me.com", SignInMethod::Password},
    {"Yahoo", yahooDomains, "pop.mail.yahoo.com", "imap.mail.yahoo.com", SignInMethod::Password},
    {"AOL", aolDomains, "pop.aol.com", "imap.aol.com", SignInMethod::Password},
    {"Fastmail", fastmailDomains, "pop.fastmail.com", "imap.fastmail.com", SignInMethod::Password},
    {"GMX", gmxNetDomains, "pop.gmx.net", "imap.gmx.net", SignInMethod::Password},
    {"GMX", gmxComDomains, "pop.gmx.com", "imap.gmx.com", SignInMethod::Password},
    {"WEB.DE", webDeDomains, "pop3.web.de", "imap.web.de", SignInMethod::Password},
    {"Zoho", zohoDomains, "pop.zoho.com", "imap.zoho.com", SignInMethod::Password},
};

bool sameName(const char* a, const char* b)
{
    return a[0] != '\0' && OPENSSL_strcasecmp(a, b) == 0;
}

bool servesDomain(const MailProvider& provider, const char* domain)
{
    for (const char* const* entry = provider.domains; *entry != nullptr; ++entry)
        if (sameName(*entry, domain))
            return true;
    return false;
}

} // namespace

const MailProvider* mailProviderForAddress(const char* address)
{
    const char* at = address != nullptr ? std::strrchr(address, '@') : nullptr;
    if (at == nullptr)
        return nullptr;
    for (const MailProvider& provider : providers)
        if (servesDomain(provider, at + 1))
            return &provider;
    return nullptr;
}

const MailProvider* mailProviderServing(const char* host)
{
    if (host == nullptr)
        return nullptr;
    for (const MailProvider& provider : providers)
        if (sameName(provider.pop3Server, host) || sameName(provider.imapServer, host))
            return &provider;
    return nullptr;
}

const MailProvider* mailProviderSigningInWith(SignInMethod method)
{
    if (method == SignInMethod::Password)
        return nullptr;
    for (const MailProvider& provider : providers)
        if (provider.signIn == method)
            return &provider;
    return nullptr;
}

const char* serverFor(const MailProvider& provider, MailProtocol protocol)
{
    return protocol == MailProtocol::Imap ? provider.imapServer : provider.pop3Server;
}

MailProtocol protocolServedBy(const MailProvider& provider, MailProtocol wanted)
{
    if (serverFor(provider, wanted)[0] != '\0')
        return wanted;
    return wanted == MailProtocol::Imap ? MailProtocol::Pop3 : MailProtocol::Imap;
}

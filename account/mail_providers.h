// The common mail providers, with the servers their own help pages name, so that an address
// typed in the dialog can fill in its server. Every one of them takes POP3 on 995 and IMAP on
// 993, both inside TLS from the first byte.
#pragma once

#include "mail/session/mail_protocol.h"
#include "mail/sign_in/oauth_provider.h"

struct MailProvider {
    const char* name;
    // The address domains it serves mail for; null-terminated.
    const char* const* domains;
    // Empty where the provider offers no such service.
    const char* pop3Server;
    const char* imapServer;
    // The provider's own sign-in; Password where its servers take (app) passwords only.
    SignInMethod signIn;
};

// The provider whose domain `address` is at (after its last '@', any letter case), or null.
const MailProvider* mailProviderForAddress(const char* address);
// The provider whose POP3 or IMAP server `host` is (any letter case), or null.
const MailProvider* mailProviderServing(const char* host);
// The provider whose sign-in is `method`; null for Password.
const MailProvider* mailProviderSigningInWith(SignInMethod method);
// Its server for `protocol`; empty where it has none.
const char* serverFor(const MailProvider& provider, MailProtocol protocol);
// `wanted` where the provider serves it, else the protocol it does serve.
MailProtocol protocolServedBy(const MailProvider& provider, MailProtocol wanted);

// The providers' servers an address fills in, by the protocol chosen.
#include <gtest/gtest.h>

#include "account/mail_providers.h"

// The server an address suggests for each protocol chosen, with the protocol it ends up on
// (iCloud has IMAP alone), and the provider found again from that server.
TEST(MailProviders, AddressGivesItsProvidersServerForTheChosenProtocol)
{
    struct Case {
        const char* address;
        const char* pop3; // chosen POP3: the server, "" for no provider
        const char* imap;
        MailProtocol fromPop3; // the protocol a POP3 choice ends up on
        SignInMethod signIn;
    } cases[] = {
        {"ann@gmail.com", "pop.gmail.com", "imap.gmail.com", MailProtocol::Pop3, SignInMethod::Google},
        {"Ann@Hotmail.COM", "outlook.office365.com", "outlook.office365.com", MailProtocol::Pop3,
         SignInMethod::Microsoft},
        {"ann@me.com", "imap.mail.me.com", "imap.mail.me.com", MailProtocol::Imap, SignInMethod::Password},
        {"ann@yahoo.com", "pop.mail.yahoo.com", "imap.mail.yahoo.com", MailProtocol::Pop3, SignInMethod::Password},
        {"ann@gmx.de", "pop.gmx.net", "imap.gmx.net", MailProtocol::Pop3, SignInMethod::Password},
        {"ann@gmx.com", "pop.gmx.com", "imap.gmx.com", MailProtocol::Pop3, SignInMethod::Password},
        {"ann@gmail.com.example.org", "", "", MailProtocol::Pop3, SignInMethod::Password},
        {"gmail.com", "", "", MailProtocol::Pop3, SignInMethod::Password},
        {"ann@mail.gmail.com", "", "", MailProtocol::Pop3, SignInMethod::Password},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        const MailProvider* provider = mailProviderForAddress(c.address);
        ASSERT_EQ(c.pop3[0] != '\0', provider != nullptr);
        if (provider == nullptr)
            continue;
        MailProtocol fromPop3 = protocolServedBy(*provider, MailProtocol::Pop3);
        EXPECT_EQ(c.fromPop3, fromPop3);
        EXPECT_STREQ(c.pop3, serverFor(*provider, fromPop3));
        EXPECT_STREQ(c.imap, serverFor(*provider, protocolServedBy(*provider, MailProtocol::Imap)));
        EXPECT_EQ(c.signIn, provider->signIn);
        EXPECT_EQ(provider, mailProviderServing(c.imap));
        EXPECT_EQ(provider, mailProviderServing(c.pop3));
        if (c.signIn != SignInMethod::Password) {
            EXPECT_EQ(provider, mailProviderSigningInWith(c.signIn));
        }
    }
    EXPECT_EQ(nullptr, mailProviderServing("mail.example.org"));
    EXPECT_EQ(nullptr, mailProviderServing(""));
    EXPECT_EQ(nullptr, mailProviderSigningInWith(SignInMethod::Password));
}

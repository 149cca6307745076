// The IMAP session against the bench's real servers, Dovecot and Cyrus: each way of securing
// the stream, the counts and UIDs, \Seen set on the server, and IDLE woken by a delivery.
#include <gtest/gtest.h>

#include <cctype>
#include <future>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "mail/headers/message_preview.h"
#include "mail/imap/imap_session.h"
#include "tests/mail/mail_test_support.h"
#include "tests/support/cyrus_fixture.h"
#include "tests/support/dovecot_fixture.h"
#include "tests/support/poll_until.h"

using mailtest::TrustedCaDirectory;
using testbench::CyrusFixture;
using testbench::DovecotFixture;
using testbench::ImapTestServer;

namespace {

const char loopback[] = "127.0.0.1";

enum class Server { Dovecot, Cyrus };

// A user of its own per test (tests run in parallel), on the server the test names.
class RealImap : public ::testing::Test {
protected:
    virtual Server serverUnderTest() const = 0;
    void SetUp() override
    {
        ASSERT_TRUE(DovecotFixture::fromEnvironment(dovecot)) << "PELLWICK_DOVECOT_DIR not set";
        server = &dovecot;
        if (serverUnderTest() == Server::Cyrus) {
            std::string whyNot;
            if (!CyrusFixture::fromEnvironment(cyrus, whyNot))
                GTEST_SKIP() << whyNot;
            server = &cyrus;
        }
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        user = std::string("imap_") + test->name();
        for (char& c : user)
            c = std::isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(c)) : '_';
        ASSERT_TRUE(server->addUser(user, password));
        ASSERT_TRUE(server->clearMailbox(user));
        trust.reset(new TrustedCaDirectory(server->caFile()));
        ASSERT_TRUE(trust->isReady());
        session.reset(new ImapSession());
        session->setTimeouts(10, 10);
    }
    void deliver(int count)
    {
        for (int i = 1; i <= count; ++i)
            ASSERT_TRUE(
                server->deliver(user, "msg" + std::to_string(delivered + i), mailtest::sampleMessage(delivered + i)));
        delivered += count;
    }
    ImapStatus connect(ConnectionSecurity security)
    {
        int port = security == ConnectionSecurity::TlsOnConnect ? server->imapsPort() : server->imapPort();
        return session->connect(loopback, port, security);
    }

    DovecotFixture dovecot;
    CyrusFixture cyrus;
    ImapTestServer* server = nullptr;
    std::string user;
    const char* password = "correct \"horse\"";
    std::unique_ptr<TrustedCaDirectory> trust;
    std::unique_ptr<ImapSession> session;
    int delivered = 0;
};

class RealImapSecurity : public RealImap, public ::testing::WithParamInterface<std::tuple<Server, ConnectionSecurity>> {
protected:
    Server serverUnderTest() const override { return std::get<0>(GetParam()); }
};

// The counts, the UIDs, and one message marked seen on the server, which the counts then follow.
TEST_P(RealImapSecurity, CountsFollowWhatIsMarkedSeen)
{
    deliver(3);
    ConnectionSecurity security = std::get<1>(GetParam());
    ASSERT_EQ(static_cast<int>(connect(security)), static_cast<int>(ImapStatus::Ok));
    EXPECT_EQ(session->isTls(), security != ConnectionSecurity::None);
    ASSERT_EQ(static_cast<int>(session->logIn(user, password)), static_cast<int>(ImapStatus::Ok));
    EXPECT_TRUE(session->capabilities().idle && session->capabilities().esearch);
    ASSERT_EQ(static_cast<int>(session->examine("INBOX", true)), static_cast<int>(ImapStatus::Ok));
    EXPECT_EQ(session->folder().exists, 3u);
    EXPECT_NE(session->folder().uidValidity, 0u);
    std::vector<uint32_t> all;
    ASSERT_EQ(static_cast<int>(session->searchUids(ImapSearch::All, all)), static_cast<int>(ImapStatus::Ok));
    ASSERT_EQ(all.size(), 3u);
    ASSERT_EQ(static_cast<int>(session->markSeen({all[1]})), static_cast<int>(ImapStatus::Ok));
    uint32_t unseen = 0;
    ASSERT_EQ(static_cast<int>(session->countUnseen(unseen)), static_cast<int>(ImapStatus::Ok));
    EXPECT_EQ(unseen, 2u);
    std::vector<uint32_t> unseenUids;
    ASSERT_EQ(static_cast<int>(session->searchUids(ImapSearch::Unseen, unseenUids)), static_cast<int>(ImapStatus::Ok));
    EXPECT_EQ(unseenUids, (std::vector<uint32_t>{all[0], all[2]}));
    // Their header fields, read with BODY.PEEK: STATUS below still counts them unseen.
    std::vector<FetchedHeader> headers;
    ASSERT_EQ(static_cast<int>(session->fetchHeaders(unseenUids, headers)), static_cast<int>(ImapStatus::Ok));
    ASSERT_EQ(headers.size(), 2u);
    EXPECT_EQ(readMessagePreview(headers[1].header.data(), headers[1].header.size()).sender, "sender@example.org");
    ImapFolderStatus figures;
    ASSERT_EQ(static_cast<int>(session->status("INBOX", figures)), static_cast<int>(ImapStatus::Ok));
    EXPECT_EQ(figures.messages, 3u);
    EXPECT_EQ(figures.unseen, 2u);
    EXPECT_EQ(figures.uidValidity, session->folder().uidValidity);
    EXPECT_GT(figures.uidNext, all[2]);
}

const char* serverName(Server server)
{
    return server == Server::Cyrus ? "Cyrus" : "Dovecot";
}

std::string serverAndSecurityName(const ::testing::TestParamInfo<std::tuple<Server, ConnectionSecurity>>& info)
{
    static const char* const securities[] = {"Tls", "StartTls", "Plain"};
    return std::string(serverName(std::get<0>(info.param))) + "_" +
           securities[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(Security, RealImapSecurity,
                         ::testing::Combine(::testing::Values(Server::Dovecot, Server::Cyrus),
                                            ::testing::Values(ConnectionSecurity::TlsOnConnect,
                                                              ConnectionSecurity::StartTls, ConnectionSecurity::None)),
                         serverAndSecurityName);

class RealImapIdle : public RealImap, public ::testing::WithParamInterface<Server> {
protected:
    Server serverUnderTest() const override { return GetParam(); }
};

// A message delivered while the session idles (Dovecot: written under tmp/ and renamed into
// new/; Cyrus: appended): the server tells EXISTS (Dovecot after its own half second), and idle()
// comes back with the new count.
TEST_P(RealImapIdle, IdleIsWokenByADelivery)
{
    ASSERT_EQ(static_cast<int>(connect(ConnectionSecurity::TlsOnConnect)), static_cast<int>(ImapStatus::Ok));
    ASSERT_EQ(static_cast<int>(session->logIn(user, password)), static_cast<int>(ImapStatus::Ok));
    ASSERT_EQ(static_cast<int>(session->examine()), static_cast<int>(ImapStatus::Ok));
    ASSERT_EQ(session->folder().exists, 0u);
    IdleWake wake = IdleWake::TimeLimit;
    std::future<ImapStatus> idled = std::async(std::launch::async, [&] { return session->idle(60, wake); });
    bool idling = testbench::pollUntil([&] { return session->isIdling(); }, 10000, 10);
    if (idling)
        deliver(1);
    else
        session->endIdle();
    ASSERT_TRUE(idling);
    ASSERT_EQ(idled.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(static_cast<int>(idled.get()), static_cast<int>(ImapStatus::Ok));
    EXPECT_EQ(static_cast<int>(wake), static_cast<int>(IdleWake::Changed));
    EXPECT_EQ(session->folder().exists, 1u);
}

INSTANTIATE_TEST_SUITE_P(Server, RealImapIdle, ::testing::Values(Server::Dovecot, Server::Cyrus),
                         [](const ::testing::TestParamInfo<Server>& info) { return serverName(info.param); });

} // namespace

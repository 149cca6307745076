// What describing new mail costs a cycle: a 100,000-message mailbox with 100 new messages,
// listed with and without TOP n 0 of the new ones, fed from memory. Prints the bytes each
// cycle reads and its CPU time (best of a few runs), and two ratios: the describing cycle
// against the plain one, and a later cycle with nothing new (everything already described)
// against the same cycle with describing off, which should stay close to 1.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>

#include <openssl/bio.h>

#include "mail/pop3/pop3_session.h"

namespace {

const int messages = 100000;
const int newMessages = 100;
const int repetitions = 9;

std::string idOf(int number)
{
    char id[32];
    std::snprintf(id, sizeof id, "%08X%08X", number, 0x5F3A1C07);
    return id;
}

std::string listing()
{
    std::string text = "+OK\r\n";
    for (int number = 1; number <= messages; ++number)
        text += std::to_string(number) + " " + idOf(number) + "\r\n";
    return text + ".\r\n";
}

// A header block as real mail carries it: trace and authentication fields around the few
// that are shown, about 2.5 KB.
std::string topReply(int number)
{
    std::string header = "+OK\r\n";
    for (int hop = 0; hop < 4; ++hop)
        header += "Received: from relay" + std::to_string(hop) +
                  ".example.net (relay.example.net [192.0.2.7])\r\n\tby mx.example.org with ESMTPS id 4Fq" +
                  std::to_string(number) + "\r\n\tfor <ann@example.org>; Wed, 9 Dec 2026 04:30:00 +0000\r\n";
    header +=
        "DKIM-Signature: v=1; a=rsa-sha256; d=example.net; s=s1; h=from:subject:date;\r\n\tb=" + std::string(344, 'A') +
        "\r\n";
    header += "From: =?UTF-8?B?QmrDtnJuIEV4YW1wbGU=?= <bjorn@example.net>\r\n";
    header += "Subject: =?UTF-8?Q?Quarterly_report_=E2=80=93_draft?= " + std::to_string(number) + "\r\n";
    header += "Date: Wed, 9 Dec 2026 04:30:00 +0000\r\nMessage-ID: <" + std::to_string(number) +
              "@example.net>\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n.\r\n";
    return header;
}

std::string serverSide(bool describe)
{
    std::string text = listing();
    if (!describe)
        return text;
    text += "+OK\r\nUIDL\r\nTOP\r\n.\r\n";
    for (int number = messages; number > messages - newMessages; --number)
        text += topReply(number);
    return text;
}

BIO* streamHolding(const std::string& reply)
{
    BIO* client = nullptr;
    BIO* server = nullptr;
    size_t room = reply.size() + 4096;
    if (BIO_new_bio_pair(&client, room, &server, room) != 1)
        return nullptr;
    BIO_write(server, reply.data(), static_cast<int>(reply.size()));
    BIO_push(client, server);
    return client;
}

double cpuSeconds()
{
    timespec now = {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct Cycle {
    double seconds = 1e9;
    size_t bytes = 0;
};

// One cycle on `session`, its stream holding `reply`: the CPU time and the bytes it read.
Cycle runCycle(Pop3Session& session, const std::string& reply, bool describe)
{
    BIO* stream = streamHolding(reply);
    session.adopt(stream);
    session.describeNewMail = describe;
    double start = cpuSeconds();
    int listed = session.listUids();
    Cycle cycle;
    cycle.seconds = cpuSeconds() - start;
    cycle.bytes = reply.size() - static_cast<size_t>(BIO_ctrl_pending(stream)); // read, if not all parsed
    if (listed != messages)
        std::printf("listing incomplete: %d\n", listed);
    session.close();
    return cycle;
}

// The best of a few runs of a first cycle (nothing described yet), or of a second one on the
// same mailbox after a first with the same switch.
Cycle measure(bool describe, bool secondCycle)
{
    std::string reply = serverSide(describe && !secondCycle);
    std::string first = serverSide(describe);
    Cycle best;
    for (int run = 0; run < repetitions; ++run) {
        Pop3Session session;
        for (int number = 1; number <= messages - newMessages; ++number)
            session.mailbox.seen.insertFront(idOf(number).c_str());
        if (secondCycle)
            runCycle(session, first, describe);
        Cycle cycle = runCycle(session, reply, describe);
        if (describe && session.mailbox.takeCounts().previews.size() != MessagePreviews::maxKept)
            std::printf("previews missing\n");
        best.seconds = std::min(best.seconds, cycle.seconds);
        best.bytes = cycle.bytes;
    }
    return best;
}

void print(const char* name, const Cycle& cycle)
{
    std::printf("%-52s %9zu bytes %8.2f ms CPU\n", name, cycle.bytes, cycle.seconds * 1000);
}

} // namespace

int main()
{
    Cycle plain = measure(false, false);
    Cycle describing = measure(true, false);
    Cycle plainAgain = measure(false, true);
    Cycle nothingNew = measure(true, true);
    std::printf("100,000 messages, 100 new (the newest %zu described):\n", MessagePreviews::maxKept);
    print("ids only", plain);
    print("ids, then TOP n 0 of the new ones", describing);
    std::printf("ratio describing / ids only: bytes %.3f, CPU %.2f\n",
                static_cast<double>(describing.bytes) / static_cast<double>(plain.bytes),
                describing.seconds / plain.seconds);
    std::printf("a later cycle with nothing new:\n");
    print("describing off", plainAgain);
    print("describing on (all new ones described)", nothingNew);
    std::printf("ratio on / off: bytes %.3f, CPU %.2f (goal: close to 1)\n",
                static_cast<double>(nothingNew.bytes) / static_cast<double>(plainAgain.bytes),
                nothingNew.seconds / plainAgain.seconds);
    return 0;
}

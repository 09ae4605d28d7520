// Figures for the mailbox check: a mailbox of 5,000 mails (bounces,
// unsubscribe requests, auto-replies and replies) read over POP3S and over
// STLS from dovecot on 127.0.0.1, every mail recognised and the record of the
// mails read written encrypted; then a second check that finds nothing new.
// Needs root (dovecot's mail processes run as nobody).
#include "peers/MailPeers.h"
#include "send/BounceCheck.h"

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <string>

using namespace vostrel;
using namespace vostrel::test;

namespace {

constexpr int kMails = 5000;

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::string MailNumber(int n)
{
    const std::string address = "user" + std::to_string(n % 1500) + "@example.jp";
    const std::string head = "From: MAILER-DAEMON@mx.example.jp\r\nTo: news@sender.example.jp\r\n";
    switch (n % 4) {
    case 0:
        return head +
               "Subject: Undelivered Mail Returned to Sender\r\n"
               "Content-Type: multipart/report; report-type=delivery-status; boundary=\"B\"\r\n"
               "\r\n--B\r\nContent-Type: text/plain\r\n\r\nThe mail could not be delivered.\r\n"
               "--B\r\nContent-Type: message/delivery-status\r\n\r\nReporting-MTA: dns; mx\r\n\r\n"
               "Final-Recipient: rfc822; " +
               address +
               "\r\nAction: failed\r\nStatus: 5.1.1\r\nDiagnostic-Code: smtp; 550 5.1.1 User "
               "unknown\r\n\r\n--B\r\nContent-Type: text/rfc822-headers\r\n\r\nMessage-ID: <" +
               std::to_string(n) + "@sender.example.jp>\r\nSubject: news\r\n\r\n--B--\r\n";
    case 1:
        return head +
               "Subject: failure notice\r\n\r\nHi. This is the qmail-send program.\r\n\r\n<" +
               address +
               ">:\r\nSorry, no mailbox here by that name. (#5.1.1)\r\n\r\n--- Below this line is "
               "a copy of the message.\r\n\r\n" +
               std::string(1500, 'x') + "\r\n";
    case 2:
        return "From: " + address + "\r\nSubject: unsubscribe\r\n\r\nPlease remove me.\r\n";
    default:
        return "From: " + address +
               "\r\nSubject: Out of office\r\nAuto-Submitted: auto-replied\r\n\r\n" +
               std::string(800, 'y') + "\r\n";
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (!Pop3Peer::Available()) {
        std::printf("bench_bounce_check: dovecot needs root and /usr/sbin/dovecot\n");
        return 1;
    }
    PeerFolder folder;
    TestCertificates certificates(folder.Path());
    const ScopedCaFile ca(certificates.CaFile());
    Pop3PeerOptions options;
    options.certificate = certificates.Server();
    options.users = {{"tls", "secret"}, {"stls", "secret"}};
    Pop3Peer pop(folder.Path(), options);
    for (const char *user : {"tls", "stls"})
        for (int n = 0; n < kMails; ++n)
            pop.Deliver(user, MailNumber(n));

    for (const bool implicitTls : {true, false}) {
        const std::string user = implicitTls ? "tls" : "stls";
        SenderAccount account;
        account.UsePOP = true;
        account.POPAddress = "127.0.0.1";
        account.POPPort = std::to_string(implicitTls ? pop.TlsPort() : pop.Port());
        account.POPSSL = implicitTls;
        account.POPAccount = user;
        account.POPPass = "secret";
        BounceCheckOptions check;
        check.recordPath = folder.Path() / ("record-" + user + ".dat");
        check.key = "bench-key";
        for (const char *pass : {"first check", "second check"}) {
            const auto start = std::chrono::steady_clock::now();
            const BounceCheckResult result = CheckMailbox(RealTransport(), account, check);
            const double seconds = Seconds(start);
            if (!result.completed) {
                std::printf("%s failed: %s\n", pass, result.error.c_str());
                return 1;
            }
            std::printf("%-6s %-12s: %zu mails on the server, %zu read, %zu rows in %.2f s "
                        "(%.0f mails/s)\n",
                        implicitTls ? "POP3S" : "STLS", pass, result.onServer, result.read,
                        result.rows.size(), seconds,
                        result.read > 0 ? static_cast<double>(result.read) / seconds : 0.0);
        }
    }
    return 0;
}

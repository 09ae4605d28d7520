// Figures for the wire: DeliverMail's rate at one connection per mail (mails
// of 2 KB to one recipient, plain SMTP on 127.0.0.1) against Postfix's
// smtp-sink, next to smtp-source sending the same number of mails of the same
// body size to the same sink in the same run, one session at a time; and
// MailSession's rate over kept connections next to smtp-source -d (one
// connection for all its messages).
#include "send/MailTransport.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace vostrel;

namespace {

constexpr int kMails = 2000;
constexpr std::size_t kBodyBytes = 2048;

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &length);
    ::close(fd);
    return ntohs(a.sin_port);
}

bool Listening(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

// Starts a program with its output discarded; its pid.
pid_t Spawn(const std::vector<std::string> &args)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 1);
        ::dup2(null, 2);
        std::vector<char *> argv;
        for (const auto &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

int Wait(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A mail of about the size smtp-source sends: a few header lines and a body
// of kBodyBytes in lines of 78 characters.
std::string Mail()
{
    std::string data = "From: bench@example.jp\r\nTo: sink@example.jp\r\n"
                       "Date: Fri, 15 Mar 2024 14:30:59 +0900\r\n"
                       "Message-ID: <bench@example.jp>\r\nSubject: wire benchmark\r\n\r\n";
    std::string body;
    while (body.size() < kBodyBytes) {
        std::string line(std::min<std::size_t>(78, kBodyBytes - body.size()), 'x');
        body += line + "\r\n";
    }
    return data + body;
}

} // namespace

int main()
{
    const int port = FreePort();
    std::vector<std::string> sink{"/usr/sbin/smtp-sink"};
    if (::geteuid() == 0) {
        sink.push_back("-u");
        sink.push_back("nobody");
    }
    sink.push_back("127.0.0.1:" + std::to_string(port));
    sink.push_back("256");
    const pid_t sinkPid = Spawn(sink);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!Listening(port)) {
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "smtp-sink did not start (is postfix installed?)\n");
            ::kill(sinkPid, SIGKILL);
            Wait(sinkPid);
            return 1;
        }
        ::poll(nullptr, 0, 5);
    }

    SenderAccount account;
    account.SMTPAddress = "127.0.0.1";
    account.SMTPPort = std::to_string(port);
    const OutgoingMail mail{"bench@example.jp", {"sink@example.jp"}, Mail()};

    for (int i = 0; i < 50; ++i) // warm-up
        DeliverMail(RealTransport(), account, mail);

    // Three rounds each, taking turns, so that both meet the same machine
    // load; the best round of each counts.
    int failed = 0;
    int rc = 0;
    std::string firstFailure;
    double ours = 1e9;
    double theirs = 1e9;
    double oursKept = 1e9;
    double theirsKept = 1e9;
    for (int round = 0; round < 3; ++round) {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kMails; ++i) {
            const DeliveryResult r = DeliverMail(RealTransport(), account, mail);
            if (!r.ok && failed++ == 0)
                firstFailure = r.reason;
        }
        ours = std::min(ours, Seconds(start));

        start = std::chrono::steady_clock::now();
        rc = std::max(rc,
                      Wait(Spawn({"/usr/sbin/smtp-source", "-s", "1", "-m", std::to_string(kMails),
                                  "-l", std::to_string(kBodyBytes), "-f", "bench@example.jp", "-t",
                                  "sink@example.jp", "127.0.0.1:" + std::to_string(port)})));
        theirs = std::min(theirs, Seconds(start));

        start = std::chrono::steady_clock::now();
        {
            MailSession session(RealTransport());
            for (int i = 0; i < kMails; ++i) {
                const DeliveryResult r = session.Send(account, mail);
                if (!r.ok && failed++ == 0)
                    firstFailure = r.reason;
            }
        }
        oursKept = std::min(oursKept, Seconds(start));

        start = std::chrono::steady_clock::now();
        rc = std::max(
            rc, Wait(Spawn({"/usr/sbin/smtp-source", "-d", "-s", "1", "-m", std::to_string(kMails),
                            "-l", std::to_string(kBodyBytes), "-f", "bench@example.jp", "-t",
                            "sink@example.jp", "127.0.0.1:" + std::to_string(port)})));
        theirsKept = std::min(theirsKept, Seconds(start));
    }

    ::kill(sinkPid, SIGTERM);
    Wait(sinkPid);

    std::printf("DeliverMail, %d mails of %zu bytes, one connection each, to smtp-sink on "
                "127.0.0.1: %.0f mails/s (%.3f ms per mail, best of 3 rounds)%s\n",
                kMails, mail.data.size(), kMails / ours, ours / kMails * 1e3,
                failed ? (", " + std::to_string(failed) + " failed: " + firstFailure).c_str() : "");
    if (rc == 0)
        std::printf("smtp-source -s 1, %d mails with a %zu-byte body, same sink: %.0f mails/s "
                    "(%.3f ms per mail, best of 3 rounds)\n",
                    kMails, kBodyBytes, kMails / theirs, theirs / kMails * 1e3);
    else
        std::printf("smtp-source failed (exit %d)\n", rc);
    if (rc == 0)
        std::printf("DeliverMail / smtp-source: %.2f\n", theirs / ours);
    std::printf("MailSession, the same mails over kept connections (100 mails each): %.0f mails/s "
                "(best of 3 rounds)\n",
                kMails / oursKept);
    if (rc == 0)
        std::printf("smtp-source -d -s 1 (one connection): %.0f mails/s; MailSession / "
                    "smtp-source -d: %.2f\n",
                    kMails / theirsKept, theirsKept / oursKept);
    return failed == 0 && rc == 0 ? 0 : 1;
}

// Send run figures against Postfix's smtp-sink on 127.0.0.1:
//  1. throughput of RunSend (individual sending, no pause, 2 KB bodies, the
//     journal on) with one connection for consecutive mails next to
//     smtp-source -d -s 1 (one connection for all its messages), and with a
//     connection for every mail next to smtp-source -s 1 (one connection per
//     message), the same number of 2 KB messages to the same sink in the same
//     rounds;
//  2. latency: 1,000 mails through a relay that delays every byte by 20 ms
//     each way (bench/latency_relay.py) in front of an implicit-TLS server
//     (tests/peers/smtp_peer.py, PIPELINING announced), with one connection
//     for consecutive mails and with a connection for every mail;
//  3. an individual run to a list of 100,000 recipients, once against the
//     sink and once against a sink that refuses every RCPT TO (so every
//     recipient ends up in the failure list): total, user and system time and
//     peak resident memory of the process that ran it;
//  4. the start-up's accounting for a 100,000-recipient run that died: the
//     journal left after the first mail, half-way and before the last mail
//     (1 % of the mails failed), then RecoverInterruptedSend.
// Prints figures only. Needs /usr/sbin/smtp-sink and smtp-source (postfix),
// openssl and python3-aiosmtpd; as root smtp-sink runs with -u nobody.
#include "core/AppState.h"
#include "core/DataFolder.h"
#include "core/FieldStore.h"
#include "core/SjisCodec.h"
#include "destinations/DestinationStore.h"
#include "send/SendEngine.h"
#include "send/SendJournal.h"
#include "send/SendRecovery.h"
#include "senders/SenderAccount.h"

#include <QTemporaryDir>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

using namespace vostrel;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kThroughputMails = 2000;
constexpr int kThroughputRuns = 5;
constexpr int kBodyBytes = 2048;
constexpr std::size_t kBigList = 100000;

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

bool Listening(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

pid_t Spawn(const std::vector<std::string> &args, bool quiet)
{
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet) {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// smtp-sink on a free port; extra options such as "-f", "RCPT".
class Sink
{
public:
    explicit Sink(std::vector<std::string> extra = {})
        : port_(FreePort())
    {
        std::vector<std::string> args = {"/usr/sbin/smtp-sink"};
        if (::geteuid() == 0) {
            args.push_back("-u");
            args.push_back("nobody");
        }
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back("127.0.0.1:" + std::to_string(port_));
        args.push_back("256");
        pid_ = Spawn(args, true);
        for (int i = 0; i < 500 && !Listening(port_); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (pid_ < 0 || !Listening(port_)) {
            std::fprintf(stderr, "smtp-sink did not start\n");
            Stop();
            std::exit(1);
        }
    }
    ~Sink() { Stop(); }
    int Port() const { return port_; }

private:
    void Stop()
    {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

    int port_;
    pid_t pid_ = -1;
};

void WriteAccount(int port)
{
    SenderAccount account;
    account.ConfName = "bench";
    account.SMTPAddress = "127.0.0.1";
    account.SMTPPort = std::to_string(port);
    account.FromAddress = "bench@example.jp";
    account.SenderName = Sjis("送信 太郎");
    WriteSenderAccount(SenderAccountPath("bench"), account);
}

// A list file written recipient by recipient, so that making it costs no
// memory in this process.
void WriteList(const std::string &name, std::size_t count)
{
    EncryptedFieldFile file = EncryptedFieldFile::Create(ReceiversFolder() / (name + ".vsl"));
    for (const char *flag : {"-1", "0", "0"})
        file.WriteField(flag);
    file.WriteField(std::to_string(count));
    const std::string honorific = Sjis("様");
    const std::string company = Sjis("株式会社サンプル");
    const std::string family = Sjis("山田 太郎");
    for (std::size_t i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        file.WriteField(family + n);
        file.WriteField(honorific);
        file.WriteField("user" + n + "@example.co.jp");
        for (int m = 1; m <= 10; ++m)
            file.WriteField(m == 1 ? company + n : "merge" + std::to_string(m) + "-" + n);
    }
    file.Commit();
}

SendJob Job(const std::string &list)
{
    SendJob job;
    job.senderNames = {"bench"};
    job.toLists = {list};
    job.sendIndividually = true;
    job.intervalMs = 0;
    job.subject = Sjis("ご案内 <#-送信先名-><#-敬称->");
    // About 2 KB of body, like smtp-source -l 2048.
    std::string body = Sjis("<#-送信先名-><#-敬称->\r\n<#-差込１->\r\n");
    const std::string line = Sjis("いつもお世話になっております。本日はご案内です。") + "\r\n";
    while (body.size() < kBodyBytes)
        body += line;
    job.body = body;
    return job;
}

// reuse off: a connection for every mail, as before connections were kept.
RunSendResult Run(const SendJob &job, bool reuse = true)
{
    std::atomic<bool> stop{false};
    RunSendOptions options;
    if (!reuse)
        options.mailsPerConnection = 1;
    return RunSend(job, {}, stop, options);
}

// Runs smtp-source with these options (-m, -l, -f, -t and the sink added);
// its rate in messages per second.
double SmtpSource(std::vector<std::string> options, int port)
{
    std::vector<std::string> args{"/usr/sbin/smtp-source"};
    args.insert(args.end(), options.begin(), options.end());
    for (const std::string &a :
         {std::string("-m"), std::to_string(kThroughputMails), std::string("-l"),
          std::to_string(kBodyBytes), std::string("-f"), std::string("bench@example.jp"),
          std::string("-t"), std::string("user@example.co.jp"),
          "127.0.0.1:" + std::to_string(port)})
        args.push_back(a);
    const Clock::time_point b = Clock::now();
    const pid_t source = Spawn(args, true);
    int status = 0;
    ::waitpid(source, &status, 0);
    return kThroughputMails / Seconds(Clock::now() - b);
}

void PrintLoad(const char *when)
{
    double load[3] = {};
    if (::getloadavg(load, 3) == 3)
        std::printf("load average %s: %.2f %.2f %.2f\n", when, load[0], load[1], load[2]);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void Throughput()
{
    const Sink sink;
    WriteAccount(sink.Port());
    WriteList("rate", kThroughputMails);
    const SendJob job = Job("rate");
    PrintLoad("before");
    std::vector<double> kept, sourceKept, each, sourceEach;
    for (int run = 0; run < kThroughputRuns; ++run) {
        // Ours and theirs in turns, the order changing.
        for (const bool ourFirst : {run % 2 == 0, run % 2 != 0}) {
            if (!ourFirst) {
                sourceKept.push_back(SmtpSource({"-d", "-s", "1"}, sink.Port()));
                sourceEach.push_back(SmtpSource({"-s", "1"}, sink.Port()));
                continue;
            }
            for (const bool reuse : {true, false}) {
                const Clock::time_point a = Clock::now();
                const RunSendResult result = Run(job, reuse);
                (reuse ? kept : each).push_back(kThroughputMails / Seconds(Clock::now() - a));
                if (result.sentCount != kThroughputMails)
                    std::fprintf(stderr, "only %lld sent: %s\n", result.sentCount,
                                 result.firstFailure.c_str());
            }
        }
    }
    PrintLoad("after");
    std::printf("throughput, %d mails of ~%d bytes, interval 0, journal on, median of %d rounds\n",
                kThroughputMails, kBodyBytes, kThroughputRuns);
    auto line = [](const char *what, const std::vector<double> &rates) {
        std::printf("  %-44s median %7.1f mails/s  (best %7.1f)\n", what, Median(rates),
                    *std::max_element(rates.begin(), rates.end()));
    };
    line("RunSend, one connection for the mails", kept);
    line("smtp-source -d -s 1 (one connection)", sourceKept);
    line("RunSend, a connection for every mail", each);
    line("smtp-source -s 1 (a connection per message)", sourceEach);
    std::printf("  ratio kept connection / smtp-source -d   median %.2f\n",
                Median(kept) / Median(sourceKept));
    std::printf("  ratio every mail / smtp-source           median %.2f\n",
                Median(each) / Median(sourceEach));
}

// Starts a Python program that prints "READY <port>" once it listens; its
// pid, and the port.
pid_t StartPython(const std::vector<std::string> &args, int &port)
{
    int out[2];
    if (::pipe(out) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 2);
        ::close(out[0]);
        std::vector<char *> argv{const_cast<char *>("/usr/bin/python3")};
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    std::string line;
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n')
        line += c;
    ::close(out[0]);
    port = line.starts_with("READY ") ? std::atoi(line.c_str() + 6) : 0;
    return pid;
}

void Latency(const std::string &folder)
{
    constexpr int kMails = 1000;
    const std::string cert = folder + "/cert.pem";
    const std::string key = folder + "/key.pem";
    int status = 0;
    ::waitpid(
        Spawn({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
               "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key, "-out", cert, "-days", "2",
               "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1"},
              true),
        &status, 0);
    ::setenv("SSL_CERT_FILE", cert.c_str(), 1);
    int serverPort = 0, relayPort = 0;
    const pid_t server =
        StartPython({VOSTREL_SOURCE_DIR "/tests/peers/smtp_peer.py", "--mode", "tls", "--cert",
                     cert, "--key", key, "--record", folder + "/sessions.jsonl", "--pipelining"},
                    serverPort);
    const pid_t relay = StartPython({VOSTREL_SOURCE_DIR "/bench/latency_relay.py", "--target",
                                     std::to_string(serverPort), "--delay-ms", "20"},
                                    relayPort);
    if (serverPort == 0 || relayPort == 0) {
        std::fprintf(stderr, "the TLS server or the relay did not start\n");
    } else {
        SenderAccount account;
        account.ConfName = "bench";
        account.SMTPAddress = "127.0.0.1";
        account.SMTPPort = std::to_string(relayPort);
        account.SMTPSSL = true;
        account.FromAddress = "bench@example.jp";
        WriteSenderAccount(SenderAccountPath("bench"), account);
        WriteList("latency", kMails);
        PrintLoad("before");
        double seconds[2] = {};
        for (const bool reuse : {true, false}) {
            const Clock::time_point a = Clock::now();
            const RunSendResult result = Run(Job("latency"), reuse);
            seconds[reuse ? 0 : 1] = Seconds(Clock::now() - a);
            if (result.sentCount != kMails)
                std::fprintf(stderr, "only %lld sent: %s\n", result.sentCount,
                             result.firstFailure.c_str());
        }
        PrintLoad("after");
        std::printf("latency, %d mails through a relay of 20 ms each way to implicit TLS "
                    "(PIPELINING offered)\n",
                    kMails);
        std::printf("  one connection for the mails   %7.1f s  (%6.1f ms a mail)\n", seconds[0],
                    seconds[0] * 1e3 / kMails);
        std::printf("  a connection for every mail    %7.1f s  (%6.1f ms a mail)\n", seconds[1],
                    seconds[1] * 1e3 / kMails);
        std::printf("  kept connection faster by %.1fx\n", seconds[1] / seconds[0]);
    }
    for (const pid_t pid : {relay, server}) {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
    ::unsetenv("SSL_CERT_FILE");
}

// Leaves the journal of an individual run to the big list that died while
// mail `reached` + 1 was on its way; every 100th mail failed.
void LeaveJournal(long long reached)
{
    SendJournalHeader header;
    header.runId = NewSendRunId();
    header.job = Job("big");
    header.job.senderNames = {"bench"};
    const auto now = std::chrono::system_clock::now();
    header.startTime = SendTimeText(now);
    header.startUnix =
        std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    RecipientDigest digest;
    DestinationListReader reader(DestinationListPath("big"));
    Recipient r;
    while (reader.Next(r)) {
        ++header.total;
        for (const std::string &field : r.fields)
            digest.Add(field);
    }
    header.digest = digest.Hex();
    const Clock::time_point a = Clock::now();
    SendJournalWriter journal(header, CurrentKey());
    for (long long n = 1; n <= reached; ++n)
        journal.Mail(n, n % 100 != 0, "550 refused");
    const double seconds = Seconds(Clock::now() - a);
    if (reached > 1)
        std::printf("journal of %lld mails written in %.3f s (%.2f us a mail, the plan included)\n",
                    reached, seconds, seconds * 1e6 / static_cast<double>(reached));
}

// The start-up's accounting for runs to the big list that died at three points.
void Recovery()
{
    WriteAccount(25);
    for (const long long reached :
         {1LL, static_cast<long long>(kBigList / 2), static_cast<long long>(kBigList - 1)}) {
        LeaveJournal(reached);
        const double progressMb =
            static_cast<double>(std::filesystem::file_size(SendProgressPath())) / 1e6;
        const Clock::time_point a = Clock::now();
        const SendRecoveryReport report = RecoverInterruptedSend();
        const double seconds = Seconds(Clock::now() - a);
        std::printf("accounting for a run of %zu that died after %lld mails (journal %.1f MB): "
                    "%.2f s\n",
                    kBigList, reached, progressMb, seconds);
        std::printf("  %lld sent, %zu failed, %lld unsent%s\n", report.run.sentCount,
                    report.run.failures.size(), report.run.unsentCount,
                    report.kind == SendRecoveryReport::Kind::Finished && !report.journalKept
                        ? ""
                        : "  (NOT FINISHED)");
        for (const std::string &list : {report.run.failedListName, report.run.unsentListName})
            if (!list.empty())
                DeleteDestinationList(list);
    }
}

// Runs an individual send to the big list in a child process; prints the
// child's time and peak resident memory.
void BigRun(const char *what, std::vector<std::string> sinkOptions)
{
    std::fflush(stdout);
    const Sink sink(std::move(sinkOptions));
    WriteAccount(sink.Port());
    const pid_t child = ::fork();
    if (child == 0) {
        const Clock::time_point a = Clock::now();
        const RunSendResult result = Run(Job("big"));
        const double seconds = Seconds(Clock::now() - a);
        std::printf("%s: %zu recipients, %lld sent, %zu failed, failure list %s\n", what, kBigList,
                    result.sentCount, result.failures.size(),
                    result.failedListName.empty() ? "none" : "stored");
        std::printf("  total %.1f s (%.0f mails/s)\n", seconds,
                    static_cast<double>(kBigList) / seconds);
        std::fflush(stdout);
        std::_Exit(0);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    auto cpu = [](const timeval &t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    std::printf("  user %.1f s, system %.1f s, peak RSS %.1f MB\n", cpu(usage.ru_utime),
                cpu(usage.ru_stime), static_cast<double>(usage.ru_maxrss) / 1024.0);
}

} // namespace

// One individual run of 10,000 mails to a sink that is already listening on
// port (for profiling the run alone: perf, strace -c).
void Profile(int port)
{
    WriteAccount(port);
    WriteList("profile", 10000);
    const Clock::time_point a = Clock::now();
    const RunSendResult result = Run(Job("profile"));
    std::printf("profile run: %lld of %lld sent in %.2f s\n", result.sentCount, result.total,
                Seconds(Clock::now() - a));
}

// Without an argument every part runs; "throughput", "latency", "big" or
// "recovery" runs one; "profile <port>" runs a profile run.
int main(int argc, char **argv)
{
    const std::string only = argc > 1 ? argv[1] : "";
    QTemporaryDir temp;
    ::setenv("XDG_DATA_HOME", (temp.path().toStdString() + "/xdg").c_str(), 1);
    SetDataFolder(DefaultDataFolder());
    std::filesystem::create_directories(DataFolder());
    PrepareDataFolder(DataFolder());
    SetCurrentKey(std::string(DefaultKey));

    if (only == "profile" && argc > 2) {
        Profile(std::atoi(argv[2]));
        return 0;
    }
    if (only.empty() || only == "throughput")
        Throughput();
    if (only.empty() || only == "latency")
        Latency(temp.path().toStdString());
    if (!only.empty() && only != "big" && only != "recovery")
        return 0;

    const Clock::time_point a = Clock::now();
    WriteList("big", kBigList);
    std::printf("list of %zu recipients written in %.1f s\n", kBigList, Seconds(Clock::now() - a));
    PrintLoad("now");
    if (only.empty() || only == "big") {
        BigRun("individual run, every mail accepted", {});
        BigRun("individual run, every RCPT TO refused", {"-f", "RCPT"});
    }
    if (only.empty() || only == "recovery")
        Recovery();
    return 0;
}

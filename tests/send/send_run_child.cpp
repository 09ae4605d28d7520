// Runs an individual send of one list from the account "A" of a data folder
// through the real transport, or the start-up's accounting for a run that did
// not end, and kills itself with SIGKILL at a chosen point, the way a crash or
// a power cut would stop it:
//
//   send_run_child <data folder> send <list> <kill op> <stop op> <kill step>
//   send_run_child <data folder> recover <kill step>
//
// An op is one call to the transport (a connection, a write, a line read),
// counted over the whole run from 1: at the kill op the process dies before
// making it, at the stop op the stop flag is set. 0 means never. A step is one
// of the bookkeeping steps of SetSendJournalStepHook ("-": never). A send that
// ends prints "start <start time in hex>"; the key is DefaultKey.
#include "SendTestUtil.h"

#include "core/AppState.h"
#include "send/SendEngine.h"
#include "send/SendRecovery.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace vostrel;

namespace {

long killOp = 0;
long stopOp = 0;
long ops = 0;
std::atomic<bool> stop{false};

void Tick()
{
    ++ops;
    if (ops == killOp)
        std::raise(SIGKILL);
    if (ops == stopOp)
        stop = true;
}

class CountedConnection : public Connection
{
public:
    explicit CountedConnection(std::unique_ptr<Connection> inner)
        : inner_(std::move(inner))
    {}
    void Write(std::string_view bytes, int stallMs) override
    {
        Tick();
        inner_->Write(bytes, stallMs);
    }
    std::string ReadLine(int timeoutMs) override
    {
        Tick();
        return inner_->ReadLine(timeoutMs);
    }
    void StartTls() override
    {
        Tick();
        inner_->StartTls();
    }
    void Close() noexcept override { inner_->Close(); }
    std::string Peer() const override { return inner_->Peer(); }

private:
    std::unique_ptr<Connection> inner_;
};

class CountedTransport : public Transport
{
public:
    std::unique_ptr<Connection> Connect(const std::string &host, int port, bool implicitTls,
                                        const TransportTimeouts &timeouts) override
    {
        Tick();
        return std::make_unique<CountedConnection>(
            RealTransport().Connect(host, port, implicitTls, timeouts));
    }
};

void KillAtStep(const std::string &killStep)
{
    SetSendJournalStepHook([killStep](const std::string &step) {
        if (step == killStep)
            std::raise(SIGKILL);
    });
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    SetDataFolder(argv[1]);
    SetCurrentKey(std::string(DefaultKey));
    const std::string mode = argv[2];
    if (mode == "recover" && argc == 4) {
        KillAtStep(argv[3]);
        RecoverInterruptedSend();
        return 0;
    }
    if (mode != "send" || argc != 7)
        return 2;
    killOp = std::strtol(argv[4], nullptr, 10);
    stopOp = std::strtol(argv[5], nullptr, 10);
    KillAtStep(argv[6]);

    SendJob job;
    job.senderNames = {"A"};
    job.toLists = {argv[3]};
    job.sendIndividually = true;
    job.subject = "Notice";
    job.body = "Hello\r\n";
    job.intervalMs = 0;
    CountedTransport transport;
    RunSendOptions options;
    options.transport = &transport;
    options.timeouts = {5000, 5000};
    const RunSendResult result = RunSend(job, {}, stop, options);
    std::printf("start %s\n", test::ToHex(result.startTime).c_str());
    return 0;
}

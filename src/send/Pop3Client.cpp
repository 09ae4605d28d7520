#include "send/Pop3Client.h"

#include "send/WireDialogue.h"

namespace vostrel {

using namespace wire;

Pop3Session::Pop3Session(Transport &transport, const SenderAccount &account, int port,
                         const TransportTimeouts &timeouts, ServerTlsMemory *memory)
    : connection_(transport.Connect(account.POPAddress, port, account.POPSSL, timeouts))
    , peer_(connection_->Peer())
    , timeouts_(timeouts)
{
    try {
        LogIn(account, port, memory);
    } catch (...) {
        // The destructor does not run for a constructor that throws.
        connection_->Close();
        throw;
    }
}

void Pop3Session::LogIn(const SenderAccount &account, int port, ServerTlsMemory *memory)
{
    ExpectOk("POP3 の接続時の応答", "POP3 サーバーが接続を受け付けませんでした");
    if (account.POPSSL) {
        if (memory)
            memory->Remember(account.POPAddress, port, TlsUpgrade::ImplicitTls);
    } else {
        // CAPA: a server that does not know it answers -ERR and offers nothing.
        bool stls = false;
        Write("CAPA", "POP3 の CAPA");
        if (ExpectOk("POP3 の CAPA", {}, true)) {
            constexpr std::size_t kMaxLines = 1000;
            for (std::size_t n = 0;; ++n) {
                const std::string line = ReadLine("POP3 の CAPA");
                if (line == ".")
                    break;
                if (n >= kMaxLines)
                    throw MailFailure{peer_ + ": POP3 サーバーの応答が長すぎます (POP3 の CAPA)",
                                      true};
                stls = stls || Upper(line.substr(0, line.find(' '))) == "STLS";
            }
        }
        if (stls) {
            Command("STLS", "STLS");
            try {
                connection_->StartTls();
            } catch (const TransportError &error) {
                FailDuring(error, "POP3 の STLS");
            }
            if (memory)
                memory->Remember(account.POPAddress, port, TlsUpgrade::Stls);
        } else if (const auto before = memory ? memory->Known(account.POPAddress, port)
                                              : std::optional<TlsUpgrade>()) {
            FailDowngrade(peer_, *before);
        }
    }
    Command("USER " + account.POPAccount, "USER");
    Command("PASS " + account.POPPass, "PASS");
}

Pop3Session::~Pop3Session()
{
    if (connection_)
        connection_->Close();
}

std::string Pop3Session::ReadLine(std::string_view step)
{
    try {
        return connection_->ReadLine(timeouts_.replyMs);
    } catch (const TransportError &error) {
        FailDuring(error, step);
    }
}

void Pop3Session::Write(const std::string &line, std::string_view step)
{
    try {
        connection_->Write(line + "\r\n", timeouts_.replyMs);
    } catch (const TransportError &error) {
        FailDuring(error, step);
    }
}

// Reads one reply of a step: "+OK" goes on (true), "-ERR" fails with
// "<peer>: <phrase>: -ERR ..." unless refusalIsAnswer (false), anything else
// is not POP3.
bool Pop3Session::ExpectOk(std::string_view step, std::string_view phrase, bool refusalIsAnswer)
{
    const std::string line = ReadLine(step);
    if (line.starts_with("+OK"))
        return true;
    if (line.starts_with("-ERR")) {
        if (refusalIsAnswer)
            return false;
        throw MailFailure{peer_ + ": " + std::string(phrase) + ": " + ServerText(line)};
    }
    throw MailFailure{peer_ + ": POP3 サーバーの応答が正しくありません: " + ServerText(line) +
                          " (" + std::string(step) + ")",
                      true};
}

std::string Pop3Session::Command(const std::string &line, std::string_view verb)
{
    const std::string step = "POP3 の " + std::string(verb);
    Write(line, step);
    const std::string reply = ReadLine(step);
    if (reply.starts_with("+OK"))
        return reply;
    if (reply.starts_with("-ERR"))
        throw MailFailure{peer_ + ": " + FailedText(step) + ": " + ServerText(reply)};
    throw MailFailure{peer_ + ": POP3 サーバーの応答が正しくありません: " + ServerText(reply) +
                          " (" + step + ")",
                      true};
}

void Pop3Session::MultiLine(const std::string &line, std::string_view verb,
                            const std::function<void(std::string_view line)> &onLine)
{
    Command(line, verb);
    const std::string step = "POP3 の " + std::string(verb);
    for (;;) {
        const std::string got = ReadLine(step);
        if (got == ".")
            return;
        std::string_view text = got;
        if (text.starts_with(".."))
            text.remove_prefix(1);
        onLine(text);
    }
}

void Pop3Session::Quit()
{
    Command("QUIT", "QUIT");
}

} // namespace vostrel

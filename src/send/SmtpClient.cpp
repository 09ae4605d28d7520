// The dialogues of one mail: POP3 log-in before SMTP (with STLS), then SMTP
// with STARTTLS, AUTH LOGIN or PLAIN, the envelope and the data.
#include "send/MailTransport.h"

#include "core/SjisCodec.h"
#include "send/Pop3Client.h"
#include "send/PzConv.h"
#include "send/WireDialogue.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <unistd.h>

namespace vostrel {

std::string DotStuff(std::string_view data)
{
    std::string out;
    out.reserve(data.size() + data.size() / 64 + 8);
    bool lineStart = true;
    for (std::size_t i = 0; i < data.size(); ++i) {
        const char c = data[i];
        if (c == '\r' || c == '\n') {
            // CR LF, and a CR or LF standing alone, all end a line as CR LF:
            // what the server takes for a line is what was stuffed.
            if (c == '\r' && i + 1 < data.size() && data[i + 1] == '\n')
                ++i;
            out += "\r\n";
            lineStart = true;
            continue;
        }
        if (lineStart && c == '.')
            out += '.';
        out += c;
        lineStart = false;
    }
    if (!lineStart)
        out += "\r\n";
    out += ".\r\n";
    return out;
}

namespace {

using namespace wire;

// The name this machine gives itself in EHLO and HELO: the host name when it
// is a usable domain name, otherwise "localhost".
std::string LocalHostName()
{
    char buffer[256] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0)
        return "localhost";
    const std::string name(buffer);
    if (name.empty())
        return "localhost";
    for (unsigned char c : name)
        if (!std::isalnum(c) && c != '-' && c != '.')
            return "localhost";
    return name;
}

std::string Base64(std::string_view bytes)
{
    return TPzConv::Base64Encode(bytes);
}

// A QUIT after a refusal is a courtesy: it gets a short wait.
constexpr int kQuitReplyMs = 10 * 1000;

// ---- SMTP ---------------------------------------------------------------

struct SmtpReply
{
    int code = 0;
    std::vector<std::string> lines; // whole lines, code included

    bool Is(int expected) const { return code == expected; }
    bool Positive() const { return code >= 200 && code < 400; }
    // The reply for the user: the code once, then every line's text.
    std::string Text() const
    {
        std::string text = std::to_string(code);
        for (const auto &line : lines)
            if (line.size() > 4)
                text += " " + ServerText(std::string_view(line).substr(4));
        return text;
    }
};

class SmtpDialogue
{
public:
    SmtpDialogue(Connection &connection, const TransportTimeouts &timeouts)
        : connection_(connection)
        , peer_(connection.Peer())
        , timeouts_(timeouts)
    {}

    // Reads one reply within timeoutMs (the reply time-out when 0).
    SmtpReply Read(std::string_view step, int timeoutMs = 0)
    {
        constexpr std::size_t kMaxLines = 1000;
        const int limit = timeoutMs > 0 ? timeoutMs : timeouts_.replyMs;
        SmtpReply reply;
        try {
            for (;;) {
                std::string line = connection_.ReadLine(limit);
                const bool wellFormed = line.size() >= 3 && std::isdigit((unsigned char)line[0]) &&
                                        std::isdigit((unsigned char)line[1]) &&
                                        std::isdigit((unsigned char)line[2]) &&
                                        (line.size() == 3 || line[3] == ' ' || line[3] == '-');
                if (!wellFormed)
                    throw MailFailure{peer_ + ": サーバーの応答が正しくありません: " +
                                          ServerText(line) + " (" + std::string(step) + ")",
                                      true};
                reply.lines.push_back(std::move(line));
                const std::string &last = reply.lines.back();
                if (last.size() == 3 || last[3] == ' ') {
                    reply.code = std::stoi(last.substr(0, 3));
                    return reply;
                }
                if (reply.lines.size() > kMaxLines)
                    throw MailFailure{
                        peer_ + ": サーバーの応答が長すぎます (" + std::string(step) + ")", true};
            }
        } catch (const TransportError &error) {
            FailDuring(error, step);
        }
    }

    void Send(std::string_view bytes, std::string_view step, int stallMs = 0)
    {
        try {
            connection_.Write(bytes, stallMs > 0 ? stallMs : timeouts_.replyMs);
        } catch (const TransportError &error) {
            FailDuring(error, step);
        }
    }

    // Sends one command line and reads its reply within timeoutMs (the reply
    // time-out when 0).
    SmtpReply Command(const std::string &line, std::string_view step, int timeoutMs = 0)
    {
        Send(line + "\r\n", step);
        return Read(step, timeoutMs);
    }

    // Fails the mail unless the reply has the expected code:
    // "<peer>: <phrase>: <the server's reply>".
    void Expect(const SmtpReply &reply, int expected, std::string_view phrase)
    {
        if (!reply.Is(expected))
            throw MailFailure{peer_ + ": " + std::string(phrase) + ": " + reply.Text()};
    }

    // After a refusal the server still listens: say goodbye. Errors here do
    // not matter any more.
    void QuitQuietly() noexcept
    {
        try {
            connection_.Write("QUIT\r\n", kQuitReplyMs);
            Read("QUIT", std::min(timeouts_.replyMs, kQuitReplyMs));
        } catch (...) {
        }
    }

    const std::string &Peer() const { return peer_; }
    Connection &Wire() { return connection_; }
    const TransportTimeouts &Timeouts() const { return timeouts_; }

private:
    Connection &connection_;
    std::string peer_;
    const TransportTimeouts &timeouts_;
};

struct Extensions
{
    bool startTls = false;
    std::vector<std::string> auth; // upper case

    bool Offers(std::string_view mechanism) const
    {
        for (const auto &m : auth)
            if (m == mechanism)
                return true;
        return false;
    }
};

// The service extensions an EHLO reply announces (every line after the first).
Extensions ParseEhlo(const SmtpReply &reply)
{
    Extensions ext;
    for (std::size_t i = 1; i < reply.lines.size(); ++i) {
        const std::string text = Upper(reply.lines[i].size() > 4 ? reply.lines[i].substr(4) : "");
        std::vector<std::string> words;
        std::size_t pos = 0;
        while (pos < text.size()) {
            const auto start = text.find_first_not_of(' ', pos);
            if (start == std::string::npos)
                break;
            const auto end = text.find(' ', start);
            words.push_back(text.substr(start, end - start));
            pos = end == std::string::npos ? text.size() : end;
        }
        if (words.empty())
            continue;
        if (words[0] == "STARTTLS") {
            ext.startTls = true;
        } else if (words[0] == "AUTH" || words[0].starts_with("AUTH=")) {
            if (words[0].size() > 5)
                ext.auth.push_back(words[0].substr(5)); // the old "AUTH=LOGIN" form
            ext.auth.insert(ext.auth.end(), words.begin() + 1, words.end());
        }
    }
    return ext;
}

// EHLO, or HELO when the server refuses EHLO. Extensions are known only
// after EHLO.
Extensions Hello(SmtpDialogue &smtp, const std::string &name)
{
    const SmtpReply ehlo = smtp.Command("EHLO " + name, "EHLO");
    if (ehlo.Is(250))
        return ParseEhlo(ehlo);
    if (ehlo.code < 500)
        smtp.Expect(ehlo, 250, FailedText("EHLO"));
    smtp.Expect(smtp.Command("HELO " + name, "HELO"), 250, FailedText("HELO"));
    return {};
}

void Authenticate(SmtpDialogue &smtp, const Extensions &ext, const SenderAccount &account)
{
    if (ext.Offers("LOGIN")) {
        constexpr std::string_view what = "SMTP認証 (AUTH LOGIN)";
        // The challenges' texts differ between servers ("Username:",
        // "User Name\0"); only their code counts.
        const std::string failed = FailedText(what);
        smtp.Expect(smtp.Command("AUTH LOGIN", what), 334, failed);
        smtp.Expect(smtp.Command(Base64(account.SMTPAccount), what), 334, failed);
        smtp.Expect(smtp.Command(Base64(account.SMTPPass), what), 235, failed);
        return;
    }
    if (ext.Offers("PLAIN")) {
        constexpr std::string_view what = "SMTP認証 (AUTH PLAIN)";
        std::string credentials;
        credentials += '\0';
        credentials += account.SMTPAccount;
        credentials += '\0';
        credentials += account.SMTPPass;
        SmtpReply reply = smtp.Command("AUTH PLAIN " + Base64(credentials), what);
        // A server that takes no initial response asks for it with 334.
        if (reply.Is(334))
            reply = smtp.Command(Base64(credentials), what);
        smtp.Expect(reply, 235, FailedText(what));
        return;
    }
    // Neither is offered: the mail goes on without authentication and the
    // server decides. No password leaves.
}

bool OffersPasswordAuth(const Extensions &ext)
{
    return ext.Offers("LOGIN") || ext.Offers("PLAIN");
}

void SendSmtp(Transport &transport, const SenderAccount &account, int port,
              const OutgoingMail &mail, const TransportTimeouts &timeouts, ServerTlsMemory *memory)
{
    auto connection = transport.Connect(account.SMTPAddress, port, account.SMTPSSL, timeouts);
    Closer closer(*connection);
    SmtpDialogue smtp(*connection, timeouts);
    try {
        smtp.Expect(smtp.Read("接続時の応答"), 220, "サーバーが接続を受け付けませんでした");
        if (account.SMTPSSL && memory)
            memory->Remember(account.SMTPAddress, port, TlsUpgrade::ImplicitTls);
        const std::string name = LocalHostName();
        Extensions ext = Hello(smtp, name);
        if (!account.SMTPSSL && ext.startTls) {
            smtp.Expect(smtp.Command("STARTTLS", "STARTTLS"), 220, FailedText("STARTTLS"));
            try {
                connection->StartTls();
            } catch (const TransportError &error) {
                FailDuring(error, "STARTTLS");
            }
            if (memory)
                memory->Remember(account.SMTPAddress, port, TlsUpgrade::StartTls);
            const SmtpReply again = smtp.Command("EHLO " + name, "EHLO");
            smtp.Expect(again, 250, FailedText("EHLO"));
            ext = ParseEhlo(again);
        } else if (!account.SMTPSSL) {
            // Plain all the way: no password to a server that hid its
            // encryption, nor to a submission port that should have it.
            if (const auto before =
                    memory ? memory->Known(account.SMTPAddress, port) : std::optional<TlsUpgrade>())
                FailDowngrade(smtp.Peer(), *before);
            if (port == 587 && account.SMTPAuth)
                throw MailFailure{smtp.Peer() +
                                  ": 送信用のポート 587 のサーバーが暗号化通信 (STARTTLS) に"
                                  "対応していないため、パスワードを送らずに送信を中止しました"};
        }
        if (account.SMTPAuth && OffersPasswordAuth(ext))
            Authenticate(smtp, ext, account);
        const TransportTimeouts &limits = smtp.Timeouts();
        const std::string from = "MAIL FROM:<" + mail.envelopeFrom + ">";
        const std::string shownFrom = ShownValue(from);
        smtp.Expect(smtp.Command(from, shownFrom), 250, FailedText(shownFrom));
        for (const auto &recipient : mail.recipients) {
            const std::string rcpt = "RCPT TO:<" + recipient + ">";
            const std::string shown = ShownValue(rcpt);
            const SmtpReply reply = smtp.Command(rcpt, shown);
            if (reply.code != 250 && reply.code != 251) // 251: will forward
                smtp.Expect(reply, 250, FailedText(shown));
        }
        smtp.Expect(smtp.Command("DATA", "DATA", limits.dataReplyMs), 354, FailedText("DATA"));
        smtp.Send(DotStuff(mail.data), "メール本文の送信", limits.blockMs);
        smtp.Expect(smtp.Read("メール本文の送信", limits.endOfDataMs), 250,
                    FailedText("メール本文の送信"));
    } catch (const MailFailure &failure) {
        if (!failure.broken)
            smtp.QuitQuietly();
        throw;
    }
    smtp.QuitQuietly();
}

} // namespace

DeliveryResult DeliverMail(Transport &transport, const SenderAccount &account,
                           const OutgoingMail &mail, const TransportTimeouts &timeouts,
                           ServerTlsMemory *memory, const std::atomic<bool> *stop)
{
    TransportTimeouts limits = timeouts;
    if (stop)
        limits.stop = stop;
    limits.mailDeadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(limits.mailMs, 0));
    try {
        // Everything is checked before the first connection.
        const int smtpPort = CheckPort("SMTPポート番号", account.SMTPPort);
        CheckHost("SMTPサーバーのアドレス", account.SMTPAddress);
        int popPort = 0;
        if (account.UsePOP) {
            popPort = CheckPort("POP3ポート番号", account.POPPort);
            CheckHost("POP3サーバーのアドレス", account.POPAddress);
            CheckShown("POP3のアカウント", account.POPAccount);
            CheckSecret("POP3のパスワード", account.POPPass);
        }
        if (account.SMTPAuth) {
            CheckShown("SMTPのアカウント", account.SMTPAccount);
            CheckSecret("SMTPのパスワード", account.SMTPPass);
        }
        CheckShown("送信元メールアドレス", mail.envelopeFrom);
        if (mail.recipients.empty())
            throw MailFailure{"宛先がないため送信できません"};
        for (const auto &recipient : mail.recipients)
            CheckShown("宛先メールアドレス", recipient);

        if (account.UsePOP)
            Pop3Session(transport, account, popPort, limits, memory).Quit();
        SendSmtp(transport, account, smtpPort, mail, limits, memory);
        return {true, {}, false};
    } catch (const MailFailure &failure) {
        return {false, CutReason(failure.reason), false};
    } catch (const TransportError &error) {
        // From a connect (it names the server), or the user's stop.
        return {false, CutReason(error.what()), error.Stopped()};
    } catch (const std::exception &error) {
        return {false, CutReason(error.what()), false};
    } catch (...) {
        return {false, "送信中に不明なエラーが発生しました", false};
    }
}

} // namespace vostrel

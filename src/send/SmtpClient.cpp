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
#include <optional>
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
            throw Refusal(reply, phrase);
    }

    // The failure a refusing reply makes: "<peer>: <phrase>: <the reply>".
    // temporaryIf4xx: a 4xx reply here asks to try again later.
    MailFailure Refusal(const SmtpReply &reply, std::string_view phrase,
                        bool temporaryIf4xx = false) const
    {
        MailFailure failure{peer_ + ": " + std::string(phrase) + ": " + reply.Text()};
        failure.code = reply.code;
        failure.temporary = temporaryIf4xx && reply.code >= 400 && reply.code < 500;
        return failure;
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
    bool pipelining = false;
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
        } else if (words[0] == "PIPELINING") {
            ext.pipelining = true;
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

void PopBeforeSmtp(Transport &transport, const SenderAccount &account, int port,
                   const TransportTimeouts &timeouts, ServerTlsMemory *memory)
{
    Pop3Session(transport, account, port, timeouts, memory).Quit();
}

} // namespace

// ---- One SMTP connection for consecutive mails ----------------------------

struct MailSession::State
{
    State(Transport &t, const TransportTimeouts &timeouts, ServerTlsMemory *m, int max)
        : transport(t)
        , base(timeouts)
        , memory(m)
        , maxMails(std::max(max, 1))
    {}

    Transport &transport;
    TransportTimeouts base;
    ServerTlsMemory *memory;
    int maxMails;

    TransportTimeouts limits; // the current mail's, its deadline included
    std::unique_ptr<Connection> connection;
    std::optional<SmtpDialogue> smtp;
    SenderAccount account; // what the connection was opened for
    Extensions ext;
    int mails = 0;             // transactions begun on the connection
    bool needRset = false;     // the last transaction failed before its data
    bool mailAccepted = false; // the server took this mail's MAIL FROM
    // The envelope of the next mail went out behind this one's data, its
    // replies still to be read.
    bool ahead = false;
    std::string aheadFrom;
    std::vector<std::string> aheadRecipients;
    std::chrono::steady_clock::time_point lastUse;
    long long connections = 0;

    // Closes the connection without a word.
    void Drop() noexcept
    {
        ahead = false;
        smtp.reset();
        if (connection)
            connection->Close();
        connection.reset();
    }

    void Quit() noexcept
    {
        // With an envelope ahead the server waits for content: only closing
        // ends that without a mail.
        if (smtp && !ahead)
            smtp->QuitQuietly();
        Drop();
    }

    // POP-before-SMTP, the connection, the greeting, EHLO, STARTTLS and AUTH.
    void Open(const SenderAccount &mailAccount, int smtpPort, int popPort)
    {
        if (mailAccount.UsePOP)
            PopBeforeSmtp(transport, mailAccount, popPort, limits, memory);
        connection =
            transport.Connect(mailAccount.SMTPAddress, smtpPort, mailAccount.SMTPSSL, limits);
        ++connections;
        smtp.emplace(*connection, limits);
        account = mailAccount;
        mails = 0;
        needRset = false;
        try {
            Greet(smtpPort);
        } catch (const MailFailure &failure) {
            if (failure.broken)
                Drop();
            else
                Quit();
            throw;
        } catch (...) {
            Drop();
            throw;
        }
    }

    void Greet(int port)
    {
        const SmtpReply greeting = smtp->Read("接続時の応答");
        if (!greeting.Is(220))
            throw smtp->Refusal(greeting, "サーバーが接続を受け付けませんでした", true);
        if (account.SMTPSSL && memory)
            memory->Remember(account.SMTPAddress, port, TlsUpgrade::ImplicitTls);
        static const std::string name = LocalHostName();
        ext = Hello(*smtp, name);
        if (!account.SMTPSSL && ext.startTls) {
            smtp->Expect(smtp->Command("STARTTLS", "STARTTLS"), 220, FailedText("STARTTLS"));
            try {
                connection->StartTls();
            } catch (const TransportError &error) {
                FailDuring(error, "STARTTLS");
            }
            if (memory)
                memory->Remember(account.SMTPAddress, port, TlsUpgrade::StartTls);
            const SmtpReply again = smtp->Command("EHLO " + name, "EHLO");
            smtp->Expect(again, 250, FailedText("EHLO"));
            ext = ParseEhlo(again);
        } else if (!account.SMTPSSL) {
            // Plain all the way: no password to a server that hid its
            // encryption, nor to a submission port that should have it.
            if (const auto before =
                    memory ? memory->Known(account.SMTPAddress, port) : std::optional<TlsUpgrade>())
                FailDowngrade(smtp->Peer(), *before);
            if (port == 587 && account.SMTPAuth)
                throw MailFailure{smtp->Peer() +
                                  ": 送信用のポート 587 のサーバーが暗号化通信 (STARTTLS) に"
                                  "対応していないため、パスワードを送らずに送信を中止しました"};
        }
        if (account.SMTPAuth && OffersPasswordAuth(ext))
            Authenticate(*smtp, ext, account);
    }

    // One mail over the open connection: the envelope, the data, the reply.
    // With PIPELINING the envelope of next (when given) follows the data in
    // the same write.
    void Transaction(const OutgoingMail &mail, const OutgoingMail *next)
    {
        mailAccepted = false;
        ++mails;
        bool dataSent = false;
        try {
            if (ahead) {
                ahead = false;
                PipelinedReplies(mail, false);
            } else if (ext.pipelining) {
                PipelinedEnvelope(mail);
            } else {
                Envelope(mail);
            }
            const TransportTimeouts &l = smtp->Timeouts();
            std::string content = DotStuff(mail.data);
            const bool lookAhead = next && ext.pipelining && mails < maxMails;
            if (lookAhead)
                content += EnvelopeGroup(*next);
            smtp->Send(content, "メール本文の送信", l.blockMs);
            dataSent = true;
            if (lookAhead) {
                ahead = true;
                aheadFrom = next->envelopeFrom;
                aheadRecipients = next->recipients;
            }
            smtp->Expect(smtp->Read("メール本文の送信", l.endOfDataMs), 250,
                         FailedText("メール本文の送信"));
        } catch (MailFailure &failure) {
            // After a refusal of the envelope the server still holds it.
            needRset = !dataSent;
            // 421: the server closes the connection.
            failure.broken = failure.broken || failure.code == 421;
            throw;
        }
    }

    void Rset(const SmtpReply &reply)
    {
        needRset = false;
        if (!reply.Is(250)) {
            MailFailure failure = smtp->Refusal(reply, FailedText("RSET"));
            failure.broken = true;
            throw failure;
        }
    }

    // MAIL FROM, RCPT TO and DATA, each waiting for its reply.
    void Envelope(const OutgoingMail &mail)
    {
        if (needRset)
            Rset(smtp->Command("RSET", "RSET"));
        const std::string from = "MAIL FROM:<" + mail.envelopeFrom + ">";
        const std::string shownFrom = ShownValue(from);
        const SmtpReply fromReply = smtp->Command(from, shownFrom);
        if (!fromReply.Is(250))
            throw smtp->Refusal(fromReply, FailedText(shownFrom), true);
        mailAccepted = true;
        for (const auto &recipient : mail.recipients) {
            const std::string rcpt = "RCPT TO:<" + recipient + ">";
            const std::string shown = ShownValue(rcpt);
            const SmtpReply reply = smtp->Command(rcpt, shown);
            if (reply.code != 250 && reply.code != 251) // 251: will forward
                throw smtp->Refusal(reply, FailedText(shown), true);
        }
        smtp->Expect(smtp->Command("DATA", "DATA", smtp->Timeouts().dataReplyMs), 354,
                     FailedText("DATA"));
    }

    static std::string EnvelopeGroup(const OutgoingMail &mail)
    {
        std::string group = "MAIL FROM:<" + mail.envelopeFrom + ">\r\n";
        for (const auto &recipient : mail.recipients)
            group += "RCPT TO:<" + recipient + ">\r\n";
        group += "DATA\r\n";
        return group;
    }

    // The same commands in one write (RFC 2920), then their replies in order.
    void PipelinedEnvelope(const OutgoingMail &mail)
    {
        const bool rset = needRset;
        smtp->Send((rset ? "RSET\r\n" : "") + EnvelopeGroup(mail),
                   ShownValue("MAIL FROM:<" + mail.envelopeFrom + ">"));
        PipelinedReplies(mail, rset);
    }

    // The replies to a pipelined envelope (after RSET's when rset).
    void PipelinedReplies(const OutgoingMail &mail, bool rset)
    {
        const std::string shownFrom = ShownValue("MAIL FROM:<" + mail.envelopeFrom + ">");
        if (rset)
            Rset(smtp->Read("RSET"));
        // The first refusal, in the order of the commands. After a 421 the
        // server says nothing more.
        std::optional<MailFailure> refused;
        auto note = [&](const SmtpReply &reply, std::string_view phrase, bool temporaryIf4xx) {
            if (!refused)
                refused = smtp->Refusal(reply, phrase, temporaryIf4xx);
            return reply.code != 421;
        };
        const SmtpReply fromReply = smtp->Read(shownFrom);
        mailAccepted = fromReply.Is(250);
        bool going = mailAccepted || note(fromReply, FailedText(shownFrom), true);
        for (std::size_t i = 0; going && i < mail.recipients.size(); ++i) {
            const std::string shown = ShownValue("RCPT TO:<" + mail.recipients[i] + ">");
            const SmtpReply reply = smtp->Read(shown);
            if (reply.code != 250 && reply.code != 251)
                going = note(reply, FailedText(shown), true);
        }
        if (!going)
            throw *refused;
        const SmtpReply data = smtp->Read("DATA", smtp->Timeouts().dataReplyMs);
        if (!refused) {
            smtp->Expect(data, 354, FailedText("DATA"));
            return;
        }
        // The server waits for the content of a mail that must not go: only
        // closing the connection ends it without delivering.
        refused->broken = refused->broken || data.Is(354);
        throw *refused;
    }
};

MailSession::MailSession(Transport &transport, const TransportTimeouts &timeouts,
                         ServerTlsMemory *memory, const std::atomic<bool> *stop, int maxMails)
    : state_(std::make_unique<State>(transport, timeouts, memory, maxMails))
{
    if (stop)
        state_->base.stop = stop;
}

MailSession::~MailSession()
{
    Close();
}

bool MailSession::IsOpen() const
{
    return state_->connection != nullptr;
}

long long MailSession::Connections() const
{
    return state_->connections;
}

void MailSession::Close() noexcept
{
    state_->Quit();
}

DeliveryResult MailSession::Send(const SenderAccount &account, const OutgoingMail &mail,
                                 const OutgoingMail *next)
{
    State &s = *state_;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point now = Clock::now();
    s.limits = s.base;
    s.limits.mailDeadline = now + std::chrono::milliseconds(std::max(s.limits.mailMs, 0));
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

        if (s.connection &&
            (!(account == s.account) || s.mails >= s.maxMails || now - s.lastUse > kMaxIdle ||
             (s.ahead &&
              (mail.envelopeFrom != s.aheadFrom || mail.recipients != s.aheadRecipients))))
            s.Quit();
        const bool reused = s.connection != nullptr;
        if (reused)
            s.connection->Renew(s.limits);
        else
            s.Open(account, smtpPort, popPort);
        s.lastUse = now;
        try {
            s.Transaction(mail, next);
        } catch (const MailFailure &failure) {
            // A kept connection that the server had given up before it took
            // anything of this mail: the mail goes out on a new one.
            if (!reused || s.mailAccepted || !failure.broken)
                throw;
            s.Drop();
            s.Open(account, smtpPort, popPort);
            s.Transaction(mail, next);
        }
        s.lastUse = Clock::now();
        return {true, {}, false};
    } catch (const MailFailure &failure) {
        if (failure.broken)
            s.Drop();
        s.lastUse = Clock::now();
        return {false, CutReason(failure.reason), false, failure.temporary};
    } catch (const TransportError &error) {
        // From a connect (it names the server), or the user's stop.
        s.Drop();
        return {false, CutReason(error.what()), error.Stopped()};
    } catch (const std::exception &error) {
        s.Drop();
        return {false, CutReason(error.what()), false};
    } catch (...) {
        s.Drop();
        return {false, "送信中に不明なエラーが発生しました", false};
    }
}

DeliveryResult DeliverMail(Transport &transport, const SenderAccount &account,
                           const OutgoingMail &mail, const TransportTimeouts &timeouts,
                           ServerTlsMemory *memory, const std::atomic<bool> *stop)
{
    MailSession session(transport, timeouts, memory, stop, 1);
    DeliveryResult result = session.Send(account, mail);
    session.Close();
    return result;
}

} // namespace vostrel

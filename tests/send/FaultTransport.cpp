#include "send/FaultTransport.h"

#include "core/Errors.h"

#include <QByteArray>
#include <cerrno>
#include <chrono>
#include <deque>
#include <optional>
#include <thread>

namespace vostrel::test {
namespace {

bool IsPopStep(WireStep step)
{
    return step >= WireStep::PopConnect;
}

std::string DefaultRefusal(WireStep step)
{
    switch (step) {
    case WireStep::Greeting:
        return "554 5.3.2 Service unavailable";
    case WireStep::Ehlo:
        return "502 5.5.2 Error: command not recognized";
    case WireStep::Helo:
        return "501 5.5.4 Syntax error in HELO";
    case WireStep::StartTls:
        return "454 4.7.0 TLS not available due to local problem";
    case WireStep::Auth:
        return "535 5.7.8 Authentication credentials invalid";
    case WireStep::MailFrom:
        return "553 5.7.1 Sender address rejected: not owned by user";
    case WireStep::RcptTo:
        return "550 5.1.1 User unknown";
    case WireStep::Data:
        return "554 5.5.1 Error: no valid recipients";
    case WireStep::EndOfData:
        return "554 5.6.0 Message rejected as spam";
    case WireStep::Quit:
        return "500 5.5.1 QUIT failed";
    case WireStep::PopGreeting:
        return "-ERR Service unavailable";
    case WireStep::PopUser:
        return "-ERR No such user";
    case WireStep::PopPass:
        return "-ERR [AUTH] Authentication failed.";
    case WireStep::PopQuit:
        return "-ERR QUIT failed";
    default:
        return "554 5.0.0 Refused";
    }
}

std::string Upper(std::string text)
{
    for (char &c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string FromBase64(const std::string &text)
{
    return QByteArray::fromBase64(QByteArray::fromStdString(text)).toStdString();
}

// The address between the angle brackets of "MAIL FROM:<a>" / "RCPT TO:<a>".
std::string AngleAddress(const std::string &line)
{
    const auto open = line.find('<');
    const auto close = line.rfind('>');
    if (open == std::string::npos || close == std::string::npos || close < open)
        return {};
    return line.substr(open + 1, close - open - 1);
}

} // namespace

class FaultConnection final : public Connection
{
public:
    FaultConnection(FaultTransport &transport, std::size_t index, std::string peer, bool pop,
                    const TransportTimeouts &timeouts)
        : transport_(transport)
        , index_(index)
        , peer_(std::move(peer))
        , pop_(pop)
        , timeouts_(timeouts)
    {}

    void Greet()
    {
        if (pop_)
            Respond(WireStep::PopGreeting, {"+OK Fault POP3 ready."});
        else
            Respond(WireStep::Greeting, {"220 fault.test ESMTP ready"});
    }

    void Write(std::string_view bytes, int /*stallMs*/) override
    {
        if (closed_)
            throw TransportError(peer_ + ": 接続は既に閉じられています");
        if (dropped_ || quitDone_)
            throw TransportError(wire_text::Closed(peer_));
        Update([&](WireSession &s) { s.writes.emplace_back(bytes); });
        input_.append(bytes);
        for (;;) {
            const auto end = input_.find('\n');
            if (end == std::string::npos)
                return;
            std::string line = input_.substr(0, end + 1);
            input_.erase(0, end + 1);
            if (inData_)
                DataLine(line);
            else
                CommandLine(line);
            if (dropped_)
                throw TransportError(wire_text::Closed(peer_));
        }
    }

    std::string ReadLine(int timeoutMs) override
    {
        if (closed_)
            throw TransportError(peer_ + ": 接続は既に閉じられています");
        if (!replies_.empty()) {
            std::string line = std::move(replies_.front());
            replies_.pop_front();
            return line;
        }
        if (dropped_ || quitDone_)
            throw TransportError(wire_text::Closed(peer_));
        // A server that does not answer: the read waits its whole time-out,
        // or until the stop flag is set.
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < until) {
            if (timeouts_.stop && timeouts_.stop->load())
                throw TransportError(wire_text::Stopped(peer_), true);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        throw TransportError(wire_text::TimedOut(peer_, timeoutMs));
    }

    void StartTls() override
    {
        if (closed_ || dropped_)
            throw TransportError(wire_text::Closed(peer_));
        if (tlsFailure_)
            throw TransportError(wire_text::CertificateRejected(peer_, tlsFailureText_));
        if (!startTlsAccepted_)
            throw TransportError(wire_text::TlsFailed(peer_, "STARTTLS が受け付けられていません"));
        startTlsAccepted_ = false;
        Update([](WireSession &s) { s.tls = true; });
    }

    void Close() noexcept override
    {
        closed_ = true;
        try {
            Update([](WireSession &s) { s.closedByClient = true; });
        } catch (...) {
        }
    }

    std::string Peer() const override { return peer_; }

private:
    template <typename F> void Update(F change)
    {
        std::lock_guard lock(transport_.mutex_);
        change(transport_.sessions_[index_]);
    }

    // The server's answer at step: the normal lines, or what a fault says.
    // True when the normal lines went out.
    bool Respond(WireStep step, std::vector<std::string> lines, const std::string &address = {})
    {
        std::optional<Fault> fault;
        {
            std::lock_guard lock(transport_.mutex_);
            fault = transport_.Find(transport_.sessions_[index_], step, address);
        }
        if (!fault || fault->kind == FaultKind::TlsFailure) {
            for (auto &line : lines)
                replies_.push_back(std::move(line));
            return true;
        }
        switch (fault->kind) {
        case FaultKind::Refuse:
            replies_.push_back(fault->reply.empty() ? DefaultRefusal(step) : fault->reply);
            break;
        case FaultKind::Drop:
            dropped_ = true;
            break;
        case FaultKind::Silent:
        case FaultKind::TlsFailure:
            silent_ = true;
            break;
        }
        return false;
    }

    void CommandLine(std::string line)
    {
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        Update([&](WireSession &s) { s.commands.push_back(line); });
        if (silent_)
            return; // a hung server reads but never answers
        if (pop_)
            PopCommand(line);
        else
            SmtpCommand(line);
    }

    void SmtpCommand(const std::string &line)
    {
        if (authStage_ == 1) {
            login_ = FromBase64(line);
            authStage_ = 2;
            replies_.push_back("334 UGFzc3dvcmQ6");
            return;
        }
        if (authStage_ == 2) {
            authStage_ = 0;
            FinishAuth("LOGIN", login_, FromBase64(line));
            return;
        }
        if (authStage_ == 3) {
            authStage_ = 0;
            FinishPlain(line);
            return;
        }
        const std::string verb = Upper(line.substr(0, line.find(' ')));
        const std::string argument =
            line.find(' ') == std::string::npos ? std::string() : line.substr(line.find(' ') + 1);
        if (verb == "EHLO") {
            std::vector<std::string> lines{"fault.test"};
            bool tls;
            {
                std::lock_guard lock(transport_.mutex_);
                tls = transport_.sessions_[index_].tls;
            }
            if (transport_.server.offerStartTls && !tls)
                lines.push_back("STARTTLS");
            if (transport_.server.offerPipelining)
                lines.push_back("PIPELINING");
            if (!transport_.server.authMechanisms.empty()) {
                std::string auth = "AUTH";
                for (const auto &m : transport_.server.authMechanisms)
                    auth += " " + m;
                lines.push_back(auth);
            }
            lines.push_back("8BITMIME");
            for (std::size_t i = 0; i < lines.size(); ++i)
                lines[i] = (i + 1 < lines.size() ? "250-" : "250 ") + lines[i];
            Respond(WireStep::Ehlo, std::move(lines));
        } else if (verb == "HELO") {
            Respond(WireStep::Helo, {"250 fault.test"});
        } else if (verb == "STARTTLS") {
            Fault tlsFault(WireStep::StartTls, FaultKind::TlsFailure);
            bool tlsFails = false;
            {
                std::lock_guard lock(transport_.mutex_);
                if (const auto f =
                        transport_.Find(transport_.sessions_[index_], WireStep::StartTls);
                    f && f->kind == FaultKind::TlsFailure) {
                    tlsFault = *f;
                    tlsFails = true;
                }
            }
            if (Respond(WireStep::StartTls, {"220 2.0.0 Ready to start TLS"})) {
                startTlsAccepted_ = true;
                if (tlsFails) {
                    tlsFailure_ = true;
                    tlsFailureText_ =
                        tlsFault.reply.empty() ? "certificate has expired" : tlsFault.reply;
                }
            }
        } else if (verb == "AUTH") {
            const std::string mechanism = Upper(argument.substr(0, argument.find(' ')));
            bool offered = false;
            for (const auto &m : transport_.server.authMechanisms)
                offered = offered || Upper(m) == mechanism;
            if (!offered) {
                replies_.push_back("504 5.5.4 Unrecognized authentication type");
            } else if (mechanism == "LOGIN") {
                authStage_ = 1;
                replies_.push_back("334 VXNlcm5hbWU6");
            } else if (transport_.server.plainChallenge ||
                       argument.find(' ') == std::string::npos) {
                authStage_ = 3;
                replies_.push_back("334 ");
            } else {
                FinishPlain(argument.substr(argument.find(' ') + 1));
            }
        } else if (verb == "MAIL") {
            const std::string address = AngleAddress(line);
            if (inMail_) {
                replies_.push_back("503 5.5.1 Error: nested MAIL command");
                return;
            }
            Update([&](WireSession &s) { s.transaction = ++transport_.transactionCount_; });
            received_ = 0;
            accepted_ = 0;
            if (Respond(WireStep::MailFrom, {"250 2.1.0 Ok"})) {
                inMail_ = true;
                Update([&](WireSession &s) {
                    s.mailFrom = address;
                    s.recipients.clear();
                    s.wireData.clear();
                    s.data.clear();
                    s.delivered = false;
                    s.mails.push_back({s.number, s.transaction, address, {}, {}, {}, false});
                });
            }
        } else if (verb == "RCPT") {
            const std::string address = AngleAddress(line);
            if (!inMail_)
                replies_.push_back("503 5.5.1 Error: need MAIL command");
            else if (Respond(WireStep::RcptTo, {"250 2.1.5 Ok"}, address) && ++accepted_)
                Update([&](WireSession &s) {
                    s.recipients.push_back(address);
                    s.mails.back().recipients.push_back(address);
                });
        } else if (verb == "DATA") {
            if (!inMail_ || accepted_ == 0)
                replies_.push_back("554 5.5.1 Error: no valid recipients");
            else if (Respond(WireStep::Data, {"354 End data with <CR><LF>.<CR><LF>"}))
                inData_ = true;
        } else if (verb == "QUIT") {
            Respond(WireStep::Quit, {"221 2.0.0 Bye"});
            quitDone_ = true;
        } else if (verb == "RSET") {
            inMail_ = false;
            replies_.push_back("250 2.0.0 Ok");
        } else if (verb == "NOOP") {
            replies_.push_back("250 2.0.0 Ok");
        } else {
            replies_.push_back("502 5.5.2 Error: command not recognized");
        }
    }

    // The Base64 "\0login\0password" of AUTH PLAIN.
    void FinishPlain(const std::string &base64)
    {
        const std::string plain = FromBase64(base64);
        const auto first = plain.find('\0');
        const auto second = first == std::string::npos ? first : plain.find('\0', first + 1);
        if (second == std::string::npos) {
            replies_.push_back("501 5.5.2 Can't split auth value");
            return;
        }
        FinishAuth("PLAIN", plain.substr(first + 1, second - first - 1), plain.substr(second + 1));
    }

    void FinishAuth(const std::string &mechanism, const std::string &login,
                    const std::string &password)
    {
        Update([&](WireSession &s) {
            s.authMechanism = mechanism;
            s.authLogin = login;
            s.authPassword = password;
        });
        const auto &server = transport_.server;
        const bool accepted =
            server.login.empty() || (login == server.login && password == server.password);
        Respond(WireStep::Auth, {accepted ? "235 2.7.0 Authentication successful"
                                          : "535 5.7.8 Authentication credentials invalid"});
    }

    void DataLine(const std::string &line)
    {
        Fault drop(WireStep::DataContent, FaultKind::Drop);
        bool drops = false;
        {
            std::lock_guard lock(transport_.mutex_);
            if (const auto f = transport_.Find(transport_.sessions_[index_], WireStep::DataContent);
                f && f->kind == FaultKind::Drop) {
                drop = *f;
                drops = true;
            }
        }
        if (drops && received_ + line.size() > drop.afterBytes) {
            const std::string taken = line.substr(0, drop.afterBytes - received_);
            Update([&](WireSession &s) {
                s.wireData += taken;
                s.mails.back().wireData += taken;
            });
            dropped_ = true;
            return;
        }
        received_ += line.size();
        Update([&](WireSession &s) {
            s.wireData += line;
            s.mails.back().wireData += line;
        });
        if (line != ".\r\n")
            return;
        inData_ = false;
        inMail_ = false;
        std::string data;
        {
            std::lock_guard lock(transport_.mutex_);
            const std::string &wire = transport_.sessions_[index_].wireData;
            std::size_t start = 0;
            while (start < wire.size()) {
                auto end = wire.find('\n', start);
                end = end == std::string::npos ? wire.size() : end + 1;
                std::string_view one(wire.data() + start, end - start);
                if (one == ".\r\n")
                    break;
                if (one.starts_with('.'))
                    one.remove_prefix(1);
                data.append(one);
                start = end;
            }
        }
        const bool accepted = Respond(WireStep::EndOfData, {"250 2.0.0 Ok: queued as FAULT"});
        Update([&](WireSession &s) {
            s.data = data;
            s.delivered = accepted;
            s.mails.back().data = data;
            s.mails.back().delivered = accepted;
        });
    }

    void PopCommand(const std::string &line)
    {
        const std::string verb = Upper(line.substr(0, line.find(' ')));
        const std::string argument =
            line.find(' ') == std::string::npos ? std::string() : line.substr(line.find(' ') + 1);
        const auto &server = transport_.server;
        if (verb == "USER") {
            popUser_ = argument;
            Respond(WireStep::PopUser, {"+OK"});
        } else if (verb == "PASS") {
            const bool accepted = server.popUser.empty() ||
                                  (popUser_ == server.popUser && argument == server.popPassword);
            Respond(WireStep::PopPass,
                    {accepted ? "+OK Logged in." : "-ERR [AUTH] Authentication failed."});
        } else if (verb == "QUIT") {
            Respond(WireStep::PopQuit, {"+OK Logging out."});
            quitDone_ = true;
        } else if (verb == "CAPA" && server.popCapa) {
            bool tls;
            {
                std::lock_guard lock(transport_.mutex_);
                tls = transport_.sessions_[index_].tls;
            }
            replies_.push_back("+OK");
            replies_.push_back("USER");
            if (server.offerStls && !tls)
                replies_.push_back("STLS");
            replies_.push_back(".");
        } else if (verb == "STLS" && server.offerStls) {
            replies_.push_back("+OK Begin TLS negotiation now.");
            startTlsAccepted_ = true;
        } else {
            replies_.push_back("-ERR Unknown command.");
        }
    }

    FaultTransport &transport_;
    std::size_t index_;
    std::string peer_;
    bool pop_;
    TransportTimeouts timeouts_;

    std::string input_;
    std::deque<std::string> replies_;
    bool closed_ = false;
    bool dropped_ = false;
    bool silent_ = false;
    bool quitDone_ = false;
    bool inData_ = false;
    bool inMail_ = false; // a MAIL FROM was accepted and no transaction ended since
    int accepted_ = 0;    // recipients accepted in this transaction
    std::size_t received_ = 0;
    int authStage_ = 0; // AUTH LOGIN: 1 waits for the user, 2 for the password; 3: AUTH PLAIN
    std::string login_;
    std::string popUser_;
    bool startTlsAccepted_ = false;
    bool tlsFailure_ = false;
    std::string tlsFailureText_;
};

void FaultTransport::Add(Fault fault)
{
    std::lock_guard lock(mutex_);
    faults_.push_back(std::move(fault));
}

void FaultTransport::RefuseAt(WireStep step, int mail, std::string reply)
{
    Add(Fault(step).Reply(std::move(reply)).OnMail(mail));
}

void FaultTransport::RefuseRecipient(std::string address, int mail, std::string reply)
{
    Add(Fault(WireStep::RcptTo)
            .ForAddress(std::move(address))
            .OnMail(mail)
            .Reply(std::move(reply)));
}

void FaultTransport::DropAt(WireStep step, int mail, std::size_t afterBytes)
{
    Add(Fault(step, FaultKind::Drop).OnMail(mail).AfterBytes(afterBytes));
}

void FaultTransport::SilentAt(WireStep step, int mail)
{
    Add(Fault(step, FaultKind::Silent).OnMail(mail));
}

void FaultTransport::FailTlsAt(WireStep step, int mail, std::string verifyError)
{
    Add(Fault(step, FaultKind::TlsFailure).OnMail(mail).Reply(std::move(verifyError)));
}

std::vector<WireSession> FaultTransport::Sessions() const
{
    std::lock_guard lock(mutex_);
    return sessions_;
}

std::vector<WireSession> FaultTransport::SmtpSessions() const
{
    std::vector<WireSession> out;
    for (auto &s : Sessions())
        if (!s.pop)
            out.push_back(std::move(s));
    return out;
}

std::vector<WireSession> FaultTransport::PopSessions() const
{
    std::vector<WireSession> out;
    for (auto &s : Sessions())
        if (s.pop)
            out.push_back(std::move(s));
    return out;
}

std::vector<WireMail> FaultTransport::Delivered() const
{
    std::vector<WireMail> out;
    for (const auto &s : SmtpSessions())
        for (const WireMail &mail : s.mails)
            if (mail.delivered)
                out.push_back(mail);
    return out;
}

bool FaultTransport::AllClosed() const
{
    std::lock_guard lock(mutex_);
    for (const auto &s : sessions_)
        if (s.connected && !s.closedByClient)
            return false;
    return true;
}

void FaultTransport::ClearSessions()
{
    std::lock_guard lock(mutex_);
    sessions_.clear();
    smtpCount_ = 0;
    popCount_ = 0;
    transactionCount_ = 0;
}

std::optional<Fault> FaultTransport::Find(const WireSession &session, WireStep step,
                                          const std::string &address) const
{
    for (const auto &fault : faults_) {
        if (fault.step != step || IsPopStep(step) != session.pop)
            continue;
        if (fault.mail != 0 && fault.mail != session.number)
            continue;
        if (fault.transaction != 0 && (step < WireStep::MailFrom || step > WireStep::EndOfData ||
                                       fault.transaction != session.transaction))
            continue;
        if (!fault.host.empty() && fault.host != session.host)
            continue;
        if (step == WireStep::RcptTo && !fault.address.empty() && fault.address != address)
            continue;
        return fault;
    }
    return std::nullopt;
}

std::unique_ptr<Connection> FaultTransport::Connect(const std::string &host, int port,
                                                    bool implicitTls,
                                                    const TransportTimeouts &timeouts)
{
    const std::string peer = PeerName(host, port);
    std::size_t index;
    bool pop;
    Fault fault(WireStep::Connect);
    bool faulted = false;
    {
        std::lock_guard lock(mutex_);
        WireSession session;
        session.pop = pop = popPorts.count(port) > 0;
        session.number = pop ? ++popCount_ : ++smtpCount_;
        session.host = host;
        session.port = port;
        session.implicitTls = implicitTls;
        session.timeouts = timeouts;
        if (const auto f = Find(session, pop ? WireStep::PopConnect : WireStep::Connect)) {
            fault = *f;
            faulted = fault.kind != FaultKind::TlsFailure || implicitTls;
        }
        session.connected = !faulted;
        session.tls = implicitTls && !faulted;
        index = sessions_.size();
        sessions_.push_back(std::move(session));
    }
    if (faulted) {
        switch (fault.kind) {
        case FaultKind::Refuse:
            throw TransportError(
                wire_text::ConnectFailed(peer, FileError::ErrnoText(ECONNREFUSED)));
        case FaultKind::Drop:
            throw TransportError(wire_text::Closed(peer));
        case FaultKind::Silent:
            std::this_thread::sleep_for(std::chrono::milliseconds(timeouts.connectMs));
            throw TransportError(wire_text::TimedOut(peer, timeouts.connectMs));
        case FaultKind::TlsFailure:
            throw TransportError(wire_text::CertificateRejected(
                peer, fault.reply.empty() ? "certificate has expired" : fault.reply));
        }
    }
    auto connection = std::make_unique<FaultConnection>(*this, index, peer, pop, timeouts);
    connection->Greet();
    return connection;
}

} // namespace vostrel::test

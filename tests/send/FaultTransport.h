// FaultTransport: an in-process SMTP and POP3 server behind the Transport
// seam, for tests that need faults no real server produces on demand (a
// refusal at any step, a connection dropped in the middle of DATA, a server
// that never answers, a certificate that does not verify).
//
// Use:
//   vostrel::test::FaultTransport wire;
//   wire.RefuseRecipient("bad@example.jp");          // 550 for that RCPT TO
//   wire.DropAt(WireStep::DataContent, 3);           // mail 3 loses its connection
//   wire.Add(Fault(WireStep::Greeting, FaultKind::Silent).OnMail(2).OnHost("smtp.b.jp"));
//   DeliverMail(wire, account, mail, {.connectMs = 50, .replyMs = 50});
//   // or RunSend(job, sink, stop, {.transport = &wire, .timeouts = ...})
//   wire.Sessions()   // what the server saw on every connection
//   wire.Delivered()  // the mails it accepted
//
// Connections to a port in popPorts speak POP3, all others SMTP. "Mail n" is
// the n-th SMTP connection made through this transport; POP3 steps count
// POP3 connections the same way. "Transaction n" is the n-th MAIL FROM the
// server heard over all its SMTP connections (a connection may carry several
// mails). Without faults the server
// accepts everything: EHLO (offering AUTH LOGIN and PLAIN, and STARTTLS when
// asked to), any credentials unless some are set, every sender and recipient.
// A Silent fault really waits the connection's time-out before the read
// fails, so give short TransportTimeouts. The transport must outlive the
// connections it made. Set server and popPorts before connecting; the rest is
// thread-safe: a run may use it on its own thread while the test reads
// Sessions().
#pragma once

#include "send/MailTransport.h"

#include <cstddef>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vostrel::test {

// The places in a connection's dialogue where a fault can strike.
enum class WireStep
{
    // SMTP
    Connect,     // opening the connection (with the implicit TLS handshake)
    Greeting,    // the 220 greeting
    Ehlo,        // the reply to EHLO (a refusal makes the client try HELO)
    Helo,        // the reply to HELO
    StartTls,    // the reply to STARTTLS and the handshake after it
    Auth,        // the final reply of AUTH LOGIN or AUTH PLAIN
    MailFrom,    // the reply to MAIL FROM
    RcptTo,      // the reply to RCPT TO (Fault::address narrows it to one recipient)
    Data,        // the reply to the DATA command
    DataContent, // while the content arrives (Drop only; see Fault::afterBytes)
    EndOfData,   // the reply after the final "."
    Quit,        // the reply to QUIT
                 // POP3
    PopConnect,
    PopGreeting,
    PopUser,
    PopPass,
    PopQuit,
};

enum class FaultKind
{
    Refuse,     // the server answers with Fault::reply (a fitting negative reply when empty)
    Drop,       // the server closes the connection instead of answering
    Silent,     // the server never answers: the read fails after the reply time-out
                // (the connect time-out at Connect)
    TlsFailure, // Connect/PopConnect with implicit TLS, or StartTls: the server's
                // certificate does not verify (Fault::reply: the verify error text)
};

// One scripted fault: Fault(WireStep::RcptTo).ForAddress("x@example.jp").OnMail(2)
struct Fault
{
    WireStep step = WireStep::Connect;
    FaultKind kind = FaultKind::Refuse;
    std::string reply;   // see FaultKind
    int mail = 0;        // strikes only the n-th SMTP (POP3) connection, from 1; 0: every one
    int transaction = 0; // MailFrom .. EndOfData: strikes only the n-th MAIL FROM, from 1
    std::string host;    // strikes only connections to this host; empty: any
    std::string address; // RcptTo: strikes only this recipient; empty: any
    std::size_t afterBytes = 0; // DataContent: content bytes (as on the wire) taken before the drop

    explicit Fault(WireStep at, FaultKind how = FaultKind::Refuse)
        : step(at)
        , kind(how)
    {}
    Fault &Reply(std::string text)
    {
        reply = std::move(text);
        return *this;
    }
    Fault &OnMail(int n)
    {
        mail = n;
        return *this;
    }
    Fault &OnTransaction(int n)
    {
        transaction = n;
        return *this;
    }
    Fault &OnHost(std::string name)
    {
        host = std::move(name);
        return *this;
    }
    Fault &ForAddress(std::string recipient)
    {
        address = std::move(recipient);
        return *this;
    }
    Fault &AfterBytes(std::size_t n)
    {
        afterBytes = n;
        return *this;
    }
};

// How the server behaves where no fault strikes.
struct FaultServerSettings
{
    bool offerStartTls = false; // "250-STARTTLS" on a plain connection
    std::vector<std::string> authMechanisms{"LOGIN", "PLAIN"}; // in the EHLO reply; empty: no AUTH
    std::string login, password;  // when login is set, AUTH accepts only these
    bool plainChallenge = false;  // AUTH PLAIN asks for the credentials with "334 " even when given
    bool offerPipelining = false; // "250-PIPELINING" in the EHLO reply
    std::string popUser, popPassword; // when popUser is set, POP3 accepts only these
    bool popCapa = true;              // POP3 answers CAPA (else "-ERR")
    bool offerStls = false;           // CAPA lists STLS on a plain POP3 connection
};

// One mail transaction (from MAIL FROM) as the server saw it.
struct WireMail
{
    int number = 0;      // the connection's number
    int transaction = 0; // n-th MAIL FROM of the transport, from 1
    std::string mailFrom;
    std::vector<std::string> recipients; // accepted RCPT TO addresses, in order
    std::string wireData;                // as in WireSession
    std::string data;
    bool delivered = false;
};

// What the server saw on one connection.
struct WireSession
{
    bool pop = false;
    int number = 0; // n-th SMTP (or POP3) connection, from 1
    std::string host;
    int port = 0;
    bool implicitTls = false;
    TransportTimeouts timeouts;
    bool connected = false; // false: a Connect fault struck
    bool tls = false;       // TLS was on at the end (implicit or after STARTTLS)
    // Every line the client sent outside the DATA content, without CR LF, in
    // order (AUTH LOGIN's Base64 answers included).
    std::vector<std::string> commands;
    std::string authMechanism, authLogin, authPassword; // decoded, as last sent
    // The last mail transaction of the connection (see mails for all):
    std::string mailFrom;                // accepted MAIL FROM address
    std::vector<std::string> recipients; // accepted RCPT TO addresses, in order
    std::string wireData;        // the DATA content as it arrived (dot-stuffed, end line included)
    std::string data;            // the content as the server keeps it (dot-stuffing removed)
    bool delivered = false;      // the server accepted the mail (250 after ".")
    bool closedByClient = false; // the client called Close()
    std::vector<WireMail> mails; // every transaction whose MAIL FROM was accepted, in order
    std::vector<std::string> writes; // the bytes of every write, as written
    int transaction = 0;             // the transaction under way (0: none yet)
};

class FaultConnection;

class FaultTransport : public Transport
{
public:
    FaultServerSettings server;
    std::set<int> popPorts{110, 995};

    void Add(Fault fault);
    // Shorthands for Add.
    void RefuseAt(WireStep step, int mail = 0, std::string reply = {});
    void RefuseRecipient(std::string address, int mail = 0, std::string reply = {});
    void DropAt(WireStep step, int mail = 0, std::size_t afterBytes = 0);
    void SilentAt(WireStep step, int mail = 0);
    void FailTlsAt(WireStep step, int mail = 0, std::string verifyError = {});

    // Every connection so far (SMTP and POP3), in the order they were opened.
    std::vector<WireSession> Sessions() const;
    std::vector<WireSession> SmtpSessions() const;
    std::vector<WireSession> PopSessions() const;
    // The mails the server accepted, in order.
    std::vector<WireMail> Delivered() const;
    // True when the client closed every connection it opened.
    bool AllClosed() const;
    // Forgets sessions and counts (the faults and settings stay).
    void ClearSessions();

    std::unique_ptr<Connection> Connect(const std::string &host, int port, bool implicitTls,
                                        const TransportTimeouts &timeouts) override;

private:
    friend class FaultConnection;

    // The first fault added for this step of that session.
    std::optional<Fault> Find(const WireSession &session, WireStep step,
                              const std::string &address = {}) const;

    mutable std::mutex mutex_;
    std::vector<Fault> faults_;
    std::vector<WireSession> sessions_;
    int smtpCount_ = 0;
    int popCount_ = 0;
    int transactionCount_ = 0;
};

} // namespace vostrel::test

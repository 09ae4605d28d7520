// The wire side of sending: byte streams to mail servers (plain TCP or TLS)
// and the SMTP and POP3 dialogues of one mail. The send engine reaches the
// network only through a Transport, so tests can put a fault-injecting one in
// its place.
#pragma once

#include "senders/SenderAccount.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vostrel {

// Why a connection step failed. what() is UTF-8 text for the user that names
// the server ("smtp.example.jp:587") and the reason (a refused connection, a
// time-out, a certificate that does not verify, the server's reply line).
class TransportError : public std::runtime_error
{
public:
    explicit TransportError(const std::string &what, bool stopped = false)
        : std::runtime_error(what)
        , stopped_(stopped)
    {}
    // The user's stop ended the step, not the server or the network.
    bool Stopped() const { return stopped_; }

private:
    bool stopped_ = false;
};

// How long each step of a mail may take, after the limits RFC 5321 (4.5.3.2)
// recommends for clients, and what else ends a wait early.
struct TransportTimeouts
{
    int connectMs = 30 * 1000;        // to connect, and for each TLS handshake
    int replyMs = 5 * 60 * 1000;      // the greeting, EHLO, AUTH, MAIL, RCPT, POP3 replies
    int dataReplyMs = 2 * 60 * 1000;  // the reply to DATA
    int blockMs = 3 * 60 * 1000;      // each block of the content written
    int endOfDataMs = 10 * 60 * 1000; // the reply after the final "."
    int lookupMs = 30 * 1000;         // the name lookup of the server
    int mailMs = 30 * 60 * 1000;      // the whole mail, POP-before-SMTP included
    // Set by DeliverMail for the connections of one mail: the moment the whole
    // mail must be over (none when zero), and a flag that ends every wait at
    // once when it becomes true (the user's stop).
    std::chrono::steady_clock::time_point mailDeadline{};
    const std::atomic<bool> *stop = nullptr;

    // Every step limited to the same ms (tests).
    static TransportTimeouts All(int ms) { return {ms, ms, ms, ms, ms, ms, ms * 20}; }
};

// One open connection to a server. Every call throws TransportError on
// failure; a time-out is a failure, and so is the stop flag or the end of the
// whole mail's time (TransportTimeouts) arriving while a call waits.
class Connection
{
public:
    virtual ~Connection() = default;
    // Writes all bytes; a stall longer than stallMs (no byte taken) fails.
    virtual void Write(std::string_view bytes, int stallMs) = 0;
    // Reads one line up to LF within timeoutMs and returns it without its CR LF.
    virtual std::string ReadLine(int timeoutMs) = 0;
    // Upgrades a plain connection to TLS (STARTTLS / STLS), verifying the
    // server's certificate and host name as Connect does for implicit TLS.
    virtual void StartTls() = 0;
    // Closes the connection; never throws.
    virtual void Close() noexcept = 0;
    // The limits of the next mail on a connection kept for several mails
    // (its own deadline); the limits given at Connect until then.
    virtual void Renew(const TransportTimeouts &timeouts) { (void)timeouts; }
    // "host:port", for messages.
    virtual std::string Peer() const = 0;
};

class Transport
{
public:
    virtual ~Transport() = default;
    // Connects to host:port (IPv4 or IPv6), with TLS from the first byte when
    // implicitTls is set: TLS 1.2 or later, the certificate verified against
    // the system's CA store, or against the PEM file that SSL_CERT_FILE
    // names when that is set, and the host name checked. Never falls back to
    // an unverified connection.
    virtual std::unique_ptr<Connection> Connect(const std::string &host, int port, bool implicitTls,
                                                const TransportTimeouts &timeouts) = 0;
};

// POSIX sockets and OpenSSL 3.
Transport &RealTransport();

// One address of a server, as a name lookup gives it.
struct ServerAddress
{
    int family = 0;
    int socktype = 0;
    int protocol = 0;
    std::string sockaddr; // the bytes of its struct sockaddr
};
// Looks up one host name; throws std::runtime_error with the reason (UTF-8)
// when the name is unknown.
using ServerResolver = std::function<std::vector<ServerAddress>(const std::string &host, int port)>;

// The addresses of host:port (IPv4 and IPv6). A numeric address needs no
// lookup. A name is looked up by resolve (getaddrinfo when empty) on a thread
// of its own: when it does not answer within timeouts.lookupMs, or the stop
// flag is set or the mail's time ends meanwhile, the lookup is left behind to
// finish on its own and TransportError is thrown; so it is when the name is
// unknown. Every message names the server.
std::vector<ServerAddress> LookUpServer(const std::string &host, int port,
                                        const TransportTimeouts &timeouts,
                                        const ServerResolver &resolve = {});

// "host:port" of a server for messages (UTF-8; an IPv6 address in brackets).
// host is the account's Shift_JIS text.
std::string PeerName(const std::string &host, int port);

// The texts of transport failures (UTF-8), one wording for every Transport so
// that a reason reads the same whichever one produced it. Each starts with
// the peer ("smtp.example.jp:587: ").
namespace wire_text {
std::string ConnectFailed(std::string_view peer, std::string_view why);
std::string TimedOut(std::string_view peer, int ms);
std::string Closed(std::string_view peer);
std::string CertificateRejected(std::string_view peer, std::string_view why);
std::string TlsFailed(std::string_view peer, std::string_view why);
// The user's stop closed the connection in the middle of a mail.
std::string Stopped(std::string_view peer);
// The whole mail took longer than its limit.
std::string MailTooLong(std::string_view peer, int ms);
} // namespace wire_text

// A reason as it is kept (in memory, in the send journal, in messages): at
// most 1024 bytes, cut at a character boundary of its UTF-8 text and then
// marked with "…".
std::string CutReason(std::string reason);
constexpr std::size_t kMaxReasonBytes = 1024;

// How a server was last reached encrypted.
enum class TlsUpgrade
{
    StartTls,    // SMTP STARTTLS
    Stls,        // POP3 STLS
    ImplicitTls, // TLS from the first byte
};

// What the program remembers of servers that offered encryption, per server
// as the account names it (host name as entered, and port). A server once
// reached encrypted must be encrypted again before any password goes to it.
class ServerTlsMemory
{
public:
    virtual ~ServerTlsMemory() = default;
    // How host:port was reached encrypted before, or nothing.
    virtual std::optional<TlsUpgrade> Known(const std::string &host, int port) = 0;
    // Notes that host:port was just reached encrypted. Never throws: a record
    // that cannot be written is kept in memory and written with the next note.
    virtual void Remember(const std::string &host, int port, TlsUpgrade how) = 0;
};

// The port of an account text: decimal digits only, 1..65535.
std::optional<int> ParsePort(std::string_view text);

// One mail ready for the wire. Texts are the bytes that go out.
struct OutgoingMail
{
    std::string envelopeFrom;            // MAIL FROM
    std::vector<std::string> recipients; // RCPT TO, in this order (To, Cc, Bcc)
    std::string data;                    // WriteMimeMessage's lines, CR LF, not dot-stuffed
};

struct DeliveryResult
{
    bool ok = false;
    // Empty on success; otherwise UTF-8 text for the user naming the server
    // (host and port) and what went wrong: the server's reply line, or the
    // connection or TLS error. At most kMaxReasonBytes.
    std::string reason;
    // The stop flag ended the mail in the middle: it was not sent (even when
    // the server had it already; it counts as not sent).
    bool stopped = false;
    // The server refused for now (a 4xx reply to the greeting, MAIL FROM or
    // RCPT TO): the same mail may go through later.
    bool temporary = false;
};

// Sends one mail on its own connection, as the account says:
//  1. POP-before-SMTP when UsePOP: POP3S from the first byte when POPSSL;
//     otherwise CAPA, and STLS when the server offers it (the certificate
//     checked as for implicit TLS). Then USER, PASS, QUIT; a failure here
//     fails the mail.
//  2. SMTP to SMTPAddress:SMTPPort, implicit TLS when SMTPSSL; greeting 220;
//     EHLO with the local host name (HELO when EHLO is refused); STARTTLS
//     when a plain connection's EHLO offers it, then EHLO again.
//  3. A server that memory remembers as encrypted and that now offers no
//     upgrade fails the mail before any USER, PASS or AUTH; so does a server
//     on the submission port 587 without STARTTLS when the account
//     authenticates. A server reached encrypted is remembered.
//  4. When SMTPAuth: AUTH LOGIN when offered, else AUTH PLAIN when offered,
//     else no authentication (the server decides).
//  5. MAIL FROM:<from>, RCPT TO:<addr> for each recipient, DATA, the data
//     dot-stuffed, ".", QUIT.
// Every step is limited as timeouts says, and the whole mail by its mailMs;
// when stop becomes true the connection is closed at once and the result is
// stopped. Ports that are not numbers 1..65535, and any CR or LF (or NUL) in
// a command argument, fail the mail before connecting. The connections are
// closed whatever happens. memory may be null (nothing remembered). Never
// throws.
DeliveryResult DeliverMail(Transport &transport, const SenderAccount &account,
                           const OutgoingMail &mail, const TransportTimeouts &timeouts = {},
                           ServerTlsMemory *memory = nullptr,
                           const std::atomic<bool> *stop = nullptr);

// Consecutive mails of one account over one SMTP connection. The first mail
// opens it as DeliverMail does (POP-before-SMTP, TLS, EHLO, AUTH); each
// following mail of the same account goes over it with MAIL FROM again, after
// an RSET when the mail before it failed before its data. When the server
// offers PIPELINING, RSET, MAIL FROM, the RCPT TOs and DATA go out in one
// write. A new connection is opened for a mail of another account, after
// maxMails mails on one connection, after more than kMaxIdle without a mail,
// and when the connection is gone (a transport failure or a 421 reply);
// when a kept connection turns out to be gone before its server took the
// MAIL FROM, the mail goes out again on a new one. A mail's failure fails that
// mail only: the connection stays for the next mail unless it is broken. The
// results and the texts of failures are those of DeliverMail. Not
// thread-safe; one run uses one.
class MailSession
{
public:
    static constexpr int kMaxMailsPerConnection = 100;
    static constexpr std::chrono::seconds kMaxIdle{10};

    MailSession(Transport &transport, const TransportTimeouts &timeouts = {},
                ServerTlsMemory *memory = nullptr, const std::atomic<bool> *stop = nullptr,
                int maxMails = kMaxMailsPerConnection);
    // Closes the connection (QUIT when it can still be said).
    ~MailSession();
    MailSession(const MailSession &) = delete;
    MailSession &operator=(const MailSession &) = delete;

    // Sends one mail as the account says. next: the mail that follows from
    // the same account, when it is known: with PIPELINING its envelope goes
    // out behind this mail's data and saves a round trip (its data waits for
    // its own Send; a connection closed before that carries nothing of it).
    // Never throws.
    DeliveryResult Send(const SenderAccount &account, const OutgoingMail &mail,
                        const OutgoingMail *next = nullptr);
    // Says QUIT when the connection can still take it, and closes it. Never
    // throws.
    void Close() noexcept;
    bool IsOpen() const;
    // Connections opened so far.
    long long Connections() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The data with a "." doubled at the start of every line that begins with
// one, followed by the end line ".\r\n". Every line ends in CR LF on the wire:
// a bare CR or LF becomes CR LF, and a last line without one gets it.
std::string DotStuff(std::string_view data);

} // namespace vostrel

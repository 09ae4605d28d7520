// The wire side of sending: byte streams to mail servers (plain TCP or TLS)
// and the SMTP and POP3 dialogues of one mail. The send engine reaches the
// network only through a Transport, so tests can put a fault-injecting one in
// its place.
#pragma once

#include "senders/SenderAccount.h"

#include <atomic>
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
    using std::runtime_error::runtime_error;
};

struct TransportTimeouts
{
    int connectMs = 30000; // to connect (and for the TLS handshake)
    int replyMs = 60000;   // for any server reply (and for any write)
};

// One open connection to a server. Every call throws TransportError on
// failure; a time-out is a failure.
class Connection
{
public:
    virtual ~Connection() = default;
    // Writes all bytes.
    virtual void Write(std::string_view bytes) = 0;
    // Reads one line up to LF and returns it without its CR LF.
    virtual std::string ReadLine() = 0;
    // Upgrades a plain connection to TLS (STARTTLS / STLS), verifying the
    // server's certificate and host name as Connect does for implicit TLS.
    virtual void StartTls() = 0;
    // Closes the connection; never throws.
    virtual void Close() noexcept = 0;
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
} // namespace wire_text

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
    // connection or TLS error.
    std::string reason;
};

// Sends one mail on its own connection, as the account says:
//  1. POP-before-SMTP when UsePOP: USER, PASS, QUIT (POP3S when POPSSL); a
//     failure here fails the mail.
//  2. SMTP to SMTPAddress:SMTPPort, implicit TLS when SMTPSSL; greeting 220;
//     EHLO with the local host name (HELO when EHLO is refused); STARTTLS
//     when a plain connection's EHLO offers it, then EHLO again.
//  3. When SMTPAuth: AUTH LOGIN when offered, else AUTH PLAIN when offered,
//     else the mail fails ("no usable authentication").
//  4. MAIL FROM:<from>, RCPT TO:<addr> for each recipient, DATA, the data
//     dot-stuffed, ".", QUIT.
// Ports that are not numbers 1..65535, and any CR or LF (or NUL) in a command
// argument, fail the mail before connecting. The connections are closed
// whatever happens. Never throws.
DeliveryResult DeliverMail(Transport &transport, const SenderAccount &account,
                           const OutgoingMail &mail, const TransportTimeouts &timeouts = {});

// The data with a "." doubled at the start of every line that begins with
// one, followed by the end line ".\r\n". Every line ends in CR LF on the wire:
// a bare CR or LF becomes CR LF, and a last line without one gets it.
std::string DotStuff(std::string_view data);

} // namespace vostrel

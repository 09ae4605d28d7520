// Real mail servers for tests, started on free 127.0.0.1 ports from
// Debian's own programs: a recording SMTP server (aiosmtpd, smtp_peer.py), a
// POP3/POP3S server (dovecot) and a mail transfer agent (Postfix,
// postfix_peer.py), with certificates from a private CA made by the openssl
// command.
//
// Start each peer once per test suite (SetUpTestSuite or a shared
// environment), not per test: a peer is ready when its constructor returns,
// and ClearSessions() gives the next test a clean record.
//
//   static std::unique_ptr<PeerFolder> folder;       // SetUpTestSuite
//   static std::unique_ptr<SmtpPeer> smtp;
//   folder = std::make_unique<PeerFolder>();
//   smtp = std::make_unique<SmtpPeer>(folder->Path(), SmtpPeerOptions().User("u", "p"));
//   SenderAccount account = smtp->Account();          // 127.0.0.1, its port
//   ... DeliverMail(RealTransport(), account, mail) ...
//   smtp->WaitForSessions(1)[0].mails[0].data         // the bytes it received
//
// TLS peers need the client to trust the private CA: keep a ScopedCaFile
// (SSL_CERT_FILE) alive while connecting.
#pragma once

#include "senders/SenderAccount.h"

#include <QTemporaryDir>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QProcess;

namespace vostrel::test {

// A temporary folder for peers' files that outlives single tests.
class PeerFolder
{
public:
    PeerFolder();
    std::filesystem::path Path() const;

private:
    QTemporaryDir dir_;
};

struct CertificateFiles
{
    std::filesystem::path cert; // PEM certificate
    std::filesystem::path key;  // PEM private key
};

// A private certificate authority and server certificates signed by it,
// made in folder with the openssl command (EC keys: well under a second).
class TestCertificates
{
public:
    // Throws std::runtime_error with openssl's output when it fails.
    explicit TestCertificates(const std::filesystem::path &folder);

    // The CA certificate: point SSL_CERT_FILE here.
    const std::filesystem::path &CaFile() const { return caFile_; }
    // For localhost and 127.0.0.1, valid now.
    const CertificateFiles &Server() const { return server_; }
    // For the name wrong.example only.
    const CertificateFiles &WrongHost() const { return wrongHost_; }
    // For localhost and 127.0.0.1, but it expired on 1 February 2020.
    const CertificateFiles &Expired() const { return expired_; }

private:
    std::filesystem::path caFile_;
    CertificateFiles server_, wrongHost_, expired_;
};

// Sets SSL_CERT_FILE while it lives; the previous value comes back after.
class ScopedCaFile
{
public:
    explicit ScopedCaFile(const std::filesystem::path &caFile);
    ~ScopedCaFile();
    ScopedCaFile(const ScopedCaFile &) = delete;
    ScopedCaFile &operator=(const ScopedCaFile &) = delete;

private:
    std::optional<std::string> old_;
};

// A free TCP port on 127.0.0.1 at the time of asking.
int FreeLocalPort();
// True as soon as a connection to 127.0.0.1:port succeeds; false after timeoutMs.
bool WaitUntilListening(int port, int timeoutMs = 10000);

enum class SmtpSecurity
{
    Plain,            // AUTH offered on the plain connection
    ImplicitTls,      // TLS from the first byte
    StartTls,         // STARTTLS offered; every command but EHLO/HELO/NOOP/QUIT refused and AUTH
                      // hidden until the upgrade
    StartTlsOptional, // STARTTLS offered; AUTH and mail accepted without it too
};

// SmtpPeerOptions().Security(SmtpSecurity::StartTls, certs.Server()).User("u", "p")
struct SmtpPeerOptions
{
    SmtpSecurity security = SmtpSecurity::Plain;
    CertificateFiles certificate; // needed for ImplicitTls and StartTls
    std::vector<std::string> authMechanisms{"LOGIN", "PLAIN"}; // offered; empty: no AUTH
    std::vector<std::pair<std::string, std::string>> users;    // login and password accepted
    std::vector<std::string> refuseRecipients; // RCPT TO answered 550 for these addresses
    long long dropDataAfter = -1; // >= 0: reset the connection after this many DATA bytes
    int delayEndOfDataMs = 0;     // wait before the reply after the final "."

    SmtpPeerOptions &Security(SmtpSecurity kind, CertificateFiles files = {})
    {
        security = kind;
        certificate = std::move(files);
        return *this;
    }
    SmtpPeerOptions &Auth(std::vector<std::string> mechanisms)
    {
        authMechanisms = std::move(mechanisms);
        return *this;
    }
    SmtpPeerOptions &User(std::string login, std::string password)
    {
        users.emplace_back(std::move(login), std::move(password));
        return *this;
    }
    SmtpPeerOptions &Refuse(std::string address)
    {
        refuseRecipients.push_back(std::move(address));
        return *this;
    }
    SmtpPeerOptions &DropDataAfter(long long bytes)
    {
        dropDataAfter = bytes;
        return *this;
    }
    SmtpPeerOptions &DelayEndOfData(int ms)
    {
        delayEndOfDataMs = ms;
        return *this;
    }
};

struct SmtpCommandLine
{
    std::string line; // without CR LF
    bool tls = false; // TLS was on when it arrived
};

struct SmtpAuthAttempt
{
    std::string mechanism, login, password; // decoded
    bool accepted = false;
};

struct SmtpReceivedMail
{
    std::string from;
    std::vector<std::string> recipients; // accepted, in order
    std::string data; // the content as the server keeps it (dot-stuffing removed)
    std::string wire; // the DATA lines as they arrived, end line included
};

// One connection as the server saw it.
struct SmtpPeerSession
{
    bool implicitTls = false;
    std::vector<SmtpCommandLine> commands; // every line outside DATA content, in order
    std::vector<SmtpAuthAttempt> auth;
    std::vector<std::string> refused; // refused RCPT TO addresses
    std::vector<SmtpReceivedMail> mails;

    // The command lines alone.
    std::vector<std::string> Lines() const;
};

// aiosmtpd running tests/peers/smtp_peer.py. A session is recorded when the
// client sends QUIT (before the server answers it) or when the connection
// ends without QUIT.
class SmtpPeer
{
public:
    // Starts the server and waits until it listens; throws std::runtime_error
    // when it does not come up.
    SmtpPeer(const std::filesystem::path &folder, SmtpPeerOptions options);
    ~SmtpPeer();
    SmtpPeer(const SmtpPeer &) = delete;
    SmtpPeer &operator=(const SmtpPeer &) = delete;

    int Port() const { return port_; }
    const SmtpPeerOptions &Options() const { return options_; }
    // The sessions recorded so far.
    std::vector<SmtpPeerSession> Sessions() const;
    // Waits (polling the record) until at least count sessions are recorded.
    std::vector<SmtpPeerSession> WaitForSessions(std::size_t count, int timeoutMs = 10000) const;
    // Waits (polling the record) until a recorded session satisfies found;
    // all sessions recorded by then, or nothing when none does in time.
    std::optional<std::vector<SmtpPeerSession>>
    WaitForSession(const std::function<bool(const SmtpPeerSession &)> &found,
                   int timeoutMs = 10000) const;
    void ClearSessions();
    // An account that sends through this peer: SMTPAddress host, its port,
    // SMTPSSL for ImplicitTls, no authentication, no POP.
    SenderAccount Account(const std::string &host = "127.0.0.1") const;

private:
    SmtpPeerOptions options_;
    std::filesystem::path record_;
    std::unique_ptr<QProcess> process_;
    int port_ = 0;
};

// A relay on 127.0.0.1 in front of another server (tests/peers/strip_relay.py),
// as something on the network path could be: it passes the first honest
// connections through untouched (TLS included), and on every later one it
// removes STARTTLS from the SMTP EHLO reply (offering AUTH LOGIN PLAIN when
// the reply had no AUTH) or STLS from the POP3 CAPA reply. It records every
// byte each client sent.
class StripRelay
{
public:
    enum class Protocol
    {
        Smtp,
        Pop3
    };
    StripRelay(const std::filesystem::path &folder, Protocol protocol, int targetPort,
               int honestConnections);
    ~StripRelay();
    StripRelay(const StripRelay &) = delete;
    StripRelay &operator=(const StripRelay &) = delete;

    int Port() const { return port_; }
    // The bytes each client sent, one entry per connection that has ended, in
    // order; waits (polling the record) until count of them are there.
    std::vector<std::string> WaitForConnections(std::size_t count, int timeoutMs = 10000) const;

private:
    std::filesystem::path record_;
    std::unique_ptr<QProcess> process_;
    int port_ = 0;
};

struct Pop3PeerOptions
{
    CertificateFiles certificate;                           // for the POP3S port
    std::vector<std::pair<std::string, std::string>> users; // user and password accepted
};

// dovecot serving POP3 (plain) and POP3S (implicit TLS) from a configuration
// in its own folder. dovecot must run as root here (its mail processes run as
// nobody); Available() says whether it can. A failed log-in slows the next
// one from the same address for seconds: test wrong passwords last.
class Pop3Peer
{
public:
    static bool Available();

    // Starts dovecot and waits until both ports listen; throws
    // std::runtime_error with its log when it does not come up.
    Pop3Peer(const std::filesystem::path &folder, Pop3PeerOptions options);
    // Stops every dovecot process and waits until the master is gone.
    ~Pop3Peer();
    Pop3Peer(const Pop3Peer &) = delete;
    Pop3Peer &operator=(const Pop3Peer &) = delete;

    int Port() const { return port_; }
    int TlsPort() const { return tlsPort_; }
    // dovecot's log (log-ins, failures).
    std::string Log() const;

private:
    std::filesystem::path dir_;
    int port_ = 0;
    int tlsPort_ = 0;
    int pid_ = 0;
};

struct PostfixPeerOptions
{
    // NAME@local.test gets the Maildir <maildirs>/NAME/Maildir/; every other
    // local.test address goes to <maildirs>/catchall/Maildir/.
    std::vector<std::string> mailboxes;
    int relayPort = 0; // > 0: other domains are relayed to 127.0.0.1:relayPort
};

// A private Postfix instance (tests/peers/postfix_peer.py, whose comment
// describes it): its configuration, queue and data live in a folder of its
// own under folder; it listens on 127.0.0.1:Port() and
//   - delivers local.test mail to Maildirs (as nobody, readable by dovecot),
//   - accepts bounce.test mail and bounces it with a real DSN to the sender,
//   - relays other domains to 127.0.0.1:relayPort, or refuses them at RCPT.
// Needs root; Available() says whether it can run.
//
//   PostfixPeer mta(folder->Path(), {.mailboxes = {"alice"}});
//   ... DeliverMail(RealTransport(), mta.Account(), mail to alice@local.test) ...
//   mta.WaitForMails("alice", 1)[0]   // the mail as delivered, headers added
class PostfixPeer
{
public:
    static bool Available();

    // Starts Postfix and waits until it listens; throws std::runtime_error
    // with Postfix's log when it does not come up.
    PostfixPeer(const std::filesystem::path &folder, PostfixPeerOptions options = {});
    // Ends the starter, which ends the Postfix master and waits for it.
    ~PostfixPeer();
    PostfixPeer(const PostfixPeer &) = delete;
    PostfixPeer &operator=(const PostfixPeer &) = delete;

    int Port() const { return port_; }
    // The folder holding one folder per mailbox (NAME/Maildir/).
    const std::filesystem::path &Maildirs() const { return maildirs_; }
    // <Maildirs>/mailbox/Maildir
    std::filesystem::path Maildir(const std::string &mailbox) const;
    // The mails in mailbox's Maildir (new/ and cur/), oldest first, once
    // there are at least count of them; what is there after timeoutMs.
    std::vector<std::string> WaitForMails(const std::string &mailbox, std::size_t count,
                                          int timeoutMs = 20000) const;
    // An account that sends through this Postfix: 127.0.0.1, its port, no
    // authentication, no POP, sender sender@local.test.
    SenderAccount Account() const;
    // Postfix's own log (deliveries, bounces, refusals).
    std::string Log() const;

private:
    std::filesystem::path dir_, maildirs_;
    std::unique_ptr<QProcess> process_;
    int port_ = 0;
};

} // namespace vostrel::test

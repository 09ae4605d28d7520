#include "peers/MailPeers.h"

#include "support/VostrelTest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vostrel::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

QString Q(const fs::path &path)
{
    return QString::fromStdString(path.string());
}

QString Q(const std::string &text)
{
    return QString::fromStdString(text);
}

// Ends a peer's process: politely, then for good.
void StopProcess(QProcess *process)
{
    if (process && process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(10000)) {
            process->kill();
            process->waitForFinished();
        }
    }
}

// A distinct name for every peer of this process.
std::string NextName(const char *prefix)
{
    static std::atomic<int> counter{0};
    return prefix + std::to_string(++counter);
}

void WriteText(const fs::path &file, const std::string &text)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

void RunOpenssl(const QStringList &args, const fs::path &folder)
{
    QProcess process;
    process.setWorkingDirectory(Q(folder));
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("openssl"), args);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        throw std::runtime_error("openssl " + args.join(u' ').toStdString() +
                                 " failed: " + process.readAll().toStdString());
}

// The dovecot masters running for tests of this build folder, one file each,
// named by process id and holding the configuration's path: dovecot clears
// the environment that would tie it to this build, so the check for leftover
// processes (tests/check_leftovers.sh) looks here for it.
fs::path RunningDovecotFolder()
{
    return fs::path(VOSTREL_BINARY_DIR) / "tests" / "peers" / "running-dovecot";
}

// Waits a little without burning the processor; used between polls only.
void Pause()
{
    ::poll(nullptr, 0, 5);
}

// True while the process exists and is not a zombie waiting for its parent.
bool Alive(int pid)
{
    if (::kill(pid, 0) != 0)
        return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    return close == std::string::npos || close + 2 >= text.size() || text[close + 2] != 'Z';
}

std::string Latin1(const QJsonValue &value)
{
    return value.toString().toLatin1().toStdString();
}

std::vector<std::string> Latin1List(const QJsonValue &value)
{
    std::vector<std::string> out;
    for (const auto &item : value.toArray())
        out.push_back(Latin1(item));
    return out;
}

SmtpPeerSession ParseSession(const QJsonObject &o)
{
    SmtpPeerSession s;
    s.implicitTls = o.value(u"implicit_tls").toBool();
    for (const auto &c : o.value(u"commands").toArray())
        s.commands.push_back(
            {Latin1(c.toObject().value(u"line")), c.toObject().value(u"tls").toBool()});
    for (const auto &a : o.value(u"auth").toArray()) {
        const QJsonObject x = a.toObject();
        s.auth.push_back({Latin1(x.value(u"mechanism")), Latin1(x.value(u"login")),
                          Latin1(x.value(u"password")), x.value(u"accepted").toBool()});
    }
    s.refused = Latin1List(o.value(u"refused"));
    for (const auto &m : o.value(u"mails").toArray()) {
        const QJsonObject x = m.toObject();
        s.mails.push_back({Latin1(x.value(u"from")), Latin1List(x.value(u"rcpt")),
                           Latin1(x.value(u"data")), Latin1(x.value(u"wire"))});
    }
    return s;
}

std::string ReadAll(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Starts a Python peer (args: its script first) that prints "READY <port>"
// once it listens; its error output goes to folder/name.log. Throws with that
// log when it does not come up.
std::unique_ptr<QProcess> StartPythonPeer(const fs::path &folder, const std::string &name,
                                          const QStringList &args, int &port)
{
    auto process = std::make_unique<QProcess>();
    process->setStandardErrorFile(Q(folder / (name + ".log")));
    process->start(QStringLiteral(VOSTREL_PYTHON), args);
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    QByteArray line;
    while (!process->canReadLine()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || process->state() == QProcess::NotRunning)
            break;
        process->waitForReadyRead(static_cast<int>(left));
    }
    if (process->canReadLine())
        line = process->readLine().trimmed();
    if (!line.startsWith("READY ")) {
        const std::string log = ReadAll(folder / (name + ".log"));
        process->kill();
        process->waitForFinished();
        throw std::runtime_error("the test peer " + name + " did not start: " + log);
    }
    port = line.mid(6).toInt();
    return process;
}

} // namespace

// ---- folders, certificates, ports ------------------------------------------

PeerFolder::PeerFolder()
{
    if (!dir_.isValid())
        throw std::runtime_error("cannot make a temporary folder for the test peers");
}

fs::path PeerFolder::Path() const
{
    return fs::path(dir_.path().toStdString());
}

TestCertificates::TestCertificates(const fs::path &folder)
{
    const fs::path dir = folder / NextName("ca");
    fs::create_directories(dir / "db");
    WriteText(dir / "db/index.txt", "");
    WriteText(dir / "db/serial", "01\n");
    // A minimal CA: `openssl ca` is the one command of OpenSSL 3.0 that sets
    // any validity period, which the expired certificate needs.
    WriteText(dir / "ca.cnf", "[ca]\n"
                              "default_ca = test_ca\n"
                              "[test_ca]\n"
                              "database = db/index.txt\n"
                              "new_certs_dir = db\n"
                              "serial = db/serial\n"
                              "default_md = sha256\n"
                              "policy = any\n"
                              "unique_subject = no\n"
                              "[any]\n"
                              "commonName = supplied\n"
                              "[localhost]\n"
                              "subjectAltName = DNS:localhost,IP:127.0.0.1\n"
                              "basicConstraints = CA:FALSE\n"
                              "extendedKeyUsage = serverAuth\n"
                              "[wronghost]\n"
                              "subjectAltName = DNS:wrong.example\n"
                              "basicConstraints = CA:FALSE\n"
                              "extendedKeyUsage = serverAuth\n");
    const QStringList ec{QStringLiteral("-newkey"), QStringLiteral("ec"),
                         QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"),
                         QStringLiteral("-nodes")};
    RunOpenssl(
        QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + ec +
            QStringList{
                QStringLiteral("-keyout"), QStringLiteral("ca.key"), QStringLiteral("-out"),
                QStringLiteral("ca.pem"), QStringLiteral("-days"), QStringLiteral("3650"),
                QStringLiteral("-subj"), QStringLiteral("/CN=Vostrel Test CA"),
                QStringLiteral("-addext"), QStringLiteral("basicConstraints=critical,CA:TRUE"),
                QStringLiteral("-addext"), QStringLiteral("keyUsage=critical,keyCertSign,cRLSign")},
        dir);
    caFile_ = dir / "ca.pem";

    auto issue = [&](const QString &name, const QString &commonName, const QString &extensions,
                     const QStringList &validity) {
        RunOpenssl(QStringList{QStringLiteral("req"), QStringLiteral("-new")} + ec +
                       QStringList{QStringLiteral("-keyout"), name + QStringLiteral(".key"),
                                   QStringLiteral("-out"), name + QStringLiteral(".csr"),
                                   QStringLiteral("-subj"), QStringLiteral("/CN=") + commonName},
                   dir);
        RunOpenssl(
            QStringList{QStringLiteral("ca"), QStringLiteral("-batch"), QStringLiteral("-notext"),
                        QStringLiteral("-config"), QStringLiteral("ca.cnf"),
                        QStringLiteral("-cert"), QStringLiteral("ca.pem"),
                        QStringLiteral("-keyfile"), QStringLiteral("ca.key"), QStringLiteral("-in"),
                        name + QStringLiteral(".csr"), QStringLiteral("-out"),
                        name + QStringLiteral(".pem"), QStringLiteral("-extensions"), extensions} +
                validity,
            dir);
        return CertificateFiles{dir / (name.toStdString() + ".pem"),
                                dir / (name.toStdString() + ".key")};
    };
    server_ = issue(QStringLiteral("server"), QStringLiteral("localhost"),
                    QStringLiteral("localhost"), {QStringLiteral("-days"), QStringLiteral("3650")});
    wrongHost_ =
        issue(QStringLiteral("wronghost"), QStringLiteral("wrong.example"),
              QStringLiteral("wronghost"), {QStringLiteral("-days"), QStringLiteral("3650")});
    expired_ =
        issue(QStringLiteral("expired"), QStringLiteral("localhost"), QStringLiteral("localhost"),
              {QStringLiteral("-startdate"), QStringLiteral("20200101000000Z"),
               QStringLiteral("-enddate"), QStringLiteral("20200201000000Z")});
    // The servers may run as another user (dovecot's login processes).
    for (const auto *files : {&server_, &wrongHost_, &expired_})
        fs::permissions(files->key,
                        fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
}

ScopedCaFile::ScopedCaFile(const fs::path &caFile)
{
    if (const char *old = std::getenv("SSL_CERT_FILE"))
        old_ = old;
    ::setenv("SSL_CERT_FILE", caFile.c_str(), 1);
}

ScopedCaFile::~ScopedCaFile()
{
    if (old_)
        ::setenv("SSL_CERT_FILE", old_->c_str(), 1);
    else
        ::unsetenv("SSL_CERT_FILE");
}

int FreeLocalPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        if (fd >= 0)
            ::close(fd);
        throw std::runtime_error("no free port on 127.0.0.1");
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

bool WaitUntilListening(int port, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        const bool ok =
            fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        if (fd >= 0)
            ::close(fd);
        if (ok)
            return true;
        Pause();
    } while (Clock::now() < deadline);
    return false;
}

// ---- SMTP --------------------------------------------------------------------

std::vector<std::string> SmtpPeerSession::Lines() const
{
    std::vector<std::string> out;
    for (const auto &c : commands)
        out.push_back(c.line);
    return out;
}

SmtpPeer::SmtpPeer(const fs::path &folder, SmtpPeerOptions options)
    : options_(std::move(options))
{
    const std::string name = NextName("smtp");
    record_ = folder / (name + ".jsonl");
    WriteText(record_, "");
    QStringList args{QStringLiteral(VOSTREL_SOURCE_DIR "/tests/peers/smtp_peer.py"),
                     QStringLiteral("--record"), Q(record_), QStringLiteral("--mode")};
    switch (options_.security) {
    case SmtpSecurity::Plain:
        args << QStringLiteral("plain");
        break;
    case SmtpSecurity::ImplicitTls:
        args << QStringLiteral("tls");
        break;
    case SmtpSecurity::StartTls:
        args << QStringLiteral("starttls");
        break;
    case SmtpSecurity::StartTlsOptional:
        args << QStringLiteral("starttls-optional");
        break;
    }
    if (options_.security != SmtpSecurity::Plain)
        args << QStringLiteral("--cert") << Q(options_.certificate.cert) << QStringLiteral("--key")
             << Q(options_.certificate.key);
    QString mechanisms;
    for (const auto &m : options_.authMechanisms)
        mechanisms += (mechanisms.isEmpty() ? QString() : QStringLiteral(",")) + Q(m);
    args << QStringLiteral("--auth=") + mechanisms;
    for (const auto &[login, password] : options_.users)
        args << QStringLiteral("--user") << Q(login + ":" + password);
    for (const auto &address : options_.refuseRecipients)
        args << QStringLiteral("--refuse") << Q(address);
    if (options_.dropDataAfter >= 0)
        args << QStringLiteral("--drop-data-after") << QString::number(options_.dropDataAfter);
    if (options_.delayEndOfDataMs > 0)
        args << QStringLiteral("--delay-end-of-data") << QString::number(options_.delayEndOfDataMs);

    process_ = StartPythonPeer(folder, name, args, port_);
}

SmtpPeer::~SmtpPeer()
{
    StopProcess(process_.get());
}

std::vector<SmtpPeerSession> SmtpPeer::Sessions() const
{
    std::vector<SmtpPeerSession> out;
    std::istringstream in(ReadAll(record_));
    std::string line;
    while (std::getline(in, line)) {
        const auto doc = QJsonDocument::fromJson(QByteArray::fromStdString(line));
        if (doc.isObject()) // a line still being written is not complete JSON yet
            out.push_back(ParseSession(doc.object()));
    }
    return out;
}

std::vector<SmtpPeerSession> SmtpPeer::WaitForSessions(std::size_t count, int timeoutMs) const
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto sessions = Sessions();
        if (sessions.size() >= count || Clock::now() >= deadline)
            return sessions;
        Pause();
    }
}

std::optional<std::vector<SmtpPeerSession>>
SmtpPeer::WaitForSession(const std::function<bool(const SmtpPeerSession &)> &found,
                         int timeoutMs) const
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto sessions = Sessions();
        for (const SmtpPeerSession &session : sessions)
            if (found(session))
                return sessions;
        if (Clock::now() >= deadline)
            return std::nullopt;
        Pause();
    }
}

void SmtpPeer::ClearSessions()
{
    WriteText(record_, "");
}

SenderAccount SmtpPeer::Account(const std::string &host) const
{
    SenderAccount account;
    account.ConfName = "peer";
    account.SMTPAddress = host;
    account.SMTPPort = std::to_string(port_);
    account.SMTPSSL = options_.security == SmtpSecurity::ImplicitTls;
    account.FromAddress = "sender@example.jp";
    return account;
}

// ---- The relay that strips encryption -------------------------------------------

StripRelay::StripRelay(const fs::path &folder, Protocol protocol, int targetPort,
                       int honestConnections)
{
    const std::string name = NextName("relay");
    record_ = folder / (name + ".jsonl");
    WriteText(record_, "");
    const QStringList args{QStringLiteral(VOSTREL_SOURCE_DIR "/tests/peers/strip_relay.py"),
                           QStringLiteral("--record"),
                           Q(record_),
                           QStringLiteral("--protocol"),
                           protocol == Protocol::Smtp ? QStringLiteral("smtp")
                                                      : QStringLiteral("pop3"),
                           QStringLiteral("--target"),
                           QString::number(targetPort),
                           QStringLiteral("--honest"),
                           QString::number(honestConnections)};
    process_ = StartPythonPeer(folder, name, args, port_);
}

StripRelay::~StripRelay()
{
    StopProcess(process_.get());
}

std::vector<std::string> StripRelay::WaitForConnections(std::size_t count, int timeoutMs) const
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::vector<std::string> out;
        std::istringstream in(ReadAll(record_));
        std::string line;
        while (std::getline(in, line)) {
            const auto doc = QJsonDocument::fromJson(QByteArray::fromStdString(line));
            if (doc.isObject())
                out.push_back(doc.object()
                                  .value(QStringLiteral("client"))
                                  .toString()
                                  .toLatin1()
                                  .toStdString());
        }
        if (out.size() >= count || Clock::now() >= deadline)
            return out;
        Pause();
    }
}

// ---- POP3 --------------------------------------------------------------------

bool Pop3Peer::Available()
{
    return ::geteuid() == 0 && ::access("/usr/sbin/dovecot", X_OK) == 0;
}

Pop3Peer::Pop3Peer(const fs::path &folder, Pop3PeerOptions options)
{
    if (!Available())
        throw std::runtime_error("dovecot needs root and /usr/sbin/dovecot");
    dir_ = folder / NextName("dovecot");
    fs::create_directories(dir_ / "home");
    // The mail processes run as nobody and must reach their home folder.
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(dir_ / "home", fs::perms::all);

    std::string users;
    for (const auto &[user, password] : options.users)
        users += user + ":{PLAIN}" + password + "\n";
    WriteText(dir_ / "passwd", users);

    port_ = FreeLocalPort();
    tlsPort_ = FreeLocalPort();
    while (tlsPort_ == port_)
        tlsPort_ = FreeLocalPort();
    std::string config = ReadAll(VOSTREL_SOURCE_DIR "/tests/peers/dovecot.conf.in");
    auto fill = [&](const std::string &key, const std::string &value) {
        for (auto at = config.find(key); at != std::string::npos; at = config.find(key, at))
            config.replace(at, key.size(), value);
    };
    fill("@DIR@", dir_.string());
    fill("@PORT@", std::to_string(port_));
    fill("@TLS_PORT@", std::to_string(tlsPort_));
    fill("@CERT@", options.certificate.cert.string());
    fill("@KEY@", options.certificate.key.string());
    WriteText(dir_ / "dovecot.conf", config);

    // dovecot puts itself in the background; its own output goes to a file so
    // that it holds no pipe of ours.
    QProcess process;
    process.setStandardOutputFile(Q(dir_ / "start.log"));
    process.setStandardErrorFile(Q(dir_ / "start.log"), QIODevice::Append);
    process.start(QStringLiteral("/usr/sbin/dovecot"),
                  {QStringLiteral("-c"), Q(dir_ / "dovecot.conf")});
    const bool started = process.waitForFinished(20000) &&
                         process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    // The master process writes its pid file after the starting one has
    // returned.
    const bool listening = started && WaitUntilListening(port_) && WaitUntilListening(tlsPort_);
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (started && pid_ <= 0) {
        pid_ = std::atoi(ReadAll(dir_ / "run/master.pid").c_str());
        if (pid_ <= 0 && Clock::now() >= deadline)
            break;
        if (pid_ <= 0)
            Pause();
    }
    if (!listening || pid_ <= 0) {
        const std::string log = ReadAll(dir_ / "start.log") + Log();
        if (pid_ > 0)
            ::kill(-pid_, SIGKILL);
        throw std::runtime_error("dovecot did not start: " + log);
    }
    fs::create_directories(RunningDovecotFolder());
    WriteText(RunningDovecotFolder() / std::to_string(pid_), (dir_ / "dovecot.conf").string());
}

Pop3Peer::~Pop3Peer()
{
    if (pid_ <= 0)
        return;
    // The master leads its own process group with every dovecot process in
    // it; nothing of a test server needs an orderly shutdown, which would
    // take a second.
    ::kill(-pid_, SIGKILL);
    const auto deadline = Clock::now() + std::chrono::seconds(15);
    while (Alive(pid_) && Clock::now() < deadline)
        Pause();
    if (!Alive(pid_)) {
        std::error_code ec;
        fs::remove(RunningDovecotFolder() / std::to_string(pid_), ec);
    }
}

std::string Pop3Peer::Log() const
{
    return ReadAll(dir_ / "dovecot.log");
}

// ---- Postfix -------------------------------------------------------------------

bool PostfixPeer::Available()
{
    return ::geteuid() == 0 && ::access("/usr/lib/postfix/sbin/master", X_OK) == 0;
}

PostfixPeer::PostfixPeer(const fs::path &folder, PostfixPeerOptions options)
{
    if (!Available())
        throw std::runtime_error("Postfix needs root and /usr/lib/postfix/sbin/master");
    const std::string name = NextName("postfix");
    dir_ = folder / name;
    maildirs_ = folder / (name + "-mail");
    // The delivery agent runs as nobody and must reach the Maildirs.
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
    QStringList args{QStringLiteral(VOSTREL_SOURCE_DIR "/tests/peers/postfix_peer.py"),
                     QStringLiteral("--folder"), Q(dir_), QStringLiteral("--maildirs"),
                     Q(maildirs_)};
    for (const auto &mailbox : options.mailboxes)
        args << QStringLiteral("--mailbox") << Q(mailbox);
    if (options.relayPort > 0)
        args << QStringLiteral("--relay") << QString::number(options.relayPort);
    process_ = StartPythonPeer(folder, name, args, port_);
}

PostfixPeer::~PostfixPeer()
{
    StopProcess(process_.get());
}

fs::path PostfixPeer::Maildir(const std::string &mailbox) const
{
    return maildirs_ / mailbox / "Maildir";
}

std::vector<std::string> PostfixPeer::WaitForMails(const std::string &mailbox, std::size_t count,
                                                   int timeoutMs) const
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::vector<std::pair<fs::file_time_type, fs::path>> files;
        for (const char *sub : {"new", "cur"}) {
            std::error_code ec;
            for (const auto &entry : fs::directory_iterator(Maildir(mailbox) / sub, ec))
                files.emplace_back(entry.last_write_time(), entry.path());
        }
        if (files.size() >= count || Clock::now() >= deadline) {
            std::sort(files.begin(), files.end());
            std::vector<std::string> out;
            for (const auto &file : files)
                out.push_back(ReadAll(file.second));
            return out;
        }
        Pause();
    }
}

SenderAccount PostfixPeer::Account() const
{
    SenderAccount account;
    account.ConfName = "postfix";
    account.SMTPAddress = "127.0.0.1";
    account.SMTPPort = std::to_string(port_);
    account.FromAddress = "sender@local.test";
    return account;
}

std::string PostfixPeer::Log() const
{
    return ReadAll(dir_ / "postfix.log");
}

} // namespace vostrel::test

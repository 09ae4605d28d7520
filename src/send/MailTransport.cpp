// The real transport: POSIX sockets (IPv4 and IPv6, non-blocking, every wait
// bounded by poll) and OpenSSL 3 for TLS with the server's certificate and
// host name verified.
#include "send/MailTransport.h"

#include "core/Errors.h"
#include "core/SjisCodec.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace vostrel {

std::string PeerName(const std::string &host, int port)
{
    std::string name = SjisToUtf8(host);
    if (name.find(':') != std::string::npos)
        name = "[" + name + "]";
    return name + ":" + std::to_string(port);
}

namespace {

std::string DurationText(int ms)
{
    if (ms % 1000 == 0)
        return std::to_string(ms / 1000) + " 秒";
    return std::to_string(ms) + " ミリ秒";
}

} // namespace

namespace wire_text {

std::string ConnectFailed(std::string_view peer, std::string_view why)
{
    return std::string(peer) + ": 接続できませんでした: " + std::string(why);
}

std::string TimedOut(std::string_view peer, int ms)
{
    return std::string(peer) + ": サーバーから " + DurationText(ms) + "間応答がありませんでした";
}

std::string Closed(std::string_view peer)
{
    return std::string(peer) + ": サーバーが接続を切断しました";
}

std::string CertificateRejected(std::string_view peer, std::string_view why)
{
    return std::string(peer) + ": サーバーの証明書を検証できませんでした: " + std::string(why);
}

std::string TlsFailed(std::string_view peer, std::string_view why)
{
    return std::string(peer) + ": TLS で接続できませんでした: " + std::string(why);
}

std::string Stopped(std::string_view peer)
{
    return std::string(peer) + ": 送信の中断により接続を閉じました";
}

std::string MailTooLong(std::string_view peer, int ms)
{
    return std::string(peer) + ": メール 1 通の送信が " + DurationText(ms) +
           "を超えたため、接続を閉じました";
}

} // namespace wire_text

std::string CutReason(std::string reason)
{
    if (reason.size() <= kMaxReasonBytes)
        return reason;
    constexpr std::string_view kMark = "…";
    std::size_t end = kMaxReasonBytes - kMark.size();
    // Back to the first byte of a UTF-8 character.
    while (end > 0 && (static_cast<unsigned char>(reason[end]) & 0xC0) == 0x80)
        --end;
    reason.resize(end);
    reason += kMark;
    return reason;
}

std::optional<int> ParsePort(std::string_view text)
{
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535)
        return std::nullopt;
    return static_cast<int>(value);
}

namespace {

using Clock = std::chrono::steady_clock;

// A line from the server longer than this is not a reply.
constexpr std::size_t kMaxLineLength = 64 * 1024;
// TLS records carry at most 16 KB.
constexpr std::size_t kTlsWriteChunk = 16 * 1024;

Clock::time_point DeadlineIn(int ms)
{
    return Clock::now() + std::chrono::milliseconds(std::max(ms, 0));
}

// While the stop flag is watched, waits last at most this long between looks.
constexpr auto kStopSlice = std::chrono::milliseconds(50);

bool Stopping(const TransportTimeouts &limits)
{
    return limits.stop && limits.stop->load(std::memory_order_relaxed);
}

// Throws when the stop flag is set or the whole mail's time is up.
void CheckMailLimits(const TransportTimeouts &limits, std::string_view peer)
{
    if (Stopping(limits))
        throw TransportError(wire_text::Stopped(peer), true);
    if (limits.mailDeadline != Clock::time_point{} && Clock::now() >= limits.mailDeadline)
        throw TransportError(wire_text::MailTooLong(peer, limits.mailMs));
}

// How long the next wait may last: up to the step's deadline, the mail's
// deadline or the next look at the stop flag, whichever comes first.
int NextWaitMs(Clock::time_point stepDeadline, const TransportTimeouts &limits)
{
    Clock::time_point until = stepDeadline;
    if (limits.mailDeadline != Clock::time_point{})
        until = std::min(until, limits.mailDeadline);
    if (limits.stop)
        until = std::min(until, Clock::now() + kStopSlice);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

// Waits until fd is ready for events; false when the step's deadline passed
// first. Throws when the stop flag is set or the mail's time is up meanwhile.
// Errors and hang-ups count as ready: the next operation reports them.
bool WaitReady(int fd, short events, Clock::time_point deadline, const TransportTimeouts &limits,
               std::string_view peer)
{
    for (;;) {
        CheckMailLimits(limits, peer);
        if (Clock::now() >= deadline)
            return false;
        pollfd p{fd, events, 0};
        const int rc = ::poll(&p, 1, NextWaitMs(deadline, limits));
        if (rc > 0)
            return true;
        if (rc < 0 && errno != EINTR)
            return true;
    }
}

std::string ErrnoText(int err)
{
    return FileError::ErrnoText(err);
}

// The reasons in OpenSSL's error queue of this thread, oldest first; empties it.
std::string OpenSslErrors()
{
    std::string out;
    while (const unsigned long e = ERR_get_error()) {
        const char *reason = ERR_reason_error_string(e);
        std::string text;
        if (reason) {
            text = reason;
        } else {
            char buffer[256];
            ERR_error_string_n(e, buffer, sizeof buffer);
            text = buffer;
        }
        if (!out.empty())
            out += "; ";
        out += text;
    }
    return out;
}

// OpenSSL writes to the socket with write(), which raises SIGPIPE when the
// server has gone. The signal is blocked for this thread while a TLS call
// runs, and one that the call raised is taken off again, so the process
// never dies of a closed connection and its signal settings stay as they were.
class SigpipeBlock
{
public:
    SigpipeBlock()
    {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    }
    ~SigpipeBlock()
    {
        const int savedErrno = errno;
        if (!wasPending_) {
            sigset_t pending;
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE) == 1) {
                const timespec zero{};
                while (sigtimedwait(&pipe_, nullptr, &zero) == -1 && errno == EINTR) {
                }
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
        errno = savedErrno;
    }
    SigpipeBlock(const SigpipeBlock &) = delete;
    SigpipeBlock &operator=(const SigpipeBlock &) = delete;

private:
    sigset_t pipe_;
    sigset_t old_;
    bool wasPending_ = false;
};

// One client context per set of trust settings: TLS 1.2 or later, the peer
// verified against the certificates of the file SSL_CERT_FILE names when it is
// set, else against the system's (the default verify paths, which honour
// SSL_CERT_DIR). Made again when those variables change (tests point them at
// their own CA).
std::shared_ptr<SSL_CTX> ClientContext(std::string_view peer)
{
    static std::mutex mutex;
    static std::string cachedFor;
    static std::shared_ptr<SSL_CTX> cached;

    std::string key;
    for (const char *name : {"SSL_CERT_FILE", "SSL_CERT_DIR"}) {
        if (const char *value = std::getenv(name))
            key += value;
        key += '\n';
    }
    std::lock_guard lock(mutex);
    if (cached && key == cachedFor)
        return cached;
    ERR_clear_error();
    SSL_CTX *ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx)
        throw TransportError(wire_text::TlsFailed(peer, OpenSslErrors()));
    std::shared_ptr<SSL_CTX> owned(ctx, SSL_CTX_free);
    if (SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION) != 1)
        throw TransportError(wire_text::TlsFailed(peer, OpenSslErrors()));
    // SSL_CERT_FILE names the certificates to trust instead of the system's.
    const char *trustFile = std::getenv("SSL_CERT_FILE");
    if (trustFile && *trustFile) {
        if (SSL_CTX_load_verify_locations(ctx, trustFile, nullptr) != 1)
            throw TransportError(wire_text::TlsFailed(
                peer, std::string("環境変数 SSL_CERT_FILE の証明書ファイル「") + trustFile +
                          "」を読み込めませんでした: " + OpenSslErrors()));
    } else if (SSL_CTX_set_default_verify_paths(ctx) != 1) {
        throw TransportError(wire_text::TlsFailed(peer, OpenSslErrors()));
    }
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    // A server that drops the connection without close_notify is reported as
    // a closed connection; every reply is complete by its own syntax anyway.
    SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
    cached = owned;
    cachedFor = key;
    return owned;
}

bool IsIpAddress(const std::string &host)
{
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

class RealConnection final : public Connection
{
public:
    RealConnection(int fd, std::string host, std::string peer, const TransportTimeouts &timeouts)
        : fd_(fd)
        , host_(std::move(host))
        , peer_(std::move(peer))
        , timeouts_(timeouts)
    {}
    ~RealConnection() override { Close(); }

    void Write(std::string_view bytes, int stallMs) override
    {
        Require();
        CheckMailLimits(timeouts_, peer_);
        Step current{DeadlineIn(stallMs), stallMs};
        while (!bytes.empty()) {
            const std::size_t done =
                ssl_ ? TlsWriteSome(bytes, current) : PlainWriteSome(bytes, current);
            if (done > 0) {
                bytes.remove_prefix(done);
                current.deadline = DeadlineIn(stallMs); // a time-out is a stall
            }
        }
    }

    std::string ReadLine(int timeoutMs) override
    {
        Require();
        CheckMailLimits(timeouts_, peer_);
        const Step step{DeadlineIn(timeoutMs), timeoutMs};
        for (;;) {
            const auto end = buffer_.find('\n');
            if (end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                return line;
            }
            if (buffer_.size() > kMaxLineLength)
                throw TransportError(peer_ + ": サーバーの応答行が長すぎます");
            char chunk[4096];
            const std::size_t n = ssl_ ? TlsReadSome(chunk, sizeof chunk, step)
                                       : PlainReadSome(chunk, sizeof chunk, step);
            buffer_.append(chunk, n);
        }
    }

    void StartTls() override
    {
        Require();
        if (ssl_)
            throw TransportError(wire_text::TlsFailed(peer_, "既に TLS で接続しています"));
        // Bytes that arrived before the handshake would be taken for protected
        // replies afterwards.
        if (!buffer_.empty())
            throw TransportError(wire_text::TlsFailed(
                peer_, "サーバーが TLS の開始前に余分なデータを送ってきました"));
        auto ctx = ClientContext(peer_);
        ERR_clear_error();
        SSL *ssl = SSL_new(ctx.get());
        if (!ssl)
            throw TransportError(wire_text::TlsFailed(peer_, OpenSslErrors()));
        ssl_ = ssl;
        std::string name = host_;
        if (!name.empty() && name.back() == '.')
            name.pop_back();
        bool configured = SSL_set_fd(ssl, fd_) == 1;
        if (IsIpAddress(name)) {
            configured =
                configured && X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), name.c_str()) == 1;
        } else {
            configured = configured && SSL_set1_host(ssl, name.c_str()) == 1 &&
                         SSL_set_tlsext_host_name(ssl, name.c_str()) == 1;
        }
        if (!configured)
            FailTls(OpenSslErrors());
        SSL_set_connect_state(ssl);

        const auto deadline = DeadlineIn(timeouts_.connectMs);
        for (;;) {
            ERR_clear_error();
            errno = 0;
            int rc;
            {
                SigpipeBlock block;
                rc = SSL_do_handshake(ssl);
            }
            const int savedErrno = errno;
            if (rc == 1)
                return;
            const int error = SSL_get_error(ssl, rc);
            if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
                bool ready = false;
                try {
                    ready = WaitReady(fd_, error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT,
                                      deadline, timeouts_, peer_);
                } catch (const TransportError &stopped) {
                    FailWith(stopped);
                }
                if (!ready)
                    FailWith(TransportError(wire_text::TimedOut(peer_, timeouts_.connectMs)));
                continue;
            }
            const long verify = SSL_get_verify_result(ssl);
            if (verify != X509_V_OK)
                FailWith(TransportError(
                    wire_text::CertificateRejected(peer_, X509_verify_cert_error_string(verify))));
            std::string why = OpenSslErrors();
            if (why.empty())
                why = savedErrno != 0 ? ErrnoText(savedErrno) : "サーバーが接続を切断しました";
            FailTls(why);
        }
    }

    void Close() noexcept override
    {
        if (ssl_) {
            {
                SigpipeBlock block;
                ERR_clear_error();
                SSL_shutdown(ssl_); // one close_notify, no waiting for the answer
                ERR_clear_error();
            }
            SSL_free(ssl_);
            ssl_ = nullptr;
        }
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
        buffer_.clear();
    }

    std::string Peer() const override { return peer_; }

    void Renew(const TransportTimeouts &timeouts) override { timeouts_ = timeouts; }

private:
    void Require() const
    {
        if (fd_ < 0)
            throw TransportError(peer_ + ": 接続は既に閉じられています");
    }

    // A step's deadline and its length (for the message).
    struct Step
    {
        Clock::time_point deadline;
        int ms;
    };

    [[noreturn]] void FailWith(const TransportError &error)
    {
        ERR_clear_error();
        SSL_free(ssl_);
        ssl_ = nullptr;
        throw error;
    }
    [[noreturn]] void FailTls(const std::string &why)
    {
        FailWith(TransportError(wire_text::TlsFailed(peer_, why)));
    }

    void WaitOrFail(short events, const Step &step)
    {
        if (!WaitReady(fd_, events, step.deadline, timeouts_, peer_))
            throw TransportError(wire_text::TimedOut(peer_, step.ms));
    }

    [[noreturn]] void FailIo(int err) const
    {
        if (err == EPIPE || err == ECONNRESET)
            throw TransportError(wire_text::Closed(peer_));
        throw TransportError(peer_ + ": 通信に失敗しました: " + ErrnoText(err));
    }

    std::size_t PlainWriteSome(std::string_view bytes, const Step &step)
    {
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n > 0)
            return static_cast<std::size_t>(n);
        if (n < 0 && errno == EINTR)
            return 0;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            WaitOrFail(POLLOUT, step);
            return 0;
        }
        FailIo(n < 0 ? errno : EPIPE);
    }

    std::size_t PlainReadSome(char *buffer, std::size_t size, const Step &step)
    {
        for (;;) {
            const ssize_t n = ::recv(fd_, buffer, size, 0);
            if (n > 0)
                return static_cast<std::size_t>(n);
            if (n == 0)
                throw TransportError(wire_text::Closed(peer_));
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                FailIo(errno);
            WaitOrFail(POLLIN, step);
        }
    }

    // Waits as a TLS call asks; throws on errors. Returns when it may be
    // called again.
    void TlsRetry(int rc, int savedErrno, const Step &step)
    {
        const int error = SSL_get_error(ssl_, rc);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            WaitOrFail(error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, step);
            return;
        }
        if (error == SSL_ERROR_ZERO_RETURN)
            throw TransportError(wire_text::Closed(peer_));
        if (error == SSL_ERROR_SYSCALL) {
            const std::string why = OpenSslErrors();
            if (!why.empty())
                throw TransportError(peer_ + ": 通信に失敗しました: " + why);
            if (savedErrno == 0 || savedErrno == EPIPE || savedErrno == ECONNRESET)
                throw TransportError(wire_text::Closed(peer_));
            FailIo(savedErrno);
        }
        std::string why = OpenSslErrors();
        if (why.empty())
            why = "SSL error " + std::to_string(error);
        throw TransportError(peer_ + ": 通信に失敗しました: " + why);
    }

    std::size_t TlsWriteSome(std::string_view bytes, const Step &step)
    {
        // A retried write must offer the same bytes again; it does, since the
        // caller moves on only past bytes that were written.
        const std::size_t size = std::min(bytes.size(), kTlsWriteChunk);
        std::size_t written = 0;
        ERR_clear_error();
        errno = 0;
        int rc;
        {
            SigpipeBlock block;
            rc = SSL_write_ex(ssl_, bytes.data(), size, &written);
        }
        const int savedErrno = errno;
        if (rc == 1)
            return written;
        TlsRetry(rc, savedErrno, step);
        return 0;
    }

    std::size_t TlsReadSome(char *buffer, std::size_t size, const Step &step)
    {
        for (;;) {
            std::size_t got = 0;
            ERR_clear_error();
            errno = 0;
            int rc;
            {
                SigpipeBlock block; // a read may answer a renegotiation or key update
                rc = SSL_read_ex(ssl_, buffer, size, &got);
            }
            const int savedErrno = errno;
            if (rc == 1)
                return got;
            TlsRetry(rc, savedErrno, step);
        }
    }

    int fd_;
    SSL *ssl_ = nullptr;
    std::string host_;
    std::string peer_;
    TransportTimeouts timeouts_;
    std::string buffer_;
};

// Connects one address within the time-out; the socket on success, else -1
// with why set. The stop flag and the mail's time end the wait with
// TransportError.
int ConnectAddress(const ServerAddress &address, const TransportTimeouts &limits,
                   std::string_view peer, std::string &why)
{
    const int fd =
        ::socket(address.family, address.socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address.protocol);
    if (fd < 0) {
        why = ErrnoText(errno);
        return -1;
    }
    int rc = ::connect(fd, reinterpret_cast<const sockaddr *>(address.sockaddr.data()),
                       static_cast<socklen_t>(address.sockaddr.size()));
    if (rc != 0 && (errno == EINPROGRESS || errno == EINTR)) {
        bool ready = false;
        try {
            ready = WaitReady(fd, POLLOUT, DeadlineIn(limits.connectMs), limits, peer);
        } catch (...) {
            ::close(fd);
            throw;
        }
        if (!ready) {
            why = DurationText(limits.connectMs) + "以内に応答がありませんでした";
            ::close(fd);
            return -1;
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            error = errno;
        rc = error == 0 ? 0 : -1;
        errno = error;
    }
    if (rc != 0) {
        why = ErrnoText(errno);
        ::close(fd);
        return -1;
    }
    // Every command goes out in one write and waits for its reply.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

std::vector<ServerAddress> AddressesOf(const addrinfo *list)
{
    std::vector<ServerAddress> out;
    for (const addrinfo *ai = list; ai; ai = ai->ai_next) {
        ServerAddress address;
        address.family = ai->ai_family;
        address.socktype = ai->ai_socktype;
        address.protocol = ai->ai_protocol;
        address.sockaddr.assign(reinterpret_cast<const char *>(ai->ai_addr), ai->ai_addrlen);
        out.push_back(std::move(address));
    }
    return out;
}

// getaddrinfo for a stream connection; numericOnly takes no time and asks
// no name server.
std::vector<ServerAddress> GetAddrInfo(const std::string &host, int port, bool numericOnly)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | (numericOnly ? AI_NUMERICHOST : 0);
    addrinfo *found = nullptr;
    const std::string service = std::to_string(port);
    const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0)
        throw std::runtime_error(rc == EAI_SYSTEM ? ErrnoText(errno) : gai_strerror(rc));
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owned(found, freeaddrinfo);
    return AddressesOf(found);
}

class RealTransportImpl final : public Transport
{
public:
    std::unique_ptr<Connection> Connect(const std::string &host, int port, bool implicitTls,
                                        const TransportTimeouts &timeouts) override
    {
        const std::string peer = PeerName(host, port);
        if (port < 1 || port > 65535)
            throw TransportError(wire_text::ConnectFailed(peer, "ポート番号が正しくありません"));
        if (host.empty() || host.find_first_of(std::string_view("\0\r\n", 3)) != std::string::npos)
            throw TransportError(
                wire_text::ConnectFailed(peer, "サーバーのアドレスが正しくありません"));

        std::string why = "アドレスがありません";
        for (const ServerAddress &address : LookUpServer(host, port, timeouts)) {
            const int fd = ConnectAddress(address, timeouts, peer, why);
            if (fd < 0)
                continue;
            auto connection = std::make_unique<RealConnection>(fd, host, peer, timeouts);
            if (implicitTls)
                connection->StartTls();
            return connection;
        }
        throw TransportError(wire_text::ConnectFailed(peer, why));
    }
};

} // namespace

Transport &RealTransport()
{
    static RealTransportImpl transport;
    return transport;
}

std::vector<ServerAddress> LookUpServer(const std::string &host, int port,
                                        const TransportTimeouts &timeouts,
                                        const ServerResolver &resolve)
{
    const std::string peer = PeerName(host, port);
    if (!resolve && IsIpAddress(host)) {
        try {
            return GetAddrInfo(host, port, true);
        } catch (const std::exception &e) {
            throw TransportError(peer + ": サーバーのアドレスが正しくありません: " + e.what());
        }
    }
    // The lookup's own state outlives this call when the lookup is left behind.
    struct Lookup
    {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        std::vector<ServerAddress> addresses;
        std::string error;
    };
    auto lookup = std::make_shared<Lookup>();
    ServerResolver work =
        resolve ? resolve : [](const std::string &h, int p) { return GetAddrInfo(h, p, false); };
    std::thread([lookup, work = std::move(work), host, port] {
        std::vector<ServerAddress> addresses;
        std::string error;
        try {
            addresses = work(host, port);
        } catch (const std::exception &e) {
            error = e.what();
            if (error.empty())
                error = "不明なエラー";
        } catch (...) {
            error = "不明なエラー";
        }
        std::lock_guard lock(lookup->mutex);
        lookup->addresses = std::move(addresses);
        lookup->error = std::move(error);
        lookup->finished = true;
        lookup->done.notify_all();
    }).detach();

    const auto deadline = DeadlineIn(timeouts.lookupMs);
    std::unique_lock lock(lookup->mutex);
    for (;;) {
        if (lookup->finished)
            break;
        CheckMailLimits(timeouts, peer);
        if (Clock::now() >= deadline)
            throw TransportError(peer + ": サーバーのアドレスを " +
                                 DurationText(timeouts.lookupMs) + "以内に調べられませんでした");
        lookup->done.wait_for(lock, std::chrono::milliseconds(NextWaitMs(deadline, timeouts)));
    }
    if (!lookup->error.empty())
        throw TransportError(peer + ": サーバーのアドレスが見つかりませんでした: " + lookup->error);
    return std::move(lookup->addresses);
}

} // namespace vostrel

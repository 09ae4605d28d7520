#include "core/AtomicFile.h"

#include "core/Errors.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace vostrel {

namespace fs = std::filesystem;

namespace {

constexpr size_t kBufferSize = 1 << 16;

#ifdef VOSTREL_TEST_HOOKS
std::mutex injectorMutex;
std::function<bool(const fs::path &)> faultInjector;

bool InjectedFault(const fs::path &target)
{
    std::lock_guard lock(injectorMutex);
    return faultInjector && !faultInjector(target);
}
#else
constexpr bool InjectedFault(const fs::path &)
{
    return false;
}
#endif

// Creates a new file named after pattern, its "XXXXXX" replaced by random
// letters and digits, with mode 0666 as the umask leaves it (mkostemp always
// gives 0600, and reading the umask would change it for every thread).
// Returns the descriptor, or -1 with errno set.
int CreateWithUmask(std::string &pattern)
{
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 random{std::random_device{}()};
    const std::size_t at = pattern.size() - 6;
    for (int attempt = 0; attempt < 100; ++attempt) {
        for (std::size_t i = 0; i < 6; ++i)
            pattern[at + i] = kLetters[random() % (sizeof kLetters - 1)];
        const int fd = ::open(pattern.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

} // namespace

#ifdef VOSTREL_TEST_HOOKS
void AtomicFile::SetFaultInjector(std::function<bool(const fs::path &)> injector)
{
    std::lock_guard lock(injectorMutex);
    faultInjector = std::move(injector);
}
#endif

AtomicFile::AtomicFile(fs::path target, FileAccess access)
    : target_(std::move(target))
{
    // The temporary name never ends in ".vsl", so folder listings skip it.
    std::string pattern =
        (target_.parent_path() / ("." + target_.filename().native() + ".tmp-XXXXXX")).native();
    struct stat existing
    {};
    const bool replacing = access == FileAccess::User && ::stat(target_.c_str(), &existing) == 0 &&
                           S_ISREG(existing.st_mode);
    if (access == FileAccess::User && !replacing)
        fd_ = CreateWithUmask(pattern); // 0666 less the umask
    else
        fd_ = ::mkostemp(pattern.data(), O_CLOEXEC); // mode 0600
    if (fd_ < 0)
        throw FileError::WriteFailed(target_, FileError::ErrnoText(errno));
    temp_ = pattern;
    if (replacing && ::fchmod(fd_, existing.st_mode & 0777) != 0)
        Fail(errno);
    buffer_.reserve(kBufferSize);
}

AtomicFile::~AtomicFile()
{
    if (fd_ >= 0)
        ::close(fd_);
    if (!committed_ && !temp_.empty())
        ::unlink(temp_.c_str());
}

void AtomicFile::Fail(int err)
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    ::unlink(temp_.c_str());
    temp_.clear();
    throw FileError::WriteFailed(target_, FileError::ErrnoText(err));
}

void AtomicFile::Write(std::string_view bytes)
{
    if (fd_ < 0)
        throw FileError::WriteFailed(target_, "");
    if (buffer_.size() + bytes.size() > kBufferSize)
        Flush();
    if (bytes.size() >= kBufferSize) {
        buffer_.assign(bytes);
        Flush();
    } else {
        buffer_.append(bytes);
    }
}

void AtomicFile::Flush()
{
    if (buffer_.empty())
        return;
    if (InjectedFault(target_))
        Fail(ENOSPC);
    const char *p = buffer_.data();
    size_t left = buffer_.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Fail(errno);
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    buffer_.clear();
}

void AtomicFile::Commit()
{
    if (fd_ < 0)
        throw FileError::WriteFailed(target_, "");
    Flush();
    if (::fsync(fd_) != 0)
        Fail(errno);
    if (::close(fd_) != 0) {
        fd_ = -1;
        Fail(errno);
    }
    fd_ = -1;
    if (InjectedFault(target_))
        Fail(ENOSPC);
    if (::rename(temp_.c_str(), target_.c_str()) != 0)
        Fail(errno);
    committed_ = true;
    // Make the rename itself durable.
    const fs::path folder = target_.parent_path().empty() ? fs::path(".") : target_.parent_path();
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

void WriteFileAtomically(const fs::path &target, std::string_view bytes, FileAccess access)
{
    AtomicFile file(target, access);
    file.Write(bytes);
    file.Commit();
}

} // namespace vostrel

#include "core/AtomicFile.h"

#include "core/Errors.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace vostrel {

namespace fs = std::filesystem;

namespace {

constexpr size_t kBufferSize = 1 << 16;

std::mutex injectorMutex;
std::function<bool(const fs::path &)> faultInjector;

bool InjectedFault(const fs::path &target)
{
    std::lock_guard lock(injectorMutex);
    return faultInjector && !faultInjector(target);
}

} // namespace

void AtomicFile::SetFaultInjector(std::function<bool(const fs::path &)> injector)
{
    std::lock_guard lock(injectorMutex);
    faultInjector = std::move(injector);
}

AtomicFile::AtomicFile(fs::path target)
    : target_(std::move(target))
{
    // The temporary name never ends in ".vsl", so folder listings skip it.
    std::string pattern =
        (target_.parent_path() / ("." + target_.filename().native() + ".tmp-XXXXXX")).native();
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC); // mode 0600
    if (fd_ < 0)
        throw FileError::WriteFailed(target_, FileError::ErrnoText(errno));
    temp_ = pattern;
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

void WriteFileAtomically(const fs::path &target, std::string_view bytes)
{
    AtomicFile file(target);
    file.Write(bytes);
    file.Commit();
}

} // namespace vostrel

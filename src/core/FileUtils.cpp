#include "core/FileUtils.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace vostrel {

namespace fs = std::filesystem;

ScopedFd::~ScopedFd()
{
    if (fd >= 0)
        ::close(fd);
}

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

CopyFailure CopyContent(int in, int out)
{
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return {errno, true};
        }
        if (got == 0)
            return {};
        if (!WriteAll(out, std::string_view(buffer, static_cast<std::size_t>(got))))
            return {errno, false};
    }
}

void SyncFolder(const fs::path &folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool PathExists(const fs::path &path)
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

} // namespace vostrel

// Small file-system helpers shared by the writers of the data folder.
#pragma once

#include <filesystem>
#include <string_view>

namespace vostrel {

// Closes a descriptor when it goes out of scope.
struct ScopedFd
{
    int fd = -1;
    ~ScopedFd();
};

// Writes all of bytes to fd, going on after interruptions; false with errno
// set when a write fails.
bool WriteAll(int fd, std::string_view bytes);

// What failed in CopyContent: the errno (0: nothing) and whether it was the
// reading.
struct CopyFailure
{
    int err = 0;
    bool reading = false;
    explicit operator bool() const { return err != 0; }
};
// Copies everything left to read from in to out.
CopyFailure CopyContent(int in, int out);

// Syncs the entries of folder to the disk (after a file in it was created,
// renamed or removed); a folder that cannot be opened is passed over.
void SyncFolder(const std::filesystem::path &folder);

// True when anything, a symbolic link too, stands at path.
bool PathExists(const std::filesystem::path &path);

} // namespace vostrel

// Whole-file writing: the content goes to a temporary file beside the target,
// is flushed to disk, and then renamed over the target. A crash, a kill or a
// full disk leaves either the old file or the new one, never a mixture.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace vostrel {

// Who may read the file written.
enum class FileAccess
{
    // The records of the data folder: mode 0600, whatever the umask.
    Private,
    // A file the user writes for use elsewhere (an export): the user's usual
    // permissions, 0666 less the umask, and an existing file keeps its mode.
    User,
};

class AtomicFile
{
public:
    // Creates the temporary file in the target's folder, with the mode of
    // access. Throws FileError naming the target when that fails.
    explicit AtomicFile(std::filesystem::path target, FileAccess access = FileAccess::Private);
    ~AtomicFile(); // removes the temporary file unless Commit() succeeded
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    void Write(std::string_view bytes);
    // Flushes, syncs, and renames over the target; then syncs the folder.
    void Commit();

    const std::filesystem::path &Target() const { return target_; }
    const std::filesystem::path &TemporaryPath() const { return temp_; }

#ifdef VOSTREL_TEST_HOOKS
    // Test builds only: when set, called before every write to disk and
    // before the rename with the target path; returning false makes that step
    // fail as a full disk would (ENOSPC).
    static void SetFaultInjector(std::function<bool(const std::filesystem::path &)> injector);
#endif

private:
    void Flush();
    [[noreturn]] void Fail(int err);

    std::filesystem::path target_;
    std::filesystem::path temp_;
    int fd_ = -1;
    std::string buffer_;
    bool committed_ = false;
};

// Writes bytes as the whole new content of target.
void WriteFileAtomically(const std::filesystem::path &target, std::string_view bytes,
                         FileAccess access = FileAccess::Private);

} // namespace vostrel

#include "core/Backup.h"

#include "core/AppState.h"
#include "core/AtomicFile.h"
#include "core/DataFolder.h"
#include "core/DataLayout.h"
#include "core/Errors.h"
#include "core/FileUtils.h"
#include "core/Password.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vostrel {

namespace fs = std::filesystem;

namespace {

constexpr const char *kCommitName = "commit";

std::mutex guardsMutex;
std::vector<std::pair<std::string, std::function<std::string()>>> guards;

#ifdef VOSTREL_TEST_HOOKS
std::function<void(const fs::path &)> copyHook;
std::function<void(const std::string &)> stepHook;

void BeforeCopy(const fs::path &file)
{
    if (copyHook)
        copyHook(file);
}

void Step(const std::string &name)
{
    if (stepHook)
        stepHook(name);
}
#else
void BeforeCopy(const fs::path &) {}
void Step(const std::string &) {}
#endif

FileError LinkRefused(const fs::path &link)
{
    return FileError(link, "バックアップフォルダにシンボリックリンクがあるため読み込めません: " +
                               link.string());
}

void MakeFolder(const fs::path &folder)
{
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        throw FileError::WriteFailed(folder, FileError::ErrnoText(errno));
}

// Waits until everything written to the file system that holds folder (the
// copied files and their folders, all at once) is on the disk.
void SyncFileSystem(const fs::path &folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        throw FileError::WriteFailed(folder, FileError::ErrnoText(errno));
    const int synced = ::syncfs(fd);
    const int err = errno;
    ::close(fd);
    if (synced != 0)
        throw FileError::WriteFailed(folder, FileError::ErrnoText(err));
}

// How a copy treats symbolic links: a backup copies a linked file's content
// and passes over linked folders; a restore refuses any link.
enum class Links
{
    Follow,
    Refuse
};

// Copies the plain file from into the new file to (mode 0600). The copy
// reaches the disk with SyncFileSystem.
void CopyOneFile(const fs::path &from, const fs::path &to, Links links)
{
    BeforeCopy(from);
    Step("copy " + from.string());
    // O_NONBLOCK: a pipe put in place of the file cannot hold the copy up.
    ScopedFd in{::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK |
                                         (links == Links::Refuse ? O_NOFOLLOW : 0))};
    if (in.fd < 0) {
        if (errno == ELOOP && links == Links::Refuse)
            throw LinkRefused(from);
        throw FileError::ReadFailed(from, FileError::ErrnoText(errno));
    }
    struct stat st;
    if (::fstat(in.fd, &st) != 0)
        throw FileError::ReadFailed(from, FileError::ErrnoText(errno));
    if (!S_ISREG(st.st_mode))
        throw FileError::ReadFailed(from, FileError::ErrnoText(EINVAL));
    ScopedFd out{::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600)};
    if (out.fd < 0)
        throw FileError::WriteFailed(to, FileError::ErrnoText(errno));
    if (const CopyFailure failure = CopyContent(in.fd, out.fd)) {
        if (failure.reading)
            throw FileError::ReadFailed(from, FileError::ErrnoText(failure.err));
        throw FileError::WriteFailed(to, FileError::ErrnoText(failure.err));
    }
    const int closed = ::close(out.fd);
    out.fd = -1;
    if (closed != 0)
        throw FileError::WriteFailed(to, FileError::ErrnoText(errno));
    Step("copied " + from.string());
}

// Copies everything inside from into the existing folder to. In the work
// folder the plain work pages are left out.
void CopyTree(const fs::path &from, const fs::path &to, Links links, bool workFolder)
{
    std::error_code ec;
    if (links == Links::Refuse && fs::is_symlink(fs::symlink_status(from, ec)))
        throw LinkRefused(from); // put in place of a folder since it was listed
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(*it);
    if (ec)
        throw FileError::ReadFailed(from, FileError::ErrnoText(ec.value()));
    std::sort(entries.begin(), entries.end());
    for (const fs::directory_entry &entry : entries) {
        const fs::path target = to / entry.path().filename();
        std::error_code typeEc;
        // Asked afresh, not taken from the listing.
        const fs::file_status status = fs::symlink_status(entry.path(), typeEc);
        if (fs::is_symlink(status)) {
            if (links == Links::Refuse)
                throw LinkRefused(entry.path());
            if (fs::is_regular_file(entry.status(typeEc)) &&
                !(workFolder && IsPlainWorkFile(entry.path().filename().native())))
                CopyOneFile(entry.path(), target, links);
        } else if (fs::is_directory(status)) {
            MakeFolder(target);
            CopyTree(entry.path(), target, links, false);
        } else if (fs::is_regular_file(status)) {
            if (!(workFolder && IsPlainWorkFile(entry.path().filename().native())))
                CopyOneFile(entry.path(), target, links);
        }
    }
}

// The entries of the data folder that backup and restore deal with: every
// sub-folder but the working folders of a password change or a restore, and
// config.dat. Sorted by name.
std::vector<std::string> DataEntries()
{
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(DataFolder(), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().native();
        std::error_code typeEc;
        if (it->is_directory(typeEc)) {
            if (name != layout::kRestoreStaging && name != layout::kRekeyStaging)
                names.push_back(name);
        } else if (name == layout::kConfig) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

void RenameOrThrow(const fs::path &from, const fs::path &to)
{
    Step("rename " + from.string());
    if (::rename(from.c_str(), to.c_str()) != 0)
        throw FileError::WriteFailed(to, FileError::ErrnoText(errno));
    Step("renamed " + from.string());
}

// Swaps the staged entries in: each live entry moves to old/, its staged copy
// takes its place. Entries already swapped are skipped, so this can run again
// from any point.
void SwitchOver(const std::vector<std::string> &entries)
{
    const fs::path staging = RestoreStagingFolder();
    MakeFolder(staging / "old");
    std::error_code ec;
    for (const std::string &name : entries) {
        const fs::path staged = staging / "new" / name;
        if (!PathExists(staged))
            continue; // swapped before
        const fs::path live = DataFolder() / name;
        const fs::path old = staging / "old" / name;
        if (PathExists(old)) {
            // The live entry was moved away before: what stands in its place
            // now was made afterwards (the folders a start creates), and the
            // restored copy replaces it.
            fs::remove_all(live, ec);
        } else if (PathExists(live)) {
            RenameOrThrow(live, old);
        }
        RenameOrThrow(staged, live);
    }
    SyncFolder(staging / "old");
    SyncFolder(DataFolder());
    Step("clean");
    fs::remove_all(staging, ec);
    SyncFolder(DataFolder());
    Step("done");
}

bool ReadCommit(std::vector<std::string> &entries)
{
    std::ifstream in(RestoreStagingFolder() / kCommitName);
    if (!in)
        return false;
    std::string line;
    if (!std::getline(in, line) || line != "VOSTREL-RESTORE 1")
        return false;
    while (std::getline(in, line)) {
        if (line == "END")
            return true;
        if (line.empty() || line == "." || line == ".." || line.find('/') != std::string::npos)
            return false;
        entries.push_back(line);
    }
    return false;
}

bool RestorePending()
{
    std::vector<std::string> entries;
    return PathExists(RestoreStagingFolder()) && ReadCommit(entries);
}

} // namespace

fs::path RestoreStagingFolder()
{
    return DataFolder() / layout::kRestoreStaging / "";
}

#ifdef VOSTREL_TEST_HOOKS
void SetBackupCopyHook(std::function<void(const fs::path &)> hook)
{
    copyHook = std::move(hook);
}

void SetRestoreStepHook(std::function<void(const std::string &)> hook)
{
    stepHook = std::move(hook);
}
#endif

fs::path NextBackupFolder(const fs::path &chosen)
{
    fs::path folder = chosen / "Vostrel_backup";
    for (int n = 1; PathExists(folder); ++n)
        folder = chosen / ("Vostrel_backup(" + std::to_string(n) + ")");
    return folder;
}

fs::path MakeBackup(const fs::path &chosen)
{
    const fs::path folder = NextBackupFolder(chosen);
    MakeFolder(folder);
    try {
        for (const std::string &name : DataEntries()) {
            const fs::path from = DataFolder() / name;
            if (name == layout::kConfig) {
                CopyOneFile(from, folder / name, Links::Follow);
            } else {
                MakeFolder(folder / name);
                CopyTree(from, folder / name, Links::Follow, name == layout::kWork);
            }
        }
        SyncFileSystem(folder);
    } catch (...) {
        // Never leave a backup that looks complete and is not.
        std::error_code ec;
        fs::remove_all(folder, ec);
        throw;
    }
    return folder;
}

bool IsValidBackup(const fs::path &folder)
{
    std::error_code ec;
    if (!fs::is_regular_file(folder / layout::kConfig, ec))
        return false;
    for (const std::string_view name :
         {layout::kSenders, layout::kLogs, layout::kSignature, layout::kReceivers})
        if (!fs::is_directory(folder / name, ec))
            return false;
    return true;
}

fs::path FindSymbolicLink(const fs::path &folder)
{
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeEc;
        if (it->is_symlink(typeEc))
            return it->path();
    }
    return {};
}

void RefuseSymbolicLinks(const fs::path &backup)
{
    if (const fs::path link = FindSymbolicLink(backup); !link.empty())
        throw LinkRefused(link);
}

void RegisterRestoreGuard(std::string name, std::function<std::string()> guard)
{
    std::lock_guard lock(guardsMutex);
    std::erase_if(guards, [&](const auto &g) { return g.first == name; });
    guards.emplace_back(std::move(name), std::move(guard));
}

void CheckRestoreMayRun()
{
    {
        std::lock_guard lock(guardsMutex);
        for (const auto &[name, guard] : guards)
            if (std::string reason = guard(); !reason.empty())
                throw VostrelError(reason);
    }
    // Its staging folder may hold the only copy of some of the data.
    if (RestorePending())
        throw VostrelError("前回のバックアップの読込が完了していません。"
                           "ソフトを起動し直してからもう一度お試しください。");
}

bool BackupHoldsKey(const fs::path &backup, const std::string &key)
{
    return ConfigFileHoldsKey(backup / layout::kConfig, key);
}

void RestoreBackup(const fs::path &backup, const std::string &key)
{
    CheckRestoreMayRun();
    RefuseSymbolicLinks(backup);
    const fs::path staging = RestoreStagingFolder();
    std::error_code ec;
    fs::remove_all(staging, ec); // an uncommitted one: nothing of it is needed
    std::vector<std::string> entries = DataEntries();
    if (std::find(entries.begin(), entries.end(), layout::kConfig) == entries.end()) {
        // The password record always comes with the backup.
        entries.push_back(std::string(layout::kConfig));
        std::sort(entries.begin(), entries.end());
    }
    try {
        MakeFolder(staging);
        MakeFolder(staging / "new");
        for (const std::string &name : entries) {
            const fs::path from = backup / name;
            const fs::path to = staging / "new" / name;
            if (name == layout::kConfig) {
                CopyOneFile(from, to, Links::Refuse);
            } else {
                MakeFolder(to);
                if (fs::is_directory(fs::symlink_status(from, ec)))
                    CopyTree(from, to, Links::Refuse, name == layout::kWork);
            }
        }
        // Every copy and its folder on the disk before the commit.
        SyncFileSystem(staging);
        // The copy must be of the backup whose password was asked for.
        if (!ConfigFileHoldsKey(staging / "new" / layout::kConfig, key))
            throw FileError(backup / layout::kConfig,
                            "バックアップのパスワードを確認できませんでした: " +
                                (backup / layout::kConfig).string());
        // The commit point: from here on the restore is carried through.
        std::string commit = "VOSTREL-RESTORE 1\n";
        for (const std::string &name : entries)
            commit += name + "\n";
        commit += "END\n";
        Step("commit");
        WriteFileAtomically(staging / kCommitName, commit);
        Step("committed");
    } catch (...) {
        fs::remove_all(staging, ec);
        SyncFolder(DataFolder());
        throw;
    }
    try {
        SwitchOver(entries);
    } catch (...) {
        // The commit stands: one more attempt now, else the next start finishes it.
        RecoverInterruptedRestore();
    }
}

bool RecoverInterruptedRestore()
{
    if (!PathExists(RestoreStagingFolder()))
        return false;
    std::vector<std::string> entries;
    if (ReadCommit(entries)) {
        SwitchOver(entries);
    } else {
        std::error_code ec;
        fs::remove_all(RestoreStagingFolder(), ec);
        SyncFolder(DataFolder());
    }
    return true;
}

} // namespace vostrel

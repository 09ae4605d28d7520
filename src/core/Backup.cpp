#include "core/Backup.h"

#include "core/AppState.h"
#include "core/AtomicFile.h"
#include "core/Errors.h"
#include "core/Reencrypt.h"

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

constexpr const char *kStagingName = "restore-staging";
constexpr const char *kCommitName = "commit";

std::function<void(const fs::path &)> copyHook;
std::mutex guardsMutex;
std::vector<std::pair<std::string, std::function<std::string()>>> guards;

std::string ReasonOf(const std::error_code &ec)
{
    return ec.category() == std::generic_category() || ec.category() == std::system_category()
               ? FileError::ErrnoText(ec.value())
               : ec.message();
}

void MakeFolder(const fs::path &folder)
{
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        throw FileError::WriteFailed(folder, FileError::ErrnoText(errno));
}

void CopyOneFile(const fs::path &from, const fs::path &to)
{
    if (copyHook)
        copyHook(from);
    std::error_code ec;
    if (!fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec))
        throw FileError::ReadFailed(from, ReasonOf(ec));
}

// Copies everything inside from into the existing folder to.
void CopyTree(const fs::path &from, const fs::path &to)
{
    std::error_code ec;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(*it);
    if (ec)
        throw FileError::ReadFailed(from, ReasonOf(ec));
    std::sort(entries.begin(), entries.end());
    for (const fs::directory_entry &entry : entries) {
        const fs::path target = to / entry.path().filename();
        std::error_code typeEc;
        if (entry.is_directory(typeEc) && !entry.is_symlink(typeEc)) {
            MakeFolder(target);
            CopyTree(entry.path(), target);
        } else if (entry.is_regular_file(typeEc)) {
            CopyOneFile(entry.path(), target);
        }
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

// The entries of the data folder that backup and restore deal with: every
// sub-folder but the working folders of a password change or a restore, and
// config.dat. Sorted by name.
std::vector<std::string> DataEntries()
{
    std::vector<std::string> names;
    std::error_code ec;
    const std::string rekeyStaging = RekeyStagingFolder().parent_path().filename().native();
    for (fs::directory_iterator it(DataFolder(), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().native();
        std::error_code typeEc;
        if (it->is_directory(typeEc)) {
            if (name != kStagingName && name != rekeyStaging)
                names.push_back(name);
        } else if (name == "config.dat") {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

void RenameOrThrow(const fs::path &from, const fs::path &to)
{
    if (::rename(from.c_str(), to.c_str()) != 0)
        throw FileError::WriteFailed(to, FileError::ErrnoText(errno));
}

// Swaps the staged entries in: each live entry moves to old/, its staged copy
// takes its place. Entries already swapped are skipped, so this can run again.
void SwitchOver(const std::vector<std::string> &entries)
{
    const fs::path staging = RestoreStagingFolder();
    MakeFolder(staging / "old");
    std::error_code ec;
    for (const std::string &name : entries) {
        const fs::path staged = staging / "new" / name;
        if (!fs::exists(fs::symlink_status(staged, ec)))
            continue; // swapped before
        const fs::path live = DataFolder() / name;
        if (fs::exists(fs::symlink_status(live, ec)))
            RenameOrThrow(live, staging / "old" / name);
        RenameOrThrow(staged, live);
    }
    SyncFolder(DataFolder());
    fs::remove_all(staging, ec);
    SyncFolder(DataFolder());
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

} // namespace

fs::path RestoreStagingFolder()
{
    return DataFolder() / kStagingName / "";
}

void SetBackupCopyHook(std::function<void(const fs::path &)> hook)
{
    copyHook = std::move(hook);
}

fs::path NextBackupFolder(const fs::path &chosen)
{
    std::error_code ec;
    fs::path folder = chosen / "Vostrel_backup";
    for (int n = 1; fs::exists(fs::symlink_status(folder, ec)); ++n)
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
            if (name == "config.dat") {
                CopyOneFile(from, folder / name);
            } else {
                MakeFolder(folder / name);
                CopyTree(from, folder / name);
            }
        }
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
    if (!fs::is_regular_file(folder / "config.dat", ec))
        return false;
    for (const char *name : {"Senders", "Logs", "Signature", "Receivers"})
        if (!fs::is_directory(folder / name, ec))
            return false;
    return true;
}

void RegisterRestoreGuard(std::string name, std::function<std::string()> guard)
{
    std::lock_guard lock(guardsMutex);
    std::erase_if(guards, [&](const auto &g) { return g.first == name; });
    guards.emplace_back(std::move(name), std::move(guard));
}

void RestoreBackup(const fs::path &backup)
{
    {
        std::lock_guard lock(guardsMutex);
        for (const auto &[name, guard] : guards)
            if (std::string reason = guard(); !reason.empty())
                throw VostrelError(reason);
    }
    const fs::path staging = RestoreStagingFolder();
    std::error_code ec;
    fs::remove_all(staging, ec);
    const std::vector<std::string> entries = DataEntries();
    try {
        MakeFolder(staging);
        MakeFolder(staging / "new");
        for (const std::string &name : entries) {
            const fs::path from = backup / name;
            const fs::path to = staging / "new" / name;
            if (name == "config.dat") {
                CopyOneFile(from, to);
            } else {
                MakeFolder(to);
                if (fs::is_directory(from, ec))
                    CopyTree(from, to);
            }
        }
        // The commit point: from here on the restore is carried through.
        std::string commit = "VOSTREL-RESTORE 1\n";
        for (const std::string &name : entries)
            commit += name + "\n";
        commit += "END\n";
        WriteFileAtomically(staging / kCommitName, commit);
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
    std::error_code ec;
    if (!fs::exists(RestoreStagingFolder(), ec))
        return false;
    std::vector<std::string> entries;
    if (ReadCommit(entries)) {
        SwitchOver(entries);
    } else {
        fs::remove_all(RestoreStagingFolder(), ec);
        SyncFolder(DataFolder());
    }
    return true;
}

} // namespace vostrel

#include "core/Reencrypt.h"

#include "core/AppState.h"
#include "core/AtomicFile.h"
#include "core/DataFolder.h"
#include "core/DataLayout.h"
#include "core/Errors.h"
#include "core/FieldStore.h"
#include "core/FileUtils.h"
#include "core/Password.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace vostrel {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kJournalHeader = "VOSTREL-REKEY 2";
constexpr std::string_view kJournalEnd = "END";

std::mutex kindsMutex;
std::vector<RekeyKind> kinds;
bool changeRunning = false;

// Journal entries are written in hexadecimal, so that no file name can break
// the one-entry-per-line layout.
std::string ToHex(const std::string &bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        hex += kDigits[c >> 4];
        hex += kDigits[c & 15];
    }
    return hex;
}

bool FromHex(const std::string &hex, std::string &bytes)
{
    auto value = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    if (hex.size() % 2 != 0)
        return false;
    bytes.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int hi = value(hex[i]), lo = value(hex[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        bytes += static_cast<char>(hi * 16 + lo);
    }
    return true;
}

#ifdef VOSTREL_TEST_HOOKS
std::function<void(const std::string &)> stepHook;

void Step(const std::string &name)
{
    if (stepHook)
        stepHook(name);
}
#else
void Step(const std::string &) {}
#endif

struct Target
{
    fs::path path;                   // the live file
    fs::path relative;               // its path inside the data folder
    const RekeyKind *kind = nullptr; // null: config.dat
};

void Pump(const ReencryptProgress &progress)
{
    if (progress.pumpEvents)
        progress.pumpEvents();
}

void RewriteConfig(const fs::path &to, const std::string &newKey)
{
    EncryptedFieldFile out = EncryptedFieldFile::Create(to, newKey);
    out.WriteField(newKey);
    out.Commit();
}

// A relative path that stays inside the data folder, or empty.
fs::path InsideDataFolder(const fs::path &file)
{
    const fs::path relative = file.lexically_normal().lexically_relative(DataFolder());
    if (relative.empty() || relative.is_absolute() || *relative.begin() == "..")
        return {};
    return relative;
}

// The kinds sorted by position, and every file found, each exactly once.
std::vector<Target> CollectTargets(const std::vector<RekeyKind> &sorted)
{
    std::vector<Target> targets;
    std::set<fs::path> seen;
    for (const RekeyKind &kind : sorted) {
        for (const fs::path &file : kind.files()) {
            const fs::path relative = InsideDataFolder(file);
            if (relative.empty() || relative == layout::kConfig ||
                *relative.begin() == layout::kRekeyStaging)
                continue;
            if (seen.insert(relative).second)
                targets.push_back({DataFolder() / relative, relative, &kind});
        }
    }
    targets.push_back({ConfigPath(), layout::kConfig, nullptr});
    return targets;
}

// Creates the folders from the staging folder down to the parent of file
// (mode 0700).
void MakeStagingFolders(const fs::path &relative)
{
    fs::path folder = RekeyStagingFolder();
    for (const fs::path &part : relative.parent_path()) {
        ::mkdir(folder.c_str(), 0700);
        folder /= part;
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        throw FileError::WriteFailed(folder, FileError::ErrnoText(errno));
}

void RenameOver(const fs::path &from, const fs::path &to)
{
    if (::rename(from.c_str(), to.c_str()) != 0)
        throw FileError::WriteFailed(to, FileError::ErrnoText(errno));
}

void RemoveStaging()
{
    std::error_code ec;
    fs::remove_all(RekeyStagingFolder(), ec);
    SyncFolder(DataFolder());
}

bool ReadJournal(std::vector<fs::path> &relatives)
{
    std::ifstream in(RekeyJournalPath());
    if (!in)
        return false;
    std::string line;
    if (!std::getline(in, line) || line != kJournalHeader)
        return false;
    while (std::getline(in, line)) {
        if (line == kJournalEnd)
            return true;
        std::string relative;
        if (!FromHex(line, relative) || InsideDataFolder(DataFolder() / relative).empty())
            return false;
        relatives.push_back(relative);
    }
    return false; // never written whole: then nothing was switched
}

void SwitchOver(const std::vector<fs::path> &relatives)
{
    std::set<fs::path> folders;
    for (const fs::path &relative : relatives) {
        const fs::path staged = RekeyStagingFolder() / relative;
        const fs::path target = DataFolder() / relative;
        std::error_code ec;
        if (fs::exists(staged, ec)) {
            Step("switch " + target.string());
            RenameOver(staged, target);
        }
        folders.insert(target.parent_path());
    }
    for (const fs::path &folder : folders)
        SyncFolder(folder);
    Step("done");
    if (::unlink(RekeyJournalPath().c_str()) != 0 && errno != ENOENT)
        throw FileError::WriteFailed(RekeyJournalPath(), FileError::ErrnoText(errno));
    RemoveStaging();
}

} // namespace

void RegisterRekeyKind(RekeyKind kind)
{
    std::lock_guard lock(kindsMutex);
    std::erase_if(kinds, [&](const RekeyKind &k) { return k.name == kind.name; });
    kinds.push_back(std::move(kind));
}

std::vector<RekeyKind> RegisteredRekeyKinds()
{
    std::vector<RekeyKind> sorted;
    {
        std::lock_guard lock(kindsMutex);
        sorted = kinds;
    }
    std::stable_sort(sorted.begin(), sorted.end(), [](const RekeyKind &a, const RekeyKind &b) {
        return a.position < b.position;
    });
    return sorted;
}

void RekeyCopyAllFields(const fs::path &from, const fs::path &to, const std::string &oldKey,
                        const std::string &newKey, const std::function<void()> &pump)
{
    EncryptedFieldFile in = EncryptedFieldFile::OpenRead(from, oldKey);
    EncryptedFieldFile out = EncryptedFieldFile::Create(to, newKey);
    for (long long n = 0; !in.AtEnd(); ++n) {
        out.WriteField(in.ReadField());
        if (pump && n % (50 * 13) == 0)
            pump();
    }
    out.Commit();
}

bool KeyChangeRunning()
{
    return changeRunning;
}

fs::path RekeyStagingFolder()
{
    return DataFolder() / layout::kRekeyStaging / "";
}

fs::path RekeyJournalPath()
{
    return RekeyStagingFolder() / "journal";
}

#ifdef VOSTREL_TEST_HOOKS
void SetReencryptStepHook(std::function<void(const std::string &)> hook)
{
    stepHook = std::move(hook);
}
#endif

KeyChangeRecovery RecoverInterruptedKeyChange()
{
    std::error_code ec;
    if (!fs::exists(RekeyStagingFolder(), ec))
        return KeyChangeRecovery::Nothing;
    std::vector<fs::path> relatives;
    if (ReadJournal(relatives)) {
        SwitchOver(relatives);
        return KeyChangeRecovery::RolledForward;
    }
    RemoveStaging();
    return KeyChangeRecovery::RolledBack;
}

void ReencryptAll(const std::string &oldKey, const std::string &newKey,
                  const ReencryptProgress &progress)
{
    if (changeRunning || RecordWriteScope::Active() > 0)
        throw VostrelError("他の処理が実行中のため、パスワードを変更できません。"
                           "処理が終わってからもう一度お試しください。");
    changeRunning = true;
    struct Running
    {
        ~Running() { changeRunning = false; }
    } running;

    const std::vector<RekeyKind> sorted = RegisteredRekeyKinds();
    // Traces of an earlier change: one that never got as far as its journal
    // is removed; a committed one is finished at start-up, never here.
    std::error_code ec;
    if (fs::exists(RekeyStagingFolder(), ec)) {
        std::vector<fs::path> pending;
        if (ReadJournal(pending))
            throw VostrelError("前回のパスワード変更が完了していません。"
                               "ソフトを起動し直してからもう一度お試しください。");
        RemoveStaging();
    }
    const std::vector<Target> targets = CollectTargets(sorted);
    const std::function<void()> pump = [&progress] { Pump(progress); };
    try {
        int position = 0;
        for (const Target &target : targets) {
            const int kindPosition = target.kind ? target.kind->position : 4;
            while (position < kindPosition && progress.onPosition)
                progress.onPosition(++position);
            const fs::path staged = RekeyStagingFolder() / target.relative;
            Step("write " + target.path.string());
            MakeStagingFolders(target.relative);
            if (target.kind)
                target.kind->rewrite(target.path, staged, oldKey, newKey, pump);
            else
                RewriteConfig(staged, newKey);
            Pump(progress);
        }
        // The commit point: from here on the change is carried through.
        Step("commit");
        std::ostringstream journal;
        journal << kJournalHeader << '\n';
        for (const Target &target : targets)
            journal << ToHex(target.relative.native()) << '\n';
        journal << kJournalEnd << '\n';
        WriteFileAtomically(RekeyJournalPath(), journal.str());
    } catch (...) {
        RemoveStaging();
        throw;
    }
    SetCurrentKey(newKey);
    std::vector<fs::path> relatives;
    for (const Target &target : targets)
        relatives.push_back(target.relative);
    try {
        SwitchOver(relatives);
    } catch (...) {
        // The journal stands: one more attempt now, else the next start finishes it.
        RecoverInterruptedKeyChange();
    }
}

} // namespace vostrel

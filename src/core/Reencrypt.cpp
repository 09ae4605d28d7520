#include "core/Reencrypt.h"

#include "core/AppState.h"
#include "core/AtomicFile.h"
#include "core/BoolField.h"
#include "core/DataFolder.h"
#include "core/Errors.h"
#include "core/FieldStore.h"
#include "core/Password.h"
#include "senders/SenderAccount.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace vostrel {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kJournalHeader = "VOSTREL-REKEY 1";
constexpr std::string_view kJournalEnd = "END";

std::function<void(const std::string &)> stepHook;

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

void Step(const std::string &name)
{
    if (stepHook)
        stepHook(name);
}

enum class Kind
{
    List,
    Sender,
    Log,
    Config
};

struct Target
{
    fs::path path;
    Kind kind;
};

void Pump(const ReencryptProgress &progress)
{
    if (progress.pumpEvents)
        progress.pumpEvents();
}

// Copies every field up to the end of the file.
void CopyRemainingFields(EncryptedFieldFile &in, EncryptedFieldFile &out,
                         const ReencryptProgress &progress)
{
    for (long long n = 0; !in.AtEnd(); ++n) {
        out.WriteField(in.ReadField());
        if (n % (50 * 13) == 0)
            Pump(progress);
    }
}

// A destination list: three flags as they are, the count in plain decimal,
// count x 13 recipient fields; a count that is not a number is copied like
// any other field, and so is anything after the last recipient.
void RewriteList(const fs::path &from, const fs::path &to, const std::string &oldKey,
                 const std::string &newKey, const ReencryptProgress &progress)
{
    EncryptedFieldFile in = EncryptedFieldFile::OpenRead(from, oldKey);
    EncryptedFieldFile out = EncryptedFieldFile::Create(to, newKey);
    for (int i = 0; i < 3 && !in.AtEnd(); ++i)
        out.WriteField(in.ReadField());
    if (!in.AtEnd()) {
        const std::string countText = in.ReadField();
        long long count = 0;
        if (ParseDecimal(countText, count) && count >= 0) {
            out.WriteField(std::to_string(count));
            for (long long r = 0; r < count; ++r) {
                for (int f = 0; f < 13; ++f)
                    out.WriteField(in.ReadField());
                if (r % 50 == 0)
                    Pump(progress);
            }
        } else {
            out.WriteField(countText);
        }
    }
    CopyRemainingFields(in, out, progress);
    out.Commit();
}

void RewriteSender(const fs::path &from, const fs::path &to, const std::string &oldKey,
                   const std::string &newKey)
{
    WriteSenderAccount(to, ReadSenderAccount(from, oldKey), newKey);
}

void RewriteLog(const fs::path &from, const fs::path &to, const std::string &oldKey,
                const std::string &newKey, const ReencryptProgress &progress)
{
    EncryptedFieldFile in = EncryptedFieldFile::OpenRead(from, oldKey);
    EncryptedFieldFile out = EncryptedFieldFile::Create(to, newKey);
    CopyRemainingFields(in, out, progress);
    out.Commit();
}

void RewriteConfig(const fs::path &to, const std::string &newKey)
{
    EncryptedFieldFile out = EncryptedFieldFile::Create(to, newKey);
    out.WriteField(newKey);
    out.Commit();
}

std::vector<Target> CollectTargets()
{
    const fs::path data = DataFolder();
    std::vector<Target> targets;
    for (const std::string &name : ListVslNames(data / "Receivers"))
        targets.push_back({data / "Receivers" / (FileNameOf(name).native() + ".vsl"), Kind::List});
    const std::vector<std::string> senders = ListSenderAccounts();
    for (const std::string &name : senders)
        targets.push_back({SenderAccountPath(name), Kind::Sender});
    for (const std::string &name : senders) {
        const fs::path folder = data / "Logs" / FileNameOf(name);
        for (const std::string &log : ListVslNames(folder))
            targets.push_back({folder / (FileNameOf(log).native() + ".vsl"), Kind::Log});
    }
    targets.push_back({ConfigPath(), Kind::Config});
    return targets;
}

void SyncFolder(const fs::path &folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

void RenameOver(const fs::path &from, const fs::path &to)
{
    if (::rename(from.c_str(), to.c_str()) != 0)
        throw FileError::WriteFailed(to, FileError::ErrnoText(errno));
}

// Deletes the new files of a change that never reached its journal, and the
// temporary files of writes that were cut off.
void RemoveLeftovers()
{
    const fs::path data = DataFolder();
    std::vector<fs::path> folders = {data, data / "Receivers", data / "Senders"};
    std::error_code ec;
    for (fs::directory_iterator it(data / "Logs", ec), end; !ec && it != end; it.increment(ec))
        if (it->is_directory(ec))
            folders.push_back(it->path());
    for (const fs::path &folder : folders) {
        std::vector<fs::path> doomed;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().native();
            const bool side = name.size() > 7 && name.front() == '.' && name.ends_with(".rekey");
            const size_t tmp = name.rfind(".tmp-");
            const bool temporary =
                name.front() == '.' && tmp != std::string::npos && name.size() == tmp + 11;
            if ((side || temporary) && it->is_regular_file(ec))
                doomed.push_back(it->path());
        }
        for (const fs::path &p : doomed)
            fs::remove(p, ec);
    }
}

bool ReadJournal(std::vector<fs::path> &targets)
{
    std::ifstream in(RekeyJournalPath());
    if (!in)
        return false;
    std::string line;
    if (!std::getline(in, line) || line != kJournalHeader)
        return false;
    const fs::path data = DataFolder();
    while (std::getline(in, line)) {
        if (line == kJournalEnd)
            return true;
        std::string relative;
        if (!FromHex(line, relative))
            return false;
        targets.push_back(data / relative);
    }
    return false; // never written whole: cannot be, but then nothing was switched
}

void SwitchOver(const std::vector<fs::path> &targets)
{
    std::set<fs::path> folders;
    for (const fs::path &target : targets) {
        const fs::path side = RekeySidePath(target);
        std::error_code ec;
        if (fs::exists(side, ec)) {
            Step("switch " + target.string());
            RenameOver(side, target);
        }
        folders.insert(target.parent_path());
    }
    for (const fs::path &folder : folders)
        SyncFolder(folder);
    Step("done");
    if (::unlink(RekeyJournalPath().c_str()) != 0 && errno != ENOENT)
        throw FileError::WriteFailed(RekeyJournalPath(), FileError::ErrnoText(errno));
    SyncFolder(DataFolder());
}

} // namespace

fs::path RekeySidePath(const fs::path &target)
{
    return target.parent_path() / ("." + target.filename().native() + ".rekey");
}

fs::path RekeyJournalPath()
{
    return DataFolder() / "rekey.journal";
}

void SetReencryptStepHook(std::function<void(const std::string &)> hook)
{
    stepHook = std::move(hook);
}

KeyChangeRecovery RecoverInterruptedKeyChange()
{
    std::vector<fs::path> targets;
    std::error_code ec;
    if (fs::exists(RekeyJournalPath(), ec)) {
        if (ReadJournal(targets)) {
            SwitchOver(targets);
            RemoveLeftovers();
            return KeyChangeRecovery::RolledForward;
        }
        fs::remove(RekeyJournalPath(), ec);
    }
    bool found = false;
    const fs::path data = DataFolder();
    for (const fs::path &folder : {data, data / "Receivers", data / "Senders"})
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
            if (it->path().filename().native().ends_with(".rekey"))
                found = true;
    RemoveLeftovers();
    return found ? KeyChangeRecovery::RolledBack : KeyChangeRecovery::Nothing;
}

void ReencryptAll(const std::string &oldKey, const std::string &newKey,
                  const ReencryptProgress &progress)
{
    const std::vector<Target> targets = CollectTargets();
    std::vector<fs::path> written;
    try {
        for (Kind kind : {Kind::List, Kind::Sender, Kind::Log, Kind::Config}) {
            if (progress.onPosition)
                progress.onPosition(static_cast<int>(kind) + 1);
            for (const Target &target : targets) {
                if (target.kind != kind)
                    continue;
                const fs::path side = RekeySidePath(target.path);
                Step("write " + target.path.string());
                written.push_back(side);
                switch (target.kind) {
                case Kind::List:
                    RewriteList(target.path, side, oldKey, newKey, progress);
                    break;
                case Kind::Sender:
                    RewriteSender(target.path, side, oldKey, newKey);
                    break;
                case Kind::Log:
                    RewriteLog(target.path, side, oldKey, newKey, progress);
                    break;
                case Kind::Config:
                    RewriteConfig(side, newKey);
                    break;
                }
                Pump(progress);
            }
        }
        // The commit point: from here on the change is carried through.
        Step("commit");
        std::ostringstream journal;
        journal << kJournalHeader << '\n';
        const fs::path data = DataFolder();
        for (const Target &target : targets)
            journal << ToHex(target.path.lexically_relative(data).native()) << '\n';
        journal << kJournalEnd << '\n';
        WriteFileAtomically(RekeyJournalPath(), journal.str());
    } catch (...) {
        std::error_code ec;
        for (const fs::path &side : written)
            fs::remove(side, ec);
        throw;
    }
    SetCurrentKey(newKey);
    std::vector<fs::path> paths;
    for (const Target &target : targets)
        paths.push_back(target.path);
    try {
        SwitchOver(paths);
    } catch (...) {
        // The journal stands: one more attempt now, else the next start finishes it.
        RecoverInterruptedKeyChange();
    }
}

} // namespace vostrel

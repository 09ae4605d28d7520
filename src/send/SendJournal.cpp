#include "send/SendJournal.h"

#include "core/AppState.h"
#include "core/Backup.h"
#include "core/BoolField.h"
#include "core/DataLayout.h"
#include "core/Errors.h"
#include "core/FieldStore.h"
#include "core/FileUtils.h"
#include "core/Reencrypt.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace vostrel {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kMagic = "VOSTREL-SEND-JOURNAL 1";
constexpr std::string_view kEnd = "END";
constexpr const char *kAsideSuffix = ".unreadable";
// More names than any list of a job can hold: a count beyond it is damage.
constexpr long long kMaxNames = 1000000;

#ifdef VOSTREL_TEST_HOOKS
std::mutex hookMutex;
std::function<void(const std::string &)> stepHook;
#endif

// The whole file, or false when it cannot be read.
bool ReadWhole(const fs::path &path, std::string &bytes)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bytes.clear();
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            return n == 0;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string Frame(const std::string &cipher)
{
    const auto length = static_cast<std::uint32_t>(cipher.size());
    std::string frame = {static_cast<char>(length), static_cast<char>(length >> 8),
                         static_cast<char>(length >> 16), static_cast<char>(length >> 24)};
    frame += cipher;
    return frame;
}

// Calls each(plain) for every whole field of a field file's bytes, in order,
// while each returns true; the offset after the last field taken.
template <class Each>
std::size_t ForEachField(const std::string &bytes, const FieldCodec &codec, Each each)
{
    std::size_t at = 0;
    while (bytes.size() - at >= 4) {
        std::uint32_t length = 0;
        for (int i = 0; i < 4; ++i)
            length |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i]))
                      << (8 * i);
        if (length == 0 || length > 0x7fffffffu || length > bytes.size() - at - 4)
            break;
        if (!each(codec.DecryptString(std::string_view(bytes).substr(at + 4, length))))
            break;
        at += 4 + length;
    }
    return at;
}

long long NowUnix()
{
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void WriteNames(EncryptedFieldFile &file, const std::vector<std::string> &names)
{
    file.WriteField(std::to_string(names.size()));
    for (const std::string &name : names)
        file.WriteField(name);
}

// Reads the plan field by field; any field that is missing or does not read
// as what it should be makes the plan unreadable.
class PlanReader
{
public:
    PlanReader(const fs::path &path, const std::string &key)
        : file_(EncryptedFieldFile::OpenRead(path, key))
    {}

    std::string Text() { return file_.ReadField(); }
    long long Number()
    {
        long long value = 0;
        if (!ParseDecimal(Text(), value))
            throw ConversionError("");
        return value;
    }
    bool Bool() { return ParseBoolField(Text()); }
    std::vector<std::string> Names()
    {
        const long long count = Number();
        if (count < 0 || count > kMaxNames)
            throw ConversionError("");
        std::vector<std::string> names;
        for (long long i = 0; i < count; ++i)
            names.push_back(Text());
        return names;
    }

private:
    EncryptedFieldFile file_;
};

std::string Unreadable(const fs::path &path)
{
    return "送信の記録を読み込めませんでした（ファイルが壊れているか、別のパスワードで"
           "保存されています）: " +
           path.string();
}

SendJournalHeader ReadPlan(const std::string &key)
{
    const fs::path path = SendJournalPath();
    std::optional<PlanReader> opened;
    try {
        opened.emplace(path, key);
    } catch (const std::exception &e) {
        throw SendJournalUnreadable(e.what()); // names the file and why
    }
    PlanReader &in = *opened;
    SendJournalHeader header;
    try {
        if (in.Text() != kMagic)
            throw ConversionError("");
        header.runId = in.Text();
        header.startTime = in.Text();
        header.startUnix = in.Number();
        header.total = in.Number();
        header.digest = in.Text();
        SendJob &job = header.job;
        job.senderNames = in.Names();
        job.senderSwitchEvery = static_cast<int>(in.Number());
        job.sendIndividually = in.Bool();
        job.toLists = in.Names();
        job.ccLists = in.Names();
        job.ccFirstOnly = in.Bool();
        job.bccLists = in.Names();
        job.bccFirstOnly = in.Bool();
        job.subject = in.Text();
        job.body = in.Text();
        job.sendAsHtml = in.Bool();
        job.attachments = in.Names();
        job.inlinePictures = in.Names();
        job.intervalMs = static_cast<int>(in.Number());
        if (in.Text() != kEnd || header.runId.size() != 16 || header.total < 0)
            throw ConversionError("");
    } catch (const std::exception &) {
        // Ends early or holds nonsense: damaged, or written under another key.
        throw SendJournalUnreadable(Unreadable(path));
    }
    return header;
}

// One progress entry: "id \t kind \t n \t time [\t rest]".
struct Entry
{
    std::string_view id, kind, rest;
    long long n = 0, time = 0;
};

bool ParseEntry(std::string_view text, Entry &entry)
{
    std::string_view parts[3];
    for (std::string_view &part : parts) {
        const std::size_t tab = text.find('\t');
        if (tab == std::string_view::npos)
            return false;
        part = text.substr(0, tab);
        text.remove_prefix(tab + 1);
    }
    const std::size_t tab = text.find('\t');
    entry.id = parts[0];
    entry.kind = parts[1];
    entry.rest = tab == std::string_view::npos ? std::string_view() : text.substr(tab + 1);
    return ParseDecimal(parts[2], entry.n) && ParseDecimal(text.substr(0, tab), entry.time);
}

void ReadProgress(SendJournalContents &contents, const std::string &key)
{
    std::string bytes;
    if (!ReadWhole(SendProgressPath(), bytes))
        return;
    const FieldCodec codec(key);
    const std::string &runId = contents.header.runId;
    const std::size_t at = ForEachField(bytes, codec, [&](const std::string &text) {
        if (contents.ended)
            return false; // nothing follows the end
        Entry entry;
        if (!ParseEntry(text, entry) || entry.id != runId || entry.kind.size() != 1)
            return false;
        const auto next = static_cast<long long>(contents.mails.size()) + 1;
        switch (entry.kind[0]) {
        case 'S':
        case 'F':
            if (entry.n != next || entry.n > contents.header.total)
                return false;
            contents.mails.push_back(
                {entry.n, entry.kind[0] == 'S', entry.time, std::string(entry.rest)});
            return true;
        case 'E':
            if (entry.n != next - 1)
                return false;
            contents.ended = true;
            contents.endedHow = std::string(entry.rest);
            contents.endedTime = entry.time;
            return true;
        default:
            return false;
        }
    });
    contents.tailDamaged = at != bytes.size();
}

// The password change's rewrite of the progress file: every entry that reads
// whole, re-encrypted; a torn tail is dropped.
void RekeyProgress(const fs::path &from, const fs::path &to, const std::string &oldKey,
                   const std::string &newKey, const std::function<void()> &pump)
{
    std::string bytes;
    if (!ReadWhole(from, bytes))
        throw FileError::ReadFailed(from, FileError::ErrnoText(errno));
    EncryptedFieldFile out = EncryptedFieldFile::Create(to, newKey);
    long long n = 0;
    ForEachField(bytes, FieldCodec(oldKey), [&](const std::string &plain) {
        out.WriteField(plain);
        if (pump && ++n % 1000 == 0)
            pump();
        return true;
    });
    out.Commit();
}

} // namespace

fs::path SendJournalPath()
{
    return DataFolder() / layout::kSendJournal;
}

fs::path SendProgressPath()
{
    return DataFolder() / layout::kSendProgress;
}

bool SendJournalPending()
{
    return PathExists(SendJournalPath());
}

std::string SendJournalRestoreRefusal()
{
    if (!SendJournalPending())
        return {};
    return "前回の送信の後処理が終わっていないため、復元できません。"
           "ソフトを起動し直してから、もう一度お試しください。";
}

std::string NewSendRunId()
{
    std::random_device device;
    const std::uint64_t value = (static_cast<std::uint64_t>(device()) << 32) ^ device();
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

void RecipientDigest::Add(std::string_view field)
{
    // FNV-1a over the length and the bytes, so that field boundaries count.
    auto mix = [this](unsigned char byte) {
        hash_ ^= byte;
        hash_ *= 1099511628211ull;
    };
    std::uint64_t size = field.size();
    for (int i = 0; i < 8; ++i, size >>= 8)
        mix(static_cast<unsigned char>(size));
    for (const char c : field)
        mix(static_cast<unsigned char>(c));
}

std::string RecipientDigest::Hex() const
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash_));
    return text;
}

SendJournalContents ReadSendJournal(const std::string &key)
{
    SendJournalContents contents;
    contents.header = ReadPlan(key);
    ReadProgress(contents, key);
    return contents;
}

// ---- SendJournalWriter ----

struct SendJournalWriter::Syncer
{
    std::mutex mutex;
    std::condition_variable wake;
    int fd = -1;          // the thread's own descriptor of the progress file
    bool dirty = false;   // written since the last sync
    bool idle = false;    // the thread waits for work
    bool closing = false; // the writer is done: no more syncs
    int error = 0;        // errno of a failed sync

    // Syncs written entries as soon as there are some, at most once a second.
    static void Loop(std::shared_ptr<Syncer> self)
    {
        using Clock = std::chrono::steady_clock;
        std::unique_lock lock(self->mutex);
        Clock::time_point lastSync = Clock::now() - std::chrono::seconds(1);
        for (;;) {
            self->idle = true;
            self->wake.wait(lock, [&] { return self->dirty || self->closing; });
            self->idle = false;
            if (self->closing)
                break;
            // Entries written meanwhile join this sync.
            if (self->wake.wait_until(lock, lastSync + std::chrono::seconds(1),
                                      [&] { return self->closing; }))
                break;
            self->dirty = false;
            lock.unlock();
            const int err = ::fdatasync(self->fd) == 0 ? 0 : errno;
            lock.lock();
            lastSync = Clock::now();
            if (err != 0 && self->error == 0)
                self->error = err;
        }
        ::close(self->fd);
    }
};

SendJournalWriter::SendJournalWriter(const SendJournalHeader &header, std::string key)
    : runId_(header.runId)
    , codec_(std::move(key))
{
    if (SendJournalPending())
        throw VostrelError("前回の送信の記録が残っているため、送信を始められません。"
                           "ソフトを起動し直してから、もう一度お試しください。");
    const fs::path progress = SendProgressPath();
    fd_ = ::open(progress.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
    if (fd_ < 0)
        throw FileError::WriteFailed(progress, FileError::ErrnoText(errno));
    try {
        auto syncer = std::make_shared<Syncer>();
        syncer->fd = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
        if (syncer->fd < 0)
            throw FileError::WriteFailed(progress, FileError::ErrnoText(errno));
        try {
            std::thread(Syncer::Loop, syncer).detach();
        } catch (...) {
            ::close(syncer->fd);
            throw;
        }
        syncer_ = std::move(syncer);

        EncryptedFieldFile plan = EncryptedFieldFile::Create(SendJournalPath(), codec_.Key());
        const SendJob &job = header.job;
        plan.WriteField(kMagic);
        plan.WriteField(header.runId);
        plan.WriteField(header.startTime);
        plan.WriteField(std::to_string(header.startUnix));
        plan.WriteField(std::to_string(header.total));
        plan.WriteField(header.digest);
        WriteNames(plan, job.senderNames);
        plan.WriteField(std::to_string(job.senderSwitchEvery));
        plan.WriteField(BoolField(job.sendIndividually));
        WriteNames(plan, job.toLists);
        WriteNames(plan, job.ccLists);
        plan.WriteField(BoolField(job.ccFirstOnly));
        WriteNames(plan, job.bccLists);
        plan.WriteField(BoolField(job.bccFirstOnly));
        plan.WriteField(job.subject);
        plan.WriteField(job.body);
        plan.WriteField(BoolField(job.sendAsHtml));
        WriteNames(plan, job.attachments);
        WriteNames(plan, job.inlinePictures);
        plan.WriteField(std::to_string(job.intervalMs));
        plan.WriteField(kEnd);
        // Also makes the progress file's name durable: same folder.
        plan.Commit();
    } catch (...) {
        StopSyncing();
        ::close(fd_);
        fd_ = -1;
        ::unlink(progress.c_str());
        throw;
    }
}

SendJournalWriter::~SendJournalWriter()
{
    if (fd_ < 0)
        return;
    bool dirty = false;
    if (syncer_) {
        std::lock_guard lock(syncer_->mutex);
        dirty = syncer_->dirty;
    }
    StopSyncing();
    if (dirty)
        ::fdatasync(fd_);
    ::close(fd_);
}

void SendJournalWriter::Append(const std::string &text)
{
    if (fd_ < 0 || !syncer_)
        throw FileError::WriteFailed(SendProgressPath(), "");
    {
        std::lock_guard lock(syncer_->mutex);
        if (syncer_->error != 0)
            throw FileError::WriteFailed(SendProgressPath(), FileError::ErrnoText(syncer_->error));
    }
    if (!WriteAll(fd_, Frame(codec_.EncryptString(text)))) {
        const int err = errno;
        throw FileError::WriteFailed(SendProgressPath(), FileError::ErrnoText(err));
    }
    std::lock_guard lock(syncer_->mutex);
    syncer_->dirty = true;
    if (syncer_->idle) {
        syncer_->idle = false;
        syncer_->wake.notify_one();
    }
}

void SendJournalWriter::Mail(long long n, bool sent, std::string_view reasonUtf8)
{
    std::string text =
        runId_ + (sent ? "\tS\t" : "\tF\t") + std::to_string(n) + '\t' + std::to_string(NowUnix());
    if (!sent) {
        text += '\t';
        text += reasonUtf8;
    }
    Append(text);
}

void SendJournalWriter::End(long long attempted, std::string_view how)
{
    Append(runId_ + "\tE\t" + std::to_string(attempted) + '\t' + std::to_string(NowUnix()) + '\t' +
           std::string(how));
}

void SendJournalWriter::StopSyncing()
{
    if (!syncer_)
        return;
    {
        std::lock_guard lock(syncer_->mutex);
        syncer_->closing = true;
        syncer_->wake.notify_one();
    }
    syncer_.reset();
}

void SendJournalWriter::Remove()
{
    // What is still unsynced needs no sync: the files go.
    StopSyncing();
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    RemoveSendJournal();
}

// ---- the files as a whole ----

void RemoveSendJournal()
{
    // The plan goes first: a progress file without a plan is a leftover that
    // the next run or start removes.
    const fs::path plan = SendJournalPath();
    if (::unlink(plan.c_str()) != 0 && errno != ENOENT)
        throw FileError::WriteFailed(plan, FileError::ErrnoText(errno));
    SyncFolder(DataFolder());
    ::unlink(SendProgressPath().c_str());
}

fs::path SetSendJournalAside()
{
    const fs::path plan = SendJournalPath();
    fs::path aside = plan;
    aside += kAsideSuffix;
    if (::rename(plan.c_str(), aside.c_str()) != 0)
        throw FileError::WriteFailed(aside, FileError::ErrnoText(errno));
    fs::path progressAside = SendProgressPath();
    progressAside += kAsideSuffix;
    ::rename(SendProgressPath().c_str(), progressAside.c_str());
    SyncFolder(DataFolder());
    return aside;
}

void RegisterSendJournalRekey()
{
    RekeyKind kind;
    kind.position = 3;
    kind.name = "send journal";
    kind.files = [] {
        std::vector<fs::path> files;
        if (SendJournalPending()) {
            files.push_back(SendJournalPath());
            if (PathExists(SendProgressPath()))
                files.push_back(SendProgressPath());
        }
        return files;
    };
    kind.rewrite = [](const fs::path &from, const fs::path &to, const std::string &oldKey,
                      const std::string &newKey, const std::function<void()> &pump) {
        if (from.filename() == layout::kSendProgress)
            RekeyProgress(from, to, oldKey, newKey, pump);
        else
            RekeyCopyAllFields(from, to, oldKey, newKey, pump);
    };
    RegisterRekeyKind(std::move(kind));
}

void RegisterSendJournalRestoreGuard()
{
    RegisterRestoreGuard("send journal", SendJournalRestoreRefusal);
}

#ifdef VOSTREL_TEST_HOOKS
void SetSendJournalStepHook(std::function<void(const std::string &)> hook)
{
    std::lock_guard lock(hookMutex);
    stepHook = std::move(hook);
}

void SendJournalStep(const std::string &step)
{
    std::function<void(const std::string &)> hook;
    {
        std::lock_guard lock(hookMutex);
        hook = stepHook;
    }
    if (hook)
        hook(step);
}
#endif

} // namespace vostrel

#include "send/MailboxRecord.h"

#include "core/DataLayout.h"
#include "core/Errors.h"
#include "core/FieldStore.h"
#include "core/Reencrypt.h"

#include <charconv>

namespace vostrel {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kMagic = "VOSTREL-MAILBOX-CHECK 1";

std::string LowerAscii(std::string text)
{
    for (char &c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

long Count(const fs::path &path, std::string_view text)
{
    long value = -1;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 0)
        throw FileError::ReadFailed(path, "記録が壊れています (件数「" + std::string(text) +
                                              "」が数ではありません)");
    return value;
}

} // namespace

fs::path MailboxRecordPath()
{
    return SendersFolder() / layout::kMailboxCheck;
}

MailboxRecord MailboxRecord::Load(const fs::path &path, const std::string &key)
{
    MailboxRecord record;
    std::error_code ec;
    if (!fs::exists(path, ec))
        return record;
    EncryptedFieldFile file = EncryptedFieldFile::OpenRead(path, key);
    if (file.ReadField() != kMagic)
        throw FileError::ReadFailed(path, "メールボックスの確認記録ではありません");
    const long boxes = Count(path, file.ReadField());
    for (long b = 0; b < boxes; ++b) {
        std::string host = file.ReadField();
        std::string user = file.ReadField();
        MailboxState &state = record.boxes_[{std::move(host), std::move(user)}];
        const long uidls = Count(path, file.ReadField());
        for (long i = 0; i < uidls; ++i)
            state.seenUidls.insert(file.ReadField());
        const long streaks = Count(path, file.ReadField());
        for (long i = 0; i < streaks; ++i) {
            std::string address = file.ReadField();
            TemporaryStreak streak;
            streak.count = static_cast<int>(Count(path, file.ReadField()));
            streak.lastMessageId = file.ReadField();
            state.temporary[std::move(address)] = std::move(streak);
        }
    }
    return record;
}

void MailboxRecord::Save(const fs::path &path, const std::string &key) const
{
    EncryptedFieldFile file = EncryptedFieldFile::Create(path, key);
    file.WriteField(kMagic);
    file.WriteField(std::to_string(boxes_.size()));
    for (const auto &[box, state] : boxes_) {
        file.WriteField(box.first);
        file.WriteField(box.second);
        file.WriteField(std::to_string(state.seenUidls.size()));
        for (const std::string &uidl : state.seenUidls)
            file.WriteField(uidl);
        file.WriteField(std::to_string(state.temporary.size()));
        for (const auto &[address, streak] : state.temporary) {
            file.WriteField(address);
            file.WriteField(std::to_string(streak.count));
            file.WriteField(streak.lastMessageId);
        }
    }
    file.Commit();
}

MailboxState &MailboxRecord::Of(const SenderAccount &account)
{
    return boxes_[{LowerAscii(account.POPAddress), account.POPAccount}];
}

void RegisterMailboxRecordRekey()
{
    RekeyKind kind;
    kind.position = 2;
    kind.name = "mailbox check";
    kind.files = [] {
        std::vector<fs::path> files;
        std::error_code ec;
        if (fs::is_regular_file(MailboxRecordPath(), ec))
            files.push_back(MailboxRecordPath());
        return files;
    };
    kind.rewrite = RekeyCopyAllFields;
    RegisterRekeyKind(std::move(kind));
}

} // namespace vostrel

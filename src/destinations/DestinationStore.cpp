#include "destinations/DestinationStore.h"

#include "core/BoolField.h"
#include "core/DataFolder.h"
#include "core/DataLayout.h"
#include "core/Reencrypt.h"
#include "core/SjisCodec.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace vostrel {

namespace fs = std::filesystem;

namespace {

// The smallest field on disk: a length and one cipher block.
constexpr std::uintmax_t kSmallestField = 12;

std::string DamagedText(const fs::path &file, std::size_t recipientsRead,
                        const std::string &reasonUtf8)
{
    std::string text = "送信先リストのファイルを最後まで読み込めませんでした: " + file.string();
    text += "\n読み込めた宛先は " + std::to_string(recipientsRead) + " 件です。";
    if (!reasonUtf8.empty())
        text += "\n" + reasonUtf8;
    return text;
}

// A flag text: any number other than 0 is set; "True"/"False" are read as
// such; anything else counts as not set.
bool FlagIsSet(std::string_view text)
{
    try {
        return ParseBoolField(text);
    } catch (const ConversionError &) {
        return false;
    }
}

// The count field: a decimal integer; anything else, and a negative number,
// reads as 0.
long long CountOf(std::string_view text)
{
    long long value = 0;
    if (!ParseDecimal(text, value) || value < 0)
        return 0;
    return value;
}

fs::path PlainListPath(std::string_view name)
{
    fs::path file = FileNameOf(name);
    file += std::string(layout::kRecordExtension);
    return ReceiversFolder() / file;
}

void WriteRecipient(EncryptedFieldFile &file, const Recipient &recipient)
{
    for (const std::string &field : recipient.fields)
        file.WriteField(field);
}

bool IsForbiddenInListName(unsigned char c)
{
    switch (c) {
    case '\\':
    case '/':
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|':
        return true;
    default:
        return false;
    }
}

// True when c occurs in text as a character of its own, never as the second
// byte of a double-byte character.
bool ContainsCharacter(std::string_view text, bool (*match)(unsigned char))
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (IsSjisLeadByte(c)) {
            ++i; // skip the trail byte
            continue;
        }
        if (match(c))
            return true;
    }
    return false;
}

} // namespace

DestinationListDamagedError::DestinationListDamagedError(const fs::path &file,
                                                         std::size_t recipientsRead,
                                                         const std::string &reasonUtf8)
    : FileError(file, DamagedText(file, recipientsRead, reasonUtf8))
    , recipientsRead_(recipientsRead)
{}

fs::path DestinationListPath(std::string_view name)
{
    const fs::path plain = PlainListPath(name);
    std::error_code ec;
    if (fs::exists(fs::symlink_status(plain, ec)))
        return plain;
    // Another letter case of the extension (a file copied in by hand).
    const std::string stem = FileNameOf(name).native();
    for (fs::directory_iterator it(ReceiversFolder(), ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string fileName = it->path().filename().native();
        if (fileName.size() == stem.size() + layout::kRecordExtension.size() &&
            fileName.compare(0, stem.size(), stem) == 0 && HasVslExtension(fileName)) {
            std::error_code typeEc;
            if (it->is_regular_file(typeEc))
                return it->path();
        }
    }
    return plain;
}

// ---------------------------------------------------------------------------
// Reading

DestinationListReader::DestinationListReader(const fs::path &path, const std::string &key)
    : file_(EncryptedFieldFile::OpenRead(path, key))
{
    for (std::string &flag : flagTexts_)
        flag = ReadHeaderField();
    count_ = CountOf(ReadHeaderField());
}

std::string DestinationListReader::ReadHeaderField()
{
    try {
        return file_.ReadField();
    } catch (const FileError &e) {
        throw DestinationListDamagedError(file_.Path(), 0, e.what());
    }
}

SendType DestinationListReader::Flags() const
{
    return SendType{FlagIsSet(flagTexts_[0]), FlagIsSet(flagTexts_[1]), FlagIsSet(flagTexts_[2])};
}

bool DestinationListReader::Next(Recipient &recipient)
{
    if (static_cast<long long>(read_) >= count_)
        return false;
    try {
        for (std::string &field : recipient.fields)
            field = file_.ReadField();
    } catch (const FileError &e) {
        throw DestinationListDamagedError(file_.Path(), read_, e.what());
    }
    ++read_;
    return true;
}

std::vector<DestinationListEntry> ListDestinationLists(const std::string &key)
{
    std::vector<DestinationListEntry> entries;
    for (const fs::path &path : ListVslFiles(ReceiversFolder())) {
        DestinationListEntry entry;
        entry.name = VslNameOf(path);
        bool flags[3] = {false, false, false};
        try {
            EncryptedFieldFile file = EncryptedFieldFile::OpenRead(path, key);
            for (bool &flag : flags)
                flag = FlagIsSet(file.ReadField());
            entry.count = CountOf(file.ReadField());
        } catch (const FileError &) {
            entry.headerReadable = false;
        }
        entry.sendType = SendType{flags[0], flags[1], flags[2]};
        entries.push_back(std::move(entry));
    }
    return entries;
}

DestinationList LoadDestinationList(std::string_view name, const std::string &key)
{
    DestinationList list;
    list.name = std::string(name);
    const fs::path path = DestinationListPath(name);
    std::optional<DestinationListReader> reader;
    try {
        reader.emplace(path, key);
    } catch (DestinationListDamagedError &e) {
        e.Partial() = std::move(list);
        throw;
    }
    list.sendType = reader->Flags();
    // Never reserve more than the file can hold, whatever its count says;
    // one more for the slot in which the end is found.
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(path, ec);
    const std::uintmax_t fit = ec ? 0 : size / (kSmallestField * Recipient::kFieldCount);
    list.recipients.reserve(static_cast<std::size_t>(
        std::min<std::uintmax_t>(fit, static_cast<std::uintmax_t>(reader->Count())) + 1));
    try {
        // Each recipient is read in place at the end of the list.
        while (reader->Next(list.recipients.emplace_back())) {
        }
        list.recipients.pop_back();
    } catch (DestinationListDamagedError &e) {
        list.recipients.pop_back();
        e.Partial() = std::move(list);
        throw;
    }
    return list;
}

// ---------------------------------------------------------------------------
// Writing

void CreateDestinationList(std::string_view name, bool to, bool cc, bool bcc,
                           const std::string &key)
{
    EncryptedFieldFile file = EncryptedFieldFile::Create(DestinationListPath(name), key);
    file.WriteField(BoolField(to));
    file.WriteField(BoolField(cc));
    file.WriteField(BoolField(bcc));
    file.WriteField("0");
    file.Commit();
}

void SaveDestinationList(std::string_view name, const SendType &sendType,
                         const std::vector<Recipient> &recipients, const std::string &key,
                         const SaveProgress &progress)
{
    EncryptedFieldFile file = EncryptedFieldFile::Create(DestinationListPath(name), key);
    file.WriteField(BoolField(sendType.to));
    file.WriteField(BoolField(sendType.cc));
    file.WriteField(BoolField(sendType.bcc));
    file.WriteField(std::to_string(recipients.size()));
    std::size_t written = 0;
    for (const Recipient &recipient : recipients) {
        WriteRecipient(file, recipient);
        ++written;
        if (progress)
            progress(written);
    }
    file.Commit();
}

void AppendRecipients(std::string_view name, const std::vector<std::string> &fields,
                      const std::string &key)
{
    const std::size_t groups =
        (fields.size() + Recipient::kFieldCount - 1) / Recipient::kFieldCount;
    AppendRecipients(
        name, groups,
        [&fields](std::size_t group) {
            Recipient recipient;
            const std::size_t offset = group * Recipient::kFieldCount;
            for (int i = 0; i < Recipient::kFieldCount; ++i) {
                const std::size_t at = offset + static_cast<std::size_t>(i);
                if (at < fields.size())
                    recipient.fields[static_cast<std::size_t>(i)] = fields[at];
            }
            return recipient;
        },
        key);
}

void AppendRecipients(std::string_view name, std::size_t count,
                      const std::function<Recipient(std::size_t)> &recipientAt,
                      const std::string &key)
{
    const fs::path path = DestinationListPath(name);
    DestinationListReader reader(path, key);
    // The new file replaces the old one only when it is complete, so a file
    // that cannot be read to its end is left as it is.
    EncryptedFieldFile file = EncryptedFieldFile::Create(path, key);
    for (const std::string &flag : reader.FlagTexts())
        file.WriteField(flag);
    file.WriteField(std::to_string(static_cast<unsigned long long>(reader.Count()) + count));
    Recipient recipient;
    while (reader.Next(recipient))
        WriteRecipient(file, recipient);
    for (std::size_t i = 0; i < count; ++i)
        WriteRecipient(file, recipientAt(i));
    file.Commit();
}

// ---------------------------------------------------------------------------
// Files and names

bool RenameDestinationList(std::string_view oldName, std::string_view newName)
{
    const fs::path from = DestinationListPath(oldName);
    const fs::path to = PlainListPath(newName);
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without RENAME_NOREPLACE: check, then rename.
    std::error_code ec;
    if (fs::exists(fs::symlink_status(to, ec)))
        return false;
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool DeleteDestinationList(std::string_view name)
{
    return ::unlink(DestinationListPath(name).c_str()) == 0;
}

void RegisterDestinationsRekeyKinds()
{
    RekeyKind kind;
    kind.position = 1;
    kind.name = "destination lists";
    kind.files = [] { return ListVslFiles(ReceiversFolder()); };
    kind.rewrite = [](const fs::path &from, const fs::path &to, const std::string &oldKey,
                      const std::string &newKey, const std::function<void()> &pump) {
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
                    for (int f = 0; f < Recipient::kFieldCount; ++f)
                        out.WriteField(in.ReadField());
                    if (r % 50 == 0)
                        pump();
                }
            } else {
                out.WriteField(countText);
            }
        }
        while (!in.AtEnd())
            out.WriteField(in.ReadField());
        out.Commit();
    };
    RegisterRekeyKind(std::move(kind));
}

std::string CheckListName(std::string_view name, std::string_view currentName)
{
    if (name.empty())
        return Sjis("送信先リスト名を入力してください");
    if (ContainsCharacter(name, IsForbiddenInListName))
        return Sjis("送信先リスト名に「\\/:*?\"<>|」の文字は使えません");
    // List names travel comma-joined in the compose window.
    if (ContainsCharacter(name, [](unsigned char c) { return c == ','; }))
        return Sjis("送信先リスト名に「,」の文字は使えません");
    std::error_code ec;
    if (name != currentName && fs::exists(fs::symlink_status(DestinationListPath(name), ec)))
        return Sjis("既に存在する送信先リスト名です");
    return {};
}

} // namespace vostrel

#include "senders/SenderAccount.h"

#include "core/BoolField.h"
#include "core/DataFolder.h"
#include "core/DataLayout.h"
#include "core/Errors.h"
#include "core/FieldStore.h"
#include "core/Reencrypt.h"
#include "core/SjisCodec.h"

#include <cerrno>
#include <system_error>

namespace vostrel {

namespace fs = std::filesystem;

namespace {

// The folder of an account's sent-mail logs, or an empty path for the names
// that would point at the Logs folder itself or its parent.
fs::path LogsFolderOf(const std::string &name)
{
    if (name.empty() || name == "." || name == "..")
        return {};
    return LogsFolder() / FileNameOf(name);
}

std::string ReasonOf(const std::error_code &ec)
{
    return ec.category() == std::generic_category() || ec.category() == std::system_category()
               ? FileError::ErrnoText(ec.value())
               : ec.message();
}

// Reads a boolean field; a text that is no boolean is reported with the file.
bool ReadBoolField(EncryptedFieldFile &file)
{
    const std::string text = file.ReadField();
    try {
        return ParseBoolField(text);
    } catch (const ConversionError &e) {
        throw ConversionError("ファイルを読み込めませんでした: " + file.Path().string() + "\n" +
                              e.what());
    }
}

} // namespace

fs::path SenderAccountPath(const std::string &name)
{
    // Built as one file name, so that an empty name gives ".vsl".
    const std::string base = FileNameOf(name).native() + ".";
    const fs::path folder = SendersFolder();
    const fs::path path = folder / fs::path(base + "vsl");
    std::error_code ec;
    if (fs::exists(path, ec))
        return path;
    // The list takes the extension in any letter case, and this file system
    // tells the cases apart: an account listed from "name.VSL" is that file.
    for (const char *ext : {"VSL", "Vsl", "vSl", "vsL", "VSl", "VsL", "vSL"}) {
        fs::path other = folder / fs::path(base + ext);
        if (fs::is_regular_file(other, ec))
            return other;
    }
    return path;
}

std::vector<std::string> ListSenderAccounts()
{
    return ListVslNames(SendersFolder());
}

SenderAccount ReadSenderAccount(const fs::path &path, const std::string &key)
{
    EncryptedFieldFile file = EncryptedFieldFile::OpenRead(path, key);
    SenderAccount account;
    account.ConfName = file.ReadField();
    account.SMTPAddress = file.ReadField();
    account.SMTPPort = file.ReadField();
    account.SMTPSSL = ReadBoolField(file);
    account.FromAddress = file.ReadField();
    account.SenderName = file.ReadField();
    account.ReturnAddress = file.ReadField();
    account.UsePOP = ReadBoolField(file);
    if (account.UsePOP) {
        account.POPAddress = file.ReadField();
        account.POPPort = file.ReadField();
        account.POPSSL = ReadBoolField(file);
        account.POPAccount = file.ReadField();
        account.POPPass = file.ReadField();
    }
    account.SMTPAuth = ReadBoolField(file);
    if (account.SMTPAuth) {
        account.SMTPAccount = file.ReadField();
        account.SMTPPass = file.ReadField();
    }
    return account;
}

void WriteSenderAccount(const fs::path &path, const SenderAccount &account, const std::string &key)
{
    EncryptedFieldFile file = EncryptedFieldFile::Create(path, key);
    file.WriteField(account.ConfName);
    file.WriteField(account.SMTPAddress);
    file.WriteField(account.SMTPPort);
    file.WriteField(BoolField(account.SMTPSSL));
    file.WriteField(account.FromAddress);
    file.WriteField(account.SenderName);
    file.WriteField(account.ReturnAddress);
    file.WriteField(BoolField(account.UsePOP));
    if (account.UsePOP) {
        file.WriteField(account.POPAddress);
        file.WriteField(account.POPPort);
        file.WriteField(BoolField(account.POPSSL));
        file.WriteField(account.POPAccount);
        file.WriteField(account.POPPass);
    }
    file.WriteField(BoolField(account.SMTPAuth));
    if (account.SMTPAuth) {
        file.WriteField(account.SMTPAccount);
        file.WriteField(account.SMTPPass);
    }
    file.Commit();
}

bool SenderAccountExists(const std::string &name)
{
    std::error_code ec;
    return fs::exists(SenderAccountPath(name), ec);
}

bool IsUsableSenderAccountName(std::string_view name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (IsSjisLeadByte(c)) {
            ++i; // the trail byte belongs to the same character
            continue;
        }
        if (c == '/' || c == ',')
            return false;
    }
    return true;
}

bool IsValidPortText(std::string_view text)
{
    if (text.empty() || text.size() > 10)
        return false;
    long long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return value >= 1 && value <= 65535;
}

void SaveEditedSenderAccount(const std::string &oldName, const SenderAccount &account)
{
    const std::string &newName = account.ConfName;
    const fs::path oldPath = SenderAccountPath(oldName);
    const fs::path newPath = SenderAccountPath(newName);
    const bool renamed = newName != oldName;
    std::error_code ec;
    if (renamed && fs::exists(newPath, ec))
        throw FileError::WriteFailed(newPath, "同じ名前のファイルが既にあります");

    WriteSenderAccount(oldPath, account);
    if (!renamed)
        return;

    fs::rename(oldPath, newPath, ec);
    if (ec)
        throw FileError(oldPath, "ファイルの名前を変更できませんでした: " + oldPath.string() +
                                     " → " + newPath.string() + "\n" + ReasonOf(ec));

    const fs::path oldLogs = LogsFolderOf(oldName);
    const fs::path newLogs = LogsFolderOf(newName);
    if (oldLogs.empty() || newLogs.empty())
        return;
    std::error_code logsEc;
    fs::rename(oldLogs, newLogs, logsEc); // no such folder: nothing to move
}

fs::path ServerTlsRecordPath()
{
    return SendersFolder() / layout::kServerTls;
}

void RegisterSendersRekeyKinds()
{
    RekeyKind accounts;
    accounts.position = 2;
    accounts.name = "sender accounts";
    accounts.files = [] { return ListVslFiles(SendersFolder()); };
    accounts.rewrite = [](const fs::path &from, const fs::path &to, const std::string &oldKey,
                          const std::string &newKey, const std::function<void()> &) {
        WriteSenderAccount(to, ReadSenderAccount(from, oldKey), newKey);
    };
    RegisterRekeyKind(std::move(accounts));

    RekeyKind servers;
    servers.position = 2;
    servers.name = "server encryption";
    servers.files = [] {
        std::vector<fs::path> files;
        std::error_code ec;
        if (fs::is_regular_file(ServerTlsRecordPath(), ec))
            files.push_back(ServerTlsRecordPath());
        return files;
    };
    servers.rewrite = RekeyCopyAllFields;
    RegisterRekeyKind(std::move(servers));
}

bool DeleteSenderAccount(const std::string &name)
{
    std::error_code ec;
    return fs::remove(SenderAccountPath(name), ec) && !ec;
}

} // namespace vostrel

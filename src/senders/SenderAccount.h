// A sender account: one stored way of sending mail, kept as the file
// Senders/<name>.vsl of the data folder.
#pragma once

#include "core/AppState.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vostrel {

// All texts are Shift_JIS; ports are kept as typed.
struct SenderAccount
{
    std::string ConfName;
    std::string SMTPAddress;
    std::string SMTPPort = "25";
    bool SMTPSSL = false;
    std::string FromAddress;
    std::string SenderName;
    std::string ReturnAddress;
    bool UsePOP = false;
    std::string POPAddress;
    std::string POPPort = "110";
    bool POPSSL = false;
    std::string POPAccount;
    std::string POPPass;
    bool SMTPAuth = false;
    std::string SMTPAccount;
    std::string SMTPPass;

    bool operator==(const SenderAccount &) const = default;
};

// DataFolder() + "Senders/" + name + ".vsl" (the name in its file-system form).
// When only a file whose extension differs in letter case exists (such as
// "name.VSL", which the list shows as "name"), that file's path.
std::filesystem::path SenderAccountPath(const std::string &name);

// The record of the servers that were reached encrypted (see
// send/ServerTlsRecord.h): DataFolder() + "Senders/tls-servers.dat".
std::filesystem::path ServerTlsRecordPath();
// The account names (Shift_JIS), one per ".vsl" file of the Senders folder.
std::vector<std::string> ListSenderAccounts();
// Reads the fields in file order; the POP group only when UsePOP is true and
// the SMTP account group only when SMTPAuth is true. Throws FileError (naming
// the file) or ConversionError. Safe on any thread.
SenderAccount ReadSenderAccount(const std::filesystem::path &path,
                                const std::string &key = CurrentKey());
// Writes the whole file (9, 11, 14 or 16 fields) atomically.
void WriteSenderAccount(const std::filesystem::path &path, const SenderAccount &account,
                        const std::string &key = CurrentKey());

// True when the file of the account name exists.
bool SenderAccountExists(const std::string &name);

// An account name becomes a file name (Senders/<name>.vsl) and the name of
// its log folder (Logs/<name>/), and travels in comma-separated name lists:
// it may be neither empty nor "." nor "..", and may hold neither "/" nor ",".
// Everything else is accepted.
bool IsUsableSenderAccountName(std::string_view name);

// True when a port text is a number from 1 to 65535: one to ten ASCII digits
// (leading zeros allowed), as the sending reads it.
bool IsValidPortText(std::string_view text);

// Saves an edited account that was stored under oldName: the record is written
// over the old file first (with the new name as its first field), then the
// file is renamed after account.ConfName and the account's sent-mail folder
// Logs/<oldName>/ follows it to Logs/<new name>/. Throws FileError when the
// file cannot be written or renamed (an existing file of the new name is
// never replaced); a Logs folder that is missing or cannot be moved is left
// where it is.
void SaveEditedSenderAccount(const std::string &oldName, const SenderAccount &account);

// Tells the password change how to find and rewrite the record files in
// Senders/: the account files (the fields of the layout, the optional groups
// as present, booleans written back as "-1" and "0") and the record of the
// servers reached encrypted (ServerTlsRecordPath(), every field as it is).
void RegisterSendersRekeyKinds();

// Deletes the file of the account; false when there was no such file or it
// could not be removed. The account's Logs folder stays on disk.
bool DeleteSenderAccount(const std::string &name);

} // namespace vostrel

// A sender account: one stored way of sending mail, kept as the file
// Senders/<name>.vsl of the data folder.
#pragma once

#include "core/AppState.h"

#include <filesystem>
#include <string>
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
std::filesystem::path SenderAccountPath(const std::string &name);
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

} // namespace vostrel

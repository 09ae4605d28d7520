// What the bounce check remembers of each account's mailbox:
// Senders/mailbox-check.dat, a field file under the key in effect like every
// record, carried by backups with the accounts and rewritten by a password
// change (a kind of RegisterSendRekeyKinds).
//
// Fields: "VOSTREL-MAILBOX-CHECK 1", the number of mailboxes, then for each:
// the POP3 server as the account names it (ASCII letters in lower case), the
// POP3 account, the number of mails read, their UIDL values one a field, the
// number of addresses with temporary failures, and three fields for each:
// the address, the failures in a row, and the Message-ID of the last failed
// mail counted (empty when the bounce quoted none).
#pragma once

#include "senders/SenderAccount.h"

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <utility>

namespace vostrel {

// DataFolder() + "Senders/mailbox-check.dat".
std::filesystem::path MailboxRecordPath();

struct TemporaryStreak
{
    int count = 0;
    std::string lastMessageId;

    bool operator==(const TemporaryStreak &) const = default;
};

struct MailboxState
{
    std::set<std::string> seenUidls;
    std::map<std::string, TemporaryStreak> temporary; // by address (lower case)

    bool operator==(const MailboxState &) const = default;
};

class MailboxRecord
{
public:
    // Reads the record; a missing file is an empty record. Throws FileError
    // (naming the file) when it cannot be read or is damaged.
    static MailboxRecord Load(const std::filesystem::path &path, const std::string &key);
    // Writes the whole record at once (temporary file and rename).
    void Save(const std::filesystem::path &path, const std::string &key) const;

    // The state of the account's mailbox (its POP3 server and account).
    MailboxState &Of(const SenderAccount &account);

    bool operator==(const MailboxRecord &) const = default;

private:
    using Mailbox = std::pair<std::string, std::string>; // server (lower case), account
    std::map<Mailbox, MailboxState> boxes_;
};

// Tells the password change how to find and rewrite the record (every field
// as it is).
void RegisterMailboxRecordRekey();

} // namespace vostrel

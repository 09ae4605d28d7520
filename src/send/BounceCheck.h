// Checking a sender account's mailbox for bounces and unsubscribe requests:
// log in over POP3 as the POP-before-SMTP of a send does (the same
// encryption and certificate rules), list the mails by UIDL, read only
// those not read at an earlier check of that mailbox, recognise each one
// (send/BounceRecognizer.h) and, when asked, delete the recognised ones.
#pragma once

#include "send/BounceRecognizer.h"
#include "send/MailTransport.h"

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace vostrel {

// A temporary failure counts only after this many failed mails in a row to
// the same address.
constexpr int kTemporaryFailuresCounted = 3;

struct BounceCheckOptions
{
    // Delete the mails recognised as bounces, unsubscribe requests or
    // auto-replies (ordinary mail stays on the server).
    bool deleteFromServer = false;
    TransportTimeouts timeouts;
    std::filesystem::path recordPath; // the mailbox record (MailboxRecordPath())
    std::string key;                  // the key of the record
};

// One line of the result: an address and what came back for it.
struct BounceRow
{
    std::string address; // lower case
    FindingKind kind = FindingKind::Permanent;
    std::string reason; // UTF-8
};

struct BounceCheckResult
{
    bool completed = false; // every new mail was read and the session ended
    bool stopped = false;   // the user's stop ended it
    std::string error;      // UTF-8, naming the server or the file; empty when none
    std::size_t onServer = 0;
    std::size_t newMails = 0;
    std::size_t read = 0;
    std::size_t deleted = 0;
    std::vector<BounceRow> rows; // one per address and kind, in the order found
};

// Called before each mail read: read so far, new mails in all.
using BounceCheckProgress = std::function<void(std::size_t done, std::size_t total)>;

// Reads the new mails of the account's mailbox. A temporary failure of an
// address counts once per failed mail (told apart by the quoted Message-ID;
// a bounce quoting none is a mail of its own); the address becomes a row once
// kTemporaryFailuresCounted mails in a row failed. A permanent failure ends
// the count, and so does any other mail from the address (a reply or an
// auto-reply shows that its mailbox works). The record keeps the UIDLs read
// and the counts, also when the check ends early (stop or failure); mails are
// deleted only when the session ends with QUIT. Never throws. Safe on any
// thread; memory may be null.
BounceCheckResult CheckMailbox(Transport &transport, const SenderAccount &account,
                               const BounceCheckOptions &options,
                               const BounceCheckProgress &progress = {},
                               const std::atomic<bool> *stop = nullptr,
                               ServerTlsMemory *memory = nullptr);

// The kind as the result shows it: "不達", "一時的" or "配信停止".
std::string FindingKindText(FindingKind kind);

} // namespace vostrel

// The record of the servers that were reached encrypted, so that a server
// whose encryption disappears later gets no password: Senders/tls-servers.dat,
// a field file under the key in effect like every record, carried by backups
// with the accounts and rewritten by a password change (a kind of the
// sender accounts' RegisterSendersRekeyKinds).
//
// Fields: "VOSTREL-TLS-SERVERS 1", the number of servers, then three fields a
// server: its host name as the account names it (ASCII letters in lower
// case), its port in decimal, and how it was reached: "STARTTLS", "STLS" or
// "TLS" (from the first byte).
#pragma once

#include "core/AppState.h"
#include "send/MailTransport.h"
#include "senders/SenderAccount.h" // ServerTlsRecordPath()

#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace vostrel {

// The record as a ServerTlsMemory. It is read once, on the first question;
// each new note rewrites the whole file at once. A file that cannot be read
// (damaged, or under another key) counts as empty and is replaced by the next
// note. Safe on any thread.
class ServerTlsRecord final : public ServerTlsMemory
{
public:
    explicit ServerTlsRecord(std::string key = CurrentKey(),
                             std::filesystem::path path = ServerTlsRecordPath());

    std::optional<TlsUpgrade> Known(const std::string &host, int port) override;
    void Remember(const std::string &host, int port, TlsUpgrade how) override;

    // True when the last write of the file failed (the note is kept in memory).
    bool WritePending() const;

private:
    using Server = std::pair<std::string, int>;
    void LoadOnce();
    void Save();

    std::string key_;
    std::filesystem::path path_;
    mutable std::mutex mutex_;
    bool loaded_ = false;
    bool pending_ = false;
    std::map<Server, TlsUpgrade> servers_;
};

} // namespace vostrel

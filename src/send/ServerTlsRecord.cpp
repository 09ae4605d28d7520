#include "send/ServerTlsRecord.h"

#include "core/FieldStore.h"

#include <charconv>

namespace vostrel {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kMagic = "VOSTREL-TLS-SERVERS 1";
// More servers than any user has accounts: a count beyond it is damage.
constexpr long kMaxServers = 100000;

std::string HostKey(std::string host)
{
    for (char &c : host)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return host;
}

std::string_view UpgradeText(TlsUpgrade how)
{
    switch (how) {
    case TlsUpgrade::StartTls:
        return "STARTTLS";
    case TlsUpgrade::Stls:
        return "STLS";
    case TlsUpgrade::ImplicitTls:
        break;
    }
    return "TLS";
}

std::optional<TlsUpgrade> UpgradeOf(std::string_view text)
{
    for (TlsUpgrade how : {TlsUpgrade::StartTls, TlsUpgrade::Stls, TlsUpgrade::ImplicitTls})
        if (text == UpgradeText(how))
            return how;
    return std::nullopt;
}

std::optional<long> NumberOf(std::string_view text)
{
    long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

} // namespace

ServerTlsRecord::ServerTlsRecord(std::string key, fs::path path)
    : key_(std::move(key))
    , path_(std::move(path))
{}

void ServerTlsRecord::LoadOnce()
{
    if (loaded_)
        return;
    loaded_ = true;
    std::error_code ec;
    if (!fs::exists(path_, ec))
        return;
    std::map<Server, TlsUpgrade> servers;
    try {
        EncryptedFieldFile file = EncryptedFieldFile::OpenRead(path_, key_);
        if (file.ReadField() != kMagic)
            return;
        const auto count = NumberOf(file.ReadField());
        if (!count || *count < 0 || *count > kMaxServers)
            return;
        for (long i = 0; i < *count; ++i) {
            std::string host = file.ReadField();
            const auto port = NumberOf(file.ReadField());
            const auto how = UpgradeOf(file.ReadField());
            if (!port || *port < 1 || *port > 65535 || !how)
                return;
            servers[{HostKey(std::move(host)), static_cast<int>(*port)}] = *how;
        }
    } catch (const std::exception &) {
        return; // damaged: counts as empty, the next note replaces it
    }
    servers_ = std::move(servers);
}

std::optional<TlsUpgrade> ServerTlsRecord::Known(const std::string &host, int port)
{
    std::lock_guard lock(mutex_);
    LoadOnce();
    const auto found = servers_.find({HostKey(host), port});
    if (found == servers_.end())
        return std::nullopt;
    return found->second;
}

void ServerTlsRecord::Remember(const std::string &host, int port, TlsUpgrade how)
{
    std::lock_guard lock(mutex_);
    LoadOnce();
    const Server server{HostKey(host), port};
    const auto found = servers_.find(server);
    if (found != servers_.end() && found->second == how && !pending_)
        return;
    servers_[server] = how;
    try {
        Save();
        pending_ = false;
    } catch (const std::exception &) {
        pending_ = true; // kept in memory; the next note writes it
    }
}

bool ServerTlsRecord::WritePending() const
{
    std::lock_guard lock(mutex_);
    return pending_;
}

void ServerTlsRecord::Save()
{
    EncryptedFieldFile file = EncryptedFieldFile::Create(path_, key_);
    file.WriteField(kMagic);
    file.WriteField(std::to_string(servers_.size()));
    for (const auto &[server, how] : servers_) {
        file.WriteField(server.first);
        file.WriteField(std::to_string(server.second));
        file.WriteField(UpgradeText(how));
    }
    file.Commit();
}

} // namespace vostrel

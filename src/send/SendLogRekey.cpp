#include "send/SendLogRekey.h"

#include "core/AppState.h"
#include "core/DataFolder.h"
#include "core/Reencrypt.h"

#include <set>

namespace vostrel {

namespace fs = std::filesystem;

void RegisterSendLogRekey()
{
    RekeyKind kind;
    kind.position = 3;
    kind.name = "sent-mail logs";
    kind.files = [] {
        std::vector<fs::path> files;
        std::set<std::string> accounts;
        for (const fs::path &account : ListVslFiles(DataFolder() / "Senders")) {
            const std::string name = VslNameOf(account);
            if (name.empty() || name == "." || name == ".." || !accounts.insert(name).second)
                continue;
            for (fs::path &log : ListVslFiles(DataFolder() / "Logs" / FileNameOf(name)))
                files.push_back(std::move(log));
        }
        return files;
    };
    kind.rewrite = RekeyCopyAllFields;
    RegisterRekeyKind(std::move(kind));
}

} // namespace vostrel

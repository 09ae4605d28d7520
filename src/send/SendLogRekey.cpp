#include "send/SendLogRekey.h"

#include "core/AppState.h"
#include "core/DataFolder.h"
#include "core/DataLayout.h"
#include "core/Reencrypt.h"
#include "send/MailboxRecord.h"
#include "send/SendJournal.h"

#include <algorithm>

namespace vostrel {

namespace fs = std::filesystem;

namespace {

// Every log folder: each real folder directly in Logs/, whether or not an
// account of that name still exists, sorted by name. Links are not followed,
// and a name that could lead out of the Logs folder is never taken.
std::vector<fs::path> LogFolders()
{
    std::vector<fs::path> folders;
    const fs::path logs = LogsFolder();
    std::error_code ec;
    for (fs::directory_iterator it(logs, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeEc;
        if (!fs::is_directory(it->symlink_status(typeEc)))
            continue;
        const std::string name = it->path().filename().native();
        if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
            continue;
        folders.push_back(logs / name);
    }
    std::sort(folders.begin(), folders.end());
    return folders;
}

void RegisterSendLogRekey()
{
    RekeyKind kind;
    kind.position = 3;
    kind.name = "sent-mail logs";
    kind.files = [] {
        std::vector<fs::path> files;
        // The logs directly in each folder; the picture folders inside hold
        // no records.
        for (const fs::path &folder : LogFolders())
            for (fs::path &log : ListVslFiles(folder))
                files.push_back(std::move(log));
        return files;
    };
    kind.rewrite = RekeyCopyAllFields;
    RegisterRekeyKind(std::move(kind));
}

} // namespace

void RegisterSendRekeyKinds()
{
    RegisterSendLogRekey();
    RegisterSendJournalRekey();
    RegisterMailboxRecordRekey();
}

} // namespace vostrel

#include "compose/Preview.h"

#include "compose/DraftFiles.h"
#include "core/AtomicFile.h"
#include "destinations/DestinationStore.h"
#include "send/MessageBuilder.h"

namespace vostrel {

namespace fs = std::filesystem;

fs::path WritePreviewFile(std::string_view htmlSource)
{
    WriteFileAtomically(PreviewFile(), PreviewPage(htmlSource, PictureFolder()));
    return PreviewFile();
}

bool UsesMergeTags(std::string_view text)
{
    // A tag starts with "<", which is never the second byte of a double-byte
    // character, so a plain search finds only real tags.
    for (const std::string &tag : MergeTags()) {
        if (text.find(tag) != std::string_view::npos)
            return true;
    }
    return false;
}

std::vector<PreviewRecipient> PreviewRecipients(const std::vector<std::string> &lists,
                                                std::size_t limit)
{
    std::vector<PreviewRecipient> all;
    for (const std::string &name : lists) {
        try {
            DestinationListReader reader(DestinationListPath(name));
            Recipient recipient;
            while (all.size() < limit && reader.Next(recipient))
                all.push_back({name, recipient});
        } catch (const VostrelError &) {
            // What was read before the damage stays offered.
        }
        if (all.size() >= limit)
            break;
    }
    return all;
}

} // namespace vostrel

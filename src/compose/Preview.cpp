#include "compose/Preview.h"

#include "compose/DraftFiles.h"
#include "core/AtomicFile.h"
#include "core/SjisCodec.h"
#include "core/SjisText.h"
#include "destinations/DestinationStore.h"
#include "send/MessageBuilder.h"

#include <QUrl>

namespace vostrel {

namespace fs = std::filesystem;

std::string DeclaredCharset(std::string_view html)
{
    // The first match of "charset=(.+?)>": the run starts right after the
    // first "charset=" and ends before the first ">" that leaves it at least
    // one character long. A later "charset=" cannot match when this one does
    // not, since no ">" follows it either.
    constexpr std::string_view key = "charset=";
    const std::size_t start = html.find(key);
    if (start == std::string_view::npos)
        return {};
    const std::size_t runStart = start + key.size();
    if (runStart >= html.size())
        return {};
    const std::size_t end = html.find('>', runStart + 1);
    if (end == std::string_view::npos)
        return {};
    std::string charset;
    for (const char c : html.substr(runStart, end - runStart)) {
        if (c == '"' || c == '\'')
            continue;
        charset += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return charset;
}

std::string PreviewPage(std::string_view htmlSource, const fs::path &pictureFolder)
{
    const std::string folderUrl =
        QUrl::fromLocalFile(QString::fromStdString((pictureFolder / "").native()))
            .toEncoded()
            .toStdString();
    // The address is plain ASCII, so replacing before the conversion gives the
    // same page; the replace steps over double-byte characters of the
    // Shift_JIS source, which it could not do on UTF-8 text.
    std::string page = ReplaceAll(htmlSource, "cid:", folderUrl);
    if (DeclaredCharset(htmlSource).find("UTF-8") != std::string::npos)
        page = SjisToUtf8(page);
    return page;
}

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

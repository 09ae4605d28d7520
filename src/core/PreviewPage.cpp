#include "core/PreviewPage.h"

#include "core/SjisCodec.h"
#include "core/SjisText.h"

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

} // namespace vostrel

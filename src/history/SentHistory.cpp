#include "history/SentHistory.h"

#include "core/AtomicFile.h"
#include "core/DataFolder.h"
#include "core/DataLayout.h"
#include "core/Errors.h"
#include "core/FieldStore.h"
#include "core/PreviewPage.h"
#include "core/SjisCodec.h"
#include "core/TextFile.h"

#include <QCollator>
#include <algorithm>
#include <system_error>

namespace vostrel {

namespace fs = std::filesystem;

namespace {

// Drops a lead byte left alone at the end of a text cut short.
void TrimToWholeCharacters(std::string &text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        if (IsSjisLeadByte(static_cast<unsigned char>(text[i]))) {
            if (i + 1 == text.size()) {
                text.resize(i);
                return;
            }
            i += 2;
        } else {
            ++i;
        }
    }
}

bool IsPlainFileName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

} // namespace

fs::path HistoryLogRoot()
{
    return LogsFolder();
}

fs::path HistorySenderFolder(const fs::path &logRoot, std::string_view sender)
{
    return logRoot / FileNameOf(sender);
}

std::vector<fs::path> HistoryFiles(const fs::path &senderFolder)
{
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(senderFolder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().native();
        std::error_code typeEc;
        if (name.empty() || name.front() == '.' || !it->is_regular_file(typeEc))
            continue;
        files.push_back(it->path());
    }
    std::sort(files.begin(), files.end(),
              [](const fs::path &a, const fs::path &b) { return a.filename() < b.filename(); });
    return files;
}

HistoryEntry ReadHistoryEntry(const fs::path &file, std::string sender, const std::string &key)
{
    HistoryEntry entry;
    EncryptedFieldFile in = EncryptedFieldFile::OpenRead(file, key);
    for (int i = 0; i < HistoryEntry::kFieldCount; ++i) {
        bool cut = false;
        std::string &field = entry.fields[static_cast<std::size_t>(i)];
        field = in.ReadFieldPrefix(kHistoryFieldLimit, &cut);
        if (cut) {
            TrimToWholeCharacters(field);
            entry.cutFields |= static_cast<std::uint16_t>(1u << i);
        }
    }
    entry.sender = std::move(sender);
    entry.file = file;
    return entry;
}

std::string HistoryPassedOverMessage(const std::vector<fs::path> &files)
{
    std::string text = "次の送信ログは読み込めなかったため、一覧に表示していません"
                       "（ファイルが途中で切れているか、送信ログではありません）";
    for (const fs::path &file : files)
        text += "\r\n" + file.string();
    return text;
}

HistoryPreview ReadHistoryPreview(const fs::path &file, const std::string &key)
{
    HistoryPreview preview;
    EncryptedFieldFile in = EncryptedFieldFile::OpenRead(file, key);
    preview.subject = in.ReadField();
    for (int field = 2; field <= 12; ++field)
        in.SkipField();
    preview.body = in.ReadField();
    preview.attachments = in.ReadField();
    return preview;
}

std::optional<fs::path> HistoryPictureFolder(const HistoryEntry &entry)
{
    if (!IsPlainFileName(entry.StartTime()))
        return std::nullopt;
    const fs::path name = FileNameOf(entry.StartTime());
    fs::path logName = name;
    logName += layout::kRecordExtension;
    if (entry.file.filename() != logName)
        return std::nullopt;
    return entry.file.parent_path() / name;
}

void DeleteHistoryEntry(const HistoryEntry &entry)
{
    std::error_code ec;
    if (!fs::remove(entry.file, ec) && ec && ec != std::errc::no_such_file_or_directory)
        throw FileError(entry.file, "ファイルを削除できませんでした: " + entry.file.string() +
                                        "\n" + FileError::ErrnoText(ec.value()));
    if (const std::optional<fs::path> pictures = HistoryPictureFolder(entry)) {
        if (fs::is_directory(fs::symlink_status(*pictures, ec)))
            fs::remove_all(*pictures, ec);
    }
}

std::vector<std::size_t> HistorySortOrder(const std::vector<HistoryEntry> &entries, int sortState)
{
    std::vector<std::size_t> order(entries.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    const int column = std::abs(sortState) - 1;
    if (sortState == 0 || column >= HistoryEntry::kColumnCount)
        return order;
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseSensitive);
    collator.setNumericMode(false);
    std::vector<QCollatorSortKey> keys;
    keys.reserve(entries.size());
    for (const HistoryEntry &entry : entries)
        keys.push_back(collator.sortKey(SjisToQString(entry.Column(column))));
    if (sortState > 0)
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return keys[a].compare(keys[b]) < 0;
        });
    else
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return keys[a].compare(keys[b]) > 0;
        });
    return order;
}

fs::path HistoryWorkFile()
{
    return WorkFolder() / layout::kHistoryPage;
}

namespace {

// The elements whose tags make a body HTML.
constexpr std::string_view kHtmlElements[] = {
    "a",     "abbr",   "address", "article", "b",   "base", "big",   "blockquote", "body",
    "br",    "center", "cite",    "code",    "col", "dd",   "div",   "dl",         "dt",
    "em",    "font",   "footer",  "h1",      "h2",  "h3",   "h4",    "h5",         "h6",
    "head",  "header", "hr",      "html",    "i",   "img",  "li",    "link",       "main",
    "map",   "meta",   "ol",      "p",       "pre", "q",    "s",     "section",    "small",
    "span",  "strike", "strong",  "style",   "sub", "sup",  "table", "tbody",      "td",
    "tfoot", "th",     "thead",   "title",   "tr",  "tt",   "u",     "ul"};

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsAsciiAlnum(char c)
{
    return (c >= '0' && c <= '9') || (LowerAscii(c) >= 'a' && LowerAscii(c) <= 'z');
}

// The text page of a body: "<", ">", "&" and '"' never occur as the second
// byte of a Shift_JIS character, so they are escaped byte by byte.
std::string TextPage(std::string_view text)
{
    std::string page = "<!DOCTYPE html>\r\n<html>\r\n<head>\r\n<meta charset=\"Shift_JIS\">\r\n"
                       "</head>\r\n<body>\r\n<pre style=\"white-space: pre-wrap; "
                       "font-family: inherit;\">";
    for (char c : text) {
        switch (c) {
        case '&':
            page += "&amp;";
            break;
        case '<':
            page += "&lt;";
            break;
        case '>':
            page += "&gt;";
            break;
        case '"':
            page += "&quot;";
            break;
        default:
            page += c;
        }
    }
    page += "</pre>\r\n</body>\r\n</html>\r\n";
    return page;
}

} // namespace

bool LooksLikeHtml(std::string_view body)
{
    // "<" is never the second byte of a Shift_JIS character.
    for (std::size_t at = body.find('<'); at != std::string_view::npos;
         at = body.find('<', at + 1)) {
        std::size_t start = at + 1;
        std::string name;
        if (start < body.size() && body[start] == '!') {
            for (std::size_t i = start + 1; i < body.size() && name.size() < 7; ++i)
                name += LowerAscii(body[i]);
            if (name == "doctype")
                return true;
            continue;
        }
        if (start < body.size() && body[start] == '/')
            ++start;
        std::size_t end = start;
        while (end < body.size() && IsAsciiAlnum(body[end]))
            name += LowerAscii(body[end++]);
        if (name.empty() || end == body.size())
            continue;
        const char next = body[end];
        if (next != '>' && next != '/' && next != ' ' && next != '\t' && next != '\r' &&
            next != '\n')
            continue;
        if (std::find(std::begin(kHtmlElements), std::end(kHtmlElements), name) !=
            std::end(kHtmlElements))
            return true;
    }
    return false;
}

std::string HistoryPage(std::string_view body, const std::optional<fs::path> &pictureFolder)
{
    const std::string text = TextLinesWithCrLf(body);
    if (text.empty())
        return text;
    if (!LooksLikeHtml(text))
        return TextPage(text);
    if (pictureFolder)
        return PreviewPage(text, *pictureFolder);
    if (DeclaredCharset(text).find("UTF-8") != std::string::npos)
        return SjisToUtf8(text);
    return text;
}

fs::path WriteHistoryPage(std::string_view body, const std::optional<fs::path> &pictureFolder)
{
    WriteFileAtomically(HistoryWorkFile(), HistoryPage(body, pictureFolder));
    return HistoryWorkFile();
}

} // namespace vostrel

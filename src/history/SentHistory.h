// The sent-mail history as the main window shows it: the log files of the
// senders' folders under Logs/, read as far as the list needs, sorted by a
// column, previewed, rendered as a page and deleted.
#pragma once

#include "core/AppState.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vostrel {

// One row of the history: fields 1 to 12 of a log file, then the name of the
// sender folder the file was found in. Texts are Shift_JIS.
struct HistoryEntry
{
    static constexpr int kFieldCount = 12;
    static constexpr int kColumnCount = 13;
    static constexpr int kStartTimeColumn = 4;
    static constexpr int kSenderColumn = 12;

    // Field n (1-based) is fields[n - 1]. A field longer than
    // kHistoryFieldLimit holds only its beginning (the address fields of a
    // large run): the list shows and sorts by that beginning.
    std::array<std::string, kFieldCount> fields;
    // Bit n - 1 is set when field n was cut.
    std::uint16_t cutFields = 0;
    std::string sender;
    // The file the row was read from.
    std::filesystem::path file;

    const std::string &Column(int column) const
    {
        return column == kSenderColumn ? sender : fields[static_cast<std::size_t>(column)];
    }
    bool IsCut(int column) const
    {
        return column < kFieldCount && ((cutFields >> column) & 1u) != 0;
    }
    const std::string &Subject() const { return fields[0]; }
    const std::string &StartTime() const { return fields[kStartTimeColumn]; }
};

// The most bytes of one field that a history row keeps.
inline constexpr std::size_t kHistoryFieldLimit = 2048;

// DataFolder() + "Logs/".
std::filesystem::path HistoryLogRoot();
// The folder of one sender's logs: logRoot + the sender's name (Shift_JIS).
std::filesystem::path HistorySenderFolder(const std::filesystem::path &logRoot,
                                          std::string_view sender);

// The log files of a sender folder: every plain file, whatever its
// extension, sorted by name; sub-folders (the picture folders) and the
// hidden temporaries of whole-file writing are left out. A missing folder
// gives none.
std::vector<std::filesystem::path> HistoryFiles(const std::filesystem::path &senderFolder);

// Reads fields 1 to 12 of a log file into a row for the sender. Throws
// FileError naming the file when it cannot be read that far.
HistoryEntry ReadHistoryEntry(const std::filesystem::path &file, std::string sender,
                              const std::string &key = CurrentKey());

// The one message (UTF-8) that names the log files a history load passed
// over because they could not be read (cut short, or no log at all), one
// path a line.
std::string HistoryPassedOverMessage(const std::vector<std::filesystem::path> &files);

// What the preview shows of an entry: field 1, field 13 and field 14.
struct HistoryPreview
{
    std::string subject;
    std::string body;
    std::string attachments;
};
// Reads field 1, passes over fields 2 to 12 and reads fields 13 and 14.
// Throws FileError naming the file.
HistoryPreview ReadHistoryPreview(const std::filesystem::path &file,
                                  const std::string &key = CurrentKey());

// The folder of an entry's inline pictures: beside its file, named after the
// start time (field 5). Only when the file is that start time + ".vsl" and
// the start time is a plain file name; otherwise the entry has none (a file
// of another name, or one read under another key, never points elsewhere).
std::optional<std::filesystem::path> HistoryPictureFolder(const HistoryEntry &entry);

// Deletes an entry: its file (one already gone is fine), then its picture
// folder with everything in it, silently. Throws FileError naming the file
// when the file is there and cannot be deleted; the pictures then stay too.
void DeleteHistoryEntry(const HistoryEntry &entry);

// The order in which to show entries under a sort state s: 0 keeps the
// order; otherwise column |s| - 1, ascending for s > 0 and descending for
// s < 0. Every column compares as text, locale-aware and case-sensitive
// ("10" before "9"); equal rows keep their order. Returns row indices.
std::vector<std::size_t> HistorySortOrder(const std::vector<HistoryEntry> &entries, int sortState);

// WorkFolder() + "History_work.html".
std::filesystem::path HistoryWorkFile();
// True when a logged body is the source of an HTML mail (the log does not
// say): it holds a document type declaration, or a start or end tag of an
// element of HTML ("<p>", "<br/>", "</div>", "<font color=...>" ...). An
// address in angle brackets or a "<" in a sentence is no tag.
bool LooksLikeHtml(std::string_view body);
// The page of a previewed body for the browser. An HTML body: its lines
// joined by CR LF, every "cid:" pointing at the picture folder (as a file
// address), converted to UTF-8 when the body declares that charset; without a
// picture folder "cid:" stays as it is. A text body is shown as text: a
// Shift_JIS page holding it escaped ("&", "<", ">", '"'), its lines kept. An
// empty body gives an empty page.
std::string HistoryPage(std::string_view body,
                        const std::optional<std::filesystem::path> &pictureFolder);
// Writes HistoryPage into HistoryWorkFile() and returns that file. Throws
// FileError naming the file.
std::filesystem::path WriteHistoryPage(std::string_view body,
                                       const std::optional<std::filesystem::path> &pictureFolder);

} // namespace vostrel

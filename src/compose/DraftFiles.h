// The work files of the mail being composed: copies of attached files and of
// inline pictures, the HTML template, and the names they are kept under.
#pragma once

#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vostrel {

// WorkFolder() + "AppendedImage/": copies of attached files.
std::filesystem::path AttachmentFolder();
// WorkFolder() + "HtmlImage/": copies of inline pictures.
std::filesystem::path PictureFolder();
// WorkFolder() + "Preview_work.html".
std::filesystem::path PreviewFile();
// DataFolder() + "html.txt": the template HTML mode starts from.
std::filesystem::path HtmlTemplateFile();

// The name under which a chosen file is attached (Shift_JIS): its base name
// only, with every "," made the full-width comma "，" so that the name can
// stand in a comma-joined list. Throws ConversionError when the name holds a
// character Shift_JIS cannot hold (the message names it).
std::string AttachmentName(const std::filesystem::path &chosenFile);

enum class CopyResult
{
    Copied,
    AlreadyThere, // a file of that name exists; it was left as it is
};
// Copies source to target unless target exists; never overwrites. The copy
// is complete or absent: it is written beside the target and linked into
// place only when whole. Throws FileError naming the file that could not be
// read or written.
CopyResult CopyFileNoOverwrite(const std::filesystem::path &source,
                               const std::filesystem::path &target);

// Copies a chosen file into the attachment folder under AttachmentName and
// returns that name. The caller has made sure that the draft lists no
// attachment of that name: a file of the name already in the folder is a
// leftover that belongs to no draft, and the chosen file takes its place
// (unless it is that very file). Throws FileError or ConversionError when the
// copy cannot be made; the name must then not be listed.
std::string CopyAttachment(const std::filesystem::path &chosenFile);

// Deletes the named files of folder that exist. Names that are not plain file
// names ("", ".", "..", or holding "/") are skipped.
void DeleteWorkFiles(const std::filesystem::path &folder, const std::vector<std::string> &names);

// Deletes every file of the draft: the attachment copies, the inline
// pictures and the preview file.
void DeleteDraftFiles(const std::vector<std::string> &attachments,
                      const std::vector<std::string> &inlinePictures);

// "image" + yymmddhhnnss of localTime + "_" + the eight digits of random
// (10000000..99999998) + extension (with its dot, as the file had it).
std::string MakePictureName(const std::tm &localTime, unsigned random, std::string_view extension);
// A picture name for a chosen file (Shift_JIS file name): the current local
// time and a random number drawn from a generator seeded from the clock.
std::string PictureName(std::string_view chosenFileName);

// The template written when html.txt is missing: an HTML5 page declaring
// Shift_JIS, CR LF line ends.
const std::string &DefaultHtmlTemplate();
// Writes html.txt into the data folder unless it exists.
void EnsureHtmlTemplate();

} // namespace vostrel

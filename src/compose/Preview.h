// The preview of the HTML source: the page written to Preview_work.html and
// shown in the compose window's browser page.
#pragma once

#include "destinations/Recipient.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vostrel {

// The charset the source declares: the text after the first "charset="
// (case-sensitive) up to the next ">" (at least one character, line breaks
// included), with quotes removed and in upper case; empty when there is no
// such text.
std::string DeclaredCharset(std::string_view html);

// The page for the browser: every "cid:" replaced by the file address of
// pictureFolder (so inline pictures load from their local copies), and the
// whole text converted to UTF-8 when the declared charset contains "UTF-8";
// otherwise the Shift_JIS bytes as they are. The address is a percent-encoded
// file URL ending in "/", which reads the same in either encoding.
std::string PreviewPage(std::string_view htmlSource, const std::filesystem::path &pictureFolder);

// Writes PreviewPage of the source into PreviewFile(), replacing an older
// one, and returns that file. Throws FileError naming the file.
std::filesystem::path WritePreviewFile(std::string_view htmlSource);

// True when the text holds one of the thirteen merge tags.
bool UsesMergeTags(std::string_view text);

// One recipient offered for a personalised preview.
struct PreviewRecipient
{
    std::string listName;
    Recipient recipient;
};
// The first recipients (at most limit) of the named lists, lists in order,
// each in file order; the lists are read only as far as needed. A list that
// cannot be read contributes the recipients read before the damage, or none.
std::vector<PreviewRecipient> PreviewRecipients(const std::vector<std::string> &lists,
                                                std::size_t limit = 1000);

} // namespace vostrel

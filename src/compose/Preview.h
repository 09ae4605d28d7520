// The preview of the HTML source: the page written to Preview_work.html and
// shown in the compose window's browser page.
#pragma once

#include "core/PreviewPage.h"
#include "destinations/Recipient.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vostrel {

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

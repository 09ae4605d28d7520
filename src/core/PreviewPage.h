// The page the embedded browser shows of an HTML source: the compose
// window's preview and the history's.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

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

} // namespace vostrel

// What an HTML mail needs beside its source: the plain-text alternative made
// from the page, and the page's own charset declaration made to match the
// part it travels in. Texts are Shift_JIS.
#pragma once

#include <string>
#include <string_view>

namespace vostrel {

// The longest line of the plain text, in columns (a double-byte character
// takes two); a longer line is folded at a space, or between two double-byte
// characters. A run of single-byte characters without a space (a URL) is never
// cut.
inline constexpr std::size_t kPlainTextColumns = 72;

// The plain text of an HTML page: the content of <head>, <script>, <style>,
// <template> and comments is dropped; block elements (p, div, h1-h6, table,
// tr, ul, ol, blockquote, pre, hr and the like) start and end a line, p and
// headings a paragraph (one empty line); <br> ends a line; each list item is
// a line starting with "・"; cells of a row are separated by a space; a link
// becomes "text (URL)" (just the text when the URL is empty, "#...",
// "javascript:..." or the text itself); a picture becomes its alt text.
// Outside <pre> runs of white space become one space. Character references
// are decoded (a character Shift_JIS cannot hold becomes "?"). Lines are
// folded at kPlainTextColumns, trailing spaces removed, more than one empty
// line in a row and empty lines at both ends dropped. Lines end in CR LF.
std::string HtmlToPlainText(std::string_view html);

// The page with every charset declaration (<meta charset=...> and the charset
// of <meta http-equiv="Content-Type" content="...">) saying charset; when
// there is none, <meta charset="charset"> is added right after <head ...>
// (or after <html ...>, or at the very start).
std::string DeclareHtmlCharset(std::string_view html, std::string_view charset);

} // namespace vostrel

// Plain text files read into and saved from the compose window's editors.
// The text page's files are Shift_JIS; the HTML page's files may also be
// UTF-8 or UTF-16, told apart by their byte-order mark.
#pragma once

#include "core/SjisCodec.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace vostrel {

struct DecodedText
{
    TextEncoding encoding = TextEncoding::ShiftJis;
    std::string text; // Shift_JIS
};

// The whole content of a file. Throws FileError naming the file.
std::string ReadFileBytes(const std::filesystem::path &file);

// Content with a byte-order mark in the encoding it names, without one as
// Shift_JIS. Throws ConversionError when the content is not valid in its
// encoding or holds a character Shift_JIS cannot hold (the message names it).
DecodedText DecodeTextFile(std::string_view bytes);
// The file bytes of a Shift_JIS text in the encoding, with that encoding's
// byte-order mark (none for Shift_JIS). Line ends are kept as they are.
std::string EncodeTextFile(std::string_view sjisText, TextEncoding encoding);

// Reads a file for the HTML page (DecodeTextFile). Throws FileError naming
// the file, also when its content cannot be converted.
DecodedText ReadHtmlTextFile(const std::filesystem::path &file);

// The lines of a plain text (split at CR LF, LF or CR), each followed by
// CR LF; an empty text has no lines.
std::string TextLinesWithCrLf(std::string_view text);

} // namespace vostrel

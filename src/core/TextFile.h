// Plain text files: those read into and saved from the compose window's
// editors and the signatures, and the line ends of a plain text (also the
// history's).
// A file may be Shift_JIS, UTF-8 (with or without a byte-order mark) or
// UTF-16 (with its mark), decided as for every text file the program reads
// (DetectTextEncoding). The text page saves Shift_JIS; the HTML page saves
// in the encoding of the file it last loaded.
#pragma once

#include "core/SjisCodec.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace vostrel {

// Content of a text file that cannot become the program's text: a character
// that Shift_JIS cannot hold, a user-defined character, or bytes that are
// not text in the file's encoding. The message names the line (from 1) and
// the character or the bytes.
class TextContentError : public ConversionError
{
public:
    TextContentError(std::size_t line, const std::string &whatUtf8);
    std::size_t Line() const { return line_; }

private:
    std::size_t line_;
};

struct DecodedText
{
    TextEncoding encoding = TextEncoding::ShiftJis;
    std::string text; // Shift_JIS
};

// The whole content of a file. Throws FileError naming the file.
std::string ReadFileBytes(const std::filesystem::path &file);

// Content in the encoding DetectTextEncoding finds, as Shift_JIS text.
// Throws TextContentError when the content is neither Shift_JIS nor UTF-8,
// is not valid in the encoding its mark names, or holds a character that
// Shift_JIS cannot hold or a user-defined character; nothing is converted
// then.
DecodedText DecodeTextFile(std::string_view bytes);
// The file bytes of a Shift_JIS text in the encoding, with that encoding's
// byte-order mark (none for Shift_JIS and unmarked UTF-8). Line ends are
// kept as they are.
std::string EncodeTextFile(std::string_view sjisText, TextEncoding encoding);

// Reads a file for an editor (DecodeTextFile). Throws FileError naming the
// file, also when its content cannot be converted ("ファイルを読み込めません
// でした: <path>" and on the next line the line and the character).
DecodedText ReadEditorFile(const std::filesystem::path &file);

// The lines of a plain text (split at CR LF, LF or CR), each followed by
// CR LF; an empty text has no lines.
std::string TextLinesWithCrLf(std::string_view text);

} // namespace vostrel

// The one place where text changes between the program's internal form
// (code page 932 bytes in std::string) and UTF-8 / QString.
#pragma once

#include "core/Errors.h"

#include <QString>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vostrel {

// A character that code page 932 cannot hold, or one of its user-defined
// characters, was given. The message names the character; nothing was
// converted. Offset() is where the character starts in the input.
class UnencodableCharacterError : public ConversionError
{
public:
    UnencodableCharacterError(char32_t codePoint, const std::string &messageUtf8,
                              std::size_t offset = 0)
        : ConversionError(messageUtf8)
        , codePoint_(codePoint)
        , offset_(offset)
    {}
    char32_t CodePoint() const { return codePoint_; }
    std::size_t Offset() const { return offset_; }

private:
    char32_t codePoint_;
    std::size_t offset_;
};

// Bytes that are not text in the encoding they were read in. Offset() is
// where the first such byte lies in the input.
class MalformedTextError : public ConversionError
{
public:
    MalformedTextError(std::size_t offset, const std::string &messageUtf8)
        : ConversionError(messageUtf8)
        , offset_(offset)
    {}
    std::size_t Offset() const { return offset_; }

private:
    std::size_t offset_;
};

// Lead byte of a double-byte character (81..9F, E0..FC).
inline bool IsSjisLeadByte(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// The user-defined characters of code page 932 (lead bytes F0..F9): only
// the machine that defined them can show them, so no mail or stored text may
// hold one. Code page 932 gives them the private-use characters
// U+E000..U+E757, in code order.
inline bool IsSjisUserDefinedLead(unsigned char c)
{
    return c >= 0xF0 && c <= 0xF9;
}
inline bool IsUserDefinedCodePoint(char32_t cp)
{
    return cp >= 0xE000 && cp <= 0xE757;
}
// Where the first user-defined character of a Shift_JIS text starts;
// npos when there is none.
std::size_t FindUserDefinedCharacter(std::string_view sjis);
// The Unicode character of one Shift_JIS character (one or two bytes);
// U+FFFD when the bytes are no character.
char32_t SjisCodePoint(std::string_view sjisCharacter);

// What is wrong with a character that cannot be used, as a sentence for the
// user: "「X」(U+XXXX) はこのソフトで扱えない文字です。", or for a user-defined
// character "「X」(U+E000, Shift_JIS F040) は外字（ユーザー定義文字）のため、
// 受け取った人には読めません。".
std::string UnusableCharacterText(char32_t cp);
// The UTF-8 bytes of one character.
std::string CodePointToUtf8(char32_t cp);

// CP932 -> UTF-8. Never fails: a byte sequence that is not CP932 becomes
// U+FFFD, one per offending byte.
std::string SjisToUtf8(std::string_view sjis);

enum class UserDefinedCharacters
{
    Refuse, // text from the user or from a file: a user-defined character is refused
    Keep,   // names of files already stored: kept, so that the file can still be found
};
// UTF-8 -> CP932. Throws UnencodableCharacterError for the first character
// that CP932 cannot hold or that is a user-defined character (unless kept),
// and ConversionError for input that is not UTF-8.
std::string Utf8ToSjis(std::string_view utf8,
                       UserDefinedCharacters userDefined = UserDefinedCharacters::Refuse);

// True when every byte sequence of text is a character of code page 932.
bool IsValidSjis(std::string_view text);
// True when text is well-formed UTF-8 (no overlong forms, surrogates or code
// points beyond U+10FFFF).
bool IsValidUtf8(std::string_view text);
// Where the first byte lies that is no character of code page 932, or of
// well-formed UTF-8; npos when the whole text is valid.
std::size_t FirstInvalidSjisOffset(std::string_view text);
std::size_t FirstInvalidUtf8Offset(std::string_view text);

// UTF-16 bytes (after the byte-order mark) -> UTF-8. Throws
// MalformedTextError for an odd number of bytes or a surrogate without its
// partner.
std::string Utf16ToUtf8(std::string_view bytes, bool littleEndian);

// The encodings of text files that the program reads.
enum class TextEncoding
{
    ShiftJis,   // no byte-order mark
    Utf8,       // EF BB BF
    Utf16LE,    // FF FE
    Utf16BE,    // FE FF
    Utf8NoMark, // UTF-8 without a byte-order mark
};
// The byte-order mark of an encoding; empty for Shift_JIS and unmarked UTF-8.
std::string_view ByteOrderMark(TextEncoding encoding);

// The encoding of a text file's bytes, decided the same way for every file
// the program reads (mail texts, HTML sources, signatures, CSV files):
// 1. a byte-order mark names it (UTF-8, UTF-16 LE, UTF-16 BE);
// 2. else Shift_JIS when the bytes are valid code page 932 and not valid
//    UTF-8 (ASCII text included);
// 3. else UTF-8 when they are valid UTF-8 and not valid code page 932;
// 4. bytes valid both ways: UTF-8 when its reading holds a character of
//    three bytes or more (kana, kanji), else Shift_JIS. Short UTF-8 texts of
//    kana and kanji are often valid code page 932 too (こんにちは is), while
//    Shift_JIS text practically never is valid UTF-8 with such characters;
//    and a wrong guess of UTF-8 ends in a message when the text is converted
//    rather than in garbled text;
// no value: neither.
std::optional<TextEncoding> DetectTextEncoding(std::string_view bytes);

QString SjisToQString(std::string_view sjis);
std::string QStringToSjis(const QString &text); // throws like Utf8ToSjis

// Shorthand for program texts written in the source as UTF-8.
inline std::string Sjis(std::string_view utf8)
{
    return Utf8ToSjis(utf8);
}

} // namespace vostrel

// The one place where text changes between the program's internal form
// (code page 932 bytes in std::string) and UTF-8 / QString.
#pragma once

#include "core/Errors.h"

#include <QString>
#include <string>
#include <string_view>

namespace vostrel {

// A character that code page 932 cannot hold was given. The message names the
// character; nothing was converted.
class UnencodableCharacterError : public ConversionError
{
public:
    UnencodableCharacterError(char32_t codePoint, const std::string &messageUtf8)
        : ConversionError(messageUtf8)
        , codePoint_(codePoint)
    {}
    char32_t CodePoint() const { return codePoint_; }

private:
    char32_t codePoint_;
};

// Lead byte of a double-byte character (81..9F, E0..FC).
inline bool IsSjisLeadByte(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// CP932 -> UTF-8. Never fails: a byte sequence that is not CP932 becomes
// U+FFFD, one per offending byte.
std::string SjisToUtf8(std::string_view sjis);
// UTF-8 -> CP932. Throws UnencodableCharacterError for the first character
// that CP932 cannot hold, and ConversionError for input that is not UTF-8.
std::string Utf8ToSjis(std::string_view utf8);

// True when every byte sequence of text is a character of code page 932.
bool IsValidSjis(std::string_view text);
// True when text is well-formed UTF-8 (no overlong forms, surrogates or code
// points beyond U+10FFFF).
bool IsValidUtf8(std::string_view text);

QString SjisToQString(std::string_view sjis);
std::string QStringToSjis(const QString &text); // throws like Utf8ToSjis

// Shorthand for program texts written in the source as UTF-8.
inline std::string Sjis(std::string_view utf8)
{
    return Utf8ToSjis(utf8);
}

} // namespace vostrel

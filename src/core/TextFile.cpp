#include "core/TextFile.h"

#include "core/Errors.h"
#include "core/SjisCodec.h"

#include <QString>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace vostrel {

namespace fs = std::filesystem;

TextContentError::TextContentError(std::size_t line, const std::string &whatUtf8)
    : ConversionError(std::to_string(line) + " 行目" + whatUtf8)
    , line_(line)
{}

namespace {

// The line (from 1) of a position in a text whose line breaks are CR LF,
// CR or LF (single bytes in every encoding read here but UTF-16).
std::size_t LineAt(std::string_view text, std::size_t offset)
{
    std::size_t line = 1;
    const std::size_t end = std::min(offset, text.size());
    for (std::size_t i = 0; i < end; ++i) {
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n')))
            ++line;
    }
    return line;
}

// The same for a position in UTF-16 bytes.
std::size_t Utf16LineAt(std::string_view bytes, std::size_t offset, bool littleEndian)
{
    auto unit = [&](std::size_t i) {
        const auto first = static_cast<unsigned char>(bytes[2 * i]);
        const auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
        return littleEndian ? first | second << 8 : first << 8 | second;
    };
    const std::size_t units = bytes.size() / 2;
    std::size_t line = 1;
    for (std::size_t i = 0; i < units && 2 * i < offset; ++i) {
        if (unit(i) == '\n' || (unit(i) == '\r' && (i + 1 >= units || unit(i + 1) != '\n')))
            ++line;
    }
    return line;
}

// The bytes at a position in hex: the byte, and the next one when the first
// starts a Shift_JIS double-byte character on the same line.
std::string BytesAt(std::string_view bytes, std::size_t offset)
{
    std::size_t count = 1;
    if (IsSjisLeadByte(static_cast<unsigned char>(bytes[offset])) && offset + 1 < bytes.size() &&
        bytes[offset + 1] != '\r' && bytes[offset + 1] != '\n')
        count = 2;
    std::string hex;
    for (std::size_t i = 0; i < count; ++i) {
        char two[4];
        std::snprintf(two, sizeof two, "%s%02X", i == 0 ? "" : " ",
                      static_cast<unsigned>(static_cast<unsigned char>(bytes[offset + i])));
        hex += two;
    }
    return hex;
}

// UTF-8 text -> Shift_JIS, or the error naming the line.
std::string Utf8TextToSjis(std::string_view utf8)
{
    if (const std::size_t bad = FirstInvalidUtf8Offset(utf8); bad != std::string_view::npos)
        throw TextContentError(LineAt(utf8, bad), "に UTF-8 として読めないバイト (" +
                                                      BytesAt(utf8, bad) + ") があります。");
    try {
        return Utf8ToSjis(utf8);
    } catch (const UnencodableCharacterError &e) {
        throw TextContentError(LineAt(utf8, e.Offset()),
                               "の" + UnusableCharacterText(e.CodePoint()));
    }
}

std::string SjisToUtf16(std::string_view sjis, bool littleEndian)
{
    const std::u16string units = SjisToQString(sjis).toStdU16String();
    std::string bytes;
    bytes.reserve(units.size() * 2);
    for (const char16_t u : units) {
        const char low = static_cast<char>(u & 0xFF);
        const char high = static_cast<char>(u >> 8);
        bytes += littleEndian ? low : high;
        bytes += littleEndian ? high : low;
    }
    return bytes;
}

} // namespace

std::string ReadFileBytes(const fs::path &file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw FileError::ReadFailed(file, FileError::ErrnoText(errno));
    std::string bytes;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            throw FileError::ReadFailed(file, FileError::ErrnoText(err));
        }
        if (got == 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return bytes;
}

DecodedText DecodeTextFile(std::string_view bytes)
{
    const std::optional<TextEncoding> found = DetectTextEncoding(bytes);
    if (!found) {
        // Where the reading that got further stopped.
        const std::size_t at =
            std::max(FirstInvalidSjisOffset(bytes), FirstInvalidUtf8Offset(bytes));
        throw TextContentError(LineAt(bytes, at),
                               "に Shift_JIS としても UTF-8 としても読めないバイト (" +
                                   BytesAt(bytes, at) + ") があります。");
    }
    const TextEncoding encoding = *found;
    const std::string_view content = bytes.substr(ByteOrderMark(encoding).size());
    switch (encoding) {
    case TextEncoding::ShiftJis:
        if (const std::size_t at = FindUserDefinedCharacter(content); at != std::string_view::npos)
            throw TextContentError(LineAt(content, at), "の" + UnusableCharacterText(SjisCodePoint(
                                                                   content.substr(at, 2))));
        return {encoding, std::string(content)};
    case TextEncoding::Utf8:
    case TextEncoding::Utf8NoMark:
        return {encoding, Utf8TextToSjis(content)};
    case TextEncoding::Utf16LE:
    case TextEncoding::Utf16BE: {
        const bool littleEndian = encoding == TextEncoding::Utf16LE;
        std::string utf8;
        try {
            utf8 = Utf16ToUtf8(content, littleEndian);
        } catch (const MalformedTextError &e) {
            throw TextContentError(Utf16LineAt(content, e.Offset(), littleEndian),
                                   std::string(": ") + e.what() + "。");
        }
        return {encoding, Utf8TextToSjis(utf8)};
    }
    }
    return {encoding, std::string(content)};
}

std::string EncodeTextFile(std::string_view sjisText, TextEncoding encoding)
{
    std::string bytes(ByteOrderMark(encoding));
    switch (encoding) {
    case TextEncoding::ShiftJis:
        return std::string(sjisText);
    case TextEncoding::Utf8:
    case TextEncoding::Utf8NoMark:
        return bytes.append(SjisToUtf8(sjisText));
    case TextEncoding::Utf16LE:
    case TextEncoding::Utf16BE:
        return bytes.append(SjisToUtf16(sjisText, encoding == TextEncoding::Utf16LE));
    }
    return std::string(sjisText);
}

DecodedText ReadEditorFile(const fs::path &file)
{
    const std::string bytes = ReadFileBytes(file);
    try {
        return DecodeTextFile(bytes);
    } catch (const ConversionError &e) {
        throw FileError::ReadFailed(file, e.what());
    }
}

std::string TextLinesWithCrLf(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 2);
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", i);
        if (end == std::string_view::npos) {
            out.append(text.substr(i)).append("\r\n");
            break;
        }
        out.append(text.substr(i, end - i)).append("\r\n");
        i = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
    }
    return out;
}

} // namespace vostrel

#include "compose/TextFile.h"

#include "core/Errors.h"
#include "core/SjisCodec.h"

#include <QString>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace vostrel {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LEBom = "\xFF\xFE";
constexpr std::string_view kUtf16BEBom = "\xFE\xFF";

std::string Utf16ToSjis(std::string_view bytes, bool littleEndian)
{
    if (bytes.size() % 2 != 0)
        throw ConversionError("文字コードを変換できません（UTF-16 として正しくない長さです）");
    std::u16string units(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        const auto first = static_cast<unsigned char>(bytes[2 * i]);
        const auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
        units[i] = static_cast<char16_t>(littleEndian ? first | second << 8 : first << 8 | second);
    }
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        const bool high = u >= 0xD800 && u <= 0xDBFF;
        const bool low = u >= 0xDC00 && u <= 0xDFFF;
        if (low ||
            (high && (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF)))
            throw ConversionError(
                "文字コードを変換できません（UTF-16 として正しくない文字列です）");
        if (high)
            ++i;
    }
    return QStringToSjis(QString::fromStdU16String(units));
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
    if (bytes.starts_with(kUtf16LEBom))
        return {TextEncoding::Utf16LE, Utf16ToSjis(bytes.substr(2), true)};
    if (bytes.starts_with(kUtf16BEBom))
        return {TextEncoding::Utf16BE, Utf16ToSjis(bytes.substr(2), false)};
    if (bytes.starts_with(kUtf8Bom))
        return {TextEncoding::Utf8, Utf8ToSjis(bytes.substr(3))};
    return {TextEncoding::ShiftJis, std::string(bytes)};
}

std::string EncodeTextFile(std::string_view sjisText, TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::ShiftJis:
        return std::string(sjisText);
    case TextEncoding::Utf8:
        return std::string(kUtf8Bom).append(SjisToUtf8(sjisText));
    case TextEncoding::Utf8NoMark:
        return SjisToUtf8(sjisText);
    case TextEncoding::Utf16LE:
        return std::string(kUtf16LEBom).append(SjisToUtf16(sjisText, true));
    case TextEncoding::Utf16BE:
        return std::string(kUtf16BEBom).append(SjisToUtf16(sjisText, false));
    }
    return std::string(sjisText);
}

DecodedText ReadHtmlTextFile(const fs::path &file)
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

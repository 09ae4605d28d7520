#include "core/SjisCodec.h"

#include <cerrno>
#include <cstdio>
#include <iconv.h>

namespace vostrel {
namespace {

// One converter per direction and thread: iconv_open is costly and an iconv_t
// must not be shared between threads.
class Converter
{
public:
    Converter(const char *to, const char *from)
        : cd_(iconv_open(to, from))
    {}
    ~Converter()
    {
        if (cd_ != reinterpret_cast<iconv_t>(-1))
            iconv_close(cd_);
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    iconv_t Get()
    {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw ConversionError("文字コード変換 (CP932) を利用できません");
        iconv(cd_, nullptr, nullptr, nullptr, nullptr); // reset shift state
        return cd_;
    }

private:
    iconv_t cd_;
};

Converter &ToUtf8Converter()
{
    thread_local Converter c("UTF-8", "CP932");
    return c;
}

Converter &ToSjisConverter()
{
    thread_local Converter c("CP932", "UTF-8");
    return c;
}

bool IsAscii(std::string_view s)
{
    for (unsigned char c : s)
        if (c >= 0x80)
            return false;
    return true;
}

// Decodes one UTF-8 character at the start of s; returns its code point and
// length, or length 0 when s does not start with valid UTF-8.
std::pair<char32_t, size_t> DecodeUtf8(std::string_view s)
{
    if (s.empty())
        return {0, 0};
    const auto b0 = static_cast<unsigned char>(s[0]);
    size_t len = b0 < 0x80 ? 1 : (b0 >> 5) == 6 ? 2 : (b0 >> 4) == 14 ? 3 : (b0 >> 3) == 30 ? 4 : 0;
    if (len == 0 || len > s.size())
        return {0, 0};
    char32_t cp = len == 1 ? b0 : len == 2 ? (b0 & 0x1F) : len == 3 ? (b0 & 0x0F) : (b0 & 0x07);
    for (size_t i = 1; i < len; ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if ((b & 0xC0) != 0x80)
            return {0, 0};
        cp = (cp << 6) | (b & 0x3F);
    }
    return {cp, len};
}

} // namespace

std::string SjisToUtf8(std::string_view sjis)
{
    if (IsAscii(sjis))
        return std::string(sjis);
    iconv_t cd = ToUtf8Converter().Get();
    std::string out;
    out.resize(sjis.size() * 3 + 16);
    char *in = const_cast<char *>(sjis.data());
    size_t inLeft = sjis.size();
    char *dst = out.data();
    size_t outLeft = out.size();
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &dst, &outLeft) != static_cast<size_t>(-1))
            break;
        if (errno == E2BIG) { // cannot happen with 3 bytes per input byte, but be safe
            const size_t used = dst - out.data();
            out.resize(out.size() * 2);
            dst = out.data() + used;
            outLeft = out.size() - used;
            continue;
        }
        // EILSEQ or EINVAL: replace one byte by U+FFFD and go on.
        if (outLeft < 3) {
            const size_t used = dst - out.data();
            out.resize(out.size() + 64);
            dst = out.data() + used;
            outLeft = out.size() - used;
        }
        static constexpr char kReplacement[] = "\xEF\xBF\xBD";
        for (int i = 0; i < 3; ++i)
            *dst++ = kReplacement[i];
        outLeft -= 3;
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    out.resize(dst - out.data());
    return out;
}

namespace {

// Where the first user-defined character (U+E000..U+E757) of a UTF-8 text
// starts; npos when none. The text is valid UTF-8 up to its end or up to
// the first byte that is not.
std::size_t FirstUserDefinedInUtf8(std::string_view utf8)
{
    // Their UTF-8 form is EE 80 80 .. EE 9D 97.
    for (std::size_t i = utf8.find('\xEE'); i != std::string_view::npos;
         i = utf8.find('\xEE', i + 1)) {
        const auto [cp, len] = DecodeUtf8(utf8.substr(i));
        if (len != 0 && IsUserDefinedCodePoint(cp))
            return i;
    }
    return std::string_view::npos;
}

[[noreturn]] void ThrowUnusable(std::string_view utf8, std::size_t offset)
{
    const auto [cp, len] = DecodeUtf8(utf8.substr(offset));
    if (len == 0)
        throw ConversionError("文字コードを変換できません（UTF-8 として正しくない文字列です）");
    throw UnencodableCharacterError(
        cp, UnusableCharacterText(cp) + "この文字を使わずに入力してください。", offset);
}

} // namespace

std::string Utf8ToSjis(std::string_view utf8, UserDefinedCharacters userDefined)
{
    if (IsAscii(utf8))
        return std::string(utf8);
    const bool refuse = userDefined == UserDefinedCharacters::Refuse;
    iconv_t cd = ToSjisConverter().Get();
    std::string out;
    out.resize(utf8.size() + 16); // CP932 never needs more bytes than UTF-8
    char *in = const_cast<char *>(utf8.data());
    size_t inLeft = utf8.size();
    char *dst = out.data();
    size_t outLeft = out.size();
    if (iconv(cd, &in, &inLeft, &dst, &outLeft) == static_cast<size_t>(-1)) {
        const std::size_t failed = utf8.size() - inLeft;
        // A user-defined character before it is named first.
        const std::size_t earlier =
            refuse ? FirstUserDefinedInUtf8(utf8.substr(0, failed)) : std::string_view::npos;
        ThrowUnusable(utf8, earlier != std::string_view::npos ? earlier : failed);
    }
    out.resize(dst - out.data());
    if (refuse && FindUserDefinedCharacter(out) != std::string::npos)
        ThrowUnusable(utf8, FirstUserDefinedInUtf8(utf8));
    return out;
}

std::size_t FirstInvalidSjisOffset(std::string_view text)
{
    if (IsAscii(text))
        return std::string_view::npos;
    iconv_t cd = ToUtf8Converter().Get();
    // The converted text is not kept: convert into a scratch buffer, chunk
    // by chunk.
    char scratch[1 << 14];
    char *in = const_cast<char *>(text.data());
    size_t inLeft = text.size();
    while (inLeft > 0) {
        char *dst = scratch;
        size_t outLeft = sizeof scratch;
        if (iconv(cd, &in, &inLeft, &dst, &outLeft) != static_cast<size_t>(-1))
            break;
        if (errno != E2BIG) // EILSEQ, or EINVAL for a lead byte at the very end
            return text.size() - inLeft;
    }
    return std::string_view::npos;
}

bool IsValidSjis(std::string_view text)
{
    return FirstInvalidSjisOffset(text) == std::string_view::npos;
}

std::size_t FirstInvalidUtf8Offset(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        const auto [cp, len] = DecodeUtf8(text.substr(i));
        const char32_t smallest = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
        if (len == 0 || cp < smallest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return i;
        i += len;
    }
    return std::string_view::npos;
}

bool IsValidUtf8(std::string_view text)
{
    return FirstInvalidUtf8Offset(text) == std::string_view::npos;
}

std::size_t FindUserDefinedCharacter(std::string_view sjis)
{
    for (std::size_t i = 0; i < sjis.size(); ++i) {
        const auto c = static_cast<unsigned char>(sjis[i]);
        if (!IsSjisLeadByte(c))
            continue;
        if (IsSjisUserDefinedLead(c))
            return i;
        ++i; // the trail byte is never examined on its own
    }
    return std::string_view::npos;
}

char32_t SjisCodePoint(std::string_view sjisCharacter)
{
    const std::string utf8 = SjisToUtf8(sjisCharacter);
    const auto [cp, len] = DecodeUtf8(utf8);
    return len == 0 ? 0xFFFD : cp;
}

std::string CodePointToUtf8(char32_t cp)
{
    std::string out;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return out;
}

std::string UnusableCharacterText(char32_t cp)
{
    char code[48];
    if (IsUserDefinedCodePoint(cp)) {
        // 188 characters to a lead byte: trail bytes 40..7E and 80..FC.
        const unsigned index = static_cast<unsigned>(cp - 0xE000);
        const unsigned cell = index % 188;
        std::snprintf(code, sizeof code, "U+%04X, Shift_JIS %02X%02X", static_cast<unsigned>(cp),
                      0xF0 + index / 188, cell < 63 ? 0x40 + cell : 0x80 + (cell - 63));
        return "「" + CodePointToUtf8(cp) + "」(" + code +
               ") は外字（ユーザー定義文字）のため、受け取った人には読めません。";
    }
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(cp));
    return "「" + CodePointToUtf8(cp) + "」(" + code + ") はこのソフトで扱えない文字です。";
}

std::string Utf16ToUtf8(std::string_view bytes, bool littleEndian)
{
    if (bytes.size() % 2 != 0)
        throw MalformedTextError(bytes.size() - 1,
                                 "UTF-16 として正しくない長さです（バイト数が奇数です）");
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
            (high && (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF))) {
            char code[8];
            std::snprintf(code, sizeof code, "%04X", static_cast<unsigned>(u));
            throw MalformedTextError(2 * i, std::string("UTF-16 として正しくない文字 (") + code +
                                                ") があります");
        }
        if (high)
            ++i;
    }
    return QString::fromStdU16String(units).toStdString();
}

std::string_view ByteOrderMark(TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Utf8:
        return "\xEF\xBB\xBF";
    case TextEncoding::Utf16LE:
        return "\xFF\xFE";
    case TextEncoding::Utf16BE:
        return "\xFE\xFF";
    case TextEncoding::ShiftJis:
    case TextEncoding::Utf8NoMark:
        break;
    }
    return {};
}

std::optional<TextEncoding> DetectTextEncoding(std::string_view bytes)
{
    for (const TextEncoding marked :
         {TextEncoding::Utf8, TextEncoding::Utf16LE, TextEncoding::Utf16BE}) {
        if (bytes.starts_with(ByteOrderMark(marked)))
            return marked;
    }
    const bool sjis = IsValidSjis(bytes);
    const bool utf8 = IsValidUtf8(bytes);
    if (sjis && !utf8)
        return TextEncoding::ShiftJis;
    if (utf8 && !sjis)
        return TextEncoding::Utf8NoMark;
    if (!sjis)
        return std::nullopt;
    // Valid both ways (ASCII text among them). In valid UTF-8 a byte from E0
    // on starts a character of three or four bytes.
    for (unsigned char c : bytes) {
        if (c >= 0xE0)
            return TextEncoding::Utf8NoMark;
    }
    return TextEncoding::ShiftJis;
}

QString SjisToQString(std::string_view sjis)
{
    if (IsAscii(sjis))
        return QString::fromLatin1(sjis.data(), static_cast<qsizetype>(sjis.size()));
    const std::string utf8 = SjisToUtf8(sjis);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string QStringToSjis(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    return Utf8ToSjis(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
}

} // namespace vostrel

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

std::string Utf8ToSjis(std::string_view utf8)
{
    if (IsAscii(utf8))
        return std::string(utf8);
    iconv_t cd = ToSjisConverter().Get();
    std::string out;
    out.resize(utf8.size() + 16); // CP932 never needs more bytes than UTF-8
    char *in = const_cast<char *>(utf8.data());
    size_t inLeft = utf8.size();
    char *dst = out.data();
    size_t outLeft = out.size();
    if (iconv(cd, &in, &inLeft, &dst, &outLeft) == static_cast<size_t>(-1)) {
        const std::string_view rest(in, inLeft);
        const auto [cp, len] = DecodeUtf8(rest);
        if (len == 0)
            throw ConversionError("文字コードを変換できません（UTF-8 として正しくない文字列です）");
        char hex[16];
        std::snprintf(hex, sizeof hex, "U+%04X", static_cast<unsigned>(cp));
        throw UnencodableCharacterError(
            cp, "「" + std::string(rest.substr(0, len)) + "」(" + hex +
                    ") はこのソフトで扱えない文字です。この文字を使わずに入力してください。");
    }
    out.resize(dst - out.data());
    return out;
}

bool IsValidSjis(std::string_view text)
{
    if (IsAscii(text))
        return true;
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
        if (errno != E2BIG)
            return false; // EILSEQ, or EINVAL for a lead byte at the very end
    }
    return true;
}

bool IsValidUtf8(std::string_view text)
{
    while (!text.empty()) {
        if (static_cast<unsigned char>(text.front()) < 0x80) {
            text.remove_prefix(1);
            continue;
        }
        const auto [cp, len] = DecodeUtf8(text);
        const char32_t smallest = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
        if (len == 0 || cp < smallest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        text.remove_prefix(len);
    }
    return true;
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

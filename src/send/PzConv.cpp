#include "send/PzConv.h"

#include "core/SjisCodec.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <tuple>
#include <unordered_map>

namespace vostrel {
namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Two Base64 characters for every 12-bit value: one table step per 12 bits.
struct Base64PairTable
{
    std::array<char, 4096 * 2> chars{};
    constexpr Base64PairTable()
    {
        for (int v = 0; v < 4096; ++v) {
            chars[2 * v] = kBase64Alphabet[v >> 6];
            chars[2 * v + 1] = kBase64Alphabet[v & 63];
        }
    }
};
constexpr Base64PairTable kPairs;

// Encodes n bytes (n a multiple of 3) into 4 * n / 3 characters at dst.
inline char *EncodeGroups(const unsigned char *src, std::size_t n, char *dst)
{
    const char *pairs = kPairs.chars.data();
    const unsigned char *end = src + n;
    // Two groups per step: 6 bytes -> 8 characters.
    while (end - src >= 6) {
        const std::uint32_t a =
            (std::uint32_t(src[0]) << 16) | (std::uint32_t(src[1]) << 8) | src[2];
        const std::uint32_t b =
            (std::uint32_t(src[3]) << 16) | (std::uint32_t(src[4]) << 8) | src[5];
        std::memcpy(dst, pairs + 2 * (a >> 12), 2);
        std::memcpy(dst + 2, pairs + 2 * (a & 0xFFF), 2);
        std::memcpy(dst + 4, pairs + 2 * (b >> 12), 2);
        std::memcpy(dst + 6, pairs + 2 * (b & 0xFFF), 2);
        src += 6;
        dst += 8;
    }
    if (src != end) {
        const std::uint32_t a =
            (std::uint32_t(src[0]) << 16) | (std::uint32_t(src[1]) << 8) | src[2];
        std::memcpy(dst, pairs + 2 * (a >> 12), 2);
        std::memcpy(dst + 2, pairs + 2 * (a & 0xFFF), 2);
        dst += 4;
    }
    return dst;
}

// Encodes the last 1 or 2 bytes with padding.
inline char *EncodeTail(const unsigned char *src, std::size_t n, char *dst)
{
    if (n == 1) {
        dst[0] = kBase64Alphabet[src[0] >> 2];
        dst[1] = kBase64Alphabet[(src[0] & 0x03) << 4];
        dst[2] = '=';
        dst[3] = '=';
        return dst + 4;
    }
    if (n == 2) {
        dst[0] = kBase64Alphabet[src[0] >> 2];
        dst[1] = kBase64Alphabet[((src[0] & 0x03) << 4) | (src[1] >> 4)];
        dst[2] = kBase64Alphabet[(src[1] & 0x0F) << 2];
        dst[3] = '=';
        return dst + 4;
    }
    return dst;
}

std::size_t Base64Length(std::size_t n)
{
    return (n + 2) / 3 * 4;
}

// The full-width Shift_JIS pair of every half-width katakana A1..DF (JIS X
// 0201 -> JIS X 0208), the two sound marks DE and DF included.
constexpr std::array<std::uint16_t, 63> kFullWidthKana = {
    0x8142, 0x8175, 0x8176, 0x8141, 0x8145, 0x8392, 0x8340, 0x8342, // A1..A8 ｡｢｣､･ｦｧｨ
    0x8344, 0x8346, 0x8348, 0x8383, 0x8385, 0x8387, 0x8362, 0x815B, // A9..B0 ｩｪｫｬｭｮｯｰ
    0x8341, 0x8343, 0x8345, 0x8347, 0x8349, 0x834A, 0x834C, 0x834E, // B1..B8 ｱｲｳｴｵｶｷｸ
    0x8350, 0x8352, 0x8354, 0x8356, 0x8358, 0x835A, 0x835C, 0x835E, // B9..C0 ｹｺｻｼｽｾｿﾀ
    0x8360, 0x8363, 0x8365, 0x8367, 0x8369, 0x836A, 0x836B, 0x836C, // C1..C8 ﾁﾂﾃﾄﾅﾆﾇﾈ
    0x836D, 0x836E, 0x8371, 0x8374, 0x8377, 0x837A, 0x837D, 0x837E, // C9..D0 ﾉﾊﾋﾌﾍﾎﾏﾐ
    0x8380, 0x8381, 0x8382, 0x8384, 0x8386, 0x8388, 0x8389, 0x838A, // D1..D8 ﾑﾒﾓﾔﾕﾖﾗﾘ
    0x838B, 0x838C, 0x838D, 0x838F, 0x8393, 0x814A, 0x814B,         // D9..DF ﾙﾚﾛﾜﾝﾞﾟ
};

inline bool IsHalfWidthKana(unsigned char c)
{
    return c >= 0xA1 && c <= 0xDF;
}

// Characters that take the voiced mark: ｳ, ｶ..ﾄ, ﾊ..ﾎ.
inline bool TakesVoicedMark(unsigned char c)
{
    return c == 0xB3 || (c >= 0xB6 && c <= 0xC4) || (c >= 0xCA && c <= 0xCE);
}

// The code that the ISO-2022-JP form gives each vendor extension character
// of code page 932. The IBM extensions (lead bytes FA..FC) lie beyond what the
// arithmetic can carry in 7 bits, and NEC row 13 (lead byte 87) holds
// characters that JIS X 0208 also has; so every extension character takes
// the first code of its character in this order: JIS X 0208, NEC row 13, the
// NEC-selected IBM extensions (ED, EE). Mail readers take rows 13 and 89..92
// as the code page's characters; strict JIS readers still show the JIS X 0208
// ones. The table comes from the code page itself: two codes are the same
// character when they decode to the same Unicode character.
class ExtensionCodes
{
public:
    ExtensionCodes()
    {
        std::unordered_map<char32_t, std::uint16_t> first;
        first.reserve(8192);
        for (int rank = 0; rank < 3; ++rank) {
            for (int lead = 0x81; lead <= 0xEE; ++lead) {
                if (Rank(static_cast<unsigned char>(lead)) != rank)
                    continue;
                for (int trail = 0x40; trail <= 0xFC; ++trail) {
                    if (trail == 0x7F)
                        continue;
                    const char ch[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                    const char32_t cp = SjisCodePoint(std::string_view(ch, 2));
                    if (cp != 0xFFFD)
                        first.try_emplace(cp, static_cast<std::uint16_t>(lead << 8 | trail));
                }
            }
        }
        for (std::size_t slot = 0; slot < kLeads.size(); ++slot) {
            for (int trail = 0x40; trail <= 0xFC; ++trail) {
                const int code = kLeads[slot] << 8 | trail;
                const char ch[2] = {static_cast<char>(kLeads[slot]), static_cast<char>(trail)};
                const char32_t cp = trail == 0x7F ? 0xFFFD : SjisCodePoint(std::string_view(ch, 2));
                const auto found = first.find(cp);
                codes_[slot * 256 + static_cast<std::size_t>(trail)] =
                    found != first.end() ? found->second : static_cast<std::uint16_t>(code);
            }
        }
    }

    // The code to write for a double-byte character.
    std::pair<unsigned char, unsigned char> Map(unsigned char lead, unsigned char trail) const
    {
        const int slot = Slot(lead);
        if (slot < 0 || trail < 0x40 || trail > 0xFC)
            return {lead, trail};
        const std::uint16_t code = codes_[static_cast<std::size_t>(slot) * 256 + trail];
        return {static_cast<unsigned char>(code >> 8), static_cast<unsigned char>(code & 0xFF)};
    }

private:
    static constexpr std::array<unsigned char, 6> kLeads = {0x87, 0xED, 0xEE, 0xFA, 0xFB, 0xFC};

    static int Slot(unsigned char lead)
    {
        if (lead == 0x87)
            return 0;
        if (lead == 0xED || lead == 0xEE)
            return lead - 0xED + 1;
        if (lead >= 0xFA && lead <= 0xFC)
            return lead - 0xFA + 3;
        return -1;
    }

    // 0: JIS X 0208 rows, 1: NEC row 13, 2: NEC-selected IBM extensions;
    // -1 for the lead bytes that hold none of them.
    static int Rank(unsigned char lead)
    {
        if ((lead >= 0x81 && lead <= 0x84) || (lead >= 0x88 && lead <= 0x9F) ||
            (lead >= 0xE0 && lead <= 0xEA))
            return 0;
        if (lead == 0x87)
            return 1;
        if (lead == 0xED || lead == 0xEE)
            return 2;
        return -1;
    }

    std::array<std::uint16_t, kLeads.size() * 256> codes_{};
};

const ExtensionCodes &Extensions()
{
    static const ExtensionCodes codes;
    return codes;
}

inline bool IsExtensionLead(unsigned char lead)
{
    return lead == 0x87 || lead == 0xED || lead == 0xEE || (lead >= 0xFA && lead <= 0xFC);
}

constexpr std::string_view kEncodedWordPrefix = "=?ISO-2022-JP?B?";
constexpr std::string_view kEncodedWordSuffix = "?=";
constexpr std::string_view kEscToJis = "\x1B$B";
// Raw ISO-2022-JP bytes that fit one encoded-word of at most length
// characters (75: 75 - 16 - 2 = 57 Base64 characters, so 14 groups of 3 bytes).
constexpr std::size_t WordPayload(std::size_t length)
{
    const std::size_t frame = kEncodedWordPrefix.size() + kEncodedWordSuffix.size();
    return length > frame ? (length - frame) / 4 * 3 : 0;
}

bool IsAscii(std::string_view text)
{
    for (unsigned char c : text)
        if (c >= 0x80)
            return false;
    return true;
}

} // namespace

std::string TPzConv::HalfToFullKana(std::string_view sjis) const
{
    if (JisKanaConvType == ktNone)
        return std::string(sjis);
    std::string out;
    out.reserve(sjis.size() + sjis.size() / 4);
    const std::size_t n = sjis.size();
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(sjis[i]);
        if (IsSjisLeadByte(c)) {
            out += sjis[i];
            if (i + 1 < n)
                out += sjis[++i];
            continue;
        }
        if (!IsHalfWidthKana(c)) {
            out += sjis[i];
            continue;
        }
        const std::uint16_t full = kFullWidthKana[c - 0xA1];
        const auto h = static_cast<unsigned char>(full >> 8);
        auto t = static_cast<unsigned char>(full & 0xFF);
        if (JisKanaConvType == ktZenWithDaku && i + 1 < n) {
            const auto next = static_cast<unsigned char>(sjis[i + 1]);
            if (next == 0xDE && TakesVoicedMark(c)) {
                if ((t >= 0x4A && t <= 0x67) || (t >= 0x6E && t <= 0x7A)) {
                    t = static_cast<unsigned char>(t + 1);
                    ++i;
                } else if (h == 0x83 && t == 0x45) {
                    t = 0x94; // ヴ
                    ++i;
                }
            } else if (next == 0xDF && c >= 0xCA && c <= 0xCE && t >= 0x6E && t <= 0x7A) {
                t = static_cast<unsigned char>(t + 2);
                ++i;
            }
        }
        out += static_cast<char>(h);
        out += static_cast<char>(t);
    }
    return out;
}

std::pair<unsigned char, unsigned char> TPzConv::SjisPairToJis(unsigned char lead,
                                                               unsigned char trail)
{
    unsigned j1 = 2u * lead - 96u;
    if (lead < 0xA0)
        j1 -= 128u;
    if (trail < 0x9F)
        j1 -= 1u;
    unsigned j2;
    if (trail <= 0x7E)
        j2 = trail - 0x1Fu;
    else if (trail <= 0x9E)
        j2 = trail - 0x20u;
    else
        j2 = trail - 0x7Eu;
    return {static_cast<unsigned char>(j1 & 0xFF), static_cast<unsigned char>(j2 & 0xFF)};
}

std::string TPzConv::Base64Encode(std::string_view bytes)
{
    std::string out(Base64Length(bytes.size()), '\0');
    const auto *src = reinterpret_cast<const unsigned char *>(bytes.data());
    const std::size_t whole = bytes.size() / 3 * 3;
    char *dst = EncodeGroups(src, whole, out.data());
    EncodeTail(src + whole, bytes.size() - whole, dst);
    return out;
}

void AppendBase64Lines(std::string_view bytes, std::string &out)
{
    constexpr std::size_t kLineBytes = 57;
    const std::size_t n = bytes.size();
    if (n == 0)
        return;
    const std::size_t lines = (n + kLineBytes - 1) / kLineBytes;
    const std::size_t start = out.size();
    out.resize(start + Base64Length(n) + 2 * lines);
    const auto *src = reinterpret_cast<const unsigned char *>(bytes.data());
    char *dst = out.data() + start;
    std::size_t left = n;
    while (left >= kLineBytes) {
        dst = EncodeGroups(src, kLineBytes, dst);
        *dst++ = '\r';
        *dst++ = '\n';
        src += kLineBytes;
        left -= kLineBytes;
    }
    if (left > 0) {
        const std::size_t whole = left / 3 * 3;
        dst = EncodeGroups(src, whole, dst);
        dst = EncodeTail(src + whole, left - whole, dst);
        *dst++ = '\r';
        *dst++ = '\n';
    }
}

void TPzConv::AppendJis(std::string_view converted, std::string &out) const
{
    const std::string_view toAscii = JisByteCodeType == btRoman ? "\x1B(J" : "\x1B(B";
    bool doubleByte = false;
    const std::size_t n = converted.size();
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(converted[i]);
        if (IsSjisLeadByte(c) && i + 1 < n) {
            auto lead = c;
            auto trail = static_cast<unsigned char>(converted[++i]);
            if (IsSjisUserDefinedLead(lead))
                throw ConversionError(
                    UnusableCharacterText(SjisCodePoint(converted.substr(i - 1, 2))));
            if (IsExtensionLead(lead))
                std::tie(lead, trail) = Extensions().Map(lead, trail);
            if (!doubleByte) {
                out += kEscToJis;
                doubleByte = true;
            }
            const auto [j1, j2] = SjisPairToJis(lead, trail);
            out += static_cast<char>(j1);
            out += static_cast<char>(j2);
            continue;
        }
        // Any other byte, a lead byte that has no trail byte left included.
        if (doubleByte) {
            out += toAscii;
            doubleByte = false;
        }
        out += converted[i];
    }
    if (doubleByte)
        out += toAscii;
}

std::string TPzConv::ToIso2022Jp(std::string_view sjis) const
{
    const std::string converted = HalfToFullKana(sjis);
    std::string out;
    out.reserve(converted.size() + converted.size() / 8 + 8);
    AppendJis(converted, out);
    return out;
}

std::string TPzConv::EncodeHeaderWord(std::string_view sjis) const
{
    if (IsAscii(sjis))
        return std::string(sjis);
    std::string word(kEncodedWordPrefix);
    word += Base64Encode(ToIso2022Jp(sjis));
    word += kEncodedWordSuffix;
    return word;
}

std::vector<std::string> TPzConv::EncodeHeaderWords(std::string_view sjis, bool forceEncoding,
                                                    std::size_t firstWordMax,
                                                    std::size_t wordMax) const
{
    std::vector<std::string> words;
    if (sjis.empty())
        return words;
    if (!forceEncoding && IsAscii(sjis)) {
        words.emplace_back(sjis);
        return words;
    }
    const std::string converted = HalfToFullKana(sjis);
    auto makeWord = [&](std::string_view piece) {
        std::string jis;
        AppendJis(piece, jis);
        std::string word(kEncodedWordPrefix);
        word += Base64Encode(jis);
        word += kEncodedWordSuffix;
        return word;
    };
    std::string whole = makeWord(converted);
    if (whole.size() <= firstWordMax) {
        words.push_back(std::move(whole));
        return words;
    }
    // Greedy cut: as many characters per word as keep its ISO-2022-JP form,
    // closing escape included, within the word's payload (the first word's
    // budget may be smaller: it shares its line with the field name).
    constexpr std::size_t kEscLength = 3;
    std::size_t pieceStart = 0;
    std::size_t jisLength = 0; // without the closing escape
    bool doubleByte = false;
    const std::size_t n = converted.size();
    std::size_t i = 0;
    while (i < n) {
        const bool isDouble = IsSjisLeadByte(static_cast<unsigned char>(converted[i])) && i + 1 < n;
        const std::size_t charLength = isDouble ? 2 : 1;
        std::size_t grown = jisLength + charLength;
        if (isDouble != doubleByte)
            grown += kEscLength;
        const std::size_t needed = grown + (isDouble ? kEscLength : 0);
        const std::size_t payload = WordPayload(words.empty() ? firstWordMax : wordMax);
        if (needed > payload && i > pieceStart) {
            words.push_back(
                makeWord(std::string_view(converted).substr(pieceStart, i - pieceStart)));
            pieceStart = i;
            jisLength = 0;
            doubleByte = false;
            continue; // measure this character again at the start of a word
        }
        jisLength = grown;
        doubleByte = isDouble;
        i += charLength;
    }
    if (pieceStart < n)
        words.push_back(makeWord(std::string_view(converted).substr(pieceStart)));
    return words;
}

} // namespace vostrel

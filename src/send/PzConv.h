// The Japanese text encoding converter: Shift_JIS (code page 932) text to
// ISO-2022-JP for mail bodies, and to RFC 2047 encoded-words ("B" encoding,
// charset label ISO-2022-JP) for header texts.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vostrel {

// The escape that ends a run of double-byte characters.
enum TJisByteCodeType
{
    btAscii, // ESC ( B
    btRoman, // ESC ( J
};

// What happens to half-width katakana (single bytes A1..DF), which
// ISO-2022-JP cannot carry.
enum TJisKanaConvType
{
    ktNone,        // left as they are (8-bit bytes)
    ktZenWithDaku, // full-width; a following sound mark merges into the character
    ktZenSepaDaku, // full-width; every sound mark becomes the full-width spacing mark
};

// Stateless apart from its two settings; every operation is a pure function
// of its input and the settings.
class TPzConv
{
public:
    TJisByteCodeType JisByteCodeType = btAscii;
    TJisKanaConvType JisKanaConvType = ktZenWithDaku;

    // The longest encoded-word that EncodeHeaderWords writes.
    static constexpr std::size_t kMaxEncodedWordLength = 75;

    // The half-width katakana step selected by JisKanaConvType.
    std::string HalfToFullKana(std::string_view sjis) const;

    // The two JIS X 0208 bytes of one Shift_JIS double-byte character, by the
    // standard arithmetic, without range checks (vendor extension rows come out
    // as the arithmetic gives them).
    static std::pair<unsigned char, unsigned char> SjisPairToJis(unsigned char lead,
                                                                 unsigned char trail);

    // Standard Base64 with "=" padding and no line breaks.
    static std::string Base64Encode(std::string_view bytes);

    // Shift_JIS text -> ISO-2022-JP: the katakana step, then ESC $ B before every
    // run of double-byte characters and ESC ( B (ESC ( J under btRoman) after
    // it, so the text and every line end in ASCII mode. Bytes that are not part
    // of a double-byte character are copied unchanged.
    // Before the arithmetic, each vendor extension character takes the most
    // widely read code of its character: its JIS X 0208 code where it has one,
    // else its NEC row 13 code, else its NEC-selected code (rows 89..92), so
    // the IBM extensions (lead bytes FA..FC: 髙, 﨑, ...) stay within 21..7E.
    // A user-defined character (lead bytes F0..F9), which no reader can show,
    // throws ConversionError naming it; callers refuse such texts before.
    std::string ToIso2022Jp(std::string_view sjis) const;

    // An empty or pure ASCII text unchanged; any other text as one encoded-word
    // "=?ISO-2022-JP?B?" + Base64 of its ISO-2022-JP form + "?=", however long.
    // Throws like ToIso2022Jp.
    std::string EncodeHeaderWord(std::string_view sjis) const;

    // The form used for header lines: an empty text gives no word; a pure
    // ASCII text gives itself (unless forceEncoding is set); a text whose single
    // encoded-word (as EncodeHeaderWord gives it) has at most 75 characters gives
    // that word; a longer text gives as many encoded-words of at most 75
    // characters as needed. Words are cut at character boundaries after the
    // katakana step, so a sound mark always stays with its character, and each
    // word is a complete ISO-2022-JP text that ends in ASCII mode. Readers join
    // adjacent encoded-words without the white space between them.
    // firstWordMax and wordMax lower the limit of the first word and of the
    // others, so that each word fits the line it stands on (at least 30, room
    // for one character).
    std::vector<std::string> EncodeHeaderWords(std::string_view sjis, bool forceEncoding = false,
                                               std::size_t firstWordMax = kMaxEncodedWordLength,
                                               std::size_t wordMax = kMaxEncodedWordLength) const;

private:
    // ISO-2022-JP of a text whose katakana step is already done, appended to out.
    void AppendJis(std::string_view converted, std::string &out) const;
};

// Appends the Base64 form of bytes to out in lines of 76 characters, each
// followed by CR LF (57 input bytes per line; the last line may be shorter).
// Nothing is appended for empty input.
void AppendBase64Lines(std::string_view bytes, std::string &out);

} // namespace vostrel

// The Japanese encoding converter: ISO-2022-JP bodies, half-width katakana,
// the Shift_JIS -> JIS arithmetic, Base64 and header encoded-words.
#include "SendTestUtil.h"

#include "core/SjisCodec.h"
#include "send/PzConv.h"
#include "support/VostrelTest.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <map>
#include <random>
#include <set>

using namespace vostrel;
using vostrel::test::FromHex;
using vostrel::test::Iso2022JpToUtf8;
using vostrel::test::S;
using vostrel::test::ToHex;

namespace {

const std::string kEscJis = "\x1B$B";
const std::string kEscAscii = "\x1B(B";
const std::string kEscRoman = "\x1B(J";

// The full-width form of one half-width katakana byte by Unicode's
// compatibility mapping (Qt's tables), as Shift_JIS.
std::string FullWidthByUnicode(unsigned char halfWidth, QString append = {})
{
    const QString half(QChar(0xFF61 + (halfWidth - 0xA1)));
    QString full = half.normalized(QString::NormalizationForm_KC) + append;
    return QStringToSjis(full.normalized(QString::NormalizationForm_C));
}

std::string DecodeBase64(std::string_view text)
{
    const QByteArray bytes =
        QByteArray::fromBase64(QByteArray(text.data(), static_cast<qsizetype>(text.size())),
                               QByteArray::AbortOnBase64DecodingErrors);
    return bytes.toStdString();
}

// The raw ISO-2022-JP bytes inside one encoded-word; fails the test when the
// word does not have the form =?ISO-2022-JP?B?...?=.
std::string WordPayload(const std::string &word)
{
    const std::string prefix = "=?ISO-2022-JP?B?";
    EXPECT_TRUE(word.starts_with(prefix)) << word;
    EXPECT_TRUE(word.ends_with("?=")) << word;
    if (word.size() < prefix.size() + 2)
        return {};
    return DecodeBase64(
        std::string_view(word).substr(prefix.size(), word.size() - prefix.size() - 2));
}

} // namespace

TEST(PzConvTest, DefaultSettingsAreAsciiEscapeAndMergedSoundMarks)
{
    const TPzConv conv;
    EXPECT_EQ(conv.JisByteCodeType, btAscii);
    EXPECT_EQ(conv.JisKanaConvType, ktZenWithDaku);
    // The enumerations keep the documented order.
    EXPECT_EQ(static_cast<int>(btAscii), 0);
    EXPECT_EQ(static_cast<int>(btRoman), 1);
    EXPECT_EQ(static_cast<int>(ktNone), 0);
    EXPECT_EQ(static_cast<int>(ktZenWithDaku), 1);
    EXPECT_EQ(static_cast<int>(ktZenSepaDaku), 2);
}

TEST(PzConvTest, ToIso2022JpWrapsDoubleByteRunsInEscapes)
{
    const TPzConv conv;
    // a, あ, b -> 61, ESC $ B, 24 22, ESC ( B, 62
    EXPECT_EQ(ToHex(conv.ToIso2022Jp(S("aあb"))), "611b244224221b284262");
    // One escape pair around a whole run.
    EXPECT_EQ(conv.ToIso2022Jp(S("あいう")), kEscJis + "$\"$$$&" + kEscAscii);
    // A text that ends in a double-byte character ends in ASCII mode.
    EXPECT_EQ(conv.ToIso2022Jp(S("漢字")), kEscJis + "4A;z" + kEscAscii);
    // Every line break after a double-byte character is preceded by ESC ( B.
    EXPECT_EQ(conv.ToIso2022Jp(S("あ\r\nい\nう\rx")), kEscJis + "$\"" + kEscAscii + "\r\n" +
                                                          kEscJis + "$$" + kEscAscii + "\n" +
                                                          kEscJis + "$&" + kEscAscii + "\rx");
    // ASCII and control bytes are copied unchanged; no escapes at all.
    EXPECT_EQ(conv.ToIso2022Jp("plain\ttext\r\n"), "plain\ttext\r\n");
    EXPECT_EQ(conv.ToIso2022Jp(""), "");
}

TEST(PzConvTest, RomanSettingEndsRunsWithEscParenJ)
{
    TPzConv conv;
    conv.JisByteCodeType = btRoman;
    EXPECT_EQ(conv.ToIso2022Jp(S("aあb")), "a" + kEscJis + "$\"" + kEscRoman + "b");
    EXPECT_EQ(conv.ToIso2022Jp(S("あ")), kEscJis + "$\"" + kEscRoman);
    // The start of a double-byte run is always ESC $ B.
    EXPECT_EQ(conv.ToIso2022Jp(S("x漢")).substr(1, 3), kEscJis);
}

TEST(PzConvTest, OddBytesOutsideDoubleByteCharactersAreCopied)
{
    const TPzConv conv;
    // A lead byte with no trail byte left, and bytes that start no character.
    EXPECT_EQ(ToHex(conv.ToIso2022Jp(std::string("a\x82", 2))), "6182");
    EXPECT_EQ(ToHex(conv.ToIso2022Jp(S("あ") + "\xFD")), "1b244224221b2842fd");
    EXPECT_EQ(ToHex(conv.ToIso2022Jp("\x80\xA0")), "80a0");
}

TEST(PzConvTest, HalfWidthKanaTableMatchesUnicodeCompatibilityForms)
{
    TPzConv sepa;
    sepa.JisKanaConvType = ktZenSepaDaku;
    const TPzConv merged;
    for (int c = 0xA1; c <= 0xDF; ++c) {
        const std::string half(1, static_cast<char>(c));
        std::string expected;
        if (c == 0xDE)
            expected = S("゛"); // spacing marks, not the combining ones
        else if (c == 0xDF)
            expected = S("゜");
        else
            expected = FullWidthByUnicode(static_cast<unsigned char>(c));
        EXPECT_EQ(ToHex(sepa.HalfToFullKana(half)), ToHex(expected)) << "byte " << c;
        EXPECT_EQ(ToHex(merged.HalfToFullKana(half)), ToHex(expected)) << "byte " << c;
    }
    // Spot checks from the table itself.
    EXPECT_EQ(ToHex(merged.HalfToFullKana("\xB1")), "8341"); // ｱ -> ア
    EXPECT_EQ(ToHex(merged.HalfToFullKana("\xA1")), "8142"); // ｡ -> 。
}

TEST(PzConvTest, SoundMarksMergeExactlyWhereAPrecomposedKanaExists)
{
    const TPzConv conv;
    EXPECT_EQ(conv.HalfToFullKana(S("ｶﾞ")), S("ガ"));
    EXPECT_EQ(conv.HalfToFullKana(S("ｳﾞ")), S("ヴ"));
    EXPECT_EQ(conv.HalfToFullKana(S("ﾊﾟ")), S("パ"));
    EXPECT_EQ(conv.HalfToFullKana(S("ｱﾞ")), S("ア゛"));
    EXPECT_EQ(conv.HalfToFullKana(S("ﾞ")), S("゛"));
    EXPECT_EQ(conv.HalfToFullKana(S("ﾟ")), S("゜"));
    EXPECT_EQ(conv.HalfToFullKana(S("ｶﾟ")), S("カ゜"));
    EXPECT_EQ(conv.HalfToFullKana(S("ﾎﾟﾄﾞﾂﾞ")), S("ポドヅ"));
    EXPECT_EQ(conv.HalfToFullKana(S("ｶﾞﾞ")), S("ガ゛"));
    EXPECT_EQ(conv.HalfToFullKana(S("ｶ")), S("カ")); // a mark past the end is none
    // Every half-width katakana followed by each mark, against Unicode's
    // composition of the full-width kana with the combining mark.
    for (int c = 0xA6; c <= 0xDD; ++c) {
        if (c == 0xB0)
            continue; // ｰ is no kana letter
        for (const int mark : {0xDE, 0xDF}) {
            const std::string text{static_cast<char>(c), static_cast<char>(mark)};
            const QString combining(QChar(mark == 0xDE ? 0x3099 : 0x309A));
            const QString composed =
                (QString(QChar(0xFF61 + (c - 0xA1))).normalized(QString::NormalizationForm_KC) +
                 combining)
                    .normalized(QString::NormalizationForm_C);
            // A mark merges where Unicode composes a character that Shift_JIS
            // holds (it has no ヷ or ヺ).
            std::string expected;
            bool merges = false;
            if (composed.size() == 1) {
                try {
                    expected = QStringToSjis(composed);
                    merges = true;
                } catch (const ConversionError &) {
                }
            }
            if (!merges)
                expected = FullWidthByUnicode(static_cast<unsigned char>(c)) +
                           (mark == 0xDE ? S("゛") : S("゜"));
            EXPECT_EQ(ToHex(conv.HalfToFullKana(text)), ToHex(expected)) << "bytes " << ToHex(text);
        }
    }
}

TEST(PzConvTest, TrailBytesInTheKanaRangeAreNotKana)
{
    const TPzConv conv;
    // ぃ is 82 A1 and い is 82 A2: their trail bytes look like ｡ and ｢.
    EXPECT_EQ(conv.HalfToFullKana(S("ぃい")), S("ぃい"));
    // A trail byte DE is no sound mark, and the mark after it stands alone.
    const std::string withTrailDe("\x82\xDE", 2);
    EXPECT_EQ(conv.HalfToFullKana(withTrailDe), withTrailDe);
    EXPECT_EQ(conv.HalfToFullKana(withTrailDe + "\xDE"), withTrailDe + S("゛"));
    EXPECT_EQ(conv.HalfToFullKana(S("いﾞ")), S("い゛"));
}

TEST(PzConvTest, SeparateAndNoneSettings)
{
    TPzConv conv;
    conv.JisKanaConvType = ktZenSepaDaku;
    EXPECT_EQ(conv.HalfToFullKana(S("ｶﾞﾊﾟｳﾞ")), S("カ゛ハ゜ウ゛"));
    EXPECT_EQ(conv.ToIso2022Jp(S("ｶﾞ")), kEscJis + "%+!+" + kEscAscii);

    conv.JisKanaConvType = ktNone;
    EXPECT_EQ(conv.HalfToFullKana(S("ｶﾞa漢")), S("ｶﾞa漢"));
    // Half-width katakana then stay 8-bit bytes in the output.
    EXPECT_EQ(ToHex(conv.ToIso2022Jp(S("aｱ漢"))), "61b11b244234411b2842");
}

TEST(PzConvTest, ToIso2022JpAppliesTheKanaStepFirst)
{
    const TPzConv conv;
    EXPECT_EQ(conv.ToIso2022Jp(S("ｶﾞ")), kEscJis + "%," + kEscAscii);
    EXPECT_EQ(conv.ToIso2022Jp(S("aｳﾞb")), "a" + kEscJis + "%t" + kEscAscii + "b");
}

TEST(PzConvTest, SjisPairToJisKnownCharacters)
{
    using Pair = std::pair<unsigned char, unsigned char>;
    EXPECT_EQ(TPzConv::SjisPairToJis(0x82, 0xA0), Pair(0x24, 0x22)); // あ
    EXPECT_EQ(TPzConv::SjisPairToJis(0x81, 0x40), Pair(0x21, 0x21)); // ideographic space
    EXPECT_EQ(TPzConv::SjisPairToJis(0x88, 0x9F), Pair(0x30, 0x21)); // 亜
    EXPECT_EQ(TPzConv::SjisPairToJis(0x98, 0x9F), Pair(0x50, 0x21)); // 弌
    EXPECT_EQ(TPzConv::SjisPairToJis(0xEA, 0xA4), Pair(0x74, 0x26)); // 熙, the last one
    EXPECT_EQ(TPzConv::SjisPairToJis(0x81, 0x80), Pair(0x21, 0x60)); // ÷, trail past 7F
    // Vendor extensions come out as the arithmetic gives them.
    EXPECT_EQ(TPzConv::SjisPairToJis(0x87, 0x40), Pair(0x2D, 0x21)); // NEC row 13 ①
    EXPECT_EQ(TPzConv::SjisPairToJis(0xED, 0x40), Pair(0x79, 0x21)); // NEC-selected IBM
    EXPECT_EQ(TPzConv::SjisPairToJis(0xFA, 0x40), Pair(0x93, 0x21)); // IBM, beyond 7E
    EXPECT_EQ(TPzConv::SjisPairToJis(0xFC, 0x4B), Pair(0x97, 0x2C)); // the last IBM one
}

// Row and cell of a Shift_JIS pair worked out the other way round (two rows
// per lead byte; the trail byte picks the odd or the even row), then JIS =
// 20 + row, 20 + cell. Used for the extension rows that no JIS table holds.
std::pair<unsigned char, unsigned char> JisByRowAndCell(int lead, int trail)
{
    const int firstRow = lead <= 0x9F ? (lead - 0x81) * 2 + 1 : (lead - 0xC1) * 2 + 1;
    int row, cell;
    if (trail >= 0x9F) {
        row = firstRow + 1;
        cell = trail - 0x9F + 1;
    } else {
        row = firstRow;
        cell = trail - 0x40 + 1 - (trail > 0x7F ? 1 : 0);
    }
    return {static_cast<unsigned char>((0x20 + row) & 0xFF),
            static_cast<unsigned char>((0x20 + cell) & 0xFF)};
}

TEST(PzConvTest, VendorExtensionRowsFollowTheArithmetic)
{
    // The arithmetic alone; which code ToIso2022Jp gives it is checked below.
    int checked = 0;
    for (const int lead : {0x87, 0xED, 0xEE, 0xFA, 0xFB, 0xFC}) {
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail == 0x7F)
                continue;
            const std::string ch{static_cast<char>(lead), static_cast<char>(trail)};
            // Only characters that code page 932 defines.
            if (SjisToUtf8(ch).find("\xEF\xBF\xBD") != std::string::npos)
                continue;
            const auto [j1, j2] = JisByRowAndCell(lead, trail);
            EXPECT_EQ(TPzConv::SjisPairToJis(static_cast<unsigned char>(lead),
                                             static_cast<unsigned char>(trail)),
                      std::make_pair(j1, j2))
                << ToHex(ch);
            ++checked;
        }
    }
    // NEC row 13 (83), NEC-selected IBM (374) and IBM (388) characters.
    EXPECT_EQ(checked, 83 + 374 + 388);
}

// JIS bytes -> Shift_JIS by the inverse of the arithmetic.
std::string JisToSjis(unsigned char j1, unsigned char j2)
{
    const int lead = ((j1 + 1) >> 1) + (j1 <= 0x5E ? 0x70 : 0xB0);
    const int trail = j2 + ((j1 & 1) ? (j2 > 0x5F ? 0x20 : 0x1F) : 0x7E);
    return {static_cast<char>(lead), static_cast<char>(trail)};
}

TEST(PzConvTest, EveryCodeOfTheCodePageComesOutInSevenBitsAndReadsBackAsItself)
{
    // Every double-byte character of code page 932 as Python's codecs see it.
    QString output;
    const int rc = vostrel::test::RunProgram(
        QStringLiteral(VOSTREL_PYTHON),
        {QStringLiteral(VOSTREL_SOURCE_DIR "/tests/send/cp932_codes.py")}, &output);
    ASSERT_EQ(rc, 0) << output.toStdString();
    const QStringList lines = output.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 9604);
    struct Code
    {
        std::string sjis;
        unsigned codePoint;
        std::string strictJis; // Python's iso2022_jp, empty when it has none
    };
    std::vector<Code> codes;
    std::map<std::string, unsigned> codePointOf;
    for (const QString &line : lines) {
        const QStringList fields = line.split(u' ');
        ASSERT_EQ(fields.size(), 3) << line.toStdString();
        Code code{FromHex(fields[0].toStdString()), fields[1].toUInt(nullptr, 16),
                  fields[2] == u"-" ? std::string() : FromHex(fields[2].toStdString())};
        codePointOf[code.sjis] = code.codePoint;
        codes.push_back(std::move(code));
    }

    const TPzConv conv;
    int userDefined = 0;
    int strict = 0;
    int moved = 0;
    int failures = 0;
    auto fail = [&failures](const std::string &what) {
        if (++failures <= 20)
            ADD_FAILURE() << what;
    };
    for (const Code &code : codes) {
        const auto lead = static_cast<unsigned char>(code.sjis[0]);
        if (lead >= 0xF0 && lead <= 0xF9) {
            // User-defined: no reader can show them, so none is written.
            EXPECT_THROW(conv.ToIso2022Jp(code.sjis), ConversionError) << ToHex(code.sjis);
            ++userDefined;
            continue;
        }
        const std::string got = conv.ToIso2022Jp(code.sjis);
        if (got.size() != 8 || !got.starts_with(kEscJis) || !got.ends_with(kEscAscii)) {
            fail("Shift_JIS " + ToHex(code.sjis) + ": got " + ToHex(got));
            continue;
        }
        const auto j1 = static_cast<unsigned char>(got[3]);
        const auto j2 = static_cast<unsigned char>(got[4]);
        if (j1 < 0x21 || j1 > 0x7E || j2 < 0x21 || j2 > 0x7E) {
            fail("Shift_JIS " + ToHex(code.sjis) + " leaves 7 bits: " + ToHex(got));
            continue;
        }
        // The code written reads back, by the arithmetic and the code page, as
        // the same character.
        const auto back = codePointOf.find(JisToSjis(j1, j2));
        if (back == codePointOf.end() || back->second != code.codePoint)
            fail("Shift_JIS " + ToHex(code.sjis) +
                 " reads back as another character: " + ToHex(got));
        // A character that JIS X 0208 holds is written exactly as a strict
        // converter writes it.
        if (!code.strictJis.empty()) {
            ++strict;
            if (got != code.strictJis)
                fail("Shift_JIS " + ToHex(code.sjis) + ": got " + ToHex(got) + ", strict " +
                     ToHex(code.strictJis));
        }
        const auto [a1, a2] =
            TPzConv::SjisPairToJis(lead, static_cast<unsigned char>(code.sjis[1]));
        if (a1 != j1 || a2 != j2)
            ++moved;
    }
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(userDefined, 1880);
    EXPECT_EQ(strict, 6883);
    // The 388 IBM extensions, the nine NEC row 13 characters that JIS X 0208
    // holds too, and the NEC-selected ￢.
    EXPECT_EQ(moved, 388 + 9 + 1);
}

TEST(PzConvTest, ExtensionCharactersTakeTheirMostWidelyReadCode)
{
    // Codes worked out with Python's cp932 codec: the other code of each
    // character, then the arithmetic.
    const struct
    {
        const char *character;
        std::string sjis;
        const char *jis;
    } cases[] = {
        {"髙", "\xFB\xFC", "7c62"}, // IBM -> NEC-selected EEE0
        {"髙", "\xEE\xE0", "7c62"}, // NEC-selected as it is
        {"﨑", "\xFA\xB1", "7975"}, // -> ED95
        {"德", "\xFA\xBA", "797e"}, // -> ED9E
        {"ⅰ", "\xFA\x40", "7c71"},  // -> EEEF
        {"Ⅰ", "\xFA\x4A", "2d35"},  // -> NEC row 13, 8754
        {"㈱", "\xFA\x58", "2d6a"}, // -> 878A
        {"№", "\xFA\x59", "2d62"},  // -> 8782
        {"￢", "\xFA\x54", "224c"}, // -> JIS X 0208, 81CA
        {"￢", "\xEE\xF9", "224c"}, // NEC-selected -> 81CA
        {"∵", "\xFA\x5B", "2268"},  // -> 81E6
        {"∵", "\x87\x9A", "2268"},  // NEC row 13 -> 81E6
        {"≒", "\x87\x90", "2262"},  // -> 81E0
        {"∪", "\x87\x9C", "2240"},  // -> 81BE
        {"①", "\x87\x40", "2d21"},  // row 13 only: as it is
    };
    const TPzConv conv;
    for (const auto &c : cases) {
        EXPECT_EQ(SjisToUtf8(c.sjis), c.character) << ToHex(c.sjis);
        EXPECT_EQ(ToHex(conv.ToIso2022Jp(c.sjis)), "1b2442" + std::string(c.jis) + "1b2842")
            << c.character << " " << ToHex(c.sjis);
    }
    // What the program's own codec makes of a typed 髙 is the IBM code.
    ASSERT_EQ(S("髙橋"), "\xFB\xFC\x8B\xB4");
    EXPECT_EQ(conv.ToIso2022Jp(S("髙橋")), kEscJis + "|b66" + kEscAscii);
    const std::vector<std::string> words = conv.EncodeHeaderWords(S("山﨑 髙橋"));
    ASSERT_EQ(words.size(), 1u);
    EXPECT_EQ(WordPayload(words[0]),
              kEscJis + ";3yu" + kEscAscii + " " + kEscJis + "|b66" + kEscAscii);
}

TEST(PzConvTest, AUserDefinedCharacterIsNeverWritten)
{
    const TPzConv conv;
    for (const std::string &text : {std::string("a\xF0\x40"), S("件名") + "\xF9\xFC"}) {
        try {
            conv.ToIso2022Jp(text);
            ADD_FAILURE() << ToHex(text) << " was written";
        } catch (const ConversionError &e) {
            EXPECT_NE(std::string(e.what()).find("外字（ユーザー定義文字）"), std::string::npos)
                << e.what();
        }
        EXPECT_THROW(conv.EncodeHeaderWords(text), ConversionError);
        EXPECT_THROW(conv.EncodeHeaderWord(text), ConversionError);
    }
}

TEST(PzConvTest, EveryJisX0208CharacterMatchesAnIndependentConverter)
{
    QString output;
    const int rc = vostrel::test::RunProgram(
        QStringLiteral(VOSTREL_PYTHON),
        {QStringLiteral(VOSTREL_SOURCE_DIR "/tests/send/jis_table.py")}, &output);
    ASSERT_EQ(rc, 0) << output.toStdString();
    const QStringList lines = output.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 6879);

    const TPzConv conv;
    std::string allSjis;
    std::string allJis;
    std::set<std::string> seen;
    int mismatches = 0;
    for (const QString &line : lines) {
        const QStringList fields = line.split(u' ');
        ASSERT_EQ(fields.size(), 2) << line.toStdString();
        const std::string sjis = FromHex(fields[0].toStdString());
        const std::string jis = FromHex(fields[1].toStdString());
        ASSERT_EQ(sjis.size(), 2u);
        ASSERT_EQ(jis.size(), 2u);
        EXPECT_TRUE(seen.insert(sjis).second);
        const std::string got = conv.ToIso2022Jp(sjis);
        if (got != kEscJis + jis + kEscAscii && ++mismatches <= 20)
            ADD_FAILURE() << "Shift_JIS " << ToHex(sjis) << ": got " << ToHex(got)
                          << ", expected JIS " << ToHex(jis);
        allSjis += sjis;
        allJis += jis;
    }
    EXPECT_EQ(mismatches, 0);
    // The whole table as one text: one run, one escape at each end.
    EXPECT_EQ(conv.ToIso2022Jp(allSjis), kEscJis + allJis + kEscAscii);
}

TEST(PzConvTest, Base64EncodeFollowsRfc4648)
{
    EXPECT_EQ(TPzConv::Base64Encode(""), "");
    EXPECT_EQ(TPzConv::Base64Encode("f"), "Zg==");
    EXPECT_EQ(TPzConv::Base64Encode("fo"), "Zm8=");
    EXPECT_EQ(TPzConv::Base64Encode("foo"), "Zm9v");
    EXPECT_EQ(TPzConv::Base64Encode("foob"), "Zm9vYg==");
    EXPECT_EQ(TPzConv::Base64Encode("fooba"), "Zm9vYmE=");
    EXPECT_EQ(TPzConv::Base64Encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(TPzConv::Base64Encode(std::string("\xFF\xFE\xFD\xFC\x00\x3F", 6)), "//79/AA/");

    // Every length up to 300 and every byte value, against Qt's encoder.
    std::mt19937 random(12345);
    for (int length = 0; length <= 300; ++length) {
        std::string bytes(static_cast<size_t>(length), '\0');
        for (char &b : bytes)
            b = static_cast<char>(random() & 0xFF);
        const QByteArray expected =
            QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())).toBase64();
        const std::string got = TPzConv::Base64Encode(bytes);
        ASSERT_EQ(got, expected.toStdString()) << "length " << length;
        // No line breaks, however long.
        EXPECT_EQ(got.find_first_of("\r\n"), std::string::npos);
    }
}

TEST(PzConvTest, Base64LinesHold57BytesEach)
{
    std::string out = "x";
    AppendBase64Lines("", out);
    EXPECT_EQ(out, "x");

    std::string bytes(57, 'a');
    out.clear();
    AppendBase64Lines(bytes, out);
    EXPECT_EQ(out, TPzConv::Base64Encode(bytes) + "\r\n");
    EXPECT_EQ(out.size(), 78u);

    bytes += 'b'; // 58 bytes: a full line and a line of one byte
    out.clear();
    AppendBase64Lines(bytes, out);
    EXPECT_EQ(out, TPzConv::Base64Encode(bytes.substr(0, 57)) + "\r\nYg==\r\n");

    std::mt19937 random(99);
    for (const size_t length : {1u, 2u, 3u, 56u, 114u, 1000u, 100001u}) {
        std::string data(length, '\0');
        for (char &b : data)
            b = static_cast<char>(random() & 0xFF);
        out = "head";
        AppendBase64Lines(data, out);
        ASSERT_TRUE(out.starts_with("head"));
        const std::string body = out.substr(4);
        ASSERT_TRUE(body.ends_with("\r\n"));
        std::string joined;
        size_t pos = 0;
        size_t lines = 0;
        while (pos < body.size()) {
            const size_t end = body.find("\r\n", pos);
            ASSERT_NE(end, std::string::npos);
            const size_t lineLength = end - pos;
            if (end + 2 < body.size()) {
                EXPECT_EQ(lineLength, 76u) << "line " << lines << " of length " << length;
            } else {
                EXPECT_LE(lineLength, 76u);
            }
            joined += body.substr(pos, lineLength);
            pos = end + 2;
            ++lines;
        }
        EXPECT_EQ(lines, (length + 56) / 57);
        EXPECT_EQ(DecodeBase64(joined), data) << "length " << length;
    }
}

TEST(PzConvTest, EncodeHeaderWordLeavesAsciiAndEncodesTheRest)
{
    const TPzConv conv;
    EXPECT_EQ(conv.EncodeHeaderWord("Hello"), "Hello");
    EXPECT_EQ(conv.EncodeHeaderWord(""), "");
    EXPECT_EQ(conv.EncodeHeaderWord("a \"quoted\" =?x?= text"), "a \"quoted\" =?x?= text");
    // Values worked out with Python's iso2022_jp codec and base64 module.
    EXPECT_EQ(conv.EncodeHeaderWord(S("山田様")), "=?ISO-2022-JP?B?GyRCOzNFRE1NGyhC?=");
    EXPECT_EQ(conv.EncodeHeaderWord(S("あ")), "=?ISO-2022-JP?B?GyRCJCIbKEI=?=");
    EXPECT_EQ(conv.EncodeHeaderWord(S("資料.pdf")), "=?ISO-2022-JP?B?GyRCO3FOQRsoQi5wZGY=?=");
    // Only half-width katakana: still encoded, merged on the way.
    EXPECT_EQ(conv.EncodeHeaderWord(S("ｶﾞﾊﾟｳﾞ")), "=?ISO-2022-JP?B?GyRCJSwlUSV0GyhC?=");
    // ASCII parts and spaces go inside the one word.
    const std::string word = conv.EncodeHeaderWord(S("Re: 山田 様"));
    EXPECT_EQ(WordPayload(word),
              "Re: " + kEscJis + ";3ED" + kEscAscii + " " + kEscJis + "MM" + kEscAscii);
    // No length limit: one word however long.
    std::string longText;
    for (int i = 0; i < 200; ++i)
        longText += S("漢");
    const std::string longWord = conv.EncodeHeaderWord(longText);
    EXPECT_EQ(longWord.find(' '), std::string::npos);
    EXPECT_EQ(longWord.size(), 16 + (3 + 400 + 3 + 2) / 3 * 4 + 2);
}

TEST(PzConvTest, EncodeHeaderWordsKeepsShortTextsAsTheSingleWord)
{
    const TPzConv conv;
    EXPECT_TRUE(conv.EncodeHeaderWords("").empty());
    EXPECT_EQ(conv.EncodeHeaderWords("Hello world"), std::vector<std::string>{"Hello world"});
    for (const char *text : {"山田様", "資料.pdf", "ｶﾞﾊﾟｳﾞ", "テスト送信のお知らせです"}) {
        const std::string sjis = S(text);
        EXPECT_EQ(conv.EncodeHeaderWords(sjis),
                  std::vector<std::string>{conv.EncodeHeaderWord(sjis)})
            << text;
    }
    // At the limit: 18 kanji make 42 bytes of ISO-2022-JP, a word of 74
    // characters, which stays whole; 19 kanji would make a word of 78.
    std::string kanji18;
    for (int i = 0; i < 18; ++i)
        kanji18 += S("字");
    const auto at = conv.EncodeHeaderWords(kanji18);
    ASSERT_EQ(at.size(), 1u);
    EXPECT_EQ(at[0], conv.EncodeHeaderWord(kanji18));
    EXPECT_EQ(at[0].size(), 74u);
    const auto over = conv.EncodeHeaderWords(kanji18 + S("字"));
    ASSERT_EQ(over.size(), 2u);
    EXPECT_EQ(conv.EncodeHeaderWord(kanji18 + S("字")).size(), 78u);
    // Forced: pure ASCII becomes encoded-words too.
    const auto forced = conv.EncodeHeaderWords("Hello", true);
    ASSERT_EQ(forced.size(), 1u);
    EXPECT_EQ(forced[0], "=?ISO-2022-JP?B?SGVsbG8=?=");
}

TEST(PzConvTest, LongHeaderTextsAreCutIntoCompleteWords)
{
    const TPzConv conv;
    struct Case
    {
        std::string sjis;
        std::string utf8; // what the words must decode to, joined
    };
    std::vector<Case> cases;
    {
        std::string u;
        for (int i = 0; i < 60; ++i)
            u += "漢";
        cases.push_back({S(u.c_str()), u});
    }
    {
        std::string u;
        for (int i = 0; i < 40; ++i)
            u += "aあ";
        cases.push_back({S(u.c_str()), u});
    }
    {
        // Half-width voiced kana merge before the cut, so no mark is split off.
        std::string half, full;
        for (int i = 0; i < 50; ++i) {
            half += "ｶﾞ";
            full += "ガ";
        }
        cases.push_back({S(half.c_str()), full});
    }
    {
        std::string u = "Subject line with ASCII words and then 日本語の文章が長く続きます";
        for (int i = 0; i < 3; ++i)
            u += u;
        cases.push_back({S(u.c_str()), u});
    }
    {
        std::string u(300, 'x'); // forced ASCII
        cases.push_back({u, u});
    }

    for (const Case &c : cases) {
        const auto words = conv.EncodeHeaderWords(c.sjis, true);
        ASSERT_GT(words.size(), 1u) << c.utf8;
        std::string decoded;
        for (size_t i = 0; i < words.size(); ++i) {
            const std::string &word = words[i];
            EXPECT_LE(word.size(), 75u) << word;
            const std::string payload = WordPayload(word);
            // Each word is complete ISO-2022-JP in itself and ends in ASCII mode.
            if (const size_t esc = payload.rfind('\x1B'); esc != std::string::npos) {
                EXPECT_EQ(payload.substr(esc, 3), kEscAscii) << ToHex(payload);
            }
            const auto utf8 = Iso2022JpToUtf8(payload);
            ASSERT_TRUE(utf8.has_value()) << ToHex(payload);
            decoded += *utf8;
            // The cut is greedy: a word other than the last is nearly full
            // (one more character costs at most 8 bytes of 42).
            if (i + 1 < words.size()) {
                EXPECT_GT(payload.size(), 42u - 8u) << word;
            }
        }
        EXPECT_EQ(decoded, c.utf8);
    }
}

// The codec at the window boundary: user-defined characters, and how the
// encoding of a text file is decided.
#include "core/SjisCodec.h"
#include "support/VostrelTest.h"

#include <QString>
#include <cstdio>
#include <optional>

using namespace vostrel;
using vostrel::test::S;

namespace {

const std::string kRetype = "この文字を使わずに入力してください。";

std::string Hex(std::string_view bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        char two[3];
        std::snprintf(two, sizeof two, "%02X", c);
        out += two;
    }
    return out;
}

} // namespace

TEST(SjisCodecTest, UserDefinedCharactersAreRefusedLikeUnencodableOnesNamingThem)
{
    const struct
    {
        const char *what;
        std::string utf8;
        char32_t codePoint;
        std::size_t offset;
        std::string message;
    } cases[] = {
        {"the first", "a\uE000b", 0xE000, 1,
         "「\uE000」(U+E000, Shift_JIS F040) は外字（ユーザー定義文字）のため、受け取った人には"
         "読めません。" +
             kRetype},
        {"the last", "山田\uE757", 0xE757, 6,
         "「\uE757」(U+E757, Shift_JIS F9FC) は外字（ユーザー定義文字）のため、受け取った人には"
         "読めません。" +
             kRetype},
        {"before a character the code page lacks", "\uE001😀", 0xE001, 0,
         "「\uE001」(U+E001, Shift_JIS F041) は外字（ユーザー定義文字）のため、受け取った人には"
         "読めません。" +
             kRetype},
        {"after a character the code page lacks", "😀\uE001", 0x1F600, 0,
         "「😀」(U+1F600) はこのソフトで扱えない文字です。" + kRetype},
        {"just past the user-defined ones", "x\uE758", 0xE758, 1,
         "「\uE758」(U+E758) はこのソフトで扱えない文字です。" + kRetype},
    };
    for (const auto &c : cases) {
        try {
            Utf8ToSjis(c.utf8);
            ADD_FAILURE() << c.what << ": converted";
        } catch (const UnencodableCharacterError &e) {
            EXPECT_EQ(e.CodePoint(), c.codePoint) << c.what;
            EXPECT_EQ(e.Offset(), c.offset) << c.what;
            EXPECT_EQ(std::string(e.what()), c.message) << c.what;
        }
        // Window text goes through the same rule.
        EXPECT_THROW(QStringToSjis(QString::fromStdString(c.utf8)), UnencodableCharacterError)
            << c.what;
    }
    // Names of files stored before keep them, and stored text still shows.
    EXPECT_EQ(Utf8ToSjis("a\uE000", UserDefinedCharacters::Keep), "a\xF0\x40");
    EXPECT_EQ(SjisToUtf8("a\xF0\x40"), "a\uE000");
    EXPECT_EQ(Utf8ToSjis("髙橋"), "\xFB\xFC\x8B\xB4"); // extension characters are no such thing
}

TEST(SjisCodecTest, EveryUserDefinedCharacterIsNamedByItsOwnCode)
{
    int checked = 0;
    for (char32_t cp = 0xE000; cp <= 0xE757; ++cp) {
        const std::string sjis = Utf8ToSjis(CodePointToUtf8(cp), UserDefinedCharacters::Keep);
        ASSERT_EQ(sjis.size(), 2u);
        EXPECT_TRUE(IsSjisUserDefinedLead(static_cast<unsigned char>(sjis[0])));
        EXPECT_EQ(FindUserDefinedCharacter("ab" + sjis), 2u);
        EXPECT_EQ(SjisCodePoint(sjis), cp);
        EXPECT_NE(UnusableCharacterText(cp).find("Shift_JIS " + Hex(sjis) + ")"), std::string::npos)
            << UnusableCharacterText(cp);
        ++checked;
    }
    EXPECT_EQ(checked, 1880);
    // A trail byte in that range is no user-defined character.
    EXPECT_EQ(FindUserDefinedCharacter("\x88\xF0\x88\xF9"), std::string::npos);
    EXPECT_EQ(FindUserDefinedCharacter(S("山田")), std::string::npos);
}

TEST(SjisCodecTest, TheEncodingOfATextFileIsDecidedByMarkThenByWhatTheBytesAre)
{
    using E = TextEncoding;
    const std::string helloUtf8 = "こんにちは\n";
    const std::string mikiSjis = S("ﾐｷ,ﾃｨ"); // D0 B7 2C C3 A8: also valid UTF-8 (з,è)
    const struct
    {
        const char *what;
        std::string bytes;
        std::optional<TextEncoding> encoding;
    } cases[] = {
        {"empty", "", E::ShiftJis},
        {"ASCII", "a,b\r\n", E::ShiftJis},
        {"Shift_JIS", S("山田です\r\n"), E::ShiftJis},
        {"UTF-8", "山田です\r\n", E::Utf8NoMark},
        {"UTF-8 that is valid Shift_JIS too", helloUtf8, E::Utf8NoMark},
        {"Shift_JIS that is valid UTF-8 too", mikiSjis, E::ShiftJis},
        {"UTF-8 mark", "\xEF\xBB\xBF" + S("漢字"), E::Utf8},
        {"the mark alone", "\xEF\xBB\xBF", E::Utf8},
        {"UTF-16LE mark",
         std::string("\xFF\xFE"
                     "a\0",
                     4),
         E::Utf16LE},
        {"UTF-16BE mark", std::string("\xFE\xFF\0a", 4), E::Utf16BE},
        {"neither", "a\x82\r\n\xC3", std::nullopt},
    };
    // The two texts valid both ways are what they are said to be.
    ASSERT_TRUE(IsValidSjis(helloUtf8));
    ASSERT_EQ(SjisToUtf8(helloUtf8), "縺薙ｓ縺ｫ縺｡縺ｯ\n");
    ASSERT_TRUE(IsValidUtf8(mikiSjis));
    for (const auto &c : cases)
        EXPECT_EQ(DetectTextEncoding(c.bytes), c.encoding) << c.what;
}

TEST(SjisCodecTest, FirstInvalidBytesAreFoundInEachEncoding)
{
    EXPECT_EQ(FirstInvalidSjisOffset(S("あい")), std::string::npos);
    EXPECT_EQ(FirstInvalidSjisOffset("ab\x82\r"), 2u);
    EXPECT_EQ(FirstInvalidSjisOffset(S("あ") + "\x82"), 2u); // a lead byte at the end
    EXPECT_EQ(FirstInvalidUtf8Offset("あい"), std::string::npos);
    EXPECT_EQ(FirstInvalidUtf8Offset("あ\xC3("), 3u);
    EXPECT_EQ(FirstInvalidUtf8Offset("\xC0\x80"), 0u);      // overlong
    EXPECT_EQ(FirstInvalidUtf8Offset("x\xED\xA0\x80"), 1u); // a surrogate
}

TEST(SjisCodecTest, Utf16IsConvertedOrItsFirstBadUnitNamed)
{
    EXPECT_EQ(Utf16ToUtf8(std::string("\x42\x30\x3D\xD8\x00\xDE", 6), true), "あ😀");
    EXPECT_EQ(Utf16ToUtf8(std::string("\x30\x42", 2), false), "あ");
    const struct
    {
        std::string bytes;
        std::size_t offset;
    } bad[] = {
        {std::string("a\0b", 3), 2}, // odd length
        {std::string("a\0\x00\xD8"
                     "b\0",
                     6),
         2},                             // a high surrogate alone
        {std::string("\x00\xDC", 2), 0}, // a low surrogate alone
    };
    for (const auto &b : bad) {
        try {
            Utf16ToUtf8(b.bytes, true);
            ADD_FAILURE() << Hex(b.bytes) << " converted";
        } catch (const MalformedTextError &e) {
            EXPECT_EQ(e.Offset(), b.offset) << Hex(b.bytes);
            EXPECT_NE(std::string(e.what()).find("UTF-16"), std::string::npos);
        }
    }
}

// The literal multibyte-aware replace and comma name lists.
#include "core/SjisText.h"
#include "support/VostrelTest.h"

#include <random>

using namespace vostrel;
using vostrel::test::S;

namespace {

// The replace written the plain way: step through the text one character at
// a time (a lead byte takes the next byte with it) and try a match at each
// character start.
std::string ReplaceByStepping(std::string_view source, std::string_view search,
                              std::string_view replacement)
{
    if (search.empty())
        return std::string(source);
    std::string out;
    size_t i = 0;
    while (i < source.size()) {
        if (source.substr(i).starts_with(search)) {
            out += replacement;
            i += search.size();
            continue;
        }
        const auto c = static_cast<unsigned char>(source[i]);
        const bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
        const size_t length = lead && i + 1 < source.size() ? 2 : 1;
        out += source.substr(i, length);
        i += length;
    }
    return out;
}

} // namespace

TEST(ReplaceAllTest, LiteralCaseSensitiveReplace)
{
    EXPECT_EQ(ReplaceAll("hello world", "o", "0"), "hell0 w0rld");
    EXPECT_EQ(ReplaceAll("Hello", "hello", "x"), "Hello");
    EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
    EXPECT_EQ(ReplaceAll("", "a", "x"), "");
    EXPECT_EQ(ReplaceAll("abc", "abc", ""), "");
    EXPECT_EQ(ReplaceAll("a.b.c", ".", "..."), "a...b...c");
    // Regex-like characters mean nothing.
    EXPECT_EQ(ReplaceAll("a*b+c", "*b+", "-"), "a-c");
}

TEST(ReplaceAllTest, ReplacedTextIsNeverSearchedAgain)
{
    EXPECT_EQ(ReplaceAll("aaa", "a", "aa"), "aaaaaa");
    EXPECT_EQ(ReplaceAll("<#-x->", "<#-x->", "<#-x-><#-x->"), "<#-x-><#-x->");
    // The search goes on just after the matched text.
    EXPECT_EQ(ReplaceAll("aaaa", "aa", "b"), "bb");
    EXPECT_EQ(ReplaceAll("aaa", "aa", "b"), "ba");
    EXPECT_EQ(ReplaceAll("ababab", "aba", "X"), "Xbab");
}

TEST(ReplaceAllTest, MatchesNeverStartOnATrailByte)
{
    // 表 is 95 5C and ソ is 83 5C: their trail byte is a backslash.
    EXPECT_EQ(ReplaceAll(S("表") + "\\", "\\", "/"), S("表") + "/");
    EXPECT_EQ(ReplaceAll(S("ソx"), "\\x", "!"), S("ソx"));
    EXPECT_EQ(ReplaceAll(S("ソ\\x"), "\\x", "!"), S("ソ") + "!");
    // ぁ is 82 9F: a run of them holds 9F 82 across characters.
    const std::string run = S("ぁぁぁ");
    EXPECT_EQ(ReplaceAll(run, "\x9F\x82", "X"), run);
    EXPECT_EQ(ReplaceAll(run, S("ぁ"), "a"), "aaa");
    EXPECT_EQ(ReplaceAll(S("ぁぁ") + "\x9F", "\x9F", "Y"), S("ぁぁ") + "Y");
    // Half-width katakana are single bytes: each starts a character.
    EXPECT_EQ(ReplaceAll(S("ｱｲｳ"), S("ｲ"), S("イ")), S("ｱイｳ"));
    // A lead byte at the very end stands alone.
    EXPECT_EQ(ReplaceAll(std::string("a\x82", 2), "\x82", "Z"), "aZ");
    // Japanese tags inside Japanese text.
    EXPECT_EQ(ReplaceAll(S("前<#-敬称->後<#-敬称->"), S("<#-敬称->"), S("様")), S("前様後様"));
}

TEST(ReplaceAllTest, AgreesWithCharacterByCharacterSearchOnRandomTexts)
{
    // Bytes chosen to make trail bytes look like search starts: lead bytes
    // whose trail bytes are also lead bytes, a backslash, '@', half-width kana.
    const unsigned char alphabet[] = {'a',  '<',  '\\', '@',  0x82, 0x9F,
                                      0x5C, 0xB1, 0xE0, 0x40, 0x88};
    std::mt19937 random(2024);
    auto randomText = [&](size_t maxLength) {
        std::string s(random() % (maxLength + 1), '\0');
        for (char &c : s)
            c = static_cast<char>(alphabet[random() % sizeof alphabet]);
        return s;
    };
    int replaced = 0;
    for (int i = 0; i < 20000; ++i) {
        const std::string source = randomText(24);
        const std::string search = randomText(3);
        const std::string replacement = randomText(3);
        const std::string expected = ReplaceByStepping(source, search, replacement);
        ASSERT_EQ(ReplaceAll(source, search, replacement), expected)
            << "case " << i << " source size " << source.size() << " search size " << search.size();
        if (expected != source)
            ++replaced;
    }
    // The random cases did exercise replacing.
    EXPECT_GT(replaced, 2000);
}

TEST(CommaNameListTest, SplitCutsAtEveryCommaAndNowhereElse)
{
    using List = std::vector<std::string>;
    EXPECT_EQ(SplitCommaNameList(""), List{});
    EXPECT_EQ(SplitCommaNameList("one"), List{"one"});
    EXPECT_EQ(SplitCommaNameList("my list,other list"), (List{"my list", "other list"}));
    EXPECT_EQ(SplitCommaNameList(" a , b "), (List{" a ", " b "}));
    EXPECT_EQ(SplitCommaNameList("a,,b"), (List{"a", "", "b"}));
    EXPECT_EQ(SplitCommaNameList(",a,"), (List{"", "a", ""}));
    EXPECT_EQ(SplitCommaNameList("\"q\",x"), (List{"\"q\"", "x"}));
    EXPECT_EQ(SplitCommaNameList(S("営業部 リスト,顧客，全員")),
              (List{S("営業部 リスト"), S("顧客，全員")}));
}

TEST(CommaNameListTest, JoinPutsCommasBetweenNamesOnly)
{
    using List = std::vector<std::string>;
    EXPECT_EQ(JoinCommaNameList({}), "");
    EXPECT_EQ(JoinCommaNameList({"a"}), "a");
    EXPECT_EQ(JoinCommaNameList({"a b", "c"}), "a b,c");
    EXPECT_EQ(JoinCommaNameList({"", ""}), ",");
    const List texts{"a", "a b,c", "x,,y", ",", S("送信者 一,送信者二")};
    for (const std::string &t : texts)
        EXPECT_EQ(JoinCommaNameList(SplitCommaNameList(t)), t);
    const List names{S("山田 リスト"), "b", ""};
    EXPECT_EQ(SplitCommaNameList(JoinCommaNameList(names)), names);
}

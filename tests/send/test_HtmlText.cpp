// The plain text made from an HTML mail, and the page's charset declaration
// made to match the part it is sent in.
#include "SendTestUtil.h"

#include "send/HtmlText.h"
#include "support/VostrelTest.h"

#include <gtest/gtest.h>

using namespace vostrel;
using vostrel::test::S;

namespace {

struct Case
{
    const char *what;
    const char *html; // UTF-8
    const char *text; // UTF-8, "\n" for CR LF
};

std::string CrLf(const std::string &text)
{
    std::string out;
    for (char c : text)
        out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

TEST(HtmlToPlainTextTest, MakesReadableLinesFromThePage)
{
    const Case cases[] = {
        {"blocks and br", "<div>一行目</div><div>二行目<br>三行目</div>", "一行目\n二行目\n三行目"},
        {"paragraphs leave one empty line", "<p>段落1</p>\r\n\r\n<p>段落2</p><h1>見出し</h1>",
         "段落1\n\n段落2\n\n見出し"},
        {"two br make an empty line", "a<br><br>b<br/>", "a\n\nb"},
        {"list items", "<ul><li>りんご</li><li>みかん</ul><ol><li>one</ol>",
         "・りんご\n・みかん\n・one"},
        {"links show their URL",
         "<a href=\"https://example.jp/a?b=1&amp;c=2\">詳しく</a> / "
         "<a href=\"https://example.jp/\">https://example.jp/</a> / <a href=\"#top\">上へ</a>",
         "詳しく (https://example.jp/a?b=1&c=2) / https://example.jp/ / 上へ"},
        {"pictures become their alt text",
         "<img src=\"cid:image1.png\" alt=\"会社ロゴ\"><img src=\"cid:x.png\">本文",
         "会社ロゴ本文"},
        {"head, scripts, styles and comments are dropped",
         "<html><head><title>題</title><style>p{color:red}</style></head><body>"
         "<script>alert('<p>x</p>')</script><!-- <p>メモ</p> -->見える</body></html>",
         "見える"},
        {"entities",
         "&lt;tag&gt; &amp; &quot;q&quot; &#x3042;&#12354;&nbsp;&times;&hellip; &bogus;",
         "<tag> & \"q\" ああ ×… &bogus;"},
        {"a character Shift_JIS lacks", "x&#x1F600;y", "x?y"},
        {"white space collapses", "  a \t\r\n  b  <b>c</b>  ", "a b c"},
        {"pre keeps its lines", "<pre>  x = 1\n\n  y = 2</pre>after", "  x = 1\n\n  y = 2\nafter"},
        {"table cells",
         "<table><tr><td>品名</td><td>価格</td></tr><tr><td>A</td><td>100円</td></tr></table>",
         "品名 価格\nA 100円"},
        {"text outside any tag and a stray <", "1 < 2", "1 < 2"},
        {"empty", "", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(HtmlToPlainText(S(c.html)), S(CrLf(c.text).c_str()));
    }
}

TEST(HtmlToPlainTextTest, FoldsLongLinesButNeverCutsAWordOrUrl)
{
    std::string words, wide, url = "https://example.jp/";
    for (int i = 0; i < 20; ++i)
        words += "word" + std::to_string(i) + " ";
    for (int i = 0; i < 40; ++i)
        wide += "あ";
    for (int i = 0; i < 10; ++i)
        url += "0123456789";
    const std::string text = HtmlToPlainText(S((words + "<br>" + wide + "<br>" + url).c_str()));
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; at <= text.size(); at = end + 2) {
        end = std::min(text.find("\r\n", at), text.size());
        lines.push_back(text.substr(at, end - at));
    }
    ASSERT_EQ(lines.size(), 5u) << text;
    EXPECT_EQ(lines[0] + " " + lines[1] + " ", words);
    EXPECT_LE(lines[0].size(), kPlainTextColumns);
    EXPECT_GT(lines[0].size(), kPlainTextColumns - 8); // filled up to the last word that fits
    EXPECT_EQ(lines[2].size(), kPlainTextColumns);     // 36 double-byte characters
    EXPECT_EQ(lines[2] + lines[3], S(wide.c_str()));
    EXPECT_EQ(lines[4], url); // longer than a line, but whole
}

TEST(DeclareHtmlCharsetTest, EveryDeclarationSaysThePartsCharset)
{
    const Case cases[] = {
        {"meta charset", "<head><meta charset=\"Shift_JIS\"></head>",
         "<head><meta charset=\"ISO-2022-JP\"></head>"},
        {"unquoted, upper case", "<HEAD><META CHARSET=shift_jis><title>t</title>",
         "<HEAD><META CHARSET=ISO-2022-JP><title>t</title>"},
        {"http-equiv",
         "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">",
         "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=ISO-2022-JP\">"},
        {"http-equiv, charset first in a longer value",
         "<meta content='text/html;charset=x-sjis ; q' http-equiv=content-type>",
         "<meta content='text/html;charset=ISO-2022-JP ; q' http-equiv=content-type>"},
        {"none: added after head", "<html lang=\"ja\"><head>\r\n<title>t</title></head>",
         "<html lang=\"ja\"><head><meta charset=\"ISO-2022-JP\">\r\n<title>t</title></head>"},
        {"none and no head: after html", "<html><body>x</body></html>",
         "<html><meta charset=\"ISO-2022-JP\"><body>x</body></html>"},
        {"a fragment: at the start", "<p>x</p>", "<meta charset=\"ISO-2022-JP\"><p>x</p>"},
        {"a commented-out declaration does not count", "<head><!-- <meta charset=\"a\"> --></head>",
         "<head><meta charset=\"ISO-2022-JP\"><!-- <meta charset=\"a\"> --></head>"},
        {"other meta tags stay", "<meta name=\"viewport\" content=\"width=device-width\">",
         "<meta charset=\"ISO-2022-JP\"><meta name=\"viewport\" content=\"width=device-width\">"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(DeclareHtmlCharset(c.html, "ISO-2022-JP"), c.text);
    }
}

} // namespace

// The tag commands' texts and the way they go around the selection, without
// a window.
#include "compose/HtmlTags.h"
#include "core/SjisCodec.h"
#include "support/VostrelTest.h"

#include <QString>

namespace vostrel::test {
namespace {

using namespace Qt::Literals::StringLiterals;
const std::string dq = "\"";

TEST(HtmlTagTextsTest, EveryCommandHasItsExactTexts)
{
    struct Case
    {
        TagTexts tags;
        std::string opening, closing;
    };
    const Case cases[] = {
        {FontSizeTags("3"), "<FONT SIZE=3>", "</FONT>"},
        {FontSizeTags("30"), "<FONT SIZE=30>", "</FONT>"},
        {FontColorTags(255, 0, 0), "<FONT COLOR=#FF0000>", "</FONT>"},
        {FontColorTags(255, 128, 0), "<FONT COLOR=#FF8000>", "</FONT>"},
        {FontColorTags(0, 0, 0), "<FONT COLOR=#000000>", "</FONT>"},
        {FontColorTags(10, 171, 205), "<FONT COLOR=#0AABCD>", "</FONT>"},
        {FontStyleTags(FontStyle::Bold), "<B>", "</B>"},
        {FontStyleTags(FontStyle::Italic), "<I>", "</I>"},
        {FontStyleTags(FontStyle::StrikeOut), "<S>", "</S>"},
        {FontStyleTags(FontStyle::Underline), "<U>", "</U>"},
        {AlignmentTags(TextAlignment::Left), "<DIV ALIGN=" + dq + "LEFT" + dq + ">", "</DIV>"},
        {AlignmentTags(TextAlignment::Center), "<DIV ALIGN=" + dq + "CENTER" + dq + ">", "</DIV>"},
        {AlignmentTags(TextAlignment::Right), "<DIV ALIGN=" + dq + "RIGHT" + dq + ">", "</DIV>"},
        {HyperlinkTags("http://example.jp/?a=1&b=2"),
         "<A HREF=" + dq + "http://example.jp/?a=1&b=2" + dq + ">", "</A>"},
        {HyperlinkTags("x.html", "_blank"),
         "<A HREF=" + dq + "x.html" + dq + " TARGET=" + dq + "_blank" + dq + ">", "</A>"},
        {HyperlinkTags(""), "<A HREF=" + dq + dq + ">", "</A>"},
        {HyperlinkTags("", ""), "<A HREF=" + dq + dq + " TARGET=" + dq + dq + ">", "</A>"},
        // What the user typed goes in unchecked, quotes included.
        {HyperlinkTags("a\"b"), "<A HREF=" + dq + "a\"b" + dq + ">", "</A>"},
        {AnchorTags("top"), "<A NAME=" + dq + "top" + dq + ">", "</A>"},
        {JumpToAnchorTags("top"), "<A HREF=" + dq + "#top" + dq + ">", "</A>"},
        {HeadingTags(1), "<H1>", "</H1>"},
        {HeadingTags(6), "<H6>", "</H6>"},
        {QuotationTags(), "<BLOCKQUOTE>", "</BLOCKQUOTE>"},
        {AddressTags(), "<ADDRESS>", "</ADDRESS>"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.tags.opening, c.opening);
        EXPECT_EQ(c.tags.closing, c.closing) << c.opening;
    }
    EXPECT_EQ(PictureTag("image240315143059_48210977.jpg"),
              "<img src=" + dq + "cid:image240315143059_48210977.jpg" + dq + ">");
    EXPECT_EQ(LineBreakTag(), "<BR>");
    EXPECT_EQ(ColorText(0x12, 0xEF, 0x0A), "#12EF0A");
    // Anchor names in Japanese stay Shift_JIS bytes as typed.
    EXPECT_EQ(AnchorTags(S("目次")).opening, "<A NAME=" + dq + S("目次") + dq + ">");
}

// An editor on a text of characters that records what the commands do.
class FakeEditor : public TagEditTarget
{
public:
    explicit FakeEditor(const QString &text, long start, long end)
        : text_(text)
        , start_(start)
        , end_(end)
    {}
    long SelectionStart() const override { return start_; }
    long SelectionEnd() const override { return end_; }
    void MoveCaret(long position) override
    {
        start_ = end_ = position;
        log_ += u"move "_s + QString::number(position) + u";"_s;
    }
    void InsertAtCaret(std::string_view sjisText) override
    {
        EXPECT_EQ(start_, end_) << "inserted over a selection";
        const QString text = SjisToQString(sjisText);
        text_.insert(start_, text);
        start_ = end_ = start_ + text.size();
        log_ += u"insert "_s + text + u";"_s;
    }
    void BeginUndoStep() override { log_ += u"begin;"_s; }
    void EndUndoStep() override { log_ += u"end;"_s; }

    QString text_;
    long start_, end_;
    QString log_;
};

TEST(WrapSelectionTest, PutsTheClosingTextFirstThenTheOpeningAtTheStartAsOneUndoStep)
{
    FakeEditor editor(u"xx日本語yy"_s, 2, 5);
    WrapSelection(editor, SelectionOf(editor), "<B>", "</B>");
    EXPECT_EQ(editor.text_, u"xx<B>日本語</B>yy"_s);
    EXPECT_EQ(editor.log_, u"begin;move 5;insert </B>;move 2;insert <B>;end;"_s);
    // Nothing selected, the caret right after the opening text.
    EXPECT_EQ(editor.start_, 5);
    EXPECT_EQ(editor.end_, 5);
}

TEST(WrapSelectionTest, WithoutASelectionBothTextsGoInAtTheCaretWithTheCaretBetween)
{
    FakeEditor editor(u"ab"_s, 1, 1);
    const TagTexts tags = FontSizeTags("3");
    WrapSelection(editor, SelectionOf(editor), tags.opening, tags.closing);
    EXPECT_EQ(editor.text_, u"a<FONT SIZE=3></FONT>b"_s);
    EXPECT_EQ(editor.start_, 1 + 13);
}

TEST(WrapSelectionTest, UsesTheSelectionFixedBeforeTheDialog)
{
    FakeEditor editor(u"abcdef"_s, 1, 3);
    const TagSelection fixed = SelectionOf(editor);
    editor.start_ = editor.end_ = 6; // what a dialog could not do, but if it did
    WrapSelection(editor, fixed, "<I>", "</I>");
    EXPECT_EQ(editor.text_, u"a<I>bc</I>def"_s);
}

TEST(InsertBeforeSelectionTest, KeepsTheSelectedTextAfterTheInsertion)
{
    FakeEditor editor(u"xabcx"_s, 1, 4);
    InsertBeforeSelection(editor, SelectionOf(editor), LineBreakTag());
    EXPECT_EQ(editor.text_, u"x<BR>abcx"_s);
    EXPECT_EQ(editor.log_, u"begin;move 1;insert <BR>;end;"_s);
    EXPECT_EQ(editor.start_, 5);
}

} // namespace
} // namespace vostrel::test

#include "compose/HtmlTags.h"

#include <cstdio>

namespace vostrel {

namespace {

const std::string kDq = "\"";

// Closes the undo step also when an insertion throws.
class UndoStep
{
public:
    explicit UndoStep(TagEditTarget &editor)
        : editor_(editor)
    {
        editor_.BeginUndoStep();
    }
    ~UndoStep() { editor_.EndUndoStep(); }
    UndoStep(const UndoStep &) = delete;
    UndoStep &operator=(const UndoStep &) = delete;

private:
    TagEditTarget &editor_;
};

} // namespace

TagTexts FontSizeTags(std::string_view size)
{
    return {"<FONT SIZE=" + std::string(size) + ">", "</FONT>"};
}

std::string ColorText(int red, int green, int blue)
{
    char text[8];
    std::snprintf(text, sizeof text, "#%.2X%.2X%.2X", red & 0xFF, green & 0xFF, blue & 0xFF);
    return text;
}

TagTexts FontColorTags(int red, int green, int blue)
{
    return {"<FONT COLOR=" + ColorText(red, green, blue) + ">", "</FONT>"};
}

TagTexts FontStyleTags(FontStyle style)
{
    const char *letter = "B";
    switch (style) {
    case FontStyle::Bold:
        letter = "B";
        break;
    case FontStyle::Italic:
        letter = "I";
        break;
    case FontStyle::StrikeOut:
        letter = "S";
        break;
    case FontStyle::Underline:
        letter = "U";
        break;
    }
    return {"<" + std::string(letter) + ">", "</" + std::string(letter) + ">"};
}

TagTexts AlignmentTags(TextAlignment alignment)
{
    const char *position = "RIGHT";
    switch (alignment) {
    case TextAlignment::Left:
        position = "LEFT";
        break;
    case TextAlignment::Center:
        position = "CENTER";
        break;
    case TextAlignment::Right:
        position = "RIGHT";
        break;
    }
    return {"<DIV ALIGN=" + kDq + position + kDq + ">", "</DIV>"};
}

TagTexts HyperlinkTags(std::string_view url)
{
    return {"<A HREF=" + kDq + std::string(url) + kDq + ">", "</A>"};
}

TagTexts HyperlinkTags(std::string_view url, std::string_view target)
{
    return {"<A HREF=" + kDq + std::string(url) + kDq + " TARGET=" + kDq + std::string(target) +
                kDq + ">",
            "</A>"};
}

TagTexts AnchorTags(std::string_view name)
{
    return {"<A NAME=" + kDq + std::string(name) + kDq + ">", "</A>"};
}

TagTexts JumpToAnchorTags(std::string_view name)
{
    return {"<A HREF=" + kDq + "#" + std::string(name) + kDq + ">", "</A>"};
}

std::string PictureTag(std::string_view pictureName)
{
    return "<img src=" + kDq + "cid:" + std::string(pictureName) + kDq + ">";
}

std::string LineBreakTag()
{
    return "<BR>";
}

TagTexts HeadingTags(int level)
{
    const std::string name = "H" + std::to_string(level);
    return {"<" + name + ">", "</" + name + ">"};
}

TagTexts QuotationTags()
{
    return {"<BLOCKQUOTE>", "</BLOCKQUOTE>"};
}

TagTexts AddressTags()
{
    return {"<ADDRESS>", "</ADDRESS>"};
}

TagSelection SelectionOf(const TagEditTarget &editor)
{
    return {editor.SelectionStart(), editor.SelectionEnd()};
}

void WrapSelection(TagEditTarget &editor, TagSelection selection, std::string_view opening,
                   std::string_view closing)
{
    UndoStep step(editor);
    // The closing text first: the start of the selection stays where it was.
    editor.MoveCaret(selection.end);
    editor.InsertAtCaret(closing);
    editor.MoveCaret(selection.start);
    editor.InsertAtCaret(opening);
}

void InsertBeforeSelection(TagEditTarget &editor, TagSelection selection, std::string_view text)
{
    UndoStep step(editor);
    editor.MoveCaret(selection.start);
    editor.InsertAtCaret(text);
}

} // namespace vostrel

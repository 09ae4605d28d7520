// The HTML tag commands of the source editor: the texts each command puts
// around the selection or in front of it, and the way they go in. All texts
// are Shift_JIS; what the user typed (a URL, a target, an anchor name) goes
// in exactly as typed, without checking or escaping.
#pragma once

#include <string>
#include <string_view>

namespace vostrel {

// The twelve commands, numbered as on the tool bar and in the context menu.
enum class TagCommand
{
    FontSize = 0,
    FontColor = 1,
    FontStyle = 2,
    Alignment = 3,
    Hyperlink = 4,
    Anchor = 5,
    JumpToAnchor = 6,
    Picture = 7,
    LineBreak = 8,
    Heading = 9,
    Quotation = 10,
    Address = 11,
};
inline constexpr int kTagCommandCount = 12;

// The text put before the selection and the one put after it (empty for
// the commands that only insert).
struct TagTexts
{
    std::string opening;
    std::string closing;
    bool operator==(const TagTexts &) const = default;
};

enum class FontStyle
{
    Bold,
    Italic,
    StrikeOut,
    Underline,
};

enum class TextAlignment
{
    Left,
    Center,
    Right,
};

// "<FONT SIZE=" + size + ">" ... "</FONT>"; size is "1" to "30".
TagTexts FontSizeTags(std::string_view size);
// "#" + red, green and blue as two upper-case hexadecimal digits each.
std::string ColorText(int red, int green, int blue);
// "<FONT COLOR=#RRGGBB>" ... "</FONT>".
TagTexts FontColorTags(int red, int green, int blue);
// "<B>" ... "</B>", "<I>", "<S>" or "<U>".
TagTexts FontStyleTags(FontStyle style);
// "<DIV ALIGN="LEFT">" ... "</DIV>", "CENTER" or "RIGHT".
TagTexts AlignmentTags(TextAlignment alignment);
// "<A HREF="url">", or with a target "<A HREF="url" TARGET="target">" ... "</A>".
TagTexts HyperlinkTags(std::string_view url);
TagTexts HyperlinkTags(std::string_view url, std::string_view target);
// "<A NAME="name">" ... "</A>".
TagTexts AnchorTags(std::string_view name);
// "<A HREF="#name">" ... "</A>".
TagTexts JumpToAnchorTags(std::string_view name);
// "<img src="cid:" + picture name + "">" (lower case; nothing after).
std::string PictureTag(std::string_view pictureName);
// "<BR>".
std::string LineBreakTag();
// "<H1>" ... "</H1>" for level 1, up to "<H6>" ... "</H6>".
TagTexts HeadingTags(int level);
// "<BLOCKQUOTE>" ... "</BLOCKQUOTE>".
TagTexts QuotationTags();
// "<ADDRESS>" ... "</ADDRESS>".
TagTexts AddressTags();

// An editor as the tag commands see it. Positions count characters (not
// bytes) from the start of the text.
class TagEditTarget
{
public:
    virtual ~TagEditTarget() = default;
    // The beginning and the end of the selection; both are the caret
    // position when nothing is selected.
    virtual long SelectionStart() const = 0;
    virtual long SelectionEnd() const = 0;
    // Puts the caret at position with nothing selected.
    virtual void MoveCaret(long position) = 0;
    // Inserts text at the caret through the editor's editing history; the
    // caret ends up after the inserted text.
    virtual void InsertAtCaret(std::string_view sjisText) = 0;
    // Everything between the two is undone as one step.
    virtual void BeginUndoStep() = 0;
    virtual void EndUndoStep() = 0;
};

// A selection fixed before a command's dialog is shown.
struct TagSelection
{
    long start = 0;
    long end = 0;
};
TagSelection SelectionOf(const TagEditTarget &editor);

// Puts opening before and closing after the selection (both at the caret
// when nothing is selected), as one undo step. Nothing is selected
// afterwards and the caret stands right after the opening text.
void WrapSelection(TagEditTarget &editor, TagSelection selection, std::string_view opening,
                   std::string_view closing);
// Inserts text in front of the selection, which stays in place after it, as
// one undo step; the caret stands right after the inserted text.
void InsertBeforeSelection(TagEditTarget &editor, TagSelection selection, std::string_view text);

} // namespace vostrel

#include "compose/ComposeEditing.h"

#include "compose/QsciEditor.h"
#include "compose/UnitMailMake.h"
#include "core/SjisCodec.h"

#include <QPlainTextEdit>

namespace vostrel {

long QsciTagEditTarget::CharacterAt(long bytePosition) const
{
    return editor_.SendScintilla(QsciScintillaBase::SCI_COUNTCHARACTERS, 0UL, bytePosition);
}

long QsciTagEditTarget::SelectionStart() const
{
    return CharacterAt(editor_.SendScintilla(QsciScintillaBase::SCI_GETSELECTIONSTART));
}

long QsciTagEditTarget::SelectionEnd() const
{
    return CharacterAt(editor_.SendScintilla(QsciScintillaBase::SCI_GETSELECTIONEND));
}

void QsciTagEditTarget::MoveCaret(long position)
{
    const long bytes =
        position <= 0
            ? 0
            : editor_.SendScintilla(QsciScintillaBase::SCI_POSITIONRELATIVE, 0UL, position);
    editor_.SendScintilla(QsciScintillaBase::SCI_SETEMPTYSELECTION,
                          static_cast<unsigned long>(bytes));
}

void QsciTagEditTarget::InsertAtCaret(std::string_view sjisText)
{
    editor_.replaceSelectedText(SjisToQString(sjisText));
}

void QsciTagEditTarget::BeginUndoStep()
{
    editor_.beginUndoAction();
}

void QsciTagEditTarget::EndUndoStep()
{
    editor_.endUndoAction();
}

void ReplaceSourceSelection(QsciScintilla &editor, const QString &text)
{
    editor.beginUndoAction();
    editor.replaceSelectedText(text);
    editor.endUndoAction();
}

namespace {

// The memo holds its lines as paragraphs: line breaks go in as "\n".
void ReplaceMemoSelection(QPlainTextEdit &memo, QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    memo.insertPlainText(text);
}

bool HasFocusIn(QWidget *control, QWidget *focus)
{
    return focus && (focus == control || control->isAncestorOf(focus));
}

} // namespace

bool InsertIntoActiveEditor(TFormMailMake &compose, const QString &text)
{
    switch (compose.CurrentPage()) {
    case ComposePage::Text:
        ReplaceMemoSelection(*compose.TextEditor(), text);
        return true;
    case ComposePage::Html:
        ReplaceSourceSelection(*compose.HtmlEditor(), text);
        return true;
    case ComposePage::Preview:
        break;
    }
    return false;
}

bool InsertIntoFocusedEditor(TFormMailMake &compose, const QString &text)
{
    QWidget *focus = compose.focusWidget();
    const ComposePage page = compose.CurrentPage();
    if (page == ComposePage::Text && HasFocusIn(compose.TextEditor(), focus)) {
        ReplaceMemoSelection(*compose.TextEditor(), text);
        return true;
    }
    if (page == ComposePage::Html && HasFocusIn(compose.HtmlEditor(), focus)) {
        ReplaceSourceSelection(*compose.HtmlEditor(), text);
        return true;
    }
    return false;
}

} // namespace vostrel

// Putting text into the compose window's editors: the source editor seen by
// the tag commands, and the insertion rules of the map link and signatures.
#pragma once

#include "compose/HtmlTags.h"

#include <QString>

class QsciScintilla;

namespace vostrel {

class TFormMailMake;

// The source editor as the tag commands see it. The editor counts positions
// in UTF-8 bytes; this counts characters, so that a selection of Japanese
// text is wrapped whole.
class QsciTagEditTarget : public TagEditTarget
{
public:
    explicit QsciTagEditTarget(QsciScintilla &editor)
        : editor_(editor)
    {}
    long SelectionStart() const override;
    long SelectionEnd() const override;
    void MoveCaret(long position) override;
    void InsertAtCaret(std::string_view sjisText) override;
    void BeginUndoStep() override;
    void EndUndoStep() override;

private:
    long CharacterAt(long bytePosition) const;
    QsciScintilla &editor_;
};

// Replaces the selection of the source editor by text (or inserts it at the
// caret) as one step of its editing history.
void ReplaceSourceSelection(QsciScintilla &editor, const QString &text);

// Puts text into the editor of the page shown: the text memo or the source
// editor, replacing its selection, whichever control has the focus. On the
// preview page nothing is inserted. True when the text went in.
bool InsertIntoActiveEditor(TFormMailMake &compose, const QString &text);

// Puts text into the editor of the page shown when that editor has the
// focus, replacing its selection; the editor keeps the focus. Otherwise
// nothing happens and false is returned.
bool InsertIntoFocusedEditor(TFormMailMake &compose, const QString &text);

} // namespace vostrel

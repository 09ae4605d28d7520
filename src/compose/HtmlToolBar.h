// The HTML page's tag commands: the tool bar above the source editor, the
// editor's context menu, and the twelve commands with their dialogs. Every
// command acts on the source editor, whichever control has the focus.
#pragma once

#include "compose/HtmlTags.h"

#include <QObject>
#include <QString>

class QAction;
class QFileDialog;
class QMenu;
class QToolButton;

namespace vostrel {

class TFormMailMake;
class TFormTagDialog;
class TFormLinkDialog;
class TFormMidashiDialog;

// Lives as a child of the compose window, whose HTML page it fills.
class THtmlTagCommands : public QObject
{
    Q_OBJECT
public:
    THtmlTagCommands(TFormMailMake &compose, TFormTagDialog &tagDialog, TFormLinkDialog &linkDialog,
                     TFormMidashiDialog &midashiDialog);

    // Runs one of the twelve commands on the source editor.
    void RunTagCommand(TagCommand command);
    // The selected source text onto the clipboard as plain text.
    void CopySelection();
    // The clipboard's plain text in place of the selection of the source.
    void PasteText();

    // The filter of the picture file dialog, one entry per kind of picture.
    static const QStringList &PictureFilters();

private:
    void InsertPicture(TagEditTarget &target, TagSelection selection);
    // The picture chosen in OpenPictureDialog; empty when cancelled.
    QString ChoosePicture();
    void ShowPopupMenu(const QPoint &position);

    TFormMailMake &compose_;
    TFormTagDialog &tagDialog_;
    TFormLinkDialog &linkDialog_;
    TFormMidashiDialog &midashiDialog_;
    QMenu *PopupMenu;
    QFileDialog *OpenPictureDialog = nullptr;
};

} // namespace vostrel

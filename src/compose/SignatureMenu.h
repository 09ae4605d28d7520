// The compose window's signature menu: the five signatures to insert and
// the signature editor.
#pragma once

#include <QObject>
#include <QPoint>

class QMenu;

namespace vostrel {

class TFormMailMake;
class TFormSignatureEdit;

// Lives as a child of the compose window.
class TSignatureMenu : public QObject
{
    Q_OBJECT
public:
    TSignatureMenu(TFormMailMake &compose, TFormSignatureEdit &editor);

    // Opens PopupMenuSignature at a screen position (the mouse pointer's).
    void Popup(const QPoint &position);
    // Reads the slot's file afresh and puts its lines, each followed by
    // CR LF, into the editor of the page shown when that editor has the
    // focus; nothing happens otherwise. An unset signature is reported.
    void InsertSignature(int slot);

private:
    TFormMailMake &compose_;
    TFormSignatureEdit &editor_;
    QMenu *PopupMenuSignature;
};

} // namespace vostrel

#include "compose/SignatureMenu.h"

#include "compose/ComposeEditing.h"
#include "compose/Signatures.h"
#include "compose/UnitMailMake.h"
#include "compose/UnitSignatureEdit.h"
#include "core/DialogService.h"
#include "core/ErrorReporting.h"
#include "core/SjisCodec.h"

#include <QMenu>

namespace vostrel {

using namespace Qt::Literals::StringLiterals;

TSignatureMenu::TSignatureMenu(TFormMailMake &compose, TFormSignatureEdit &editor)
    : QObject(&compose)
    , compose_(compose)
    , editor_(editor)
{
    setObjectName(u"SignatureMenu"_s);
    PopupMenuSignature = new QMenu(&compose);
    PopupMenuSignature->setObjectName(u"PopupMenuSignature"_s);
    const QString captions[kSignatureCount] = {u"署名１(&A)"_s, u"署名２(&B)"_s, u"署名３(&C)"_s,
                                               u"署名４(&D)"_s, u"署名５(&E)"_s};
    for (int slot = 1; slot <= kSignatureCount; ++slot) {
        QAction *entry = PopupMenuSignature->addAction(captions[slot - 1]);
        entry->setObjectName(u"N"_s + QString::number(slot));
        connect(entry, &QAction::triggered, this,
                Guarded(&compose_, [this, slot] { InsertSignature(slot); }));
    }
    PopupMenuSignature->addSeparator()->setObjectName(u"N6"_s);
    QAction *edit = PopupMenuSignature->addAction(u"署名の編集(&S)"_s);
    edit->setObjectName(u"N7"_s);
    connect(edit, &QAction::triggered, this,
            Guarded(&compose_, [this] { editor_.ShowSignatureEdit(); }));
}

void TSignatureMenu::Popup(const QPoint &position)
{
    PopupMenuSignature->popup(position);
}

void TSignatureMenu::InsertSignature(int slot)
{
    const std::string text = ReadSignature(slot);
    if (text.empty()) {
        ShowMessage(&compose_, u"署名が設定されていません"_s);
        return;
    }
    InsertIntoFocusedEditor(compose_, SjisToQString(SignatureLines(text)));
}

} // namespace vostrel

#include "compose/UnitSignatureEdit.h"

#include "core/DialogService.h"
#include "core/ErrorReporting.h"
#include "core/SjisCodec.h"
#include "core/UiHelpers.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QVBoxLayout>

namespace vostrel {

using namespace Qt::Literals::StringLiterals;

namespace {

// The tab captions, "署名１" to "署名５" (full-width digits).
QString TabCaption(int slot)
{
    return u"署名"_s + QChar(u'０' + slot);
}

// Stored lines end in CR LF; the memo holds them as paragraphs.
QString ForMemo(const std::string &sjis)
{
    QString text = SjisToQString(sjis);
    text.replace(u"\r\n"_s, u"\n"_s);
    text.replace(u'\r', u'\n');
    return text;
}

} // namespace

TFormSignatureEdit::TFormSignatureEdit(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(u"TFormSignatureEdit"_s);
    setWindowTitle(u"署名の編集"_s);
    setModal(true);

    TabControlSig = new QTabBar(this);
    TabControlSig->setObjectName(u"TabControlSig"_s);
    TabControlSig->setExpanding(false);
    for (int slot = 1; slot <= kSignatureCount; ++slot)
        TabControlSig->addTab(TabCaption(slot));
    Memo = new QPlainTextEdit(this);
    Memo->setObjectName(u"Memo"_s);
    Memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    BtnSave = NewPushButton(this, u"BtnSave"_s, u"保存"_s, false);
    BtnClose = NewPushButton(this, u"BtnClose"_s, u"閉じる"_s, false);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(TabControlSig);
    layout->addWidget(Memo, 1);
    layout->addLayout(ButtonRow({BtnSave, BtnClose}));
    resize(560, 360);

    connect(TabControlSig, &QTabBar::currentChanged, this,
            Guarded(this, &TFormSignatureEdit::TabControlSigChange));
    connect(Memo, &QPlainTextEdit::textChanged, this, &TFormSignatureEdit::MemoChange);
    connect(BtnSave, &QPushButton::clicked, this, Guarded(this, &TFormSignatureEdit::BtnSaveClick));
    connect(BtnClose, &QPushButton::clicked, this, &QDialog::reject);
}

int TFormSignatureEdit::CurrentSlot() const
{
    return TabControlSig->currentIndex() + 1;
}

void TFormSignatureEdit::ShowSignatureEdit()
{
    SignatureTexts texts;
    try {
        texts = ReadSignatures();
    } catch (const std::exception &e) {
        ReportError(parentWidget(), e);
        return;
    }
    for (int i = 0; i < kSignatureCount; ++i)
        buffers_[i] = ForMemo(texts[i]);
    ShowBuffer(TabControlSig->currentIndex());
    Memo->setFocus();
    exec();
}

void TFormSignatureEdit::ShowBuffer(int index)
{
    showingBuffer_ = true;
    Memo->setPlainText(index >= 0 && index < kSignatureCount ? buffers_[index] : QString());
    showingBuffer_ = false;
}

void TFormSignatureEdit::TabControlSigChange(int index)
{
    ShowBuffer(index);
}

void TFormSignatureEdit::MemoChange()
{
    const int index = TabControlSig->currentIndex();
    if (!showingBuffer_ && index >= 0 && index < kSignatureCount)
        buffers_[index] = Memo->toPlainText();
}

void TFormSignatureEdit::BtnSaveClick()
{
    if (!AskYesNo(this, u"編集中の署名を保存します。よろしいですか？"_s))
        return;
    // Every text is converted before any file is written, so a character
    // that cannot be stored leaves all five files as they were.
    SignatureTexts texts;
    for (int i = 0; i < kSignatureCount; ++i) {
        try {
            texts[i] = QStringToSjis(buffers_[i]);
        } catch (const ConversionError &e) {
            TabControlSig->setCurrentIndex(i);
            ShowError(this,
                      TabCaption(i + 1) + u"を保存できません。\n"_s + QString::fromUtf8(e.what()));
            return;
        }
    }
    SaveSignatures(texts);
    DropBuffers();
    QDialog::accept();
}

void TFormSignatureEdit::DropBuffers()
{
    buffers_.fill({});
    ShowBuffer(-1);
}

void TFormSignatureEdit::reject()
{
    DropBuffers();
    QDialog::reject();
}

} // namespace vostrel

#include "compose/UnitMailMake.h"

#include "compose/DraftFiles.h"
#include "compose/QsciEditor.h"
#include "compose/UnitMailMakeMsg_Close.h"
#include "core/AtomicFile.h"
#include "core/DialogService.h"
#include "core/ErrorReporting.h"
#include "core/SilentWebView.h"
#include "core/SjisCodec.h"
#include "core/SjisText.h"
#include "core/UiHelpers.h"
#include "core/WindowSettings.h"
#include "send/MessageBuilder.h"
#include "send/StartSend.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWebEngineView>
#include <algorithm>
#include <filesystem>

namespace vostrel {

namespace fs = std::filesystem;
using namespace Qt::Literals::StringLiterals;

namespace {

const QString kIndividualCaption = u"宛先を個別で送信"_s;
const QString kBulkCaption = u"宛先ごとに送信"_s;
const QString kBccIndividualCaption = u"BCCを個別で送信"_s;
const QString kBccBulkCaption = u"BCCごとに送信"_s;
const QString kToHtmlQuestion =
    u"HTMLモードに切り替える場合、テキストモードで入力した内容は失われます。よろしいですか？"_s;
const QString kToTextQuestion =
    u"テキストモードに切り替える場合、HTMLモードで入力した内容は失われます。よろしいですか？"_s;
const QString kTextFilter = u"テキストファイル(*.txt)"_s;
const QString kSameAttachmentName =
    u"同じ名前のファイル「%1」が既に添付されています。\n名前を変えてから添付してください。"_s;
// The colour of an empty Cc or Bcc field.
const QColor kSilver(0xC0, 0xC0, 0xC0);

// The object names of the merge tag buttons, in the order of the labels.
const char *const kMergeTagButtons[kMergeTagCount] = {
    "PNGBtn_Sashi_Name", "PNGBtn_Sashi_Ht", "PNGBtn_Sashi_Mail", "PNGBtn_Sashi_1", "PNGBtn_Sashi_2",
    "PNGBtn_Sashi_3",    "PNGBtn_Sashi_4",  "PNGBtn_Sashi_5",    "PNGBtn_Sashi_6", "PNGBtn_Sashi_7",
    "PNGBtn_Sashi_8",    "PNGBtn_Sashi_9",  "PNGBtn_Sashi_10"};

QLineEdit *NewNameEdit(QWidget *parent, const QString &objectName)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(objectName);
    edit->setReadOnly(true);
    return edit;
}

QSpinBox *NewSpinEdit(QWidget *parent, const QString &objectName, int min, int max, int step,
                      int value)
{
    auto *spin = new QSpinBox(parent);
    spin->setObjectName(objectName);
    spin->setRange(min, max);
    spin->setSingleStep(step);
    spin->setValue(value);
    return spin;
}

} // namespace

TFormMailMake::TFormMailMake(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(u"TFormMailMake"_s);
    setWindowTitle(u"メール作成"_s);
    setModal(true);
    setWindowFlag(Qt::WindowMaximizeButtonHint);

    // Top bar.
    PNGBtnMailSend = NewImageButton(this, u"PNGBtnMailSend"_s, u"mail-send"_s,
                                    QStyle::SP_ArrowForward, {}, u"メールを送信します"_s);
    PNGBtnTextRead =
        NewImageButton(this, u"PNGBtnTextRead"_s, u"document-open"_s, QStyle::SP_DialogOpenButton,
                       {}, u"テキストファイルを読み込みます"_s);
    PNGBtnTextWrite =
        NewImageButton(this, u"PNGBtnTextWrite"_s, u"document-save-as"_s,
                       QStyle::SP_DialogSaveButton, {}, u"テキストファイルに保存します"_s);
    PNGBtnClose = NewImageButton(this, u"PNGBtnClose"_s, u"window-close"_s,
                                 QStyle::SP_DialogCloseButton, {}, u"メール作成を終了します"_s);
    for (QToolButton *button : {PNGBtnMailSend, PNGBtnTextRead, PNGBtnTextWrite, PNGBtnClose})
        button->setIconSize(QSize(32, 32));
    QHBoxLayout *topBar =
        CommandRow({PNGBtnMailSend, PNGBtnTextRead, PNGBtnTextWrite}, {PNGBtnClose});

    // Senders, destinations and attachments.
    PNGBtnSender = NewImageButton(this, u"PNGBtnSender"_s, u"user-identity"_s,
                                  QStyle::SP_DirHomeIcon, u"送信元"_s, u"送信元を選択します"_s);
    EditSender = NewNameEdit(this, u"EditSender"_s);
    SpinEditSenderChange = NewSpinEdit(this, u"SpinEditSenderChange"_s, 1, 100000, 1, 1);
    auto *labelSenderChange =
        NewLabel(this, u"LabelSenderChange"_s, u"通ごとに送信元を切り替える"_s);
    RBIndividual = NewRadioButton(this, u"RBIndividual"_s, kIndividualCaption);
    RBIndividual->setChecked(true);
    RBBulk = NewRadioButton(this, u"RBBulk"_s, kBulkCaption);
    PNGBtnTo =
        NewImageButton(this, u"PNGBtnTo"_s, u"x-office-address-book"_s,
                       QStyle::SP_FileDialogDetailedView, u"宛先"_s, u"宛先リストを選択します"_s);
    EditTo = NewNameEdit(this, u"EditTo"_s);
    PNGBtnCc =
        NewImageButton(this, u"PNGBtnCc"_s, u"x-office-address-book"_s,
                       QStyle::SP_FileDialogDetailedView, u"Cc"_s, u"Ccリストを選択します"_s);
    EditCc = NewNameEdit(this, u"EditCc"_s);
    CBCcOneSend = NewCheckBox(this, u"CBCcOneSend"_s, u"１通目のみ送信"_s);
    PNGBtnBcc =
        NewImageButton(this, u"PNGBtnBcc"_s, u"x-office-address-book"_s,
                       QStyle::SP_FileDialogDetailedView, u"Bcc"_s, u"Bccリストを選択します"_s);
    EditBcc = NewNameEdit(this, u"EditBcc"_s);
    CBBccOneSend = NewCheckBox(this, u"CBBccOneSend"_s, u"１通目のみ送信"_s);
    PNGBtnAppended = NewImageButton(this, u"PNGBtnAppended"_s, u"mail-attachment"_s,
                                    QStyle::SP_FileIcon, u"添付"_s, u"ファイルを添付します"_s);
    EditAppended = NewNameEdit(this, u"EditAppended"_s);
    PNGBtnReset =
        NewImageButton(this, u"PNGBtnReset"_s, u"edit-clear-all"_s, QStyle::SP_DialogResetButton,
                       {}, u"添付ファイルをすべて外します"_s);
    for (QToolButton *button : {PNGBtnSender, PNGBtnTo, PNGBtnCc, PNGBtnBcc, PNGBtnAppended})
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);

    auto *mode = new QHBoxLayout;
    mode->addWidget(RBIndividual);
    mode->addWidget(RBBulk);
    mode->addStretch();
    mode->addWidget(SpinEditSenderChange);
    mode->addWidget(labelSenderChange);
    auto *names = new QGridLayout;
    names->addWidget(PNGBtnSender, 0, 0);
    names->addWidget(EditSender, 0, 1);
    names->addLayout(mode, 1, 1, 1, 2);
    names->addWidget(PNGBtnTo, 2, 0);
    names->addWidget(EditTo, 2, 1);
    names->addWidget(PNGBtnCc, 3, 0);
    names->addWidget(EditCc, 3, 1);
    names->addWidget(CBCcOneSend, 3, 2);
    names->addWidget(PNGBtnBcc, 4, 0);
    names->addWidget(EditBcc, 4, 1);
    names->addWidget(CBBccOneSend, 4, 2);
    names->addWidget(PNGBtnAppended, 5, 0);
    names->addWidget(EditAppended, 5, 1);
    names->addWidget(PNGBtnReset, 5, 2, Qt::AlignLeft);
    names->setColumnStretch(1, 1);

    // Subject.
    auto *labelTitle = NewLabel(this, u"LabelTitle"_s, u"件名："_s);
    EditTitle = new QLineEdit(this);
    EditTitle->setObjectName(u"EditTitle"_s);
    auto *subject = new QHBoxLayout;
    subject->addWidget(labelTitle);
    subject->addWidget(EditTitle);

    // The body's three pages.
    PageControlMailText = new QTabWidget(this);
    PageControlMailText->setObjectName(u"PageControlMailText"_s);
    TabSheetText = new QWidget;
    TabSheetText->setObjectName(u"TabSheetText"_s);
    MemoMailText = new QPlainTextEdit(TabSheetText);
    MemoMailText->setObjectName(u"MemoMailText"_s);
    auto *textLayout = new QVBoxLayout(TabSheetText);
    textLayout->setContentsMargins(0, 0, 0, 0);
    textLayout->addWidget(MemoMailText);

    TabSheetHtml = new QWidget;
    TabSheetHtml->setObjectName(u"TabSheetHtml"_s);
    PanelHtmlTool = new QWidget(TabSheetHtml);
    PanelHtmlTool->setObjectName(u"PanelHtmlTool"_s);
    auto *toolLayout = new QHBoxLayout(PanelHtmlTool);
    toolLayout->setContentsMargins(0, 0, 0, 0);
    toolLayout->addStretch();
    SynMemo = new QsciScintilla(TabSheetHtml);
    SynMemo->setObjectName(u"SynMemo"_s);
    SynMemo->setUtf8(true);
    SynMemo->setEolMode(QsciScintilla::EolWindows);
    SynMemo->setLexer(new QsciLexerHTML(SynMemo));
    SynMemo->setMarginType(0, QsciScintilla::NumberMargin);
    SynMemo->setMarginLineNumbers(0, true);
    SynMemo->setMarginWidth(0, u"00000"_s);
    auto *htmlLayout = new QVBoxLayout(TabSheetHtml);
    htmlLayout->setContentsMargins(0, 0, 0, 0);
    htmlLayout->addWidget(PanelHtmlTool);
    htmlLayout->addWidget(SynMemo);

    TabSheetBrowser = new QWidget;
    TabSheetBrowser->setObjectName(u"TabSheetBrowser"_s);
    PanelPreviewRecipient = new QWidget(TabSheetBrowser);
    PanelPreviewRecipient->setObjectName(u"PanelPreviewRecipient"_s);
    auto *labelRecipient = new QLabel(u"差込の確認："_s, PanelPreviewRecipient);
    ComboBoxPreviewRecipient = new QComboBox(PanelPreviewRecipient);
    ComboBoxPreviewRecipient->setObjectName(u"ComboBoxPreviewRecipient"_s);
    ComboBoxPreviewRecipient->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    ComboBoxPreviewRecipient->setMinimumContentsLength(30);
    auto *recipientLayout = new QHBoxLayout(PanelPreviewRecipient);
    recipientLayout->setContentsMargins(0, 0, 0, 0);
    recipientLayout->addWidget(labelRecipient);
    recipientLayout->addWidget(ComboBoxPreviewRecipient);
    recipientLayout->addStretch();
    PanelPreviewRecipient->hide();
    auto *browserLayout = new QVBoxLayout(TabSheetBrowser);
    browserLayout->setContentsMargins(0, 0, 0, 0);
    browserLayout->addWidget(PanelPreviewRecipient);
    browserLayout->addStretch(); // the browser takes this place when first needed

    PageControlMailText->addTab(TabSheetText, u" テキストモード "_s);
    PageControlMailText->addTab(TabSheetHtml, u" HTMLモード "_s);
    PageControlMailText->addTab(TabSheetBrowser, u" ブラウザプレビュー "_s);
    PageControlMailText->setTabToolTip(0, u"テキストでメール本文を編集します"_s);
    PageControlMailText->setTabToolTip(2, u"ブラウザで表示されたプレビューを表示します"_s);

    // Merge tags: buttons that never take the focus, so the editor that had
    // it still has it when the tag goes in.
    auto *tags = new QVBoxLayout;
    const auto &labels = MergeTagLabels();
    for (int i = 0; i < kMergeTagCount; ++i) {
        const QString hint = SjisToQString(labels[i]);
        QToolButton *button = NewImageButton(this, QString::fromLatin1(kMergeTagButtons[i]),
                                             u"insert-text"_s, QStyle::SP_ArrowRight, hint, hint);
        button->setFocusPolicy(Qt::NoFocus);
        button->setIconSize(QSize(16, 16));
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        const std::string label = labels[i];
        connect(button, &QToolButton::clicked, this,
                Guarded(this, [this, label] { InsertMergeTag(label); }));
        tags->addWidget(button);
    }
    tags->addStretch();
    auto *body = new QHBoxLayout;
    body->addWidget(PageControlMailText, 1);
    body->addLayout(tags);

    // Bottom bar.
    auto *labelInterval = NewLabel(this, u"LabelInterbal"_s, u"送信間隔を"_s);
    SpinEditInterbal = NewSpinEdit(this, u"SpinEditInterbal"_s, 0, 100000, 1000, 1000);
    auto *labelMs = NewLabel(this, u"LabelInterbalMs"_s, u"ミリ秒に設定"_s);
    CBHtml = NewCheckBox(this, u"CBHtml"_s, u"HTMLでメールを送信"_s);
    CBListUnsubscribe =
        NewCheckBox(this, u"CBListUnsubscribe"_s, u"配信停止の案内をヘッダーに付ける"_s);
    EditUnsubscribeUrl = NewLineEdit(this, u"EditUnsubscribeUrl"_s);
    EditUnsubscribeUrl->setPlaceholderText(u"https://（任意）"_s);
    PNGBtnMapLink = NewImageButton(this, u"PNGBtnMapLink"_s, u"map-flat"_s, QStyle::SP_DirLinkIcon,
                                   {}, u"地図のリンクを挿入します"_s);
    PNGBtnSignature = NewImageButton(this, u"PNGBtnSignature"_s, u"document-sign"_s,
                                     QStyle::SP_FileDialogContentsView, {}, u"署名を挿入します"_s);
    for (QToolButton *button : {PNGBtnMapLink, PNGBtnSignature}) {
        button->setFocusPolicy(Qt::NoFocus);
        button->setEnabled(false); // until their windows are linked
    }
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(labelInterval);
    bottom->addWidget(SpinEditInterbal);
    bottom->addWidget(labelMs);
    bottom->addSpacing(16);
    bottom->addWidget(CBHtml);
    bottom->addSpacing(16);
    bottom->addWidget(CBListUnsubscribe);
    bottom->addWidget(EditUnsubscribeUrl, 1);
    bottom->addStretch();
    bottom->addWidget(PNGBtnMapLink);
    bottom->addWidget(PNGBtnSignature);

    // Everything on one panel, which a send run disables.
    PanelMain = new QWidget(this);
    PanelMain->setObjectName(u"PanelMain"_s);
    auto *panel = new QVBoxLayout(PanelMain);
    panel->setContentsMargins(0, 0, 0, 0);
    panel->addLayout(topBar);
    panel->addLayout(names);
    panel->addLayout(subject);
    panel->addLayout(body, 1);
    panel->addLayout(bottom);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(PanelMain);
    resize(960, 760);
    RememberWindowLayout(this); // the size the user left it at

    connect(PNGBtnMailSend, &QToolButton::clicked, this,
            Guarded(this, &TFormMailMake::PNGBtnMailSendClick));
    connect(PNGBtnTextRead, &QToolButton::clicked, this,
            Guarded(this, &TFormMailMake::PNGBtnTextReadClick));
    connect(PNGBtnTextWrite, &QToolButton::clicked, this,
            Guarded(this, &TFormMailMake::PNGBtnTextWriteClick));
    connect(PNGBtnClose, &QToolButton::clicked, this, &QWidget::close);
    connect(PNGBtnSender, &QToolButton::clicked, this,
            Guarded(this, [this] { PickNames(PickerKind::Sender); }));
    connect(PNGBtnTo, &QToolButton::clicked, this,
            Guarded(this, [this] { PickNames(PickerKind::To); }));
    connect(PNGBtnCc, &QToolButton::clicked, this,
            Guarded(this, [this] { PickNames(PickerKind::Cc); }));
    connect(PNGBtnBcc, &QToolButton::clicked, this,
            Guarded(this, [this] { PickNames(PickerKind::Bcc); }));
    connect(PNGBtnAppended, &QToolButton::clicked, this,
            Guarded(this, &TFormMailMake::AddAttachment));
    connect(PNGBtnReset, &QToolButton::clicked, this,
            Guarded(this, &TFormMailMake::ResetAttachments));
    connect(RBBulk, &QRadioButton::toggled, this, Guarded(this, &TFormMailMake::RBBulkToggled));
    connect(PageControlMailText, &QTabWidget::currentChanged, this,
            Guarded(this, &TFormMailMake::PageControlMailTextChange));
    connect(MemoMailText, &QPlainTextEdit::textChanged, this,
            [this] { state_.draftEdited = true; });
    connect(SynMemo, &QsciScintilla::textChanged, this, [this] {
        if (!loadingHtml_)
            state_.draftEdited = true;
    });
    connect(ComboBoxPreviewRecipient, &QComboBox::activated, this,
            Guarded(this, [this](int) { RenderPreview(); }));
    connect(PNGBtnMapLink, &QToolButton::clicked, this, Guarded(this, [this] {
                if (links_.openMapLink)
                    links_.openMapLink();
            }));
    connect(PNGBtnSignature, &QToolButton::clicked, this, Guarded(this, [this] {
                if (links_.openSignatureMenu)
                    links_.openSignatureMenu(QCursor::pos());
            }));

    SetNameField(NameField::Cc, {});
    SetNameField(NameField::Bcc, {});
    // HTML mode starts from the template in the data folder.
    RunGuarded(this, [] { EnsureHtmlTemplate(); });
}

void TFormMailMake::SetLinks(Links links)
{
    links_ = std::move(links);
    PNGBtnMapLink->setEnabled(static_cast<bool>(links_.openMapLink));
    PNGBtnSignature->setEnabled(static_cast<bool>(links_.openSignatureMenu));
}

bool TFormMailMake::KeepsDraft() const
{
    return links_.closeQuestion && links_.closeQuestion->KeepDraft();
}

ComposePage TFormMailMake::CurrentPage() const
{
    return static_cast<ComposePage>(PageControlMailText->currentIndex());
}

void TFormMailMake::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        RunGuarded(this, [this] { OpenCompose(); });
}

// ---- Opening and closing ----

void TFormMailMake::OpenCompose()
{
    if (KeepsDraft()) {
        // The kept draft stays as it was; names whose files went away are dropped.
        SetNameField(NameField::Senders, KeepExistingSenders(senders_));
        SetNameField(NameField::To, KeepUsableLists(to_, ListRole::To));
        SetNameField(NameField::Cc, KeepUsableLists(cc_, ListRole::Cc));
        SetNameField(NameField::Bcc, KeepUsableLists(bcc_, ListRole::Bcc));
        UpdateSendModeCaptions();
    } else {
        StartNewMail();
    }
    if (links_.closeQuestion)
        links_.closeQuestion->SetKeepDraft(true);
}

void TFormMailMake::StartNewMail()
{
    DiscardDraftFiles();
    lastRun_ = {};
    RBIndividual->setChecked(true);
    CBCcOneSend->setChecked(true);
    CBBccOneSend->setChecked(true);
    SpinEditSenderChange->setValue(1);
    RBIndividual->setText(kIndividualCaption);
    RBBulk->setText(kBulkCaption);
    for (NameField field : {NameField::Senders, NameField::To, NameField::Cc, NameField::Bcc})
        SetNameField(field, {});
    EditTitle->clear();
    ClearTextMemo();
    SetHtmlSource({});
    state_.lastEditPage = ComposePage::Text;
    state_.askOnClose = true;
    state_.previewShown = false;
    state_.draftEdited = false;
    CBHtml->setChecked(false);
    CBListUnsubscribe->setChecked(false);
    EditUnsubscribeUrl->clear();
    previewRecipients_.clear();
    ComboBoxPreviewRecipient->clear();
    PanelPreviewRecipient->hide();
    if (WebBrowser)
        WebBrowser->setUrl(QUrl(u"about:blank"_s));
    changingPageBack_ = true;
    PageControlMailText->setCurrentIndex(static_cast<int>(ComposePage::Text));
    changingPageBack_ = false;
    shownPage_ = ComposePage::Text;
    EnterPage(ComposePage::Text);
}

bool TFormMailMake::CloseCompose()
{
    if (state_.askOnClose)
        return !links_.closeQuestion || links_.closeQuestion->Ask();
    // A send has just completed: close without asking; the next opening
    // starts a new mail.
    state_.askOnClose = true;
    if (links_.closeQuestion)
        links_.closeQuestion->SetKeepDraft(false);
    return true;
}

void TFormMailMake::reject()
{
    if (sending_)
        return; // the window closes when the run has ended
    bool mayClose = false;
    RunGuarded(this, [&] { mayClose = CloseCompose(); });
    if (!mayClose)
        return;
    QDialog::reject();
    // The preview page may hold a recipient's values in plain text: it does
    // not outlive the window (a kept draft writes it again when previewed).
    std::error_code ec;
    fs::remove(PreviewFile(), ec);
}

void TFormMailMake::DiscardDraftFiles()
{
    DeleteDraftFiles(SplitCommaNameList(attachments_), inlinePictures_);
    SetNameField(NameField::Attachments, {});
    inlinePictures_.clear();
}

// ---- Names, send mode and attachments ----

std::string &TFormMailMake::NameText(NameField field)
{
    switch (field) {
    case NameField::Senders:
        return senders_;
    case NameField::To:
        return to_;
    case NameField::Cc:
        return cc_;
    case NameField::Bcc:
        return bcc_;
    case NameField::Attachments:
        break;
    }
    return attachments_;
}

QLineEdit *TFormMailMake::NameEdit(NameField field) const
{
    switch (field) {
    case NameField::Senders:
        return EditSender;
    case NameField::To:
        return EditTo;
    case NameField::Cc:
        return EditCc;
    case NameField::Bcc:
        return EditBcc;
    case NameField::Attachments:
        break;
    }
    return EditAppended;
}

void TFormMailMake::SetNameField(NameField field, std::string names)
{
    QLineEdit *edit = NameEdit(field);
    edit->setText(SjisToQString(names));
    if (field == NameField::Cc || field == NameField::Bcc) {
        // Silver while empty, the normal field colour otherwise.
        QPalette palette = QApplication::palette(edit);
        if (names.empty())
            palette.setColor(QPalette::Base, kSilver);
        edit->setPalette(palette);
    }
    NameText(field) = std::move(names);
}

void TFormMailMake::UpdateSendModeCaptions()
{
    const bool bccIsMain = to_.empty() && !bcc_.empty();
    RBIndividual->setText(bccIsMain ? kBccIndividualCaption : kIndividualCaption);
    RBBulk->setText(bccIsMain ? kBccBulkCaption : kBulkCaption);
}

void TFormMailMake::PickNames(PickerKind kind)
{
    const NameField field = kind == PickerKind::Sender ? NameField::Senders
                            : kind == PickerKind::To   ? NameField::To
                            : kind == PickerKind::Cc   ? NameField::Cc
                                                       : NameField::Bcc;
    if (links_.picker) {
        TFormAddMailList &picker = *links_.picker;
        picker.Prepare(kind, SplitCommaNameList(NameText(field)));
        if (picker.exec() == QDialog::Accepted)
            SetNameField(field, JoinCommaNameList(picker.ChosenNames()));
        picker.ClearChosen();
    }
    UpdateSendModeCaptions();
}

void TFormMailMake::RBBulkToggled(bool checked)
{
    if (checked)
        ShowMessage(this,
                    u"※「宛先ごとに送信」は宛先の方に宛先リストに含まれたアドレスがメールに表示さ"
                    u"れます。\n　メール送信の際はご注意ください"_s);
}

void TFormMailMake::AddAttachment()
{
    if (!OpenDialog) {
        OpenDialog = new QFileDialog(this);
        OpenDialog->setObjectName(u"OpenDialog"_s);
        OpenDialog->setAcceptMode(QFileDialog::AcceptOpen);
        OpenDialog->setFileMode(QFileDialog::ExistingFiles); // several at once
    }
    if (OpenDialog->exec() != QDialog::Accepted)
        return;
    std::vector<std::string> listed = SplitCommaNameList(attachments_);
    for (const QString &chosen : OpenDialog->selectedFiles()) {
        // Each file on its own: one that cannot be attached is named, and
        // the others are attached all the same.
        std::string name;
        try {
            name = AttachmentName(PathFromQString(chosen));
            if (std::find(listed.begin(), listed.end(), name) != listed.end()) {
                // Recipients would get one of the two under that name.
                ShowWarning(this, kSameAttachmentName.arg(SjisToQString(name)));
                continue;
            }
            CopyAttachment(PathFromQString(chosen));
        } catch (const VostrelError &e) {
            ShowError(this, u"ファイルを添付できませんでした。\n"_s + QString::fromUtf8(e.what()));
            continue;
        }
        listed.push_back(name);
        SetNameField(NameField::Attachments, JoinCommaNameList(listed));
    }
}

void TFormMailMake::ResetAttachments()
{
    DeleteWorkFiles(AttachmentFolder(), SplitCommaNameList(attachments_));
    SetNameField(NameField::Attachments, {});
}

void TFormMailMake::AddInlinePicture(const std::string &pictureName)
{
    inlinePictures_.push_back(pictureName);
}

// ---- Pages ----

void TFormMailMake::PageControlMailTextChange(int index)
{
    const ComposePage left = shownPage_;
    shownPage_ = static_cast<ComposePage>(index);
    if (changingPageBack_)
        return;
    if (left != ComposePage::Preview)
        state_.lastEditPage = left;
    EnterPage(shownPage_);
}

void TFormMailMake::GoBackToLastEditPage()
{
    changingPageBack_ = true;
    PageControlMailText->setCurrentIndex(static_cast<int>(state_.lastEditPage));
    changingPageBack_ = false;
}

void TFormMailMake::SetHtmlSource(const QString &text)
{
    // Replacing the whole source is no edit of the draft.
    loadingHtml_ = true;
    SynMemo->setText(text);
    loadingHtml_ = false;
}

void TFormMailMake::ClearTextMemo()
{
    if (!MemoMailText->document()->isEmpty())
        MemoMailText->clear();
}

void TFormMailMake::LoadHtmlTemplate()
{
    SetHtmlSource({});
    std::error_code ec;
    if (!fs::exists(HtmlTemplateFile(), ec))
        return; // HTML mode then starts from an empty source
    try {
        const DecodedText decoded = ReadEditorFile(HtmlTemplateFile());
        SetHtmlSource(SjisToQString(decoded.text));
        htmlEncoding_ = decoded.encoding;
    } catch (const VostrelError &e) {
        ReportError(this, e); // HTML mode starts from an empty source
    }
}

void TFormMailMake::EnterPage(ComposePage page)
{
    switch (page) {
    case ComposePage::Preview:
        state_.previewShown = true;
        EnterPreview();
        return;
    case ComposePage::Html:
        if (NeedsFreshStart(state_, page)) {
            if (state_.draftEdited && !AskYesNo(this, kToHtmlQuestion)) {
                GoBackToLastEditPage();
                return;
            }
            DeleteWorkFiles(PictureFolder(), inlinePictures_);
            inlinePictures_.clear();
            LoadHtmlTemplate();
            CBHtml->setChecked(true);
        }
        ClearTextMemo();
        state_.previewShown = false;
        return;
    case ComposePage::Text:
        if (NeedsFreshStart(state_, page)) {
            if (state_.draftEdited && !AskYesNo(this, kToTextQuestion)) {
                GoBackToLastEditPage();
                return;
            }
            ClearTextMemo();
        }
        SetHtmlSource({});
        CBHtml->setChecked(false);
        state_.previewShown = false;
        return;
    }
}

// ---- Preview ----

void TFormMailMake::EnterPreview()
{
    // A source with merge tags can be shown with the values of one recipient
    // of the main lists; the list of recipients is read afresh each time.
    const std::string source = QStringToSjis(SynMemo->text());
    const int kept = ComboBoxPreviewRecipient->currentIndex();
    previewRecipients_.clear();
    ComboBoxPreviewRecipient->clear();
    if (UsesMergeTags(source)) {
        MailDraft lists;
        lists.toLists = to_;
        lists.bccLists = bcc_;
        previewRecipients_ = PreviewRecipients(MainLists(lists));
        ComboBoxPreviewRecipient->addItem(u"差込タグをそのまま表示"_s);
        for (const PreviewRecipient &entry : previewRecipients_) {
            ComboBoxPreviewRecipient->addItem(SjisToQString(entry.listName) + u": "_s +
                                              SjisToQString(entry.recipient.Name()) + u" <"_s +
                                              SjisToQString(entry.recipient.Address()) + u">"_s);
        }
        if (kept > 0 && kept < ComboBoxPreviewRecipient->count())
            ComboBoxPreviewRecipient->setCurrentIndex(kept);
    }
    PanelPreviewRecipient->setVisible(!previewRecipients_.empty());
    RenderPreview();
}

void TFormMailMake::RenderPreview()
{
    std::string source = QStringToSjis(SynMemo->text());
    const int chosen = ComboBoxPreviewRecipient->currentIndex();
    if (chosen > 0 && static_cast<std::size_t>(chosen) <= previewRecipients_.size())
        source = ApplyMergeTags(source, previewRecipients_[chosen - 1].recipient);
    const fs::path file = WritePreviewFile(source);
    EnsureBrowser();
    LoadLocalFile(WebBrowser, file);
}

void TFormMailMake::EnsureBrowser()
{
    if (WebBrowser)
        return;
    // Made on first use only: the browser engine is slow to start.
    WebBrowser = NewSilentWebViewInPlaceOfStretch(TabSheetBrowser, u"WebBrowser"_s);
}

// ---- Merge tags ----

void TFormMailMake::InsertMergeTag(const std::string &label)
{
    const QString tag = SjisToQString(MakeMergeTag(label));
    QWidget *focus = focusWidget();
    const ComposePage page = CurrentPage();
    if (page == ComposePage::Text && focus == MemoMailText) {
        MemoMailText->insertPlainText(tag);
    } else if (page == ComposePage::Html && focus &&
               (focus == SynMemo || SynMemo->isAncestorOf(focus))) {
        SynMemo->replaceSelectedText(tag);
    } else if (focus == EditTitle) {
        EditTitle->insert(tag);
    } else {
        ShowMessage(this, u"テキストモードに切り替えて編集できる状態にしてください"_s);
    }
}

// ---- Text files ----

QString TFormMailMake::ChooseFile(QFileDialog *&dialog, const QString &objectName, bool save,
                                  const QString &filter)
{
    if (!dialog) {
        dialog = new QFileDialog(this);
        dialog->setObjectName(objectName);
        dialog->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        // An existing file is replaced without a question.
        dialog->setOption(QFileDialog::DontConfirmOverwrite, save);
        if (!filter.isEmpty())
            dialog->setNameFilter(filter);
    }
    if (dialog->exec() != QDialog::Accepted)
        return {};
    const QStringList files = dialog->selectedFiles();
    return files.isEmpty() ? QString() : files.front();
}

void TFormMailMake::ReadTextFile()
{
    const ComposePage page = CurrentPage();
    if (page == ComposePage::Preview) {
        ShowMessage(
            this, u"テキストを読み込むにはテキストモード又はHTMLモードを表示する必要があります"_s);
        return;
    }
    const QString chosen = ChooseFile(OpenDialogText, u"OpenDialogText"_s, false, kTextFilter);
    if (chosen.isEmpty())
        return;
    if (!AskYesNo(this, u"現在の文章を破棄してテキストファイルを読み込みます。よろしいですか？"_s))
        return;
    // Shift_JIS or UTF-8 (a byte-order mark decides, else the bytes);
    // content that cannot be read stops here with nothing replaced.
    const DecodedText decoded = ReadEditorFile(PathFromQString(chosen));
    if (page == ComposePage::Text) {
        MemoMailText->setPlainText(SjisToQString(decoded.text));
    } else {
        SetHtmlSource(SjisToQString(decoded.text));
        htmlEncoding_ = decoded.encoding;
    }
    ShowMessage(this, u"テキストファイルを読み込みました"_s);
}

void TFormMailMake::WriteTextFile()
{
    const ComposePage page = CurrentPage();
    if (page == ComposePage::Preview) {
        ShowMessage(
            this, u"テキストを保存するにはテキストモード又はHTMLモードを表示する必要があります"_s);
        return;
    }
    const QString chosen = ChooseFile(SaveDialogText, u"SaveDialogText"_s, true, kTextFilter);
    if (chosen.isEmpty())
        return;
    const std::string bytes = page == ComposePage::Text
                                  ? TextLinesWithCrLf(QStringToSjis(MemoMailText->toPlainText()))
                                  : EncodeTextFile(QStringToSjis(SynMemo->text()), htmlEncoding_);
    WriteFileAtomically(PathFromQString(chosen), bytes, FileAccess::User);
    ShowMessage(this, u"テキストファイルを保存しました"_s);
}

// ---- The draft and sending ----

MailDraft TFormMailMake::Draft() const
{
    MailDraft draft;
    draft.senders = senders_;
    draft.senderSwitchEvery = SpinEditSenderChange->value();
    draft.sendIndividually = RBIndividual->isChecked();
    draft.toLists = to_;
    draft.ccLists = cc_;
    draft.ccFirstOnly = CBCcOneSend->isChecked();
    draft.bccLists = bcc_;
    draft.bccFirstOnly = CBBccOneSend->isChecked();
    draft.attachments = attachments_;
    draft.subject = QStringToSjis(EditTitle->text());
    QString text = MemoMailText->toPlainText();
    text.replace(u'\n', u"\r\n"_s);
    draft.textBody = QStringToSjis(text);
    draft.htmlBody = QStringToSjis(SynMemo->text());
    draft.sendAsHtml = CBHtml->isChecked();
    draft.intervalMs = SpinEditInterbal->value();
    draft.listUnsubscribe = CBListUnsubscribe->isChecked();
    draft.unsubscribeUrl = QStringToSjis(EditUnsubscribeUrl->text());
    draft.inlinePictures = inlinePictures_;
    return draft;
}

void TFormMailMake::PNGBtnMailSendClick()
{
    if (sending_ || !links_.sendProgress)
        return;
    const SendJob job = BuildSendJob(Draft());
    ComposeSendLink link;
    link.window = this;
    link.clearBccFirstOnly = [this] { CBBccOneSend->setChecked(false); };
    link.previous = &lastRun_;
    // The draft stays as it is while the run works on its snapshot.
    sending_ = true;
    PanelMain->setEnabled(false);
    StartSendResult result = StartSendResult::NotStarted;
    try {
        result = StartSend(job, *links_.sendProgress, link, links_.sendOptions);
    } catch (...) {
        sending_ = false;
        PanelMain->setEnabled(true);
        throw;
    }
    sending_ = false;
    PanelMain->setEnabled(true);
    if (result == StartSendResult::Completed) {
        // Closes without the question; the next opening starts a new mail.
        state_.askOnClose = false;
        close();
    }
}

} // namespace vostrel

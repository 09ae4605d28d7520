#include "compose/HtmlToolBar.h"

#include "compose/ComposeEditing.h"
#include "compose/DraftFiles.h"
#include "compose/QsciEditor.h"
#include "compose/UnitFontDialog.h"
#include "compose/UnitLinkDialog.h"
#include "compose/UnitMailMake.h"
#include "compose/UnitMidashiDialog.h"
#include "core/DataFolder.h"
#include "core/DialogService.h"
#include "core/ErrorReporting.h"
#include "core/Errors.h"
#include "core/SjisCodec.h"
#include "core/UiHelpers.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMenu>
#include <QToolButton>

namespace vostrel {

using namespace Qt::Literals::StringLiterals;

namespace {

struct CommandLook
{
    const char *button;
    const char *icon;
    const char16_t *hint;
    const char *menuEntry;
    const char16_t *menuCaption;
};

// The twelve commands in their order: tool bar button, icon and hint; the
// context menu entry and its caption.
const CommandLook kCommands[kTagCommandCount] = {
    {"PNGBtnFont_Size", "format-font-size-more", u"文字サイズのタグを挿入します", "N11",
     u"文字サイズ(&S)"},
    {"PNGBtnFont_Color", "format-text-color", u"文字色のタグを挿入します", "N12", u"文字色(&C)"},
    {"PNGBtnFont_Style", "format-text-bold", u"文字スタイルのタグを挿入します", "N13",
     u"文字スタイル(&T)"},
    {"PNGBtnFont_Arrange", "format-justify-center", u"文字揃えのタグを挿入します", "N14",
     u"文字揃え(&A)"},
    {"PNGBtnLink_Url", "insert-link", u"URLのタグを挿入します", "URL1", u"URL指定(&U)"},
    {"PNGBtnLink_JumpDes", "anchor", u"アンカー設置のタグを挿入します", "N15", u"ジャンプ先(&N)"},
    {"PNGBtnLink_Jump", "go-jump", u"ページ内リンクのタグを挿入します", "N16", u"ジャンプ(&J)"},
    {"PNGBtnLink_Pic", "insert-image", u"画像挿入のタグを挿入します", "N17", u"画像(&P)"},
    {"PNGBtnEtc_Br", "text-wrap", u"改行のタグを挿入します", "N18", u"改行(&B)"},
    {"PNGBtnEtc_H", "format-text-capitalize", u"見出しのタグを挿入します", "N19", u"見出し(&H)"},
    {"PNGBtnEtc_BlockQuote", "format-text-blockquote", u"引用のタグを挿入します", "N20",
     u"引用文(&Q)"},
    {"PNGBtnEtc_Address", "addressbook-details", u"アドレスのタグを挿入します", "N21",
     u"アドレス(&A)"},
};

void Wrap(TagEditTarget &target, TagSelection selection, const TagTexts &tags)
{
    WrapSelection(target, selection, tags.opening, tags.closing);
}

} // namespace

const QStringList &THtmlTagCommands::PictureFilters()
{
    static const QStringList filters = {
        u"すべてのファイル (*.png *.jpg *.jpeg *.gif)"_s,
        u"Portable Network Graphics (*.png)"_s,
        u"JPEG イメージファイル (*.jpg *.jpeg)"_s,
        u"GIF イメージファイル (*.gif)"_s,
    };
    return filters;
}

THtmlTagCommands::THtmlTagCommands(TFormMailMake &compose, TFormTagDialog &tagDialog,
                                   TFormLinkDialog &linkDialog, TFormMidashiDialog &midashiDialog)
    : QObject(&compose)
    , compose_(compose)
    , tagDialog_(tagDialog)
    , linkDialog_(linkDialog)
    , midashiDialog_(midashiDialog)
{
    setObjectName(u"HtmlTagCommands"_s);
    QWidget *area = compose_.HtmlToolArea();
    auto *bar = static_cast<QHBoxLayout *>(area->layout());
    QsciScintilla *editor = compose_.HtmlEditor();

    PopupMenu = new QMenu(editor);
    PopupMenu->setObjectName(u"PopupMenu"_s);
    QAction *copy = PopupMenu->addAction(u"コピー(&C)"_s);
    copy->setObjectName(u"Copy1"_s);
    connect(copy, &QAction::triggered, this, Guarded(&compose_, [this] { CopySelection(); }));
    QAction *paste = PopupMenu->addAction(u"貼り付け(&P)"_s);
    paste->setObjectName(u"Paste1"_s);
    connect(paste, &QAction::triggered, this, Guarded(&compose_, [this] { PasteText(); }));
    QMenu *submenus[3];
    const char *submenuNames[3] = {"N8", "N9", "N10"};
    const QString submenuCaptions[3] = {u"タグ_文字(&F)"_s, u"タグ_リンク(&L)"_s,
                                        u"タグ_その他(&E)"_s};
    for (int i = 0; i < 3; ++i) {
        submenus[i] = PopupMenu->addMenu(submenuCaptions[i]);
        submenus[i]->setObjectName(QString::fromLatin1(submenuNames[i]));
        submenus[i]->menuAction()->setObjectName(QString::fromLatin1(submenuNames[i]));
    }

    for (int number = 0; number < kTagCommandCount; ++number) {
        const CommandLook &look = kCommands[number];
        const auto command = static_cast<TagCommand>(number);
        auto run = Guarded(&compose_, [this, command] { RunTagCommand(command); });

        QToolButton *button =
            NewImageButton(area, QString::fromLatin1(look.button), QString::fromLatin1(look.icon),
                           QStyle::SP_FileIcon, {}, QString::fromUtf16(look.hint));
        // The editor keeps the focus while the tool bar is used.
        button->setFocusPolicy(Qt::NoFocus);
        bar->insertWidget(number, button);
        connect(button, &QToolButton::clicked, this, run);

        QAction *entry = submenus[number / 4]->addAction(QString::fromUtf16(look.menuCaption));
        entry->setObjectName(QString::fromLatin1(look.menuEntry));
        connect(entry, &QAction::triggered, this, run);
    }

    editor->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(editor, &QWidget::customContextMenuRequested, this, &THtmlTagCommands::ShowPopupMenu);
}

void THtmlTagCommands::ShowPopupMenu(const QPoint &position)
{
    QsciScintilla *editor = compose_.HtmlEditor();
    PopupMenu->popup(editor->viewport()->mapToGlobal(position));
}

void THtmlTagCommands::RunTagCommand(TagCommand command)
{
    QsciTagEditTarget target(*compose_.HtmlEditor());
    // Fixed before any dialog is shown.
    const TagSelection selection = SelectionOf(target);
    switch (command) {
    case TagCommand::FontSize:
    case TagCommand::FontColor:
    case TagCommand::FontStyle:
    case TagCommand::Alignment:
        if (tagDialog_.Execute(command))
            Wrap(target, selection, tagDialog_.Tags(command));
        return;
    case TagCommand::Hyperlink:
    case TagCommand::Anchor:
    case TagCommand::JumpToAnchor:
        if (linkDialog_.Execute(command))
            Wrap(target, selection, linkDialog_.Tags(command));
        return;
    case TagCommand::Picture:
        InsertPicture(target, selection);
        return;
    case TagCommand::LineBreak:
        InsertBeforeSelection(target, selection, LineBreakTag());
        return;
    case TagCommand::Heading:
        if (midashiDialog_.Execute())
            Wrap(target, selection, HeadingTags(midashiDialog_.Level()));
        return;
    case TagCommand::Quotation:
        Wrap(target, selection, QuotationTags());
        return;
    case TagCommand::Address:
        Wrap(target, selection, AddressTags());
        return;
    }
}

QString THtmlTagCommands::ChoosePicture()
{
    if (!OpenPictureDialog) {
        OpenPictureDialog = new QFileDialog(&compose_);
        OpenPictureDialog->setObjectName(u"OpenPictureDialog"_s);
        OpenPictureDialog->setFileMode(QFileDialog::ExistingFile);
        OpenPictureDialog->setAcceptMode(QFileDialog::AcceptOpen);
        OpenPictureDialog->setNameFilters(PictureFilters());
    }
    if (OpenPictureDialog->exec() != QDialog::Accepted)
        return {};
    const QStringList files = OpenPictureDialog->selectedFiles();
    return files.isEmpty() ? QString() : files.front();
}

void THtmlTagCommands::InsertPicture(TagEditTarget &target, TagSelection selection)
{
    const QString chosen = ChoosePicture();
    if (chosen.isEmpty())
        return;
    const QString fileName = QFileInfo(chosen).fileName();
    const qsizetype dot = fileName.lastIndexOf(u'.');
    // The extension as the file has it, dot included; the rest of the name
    // does not matter.
    const std::string extension = dot < 0 ? std::string() : QStringToSjis(fileName.mid(dot));
    std::string name;
    try {
        // A new name never replaces a picture already copied: on the
        // unlikely clash of two names, another is drawn.
        for (int attempt = 0;; ++attempt) {
            name = PictureName(extension);
            if (CopyFileNoOverwrite(PathFromQString(chosen), PictureFolder() / FileNameOf(name)) ==
                CopyResult::Copied)
                break;
            if (attempt == 99)
                throw FileError::WriteFailed(PictureFolder() / FileNameOf(name),
                                             "同じ名前のファイルがあります");
        }
    } catch (const VostrelError &e) {
        // Nothing is referred to that was not copied.
        ShowError(&compose_, u"画像を挿入できませんでした。\n"_s + QString::fromUtf8(e.what()));
        return;
    }
    compose_.AddInlinePicture(name);
    InsertBeforeSelection(target, selection, PictureTag(name));
}

void THtmlTagCommands::CopySelection()
{
    const QString selected = compose_.HtmlEditor()->selectedText();
    if (!selected.isEmpty())
        QApplication::clipboard()->setText(selected);
}

void THtmlTagCommands::PasteText()
{
    QString text = QApplication::clipboard()->text();
    if (text.isEmpty())
        return;
    // The source keeps CR LF line ends throughout.
    text.replace(u"\r\n"_s, u"\n"_s);
    text.replace(u'\r', u'\n');
    text.replace(u"\n"_s, u"\r\n"_s);
    ReplaceSourceSelection(*compose_.HtmlEditor(), text);
}

} // namespace vostrel

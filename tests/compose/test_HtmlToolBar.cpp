// The HTML page's tool bar, the source editor's context menu and the tag
// dialogs, driven as the user drives them.
#include "../destinations/WindowDriver.h"
#include "AuthoringDriver.h"

#include "compose/DraftFiles.h"
#include "compose/QsciEditor.h"
#include "core/AppState.h"
#include "core/SjisCodec.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QColorDialog>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTabBar>
#include <QTest>
#include <QToolButton>
#include <filesystem>

namespace vostrel::test {
namespace {

namespace fs = std::filesystem;
using namespace Qt::Literals::StringLiterals;
using HtmlToolBarTest = AuthoringTest;

void Press(QWidget *dialog, const QString &button)
{
    QTest::mouseClick(Child<QAbstractButton>(dialog, button), Qt::LeftButton);
}

void Check(QWidget *dialog, const QString &radio)
{
    Child<QAbstractButton>(dialog, radio)->setChecked(true);
}

TEST_F(HtmlToolBarTest, TheToolBarHoldsTheTwelveCommandsWithTheirHints)
{
    const QString hints[kTagCommandCount] = {u"文字サイズのタグを挿入します"_s,
                                             u"文字色のタグを挿入します"_s,
                                             u"文字スタイルのタグを挿入します"_s,
                                             u"文字揃えのタグを挿入します"_s,
                                             u"URLのタグを挿入します"_s,
                                             u"アンカー設置のタグを挿入します"_s,
                                             u"ページ内リンクのタグを挿入します"_s,
                                             u"画像挿入のタグを挿入します"_s,
                                             u"改行のタグを挿入します"_s,
                                             u"見出しのタグを挿入します"_s,
                                             u"引用のタグを挿入します"_s,
                                             u"アドレスのタグを挿入します"_s};
    QWidget *area = form->HtmlToolArea();
    auto *layout = qobject_cast<QHBoxLayout *>(area->layout());
    ASSERT_NE(layout, nullptr);
    for (int i = 0; i < kTagCommandCount; ++i) {
        const QString name = ToolButtonName(static_cast<TagCommand>(i));
        auto *button = Child<QToolButton>(area, name);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(layout->indexOf(button), i) << name.toStdString();
        EXPECT_EQ(button->toolTip(), hints[i]);
        EXPECT_FALSE(button->icon().isNull());
        EXPECT_EQ(button->focusPolicy(), Qt::NoFocus);
    }
    EXPECT_EQ(tagDialog->objectName(), u"TFormTagDialog"_s);
    EXPECT_EQ(tagDialog->windowTitle(), u"タグ設定"_s);
    EXPECT_EQ(linkDialog->windowTitle(), u"リンク設定"_s);
    EXPECT_EQ(midashiDialog->windowTitle(), u"見出し"_s);
}

TEST_F(HtmlToolBarTest, TheDialogsCarryTheirCaptions)
{
    struct Case
    {
        QWidget *dialog;
        QString control, caption;
    };
    const Case cases[] = {
        {tagDialog.get(), u"BtnOk"_s, u"OK"_s},
        {tagDialog.get(), u"BtnCencel"_s, u"閉じる"_s},
        {tagDialog.get(), u"BtnFontColor"_s, u"変更"_s},
        {tagDialog.get(), u"RBBold"_s, u"太字"_s},
        {tagDialog.get(), u"RBItalic"_s, u"斜め"_s},
        {tagDialog.get(), u"RBStrikeOut"_s, u"取り消し線"_s},
        {tagDialog.get(), u"RBUnderLine"_s, u"下線"_s},
        {tagDialog.get(), u"RBArrange_Left"_s, u"左揃え"_s},
        {tagDialog.get(), u"RBArrange_Center"_s, u"中央揃え"_s},
        {tagDialog.get(), u"RBArrange_Right"_s, u"右揃え"_s},
        {linkDialog.get(), u"BtnConfig"_s, u"OK"_s},
        {linkDialog.get(), u"BtnCencel"_s, u"閉じる"_s},
        {midashiDialog.get(), u"RBH1"_s, u"<H1>～</H1>"_s},
        {midashiDialog.get(), u"BtnOk"_s, u"OK"_s},
        {midashiDialog.get(), u"BtnCancel"_s, u"閉じる"_s},
    };
    for (const Case &c : cases) {
        auto *control = Child<QAbstractButton>(c.dialog, c.control);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->text(), c.caption) << c.control.toStdString();
    }
    // Each page of the tag dialog: its prompt and its group.
    const QString pages[][3] = {
        {u"TSFontSize"_s, u"サイズを選択してください"_s, u"サイズ"_s},
        {u"TSFontColor"_s, u"色を選択してください"_s, u"色"_s},
        {u"TSFontStyle"_s, u"スタイルを選択してください"_s, u"スタイル"_s},
        {u"TSFontArrange"_s, u"文字を揃える位置を選択してください"_s, u"文字揃え"_s},
    };
    for (const auto &page : pages) {
        QWidget *widget = Child<QWidget>(tagDialog.get(), page[0]);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->findChild<QLabel *>()->text(), page[1]);
        EXPECT_EQ(widget->findChild<QGroupBox *>()->title(), page[2]);
    }
    QStringList labels;
    for (auto *label : linkDialog->findChildren<QLabel *>())
        labels << label->text();
    EXPECT_EQ(labels, (QStringList{u"Target=\""_s, u"\""_s}));
}

TEST_F(HtmlToolBarTest, TheContextMenuHoldsCopyPasteAndThreeSubmenusInOrder)
{
    OpenHtml(u"<p>x</p>"_s);
    QStringList shown;
    WhenPopup(u"PopupMenu"_s, [&](QMenu *menu) {
        for (QAction *entry : menu->actions())
            shown << entry->objectName() + u"="_s + entry->text();
        for (QAction *entry : menu->actions()) {
            if (QMenu *sub = entry->menu())
                for (QAction *inner : sub->actions())
                    shown << entry->objectName() + u"/"_s + inner->objectName() + u"="_s +
                                 inner->text();
        }
        menu->close();
    });
    QWidget *viewport = Syn()->viewport();
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(20, 10),
                            viewport->mapToGlobal(QPoint(20, 10)));
    QApplication::sendEvent(viewport, &event);
    QTRY_VERIFY(!shown.isEmpty());
    EXPECT_EQ(
        shown,
        (QStringList{u"Copy1=コピー(&C)"_s, u"Paste1=貼り付け(&P)"_s, u"N8=タグ_文字(&F)"_s,
                     u"N9=タグ_リンク(&L)"_s, u"N10=タグ_その他(&E)"_s, u"N8/N11=文字サイズ(&S)"_s,
                     u"N8/N12=文字色(&C)"_s, u"N8/N13=文字スタイル(&T)"_s, u"N8/N14=文字揃え(&A)"_s,
                     u"N9/URL1=URL指定(&U)"_s, u"N9/N15=ジャンプ先(&N)"_s, u"N9/N16=ジャンプ(&J)"_s,
                     u"N9/N17=画像(&P)"_s, u"N10/N18=改行(&B)"_s, u"N10/N19=見出し(&H)"_s,
                     u"N10/N20=引用文(&Q)"_s, u"N10/N21=アドレス(&A)"_s}));
}

TEST_F(HtmlToolBarTest, SizeThreeWithoutASelectionLeavesTheCaretBetweenTheTags)
{
    OpenHtml(u"<p></p>"_s);
    SelectSource(3, 3);
    RunTool(TagCommand::FontSize, u"TFormTagDialog"_s, [](QWidget *w) {
        auto *pages = Child<QStackedWidget>(w, u"PageControl"_s);
        EXPECT_EQ(pages->currentWidget()->objectName(), u"TSFontSize"_s);
        EXPECT_EQ(w->findChild<QTabBar *>(), nullptr); // no page tabs
        auto *size = Child<QComboBox>(w, u"CBFontSize"_s);
        EXPECT_EQ(size->count(), 30);
        EXPECT_EQ(size->itemText(29), u"30"_s);
        EXPECT_EQ(size->currentText(), u"1"_s);
        size->setCurrentText(u"3"_s);
        Press(w, u"BtnOk"_s);
    });
    EXPECT_EQ(Syn()->text(), u"<p><FONT SIZE=3></FONT></p>"_s);
    EXPECT_EQ(SourceCaret(), 16);
    EXPECT_FALSE(SourceHasSelection());
    EXPECT_TRUE(form->State().draftEdited);

    // The size starts from "1" again.
    RunTool(TagCommand::FontSize, u"TFormTagDialog"_s, [](QWidget *w) {
        EXPECT_EQ(Child<QComboBox>(w, u"CBFontSize"_s)->currentText(), u"1"_s);
        Press(w, u"BtnOk"_s);
    });
    EXPECT_EQ(Syn()->text(), u"<p><FONT SIZE=3><FONT SIZE=1></FONT></FONT></p>"_s);
}

TEST_F(HtmlToolBarTest, PureRedGivesItsColourAndTheSwatchIsBlackAgainNextTime)
{
    OpenHtml(u"red"_s);
    SelectSource(0, 3);
    QColor swatchAfterChoice;
    RunTool(TagCommand::FontColor, u"TFormTagDialog"_s, [&](QWidget *w) {
        EXPECT_EQ(Child<QStackedWidget>(w, u"PageControl"_s)->currentWidget()->objectName(),
                  u"TSFontColor"_s);
        auto *swatch = Child<QFrame>(w, u"PanelFontColor"_s);
        EXPECT_EQ(swatch->palette().color(QPalette::Window), QColor(Qt::black));
        WhenModal(u"ColorDialog"_s, [](QWidget *chooser) {
            auto *colors = qobject_cast<QColorDialog *>(chooser);
            ASSERT_NE(colors, nullptr);
            colors->setCurrentColor(QColor(255, 0, 0));
            colors->accept();
        });
        Press(w, u"BtnFontColor"_s);
        swatchAfterChoice = swatch->palette().color(QPalette::Window);
        Press(w, u"BtnOk"_s);
    });
    EXPECT_EQ(swatchAfterChoice, QColor(255, 0, 0));
    EXPECT_EQ(Syn()->text(), u"<FONT COLOR=#FF0000>red</FONT>"_s);

    // A cancelled colour choice keeps the swatch; the next opening is black.
    RunTool(TagCommand::FontColor, u"TFormTagDialog"_s, [](QWidget *w) {
        auto *swatch = Child<QFrame>(w, u"PanelFontColor"_s);
        EXPECT_EQ(swatch->palette().color(QPalette::Window), QColor(Qt::black));
        WhenModal(u"ColorDialog"_s, [](QWidget *chooser) {
            qobject_cast<QColorDialog *>(chooser)->setCurrentColor(QColor(0, 255, 0));
            static_cast<QDialog *>(chooser)->reject();
        });
        Press(w, u"BtnFontColor"_s);
        EXPECT_EQ(swatch->palette().color(QPalette::Window), QColor(Qt::black));
        Press(w, u"BtnOk"_s);
    });
    // Nothing selected: the tags go in at the caret, right after the first opening.
    EXPECT_EQ(Syn()->text(), u"<FONT COLOR=#FF0000><FONT COLOR=#000000></FONT>red</FONT>"_s);
}

TEST_F(HtmlToolBarTest, StyleStartsBoldEachTimeAndAlignmentKeepsItsLastChoice)
{
    OpenHtml(u"x"_s);
    struct Case
    {
        TagCommand command;
        const char16_t *radio;
        QString expectedStart; // the radio checked when the dialog opens
        QString opening;
    };
    const Case cases[] = {
        {TagCommand::FontStyle, u"RBItalic", u"RBBold"_s, u"<I>"_s},
        {TagCommand::FontStyle, u"RBStrikeOut", u"RBBold"_s, u"<S>"_s},
        {TagCommand::FontStyle, u"RBUnderLine", u"RBBold"_s, u"<U>"_s},
        {TagCommand::FontStyle, u"RBBold", u"RBBold"_s, u"<B>"_s},
        {TagCommand::Alignment, u"RBArrange_Center", u"RBArrange_Left"_s,
         u"<DIV ALIGN=\"CENTER\">"_s},
        {TagCommand::Alignment, u"RBArrange_Right", u"RBArrange_Center"_s,
         u"<DIV ALIGN=\"RIGHT\">"_s},
        {TagCommand::Alignment, u"RBArrange_Left", u"RBArrange_Right"_s, u"<DIV ALIGN=\"LEFT\">"_s},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(QString::fromUtf16(c.radio).toStdString());
        Syn()->selectAll();
        const QString before = Syn()->text();
        RunTool(c.command, u"TFormTagDialog"_s, [&](QWidget *w) {
            EXPECT_TRUE(Child<QRadioButton>(w, c.expectedStart)->isChecked());
            EXPECT_EQ(Child<QStackedWidget>(w, u"PageControl"_s)->currentWidget()->objectName(),
                      c.command == TagCommand::FontStyle ? u"TSFontStyle"_s : u"TSFontArrange"_s);
            Check(w, QString::fromUtf16(c.radio));
            Press(w, u"BtnOk"_s);
        });
        const QString closing =
            c.command == TagCommand::FontStyle ? u"</"_s + c.opening.mid(1) : u"</DIV>"_s;
        EXPECT_EQ(Syn()->text(), c.opening + before + closing);
    }
}

TEST_F(HtmlToolBarTest, HeadingTwoAroundAbcPutsTheCaretBeforeAbcAndIsKept)
{
    OpenHtml(u"abc"_s);
    SelectSource(0, 3);
    RunTool(TagCommand::Heading, u"TFormMidashiDialog"_s, [](QWidget *w) {
        EXPECT_TRUE(Child<QRadioButton>(w, u"RBH1"_s)->isChecked());
        EXPECT_EQ(Child<QRadioButton>(w, u"RBH6"_s)->text(), u"<H6>～</H6>"_s);
        Check(w, u"RBH2"_s);
        Press(w, u"BtnOk"_s);
    });
    EXPECT_EQ(Syn()->text(), u"<H2>abc</H2>"_s);
    EXPECT_EQ(SourceCaret(), 4);
    EXPECT_FALSE(SourceHasSelection());

    bool kept = false;
    RunTool(TagCommand::Heading, u"TFormMidashiDialog"_s, [&](QWidget *w) {
        kept = Child<QRadioButton>(w, u"RBH2"_s)->isChecked();
        Press(w, u"BtnCancel"_s);
    });
    EXPECT_TRUE(kept);
}

TEST_F(HtmlToolBarTest, LinksWithEmptyValuesAndTheDialogKeepsItsFields)
{
    OpenHtml(u"abc"_s);
    SelectSource(0, 3);
    RunTool(TagCommand::Hyperlink, u"TFormLinkDialog"_s, [](QWidget *w) {
        EXPECT_EQ(Child<QGroupBox>(w, u"GBLink"_s)->title(), u"URL"_s);
        EXPECT_TRUE(Child<QGroupBox>(w, u"GBTarget"_s)->isVisible());
        EXPECT_EQ(Child<QCheckBox>(w, u"CBTarget"_s)->text(), u"ターゲット(別窓の設定)"_s);
        EXPECT_FALSE(Child<QCheckBox>(w, u"CBTarget"_s)->isChecked());
        EXPECT_EQ(Child<QLineEdit>(w, u"EditTarget"_s)->text(), u"_blank"_s);
        EXPECT_TRUE(Child<QLineEdit>(w, u"EditLink"_s)->text().isEmpty());
        Press(w, u"BtnConfig"_s);
    });
    EXPECT_EQ(Syn()->text(), u"<A HREF=\"\">abc</A>"_s);

    Syn()->setText(u"abc"_s);
    SelectSource(0, 3);
    RunTool(TagCommand::Hyperlink, u"TFormLinkDialog"_s, [](QWidget *w) {
        Child<QCheckBox>(w, u"CBTarget"_s)->setChecked(true);
        TypeInto(w, u"EditTarget"_s, {});
        Press(w, u"BtnConfig"_s);
    });
    EXPECT_EQ(Syn()->text(), u"<A HREF=\"\" TARGET=\"\">abc</A>"_s);

    Syn()->setText(u"abc"_s);
    SelectSource(0, 3);
    RunTool(TagCommand::Hyperlink, u"TFormLinkDialog"_s, [](QWidget *w) {
        TypeInto(w, u"EditLink"_s, u"http://example.jp/a?b=c&d=e"_s);
        TypeInto(w, u"EditTarget"_s, u"win"_s);
        Press(w, u"BtnConfig"_s);
    });
    EXPECT_EQ(Syn()->text(), u"<A HREF=\"http://example.jp/a?b=c&d=e\" TARGET=\"win\">abc</A>"_s);

    // The next use shows the last entries; an anchor hides the target.
    Syn()->setText(u"abc"_s);
    SelectSource(0, 3);
    RunTool(TagCommand::Anchor, u"TFormLinkDialog"_s, [](QWidget *w) {
        EXPECT_EQ(Child<QGroupBox>(w, u"GBLink"_s)->title(), u"アンカー名"_s);
        EXPECT_FALSE(Child<QGroupBox>(w, u"GBTarget"_s)->isVisible());
        EXPECT_EQ(Child<QLineEdit>(w, u"EditLink"_s)->text(), u"http://example.jp/a?b=c&d=e"_s);
        TypeInto(w, u"EditLink"_s, u"目次"_s);
        Press(w, u"BtnConfig"_s);
    });
    EXPECT_EQ(Syn()->text(), u"<A NAME=\"目次\">abc</A>"_s);

    Syn()->setText(u"abc"_s);
    SelectSource(0, 3);
    RunTool(TagCommand::JumpToAnchor, u"TFormLinkDialog"_s, [](QWidget *w) {
        EXPECT_EQ(Child<QGroupBox>(w, u"GBLink"_s)->title(), u"アンカー名"_s);
        Press(w, u"BtnConfig"_s);
    });
    EXPECT_EQ(Syn()->text(), u"<A HREF=\"#目次\">abc</A>"_s);

    RunTool(TagCommand::Hyperlink, u"TFormLinkDialog"_s, [](QWidget *w) {
        EXPECT_EQ(Child<QGroupBox>(w, u"GBLink"_s)->title(), u"URL"_s);
        EXPECT_TRUE(Child<QGroupBox>(w, u"GBTarget"_s)->isVisible());
        EXPECT_EQ(Child<QLineEdit>(w, u"EditLink"_s)->text(), u"目次"_s);
        EXPECT_TRUE(Child<QCheckBox>(w, u"CBTarget"_s)->isChecked());
        EXPECT_EQ(Child<QLineEdit>(w, u"EditTarget"_s)->text(), u"win"_s);
        Press(w, u"BtnCencel"_s);
    });
}

TEST_F(HtmlToolBarTest, LineBreakGoesBeforeTheSelectionWhichStays)
{
    OpenHtml(u"abc"_s);
    SelectSource(0, 3);
    RunTool(TagCommand::LineBreak);
    EXPECT_EQ(Syn()->text(), u"<BR>abc"_s);
    EXPECT_EQ(SourceCaret(), 4);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(HtmlToolBarTest, QuotationAndAddressWrapAtOnce)
{
    OpenHtml(u"abc"_s);
    SelectSource(1, 2);
    RunTool(TagCommand::Quotation);
    EXPECT_EQ(Syn()->text(), u"a<BLOCKQUOTE>b</BLOCKQUOTE>c"_s);
    SelectSource(0, 1);
    RunTool(TagCommand::Address);
    EXPECT_EQ(Syn()->text(), u"<ADDRESS>a</ADDRESS><BLOCKQUOTE>b</BLOCKQUOTE>c"_s);
}

TEST_F(HtmlToolBarTest, AJapaneseSelectionIsWrappedWhole)
{
    OpenHtml(u"<p>前置き日本語の文後</p>\r\n<p>二行目ｶﾅ</p>"_s);
    // The selection 日本語の文: three-byte characters in the editor.
    SelectSource(6, 11);
    RunTool(TagCommand::Address);
    EXPECT_EQ(Syn()->text(), u"<p>前置き<ADDRESS>日本語の文</ADDRESS>後</p>\r\n<p>二行目ｶﾅ</p>"_s);
    EXPECT_EQ(SourceCaret(), 6 + 9);
    // On the second line, after the first line's Japanese text.
    const int second = static_cast<int>(Syn()->text().indexOf(u"二行目"_s));
    SelectSource(second, second + 5);
    RunTool(TagCommand::Quotation);
    EXPECT_TRUE(Syn()->text().endsWith(u"<p><BLOCKQUOTE>二行目ｶﾅ</BLOCKQUOTE></p>"_s))
        << Syn()->text().toStdString();
    RunTool(TagCommand::LineBreak);
    EXPECT_TRUE(Syn()->text().endsWith(u"<p><BLOCKQUOTE><BR>二行目ｶﾅ</BLOCKQUOTE></p>"_s));
}

TEST_F(HtmlToolBarTest, OneUndoRestoresTheTextBeforeACommand)
{
    OpenHtml(u"日本abc"_s);
    SelectSource(0, 4);
    RunTool(TagCommand::Heading, u"TFormMidashiDialog"_s, [](QWidget *w) { Press(w, u"BtnOk"_s); });
    EXPECT_EQ(Syn()->text(), u"<H1>日本ab</H1>c"_s);
    SelectSource(0, 0);
    RunTool(TagCommand::LineBreak);
    EXPECT_EQ(Syn()->text(), u"<BR><H1>日本ab</H1>c"_s);
    Syn()->undo();
    EXPECT_EQ(Syn()->text(), u"<H1>日本ab</H1>c"_s);
    Syn()->undo();
    EXPECT_EQ(Syn()->text(), u"日本abc"_s);
    EXPECT_FALSE(Syn()->isUndoAvailable());
}

TEST_F(HtmlToolBarTest, ThePictureCommandCopiesEachInsertionUnderItsOwnName)
{
    const fs::path picture = TempDir() / "写真.JPG";
    WriteBytes(picture, std::string("\xFF\xD8picture bytes", 15));
    OpenHtml(u"<p>abc</p>"_s);
    SelectSource(3, 6);
    ChooseFile(u"OpenPictureDialog"_s, picture);
    RunTool(TagCommand::Picture);
    auto *dialog = form->findChild<QFileDialog *>(u"OpenPictureDialog"_s);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->nameFilters(), THtmlTagCommands::PictureFilters());
    EXPECT_EQ(dialog->nameFilters().front(), u"すべてのファイル (*.png *.jpg *.jpeg *.gif)"_s);
    SelectSource(0, 0);
    ChooseFile(u"OpenPictureDialog"_s, picture);
    RunTool(TagCommand::Picture);

    const std::vector<std::string> names = form->Draft().inlinePictures;
    ASSERT_EQ(names.size(), 2u);
    EXPECT_NE(names[0], names[1]);
    const QRegularExpression pattern(u"^image\\d{12}_[1-9]\\d{7}\\.JPG$"_s);
    for (const std::string &name : names) {
        EXPECT_TRUE(pattern.match(QString::fromStdString(name)).hasMatch()) << name;
        EXPECT_EQ(ReadBytes(PictureFolder() / name), ReadBytes(picture));
    }
    const QString first = QString::fromStdString(names[0]);
    const QString second = QString::fromStdString(names[1]);
    EXPECT_EQ(Syn()->text(),
              u"<img src=\"cid:"_s + second + u"\"><p><img src=\"cid:"_s + first + u"\">abc</p>"_s);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(HtmlToolBarTest, APictureThatCannotBeCopiedIsReportedAndNotReferred)
{
    OpenHtml(u"abc"_s);
    const fs::path picture = TempDir() / "p.png";
    WriteBytes(picture, "x");
    // The picture folder is not a folder: no copy can be made there.
    fs::remove_all(PictureFolder());
    WriteBytes(WorkFolder() / "HtmlImage", "");
    ChooseFile(u"OpenPictureDialog"_s, picture);
    RunTool(TagCommand::Picture);
    EXPECT_EQ(Syn()->text(), u"abc"_s);
    EXPECT_TRUE(form->Draft().inlinePictures.empty());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownBox::Error);
    EXPECT_TRUE(dialogs.shown[0].text.startsWith(u"画像を挿入できませんでした。\n"_s))
        << dialogs.shown[0].text.toStdString();
}

TEST_F(HtmlToolBarTest, ClosingAnyDialogChangesNothing)
{
    OpenHtml(u"abc"_s);
    struct Case
    {
        TagCommand command;
        QString dialog, cancel;
    };
    const Case cases[] = {
        {TagCommand::FontSize, u"TFormTagDialog"_s, u"BtnCencel"_s},
        {TagCommand::FontColor, u"TFormTagDialog"_s, u"BtnCencel"_s},
        {TagCommand::FontStyle, u"TFormTagDialog"_s, u"BtnCencel"_s},
        {TagCommand::Alignment, u"TFormTagDialog"_s, {}},
        {TagCommand::Hyperlink, u"TFormLinkDialog"_s, u"BtnCencel"_s},
        {TagCommand::Anchor, u"TFormLinkDialog"_s, {}},
        {TagCommand::JumpToAnchor, u"TFormLinkDialog"_s, u"BtnCencel"_s},
        {TagCommand::Picture, u"OpenPictureDialog"_s, {}},
        {TagCommand::Heading, u"TFormMidashiDialog"_s, u"BtnCancel"_s},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.dialog.toStdString());
        SelectSource(1, 2);
        bool shown = false;
        RunTool(c.command, c.dialog, [&](QWidget *w) {
            shown = true;
            if (c.cancel.isEmpty())
                w->close(); // the window's own close
            else
                Press(w, c.cancel);
        });
        EXPECT_TRUE(shown);
        EXPECT_EQ(Syn()->text(), u"abc"_s);
        EXPECT_FALSE(form->State().draftEdited);
    }
    EXPECT_TRUE(form->Draft().inlinePictures.empty());
    EXPECT_FALSE(Syn()->isUndoAvailable());
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(HtmlToolBarTest, CommandsActOnTheSourceWhileTheSubjectHasTheFocus)
{
    OpenHtml(u"abc"_s);
    SelectSource(0, 3);
    QLineEdit *title = Edit(u"EditTitle"_s);
    title->setFocus();
    QTest::keyClicks(title, u"subject"_s);
    RunTool(TagCommand::Quotation);
    EXPECT_TRUE(title->hasFocus());
    RunTool(TagCommand::FontSize, u"TFormTagDialog"_s, [](QWidget *w) { Press(w, u"BtnOk"_s); });
    EXPECT_EQ(Syn()->text(), u"<BLOCKQUOTE><FONT SIZE=1></FONT>abc</BLOCKQUOTE>"_s);
    EXPECT_EQ(title->text(), u"subject"_s);
}

TEST_F(HtmlToolBarTest, TheMenuEntriesRunTheCommandsAndCopyAndPasteUseTheClipboard)
{
    OpenHtml(u"one two"_s);
    SelectSource(4, 7);
    auto popup = [&](std::function<void(QMenu *)> action) {
        WhenPopup(u"PopupMenu"_s, std::move(action));
        QWidget *viewport = Syn()->viewport();
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                viewport->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(viewport, &event);
    };
    bool done = false;
    popup([&](QMenu *menu) {
        ClickEntry(menu, u"Copy1"_s);
        done = true;
    });
    QTRY_VERIFY(done);
    EXPECT_EQ(QApplication::clipboard()->text(), u"two"_s);

    QApplication::clipboard()->setText(u"X\nY"_s);
    SelectSource(0, 3);
    done = false;
    popup([&](QMenu *menu) {
        ClickEntry(menu, u"Paste1"_s);
        done = true;
    });
    QTRY_VERIFY(done);
    EXPECT_EQ(Syn()->text(), u"X\r\nY two"_s);
    EXPECT_TRUE(form->State().draftEdited);
    Syn()->undo();
    EXPECT_EQ(Syn()->text(), u"one two"_s);

    // A submenu entry runs its command.
    SelectSource(0, 3);
    done = false;
    popup([&](QMenu *menu) {
        menu->findChild<QAction *>(u"N20"_s)->trigger();
        menu->close();
        done = true;
    });
    QTRY_VERIFY(done);
    EXPECT_EQ(Syn()->text(), u"<BLOCKQUOTE>one</BLOCKQUOTE> two"_s);
}

} // namespace
} // namespace vostrel::test

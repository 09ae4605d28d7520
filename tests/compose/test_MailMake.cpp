// The compose window driven as the user drives it: names, send mode,
// attachments, the three pages, merge tags, text files and closing.
#include "../destinations/WindowDriver.h"
#include "ComposeDriver.h"

#include "compose/DraftFiles.h"
#include "compose/QsciEditor.h"
#include "core/AppState.h"
#include "core/SjisCodec.h"
#include "destinations/DestinationStore.h"
#include "send/MessageBuilder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStringEncoder>
#include <QTabWidget>
#include <QTest>
#include <QTextCursor>
#include <QToolButton>
#include <QTreeWidget>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <filesystem>

namespace vostrel::test {
namespace {

namespace fs = std::filesystem;
using namespace Qt::Literals::StringLiterals;

const QString kNoFocusNotice = u"テキストモードに切り替えて編集できる状態にしてください"_s;
const QString kToHtml =
    u"HTMLモードに切り替える場合、テキストモードで入力した内容は失われます。よろしいですか？"_s;
const QString kToText =
    u"テキストモードに切り替える場合、HTMLモードで入力した内容は失われます。よろしいですか？"_s;
const QString kBulkNotice = u"※「宛先ごとに送信」は宛先の方に宛先リストに含まれたアドレスがメール"
                            u"に表示されます。\n　メール送信の際はご注意ください"_s;
const QColor kSilver(0xC0, 0xC0, 0xC0);
const QString kSameName =
    u"同じ名前のファイル「%1」が既に添付されています。\n名前を変えてから添付してください。"_s;

using MailMakeTest = ComposeTest;

QRadioButton *Radio(QWidget *w, const QString &name)
{
    return Child<QRadioButton>(w, name);
}

TEST_F(MailMakeTest, ControlsCarryTheirNamesCaptionsAndHints)
{
    EXPECT_EQ(form->objectName(), u"TFormMailMake"_s);
    EXPECT_EQ(form->windowTitle(), u"メール作成"_s);
    for (const char *name : {"PNGBtnMailSend", "PNGBtnTextRead", "PNGBtnTextWrite", "PNGBtnClose",
                             "PNGBtnSender", "PNGBtnTo", "PNGBtnCc", "PNGBtnBcc", "PNGBtnAppended",
                             "PNGBtnReset", "PNGBtnMapLink", "PNGBtnSignature"}) {
        auto *button = Child<QToolButton>(form.get(), QString::fromLatin1(name));
        ASSERT_NE(button, nullptr);
        EXPECT_FALSE(button->icon().isNull()) << name;
        EXPECT_FALSE(button->toolTip().isEmpty()) << name;
    }
    const auto &labels = MergeTagLabels();
    const char *tagButtons[] = {"PNGBtn_Sashi_Name", "PNGBtn_Sashi_Ht", "PNGBtn_Sashi_Mail"};
    for (int i = 0; i < kMergeTagCount; ++i) {
        const QString name = i < 3 ? QString::fromLatin1(tagButtons[i])
                                   : u"PNGBtn_Sashi_"_s + QString::number(i - 2);
        auto *button = Child<QToolButton>(form.get(), name);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->toolTip(), SjisToQString(labels[i]));
        EXPECT_EQ(button->focusPolicy(), Qt::NoFocus);
    }
    EXPECT_EQ(Child<QToolButton>(form.get(), u"PNGBtn_Sashi_10"_s)->toolTip(), u"差込１０"_s);
    EXPECT_EQ(Child<QToolButton>(form.get(), u"PNGBtnMapLink"_s)->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(Child<QToolButton>(form.get(), u"PNGBtnSignature"_s)->focusPolicy(), Qt::NoFocus);

    QTabWidget *pages = Pages();
    EXPECT_EQ(pages->tabText(0), u" テキストモード "_s);
    EXPECT_EQ(pages->tabText(1), u" HTMLモード "_s);
    EXPECT_EQ(pages->tabText(2), u" ブラウザプレビュー "_s);
    EXPECT_EQ(pages->tabToolTip(0), u"テキストでメール本文を編集します"_s);
    EXPECT_EQ(pages->tabToolTip(2), u"ブラウザで表示されたプレビューを表示します"_s);
    EXPECT_EQ(Child<QCheckBox>(form.get(), u"CBCcOneSend"_s)->text(), u"１通目のみ送信"_s);
    EXPECT_EQ(Child<QCheckBox>(form.get(), u"CBHtml"_s)->text(), u"HTMLでメールを送信"_s);
    auto *interval = Child<QSpinBox>(form.get(), u"SpinEditInterbal"_s);
    EXPECT_EQ(interval->value(), 1000);
    EXPECT_EQ(interval->singleStep(), 1000);
    EXPECT_EQ(interval->maximum(), 100000);
    auto *change = Child<QSpinBox>(form.get(), u"SpinEditSenderChange"_s);
    EXPECT_EQ(change->minimum(), 1);
    EXPECT_EQ(change->maximum(), 100000);
    ASSERT_NE(Child<QWidget>(form.get(), u"PanelHtmlTool"_s), nullptr);
    // The source editor numbers its lines and colours HTML.
    EXPECT_EQ(Syn()->marginType(0), QsciScintilla::NumberMargin);
    ASSERT_NE(Syn()->lexer(), nullptr);
    EXPECT_STREQ(Syn()->lexer()->language(), "HTML");
    // The browser is made on first use only.
    EXPECT_EQ(form->findChild<QWebEngineView *>(), nullptr);
    EXPECT_TRUE(fs::exists(HtmlTemplateFile()));
}

TEST_F(MailMakeTest, ANewMailStartsFromTheDefaultsButKeepsTheInterval)
{
    Open();
    EXPECT_TRUE(closeQuestion->KeepDraft());
    EXPECT_TRUE(Radio(form.get(), u"RBIndividual"_s)->isChecked());
    EXPECT_TRUE(Child<QCheckBox>(form.get(), u"CBCcOneSend"_s)->isChecked());
    EXPECT_TRUE(Child<QCheckBox>(form.get(), u"CBBccOneSend"_s)->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(form.get(), u"CBHtml"_s)->isChecked());
    EXPECT_EQ(Page(), ComposePage::Text);
    for (const char *name : {"EditCc", "EditBcc"})
        EXPECT_EQ(Edit(QString::fromLatin1(name))->palette().color(QPalette::Base), kSilver);
    EXPECT_EQ(Edit(u"EditTo"_s)->palette().color(QPalette::Base),
              QApplication::palette(Edit(u"EditTo"_s)).color(QPalette::Base));
    EXPECT_FALSE(form->State().draftEdited);
    EXPECT_TRUE(form->State().askOnClose);

    Child<QSpinBox>(form.get(), u"SpinEditInterbal"_s)->setValue(3000);
    Child<QSpinBox>(form.get(), u"SpinEditSenderChange"_s)->setValue(7);
    Child<QCheckBox>(form.get(), u"CBCcOneSend"_s)->setChecked(false);
    Radio(form.get(), u"RBBulk"_s)->setChecked(true);
    dialogs.Clear();
    QTest::keyClicks(Memo(), u"typed"_s);
    QTest::keyClicks(Edit(u"EditTitle"_s), u"subject"_s);
    EXPECT_TRUE(form->State().draftEdited);
    CloseKeeping(false);
    EXPECT_FALSE(closeQuestion->KeepDraft());

    Open();
    EXPECT_TRUE(Memo()->toPlainText().isEmpty());
    EXPECT_TRUE(Edit(u"EditTitle"_s)->text().isEmpty());
    EXPECT_EQ(Child<QSpinBox>(form.get(), u"SpinEditSenderChange"_s)->value(), 1);
    EXPECT_EQ(Child<QSpinBox>(form.get(), u"SpinEditInterbal"_s)->value(), 3000);
    EXPECT_TRUE(Child<QCheckBox>(form.get(), u"CBCcOneSend"_s)->isChecked());
    EXPECT_TRUE(Radio(form.get(), u"RBIndividual"_s)->isChecked());
    EXPECT_FALSE(form->State().draftEdited);
    EXPECT_TRUE(dialogs.shown.empty());
}

// ---- Names ----

TEST_F(MailMakeTest, AListNameWithSpacesSurvivesThePickerRoundTrip)
{
    MakeList("My List", true, false, false, {{"一", "1@example.jp"}});
    MakeList("得意先 A", true, false, false, {{"二", "2@example.jp"}});
    Open();
    const auto first = Pick(u"PNGBtnTo"_s, {u"My List"_s, u"得意先 A"_s});
    EXPECT_TRUE(first.chosenBefore.isEmpty());
    EXPECT_EQ(Edit(u"EditTo"_s)->text(), u"My List,得意先 A"_s);
    EXPECT_EQ(form->Draft().toLists, S("My List,得意先 A"));
    EXPECT_EQ(BuildSendJob(form->Draft()).toLists,
              (std::vector<std::string>{"My List", S("得意先 A")}));

    // Back into the picker: the two names, whole; cancelling changes nothing.
    const auto again = Pick(u"PNGBtnTo"_s, {}, false);
    EXPECT_EQ(again.chosenBefore, (QStringList{u"My List"_s, u"得意先 A"_s}));
    EXPECT_EQ(Edit(u"EditTo"_s)->text(), u"My List,得意先 A"_s);
    EXPECT_TRUE(picker->ChosenNames().empty());
}

TEST_F(MailMakeTest, EachPickerHasItsCaptions)
{
    MakeSenderFile("本店");
    MakeList("all", true, true, true, {{"一", "1@example.jp"}});
    Open();
    struct Case
    {
        QString button, field, title, left, right;
    };
    const Case cases[] = {
        {u"PNGBtnSender"_s, u"EditSender"_s, u"送信元リスト"_s, u"送信元"_s, u"使用する送信元"_s},
        {u"PNGBtnTo"_s, u"EditTo"_s, u"宛先リスト"_s, u"宛先リスト"_s, u"使用する宛先リスト"_s},
        {u"PNGBtnCc"_s, u"EditCc"_s, u"Ｃｃリスト"_s, u"Ｃｃリスト"_s, u"使用するＣｃリスト"_s},
        {u"PNGBtnBcc"_s, u"EditBcc"_s, u"Ｂｃｃリスト"_s, u"Ｂｃｃリスト"_s,
         u"使用するＢｃｃリスト"_s},
    };
    for (const Case &c : cases) {
        const auto view = Pick(c.button, {c.field == u"EditSender"_s ? u"本店"_s : u"all"_s});
        EXPECT_EQ(view.title, c.title);
        EXPECT_EQ(view.left, c.left);
        EXPECT_EQ(view.right, c.right);
        EXPECT_FALSE(Edit(c.field)->text().isEmpty()) << c.field.toStdString();
    }
    EXPECT_EQ(form->Draft().senders, S("本店"));
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(MailMakeTest, CcAndBccAreSilverWhileEmptyAndTheRadioCaptionsFollowTheMainField)
{
    MakeList("to", true, false, false, {{"一", "1@example.jp"}});
    MakeList("cb", false, true, true, {{"二", "2@example.jp"}});
    Open();
    QRadioButton *individual = Radio(form.get(), u"RBIndividual"_s);
    QRadioButton *bulk = Radio(form.get(), u"RBBulk"_s);
    const QColor normal = QApplication::palette(Edit(u"EditCc"_s)).color(QPalette::Base);

    Pick(u"PNGBtnCc"_s, {u"cb"_s});
    EXPECT_EQ(Edit(u"EditCc"_s)->palette().color(QPalette::Base), normal);
    Pick(u"PNGBtnBcc"_s, {u"cb"_s});
    EXPECT_EQ(Edit(u"EditBcc"_s)->palette().color(QPalette::Base), normal);
    EXPECT_EQ(individual->text(), u"BCCを個別で送信"_s);
    EXPECT_EQ(bulk->text(), u"BCCごとに送信"_s);
    EXPECT_TRUE(individual->isChecked());

    Pick(u"PNGBtnTo"_s, {u"to"_s});
    EXPECT_EQ(individual->text(), u"宛先を個別で送信"_s);
    EXPECT_EQ(bulk->text(), u"宛先ごとに送信"_s);

    // Emptying the Cc field in the picker turns it silver again.
    WhenModal(u"TFormAddMailList"_s, [](QWidget *w) {
        auto *right = w->findChild<QTreeWidget *>(u"ListViewConfigList"_s);
        right->setCurrentItem(right->topLevelItem(0));
        QTest::mouseClick(w->findChild<QAbstractButton *>(u"PNGBtnDelete"_s), Qt::LeftButton);
        QTest::mouseClick(w->findChild<QAbstractButton *>(u"BtnConfig"_s), Qt::LeftButton);
    });
    Click(u"PNGBtnCc"_s);
    EXPECT_TRUE(Edit(u"EditCc"_s)->text().isEmpty());
    EXPECT_EQ(Edit(u"EditCc"_s)->palette().color(QPalette::Base), kSilver);
}

TEST_F(MailMakeTest, CheckingPerListSendingShowsTheNoticeOnce)
{
    MakeList("b", false, false, true, {{"一", "1@example.jp"}});
    Open();
    QRadioButton *bulk = Radio(form.get(), u"RBBulk"_s);
    QTest::mouseClick(bulk, Qt::LeftButton);
    EXPECT_EQ(dialogs.Texts(), QStringList{kBulkNotice});
    QTest::mouseClick(bulk, Qt::LeftButton);
    EXPECT_EQ(dialogs.shown.size(), 1u);
    // The same words while the buttons carry the BCC captions.
    QTest::mouseClick(Radio(form.get(), u"RBIndividual"_s), Qt::LeftButton);
    Pick(u"PNGBtnBcc"_s, {u"b"_s});
    EXPECT_EQ(bulk->text(), u"BCCごとに送信"_s);
    QTest::mouseClick(bulk, Qt::LeftButton);
    EXPECT_EQ(dialogs.Texts(), (QStringList{kBulkNotice, kBulkNotice}));
    EXPECT_FALSE(form->Draft().sendIndividually);
}

// ---- Attachments ----

// A second file of an attached name would leave recipients with one of the
// two under that name: it is refused, named, and nothing changes.
TEST_F(MailMakeTest, AttachmentsAreCopiedUnderTheirNamesAndNeverOverwritten)
{
    fs::create_directories(TempDir() / "one");
    fs::create_directories(TempDir() / "two");
    WriteBytes(TempDir() / "a,b.txt", "comma");
    WriteBytes(TempDir() / "one" / "見積書.pdf", "first");
    WriteBytes(TempDir() / "two" / "見積書.pdf", "second");
    Open();
    for (const fs::path &file : {TempDir() / "a,b.txt", TempDir() / "one" / "見積書.pdf",
                                 TempDir() / "two" / "見積書.pdf"}) {
        ChooseFile(u"OpenDialog"_s, file);
        Click(u"PNGBtnAppended"_s);
    }
    EXPECT_EQ(Edit(u"EditAppended"_s)->text(), u"a，b.txt,見積書.pdf"_s);
    EXPECT_EQ(ReadBytes(AttachmentFolder() / "a，b.txt"), "comma");
    EXPECT_EQ(ReadBytes(AttachmentFolder() / "見積書.pdf"), "first");
    EXPECT_EQ(BuildSendJob(form->Draft()).attachments,
              (std::vector<std::string>{S("a，b.txt"), S("見積書.pdf")}));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownBox::Warning);
    EXPECT_EQ(dialogs.shown[0].text, kSameName.arg(u"見積書.pdf"_s));
    dialogs.Clear();

    Click(u"PNGBtnReset"_s);
    EXPECT_TRUE(Edit(u"EditAppended"_s)->text().isEmpty());
    EXPECT_FALSE(fs::exists(AttachmentFolder() / "a，b.txt"));
    EXPECT_FALSE(fs::exists(AttachmentFolder() / "x.pdf"));
    // Again with nothing attached: nothing happens, nothing is said.
    WriteBytes(AttachmentFolder() / "stranger.txt", "not listed");
    Click(u"PNGBtnReset"_s);
    EXPECT_TRUE(Edit(u"EditAppended"_s)->text().isEmpty());
    EXPECT_TRUE(fs::exists(AttachmentFolder() / "stranger.txt"));
    EXPECT_TRUE(dialogs.shown.empty());
}

// Several files chosen at once are all attached, in order; among them, one
// whose name is listed already is refused and named, the others go in.
TEST_F(MailMakeTest, SeveralChosenFilesAreAllAttached)
{
    fs::create_directories(TempDir() / "old");
    WriteBytes(TempDir() / "old" / "b.txt", "older b");
    for (const char *name : {"a.txt", "b.txt", "c 1.pdf"})
        WriteBytes(TempDir() / name, name);
    Open();
    ChooseFile(u"OpenDialog"_s, TempDir() / "old" / "b.txt");
    Click(u"PNGBtnAppended"_s);
    ChooseFiles(u"OpenDialog"_s, {TempDir() / "a.txt", TempDir() / "b.txt", TempDir() / "c 1.pdf"});
    Click(u"PNGBtnAppended"_s);
    EXPECT_EQ(Edit(u"EditAppended"_s)->text(), u"b.txt,a.txt,c 1.pdf"_s);
    EXPECT_EQ(ReadBytes(AttachmentFolder() / "a.txt"), "a.txt");
    EXPECT_EQ(ReadBytes(AttachmentFolder() / "b.txt"), "older b");
    EXPECT_EQ(ReadBytes(AttachmentFolder() / "c 1.pdf"), "c 1.pdf");
    EXPECT_EQ(dialogs.Texts(), QStringList{kSameName.arg(u"b.txt"_s)});
}

// A copy of the name that no draft lists (left by a restore, say) never goes
// out in place of the chosen file.
TEST_F(MailMakeTest, ALeftoverCopyOfTheNameGivesWayToTheChosenFile)
{
    WriteBytes(TempDir() / "見積書.pdf", "new");
    Open();
    WriteBytes(AttachmentFolder() / "見積書.pdf", "old");
    ChooseFile(u"OpenDialog"_s, TempDir() / "見積書.pdf");
    Click(u"PNGBtnAppended"_s);
    EXPECT_EQ(Edit(u"EditAppended"_s)->text(), u"見積書.pdf"_s);
    EXPECT_EQ(ReadBytes(AttachmentFolder() / "見積書.pdf"), "new");
    EXPECT_TRUE(dialogs.shown.empty());

    // Choosing the copy itself attaches it as it is.
    Click(u"PNGBtnReset"_s);
    WriteBytes(AttachmentFolder() / "見積書.pdf", "kept");
    ChooseFile(u"OpenDialog"_s, AttachmentFolder() / "見積書.pdf");
    Click(u"PNGBtnAppended"_s);
    EXPECT_EQ(Edit(u"EditAppended"_s)->text(), u"見積書.pdf"_s);
    EXPECT_EQ(ReadBytes(AttachmentFolder() / "見積書.pdf"), "kept");
}

TEST_F(MailMakeTest, AFailedCopyIsReportedAndNotListed)
{
    WriteBytes(TempDir() / "report.pdf", "data");
    Open();
    fs::remove_all(AttachmentFolder());
    ChooseFile(u"OpenDialog"_s, TempDir() / "report.pdf");
    Click(u"PNGBtnAppended"_s);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownBox::Error);
    EXPECT_TRUE(dialogs.shown[0].text.startsWith(u"ファイルを添付できませんでした。\n"_s));
    EXPECT_TRUE(dialogs.shown[0].text.contains(u"AppendedImage/report.pdf"_s));
    EXPECT_TRUE(Edit(u"EditAppended"_s)->text().isEmpty());
}

// ---- Pages ----

TEST_F(MailMakeTest, TextToHtmlAnsweredNoKeepsTheText)
{
    Open();
    QTest::keyClicks(Memo(), u"hello"_s);
    dialogs.Answer(false);
    ClickPage(ComposePage::Html);
    EXPECT_EQ(dialogs.Texts(), QStringList{kToHtml});
    EXPECT_EQ(Page(), ComposePage::Text);
    EXPECT_EQ(Memo()->toPlainText(), u"hello"_s);
    EXPECT_FALSE(Child<QCheckBox>(form.get(), u"CBHtml"_s)->isChecked());
    EXPECT_TRUE(Syn()->text().isEmpty());

    dialogs.Answer(true);
    ClickPage(ComposePage::Html);
    EXPECT_EQ(Page(), ComposePage::Html);
    EXPECT_TRUE(Memo()->toPlainText().isEmpty());
    EXPECT_EQ(Syn()->text(), SjisToQString(DefaultHtmlTemplate()));
    EXPECT_TRUE(Child<QCheckBox>(form.get(), u"CBHtml"_s)->isChecked());
    EXPECT_EQ(BuildSendJob(form->Draft()).body, DefaultHtmlTemplate());
}

TEST_F(MailMakeTest, UneditedDraftsSwitchWithoutAQuestion)
{
    Open();
    ClickPage(ComposePage::Html);
    EXPECT_EQ(Page(), ComposePage::Html);
    EXPECT_FALSE(form->State().draftEdited); // loading the template is no edit
    ClickPage(ComposePage::Text);
    EXPECT_EQ(Page(), ComposePage::Text);
    EXPECT_TRUE(Syn()->text().isEmpty());
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(MailMakeTest, HtmlPreviewHtmlKeepsSourceAndPictures)
{
    Open();
    ClickPage(ComposePage::Html);
    Syn()->setFocus();
    Syn()->SendScintilla(QsciScintilla::SCI_DOCUMENTEND);
    TypeText(Syn(), u"<p>本文</p>"_s);
    EXPECT_TRUE(form->State().draftEdited);
    const QString source = Syn()->text();
    WriteBytes(PictureFolder() / "image1.png", "png");
    form->AddInlinePicture("image1.png");

    ClickPage(ComposePage::Preview);
    EXPECT_TRUE(form->State().previewShown);
    ClickPage(ComposePage::Html);
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(Syn()->text(), source);
    EXPECT_TRUE(fs::exists(PictureFolder() / "image1.png"));
    EXPECT_EQ(form->Draft().inlinePictures, std::vector<std::string>{"image1.png"});
    EXPECT_FALSE(form->State().previewShown);
    EXPECT_EQ(form->State().lastEditPage, ComposePage::Html);
}

TEST_F(MailMakeTest, HtmlPreviewTextAsksAndEmptiesButKeepsPicturesUntilHtmlStartsAfresh)
{
    Open();
    ClickPage(ComposePage::Html);
    Syn()->setFocus();
    TypeText(Syn(), u"edit"_s);
    WriteBytes(PictureFolder() / "image1.png", "png");
    form->AddInlinePicture("image1.png");
    ClickPage(ComposePage::Preview);

    dialogs.Answer(false);
    ClickPage(ComposePage::Text);
    EXPECT_EQ(Page(), ComposePage::Html); // back to the page before the preview
    EXPECT_FALSE(Syn()->text().isEmpty());

    ClickPage(ComposePage::Preview);
    dialogs.Answer(true);
    ClickPage(ComposePage::Text);
    EXPECT_EQ(dialogs.Texts(), (QStringList{kToText, kToText}));
    EXPECT_EQ(Page(), ComposePage::Text);
    EXPECT_TRUE(Syn()->text().isEmpty());
    EXPECT_FALSE(Child<QCheckBox>(form.get(), u"CBHtml"_s)->isChecked());
    EXPECT_TRUE(fs::exists(PictureFolder() / "image1.png"));
    EXPECT_EQ(form->Draft().inlinePictures, std::vector<std::string>{"image1.png"});

    // HTML mode afresh: the question again (the draft stays edited), then the
    // pictures go.
    dialogs.Answer(true);
    ClickPage(ComposePage::Html);
    EXPECT_FALSE(fs::exists(PictureFolder() / "image1.png"));
    EXPECT_TRUE(form->Draft().inlinePictures.empty());
    EXPECT_EQ(dialogs.Texts().last(), kToHtml);
}

// ---- Preview ----

// Waits for the browser's next load and returns the page's text.
QString RenderedText(QWebEngineView *view, QSignalSpy &loads)
{
    if (loads.isEmpty() && !loads.wait(20000))
        return u"(no load)"_s;
    QString text = u"(no text)"_s;
    bool done = false;
    view->page()->toPlainText([&](const QString &t) {
        text = t;
        done = true;
    });
    for (int waited = 0; !done && waited < 10000; waited += 10)
        QTest::qWait(10);
    return text;
}

TEST_F(MailMakeTest, ThePreviewShowsTheSourceConvertedAndPointingAtLocalPictures)
{
    Open();
    ClickPage(ComposePage::Preview); // in text mode: a blank page
    auto *view = form->findChild<QWebEngineView *>(u"WebBrowser"_s);
    ASSERT_NE(view, nullptr);
    QSignalSpy loads(view, &QWebEngineView::loadFinished);
    EXPECT_EQ(ReadBytes(PreviewFile()), "");
    EXPECT_EQ(RenderedText(view, loads), QString());
    EXPECT_EQ(view->url(), QUrl::fromLocalFile(QString::fromStdString(PreviewFile().native())));

    ClickPage(ComposePage::Html);
    const QString source = u"<html><head><meta charset=\"utf-8\"></head><body><p>日本語の本文</p>"
                           u"<img src=\"cid:image1.png\"> cid:</body></html>"_s;
    Syn()->setText(source);
    loads.clear();
    ClickPage(ComposePage::Preview);
    const QString rendered = RenderedText(view, loads);
    EXPECT_TRUE(rendered.contains(u"日本語の本文"_s)) << rendered.toStdString();
    const std::string file = ReadBytes(PreviewFile());
    EXPECT_NE(file.find("日本語の本文"), std::string::npos); // UTF-8 now
    EXPECT_EQ(file.find("cid:"), std::string::npos);
    EXPECT_NE(file.find("<img src=\"file://"), std::string::npos);
    EXPECT_EQ(Syn()->text(), source); // the editor keeps "cid:"

    // A page declaring Shift_JIS is written as it is and shows the same text.
    ClickPage(ComposePage::Html);
    Syn()->setText(u"<meta charset=\"Shift_JIS\"><p>日本語の本文</p>"_s);
    loads.clear();
    ClickPage(ComposePage::Preview);
    EXPECT_TRUE(RenderedText(view, loads).contains(u"日本語の本文"_s));
    EXPECT_EQ(ReadBytes(PreviewFile()), S("<meta charset=\"Shift_JIS\"><p>日本語の本文</p>"));
}

TEST_F(MailMakeTest, ThePreviewCanShowOneRecipientsValuesWithoutChangingTheDraft)
{
    MakeList("顧客", true, false, false, {{"山田", "y@example.jp"}, {"佐藤", "s@example.jp"}});
    Open();
    Pick(u"PNGBtnTo"_s, {u"顧客"_s});
    ClickPage(ComposePage::Html);
    const QString source = u"<meta charset=\"utf-8\"><p><#-送信先名-><#-敬称-> <#-差込２-></p>"_s;
    Syn()->setText(source);
    ClickPage(ComposePage::Preview);
    auto *panel = Child<QWidget>(form.get(), u"PanelPreviewRecipient"_s);
    auto *combo = Child<QComboBox>(form.get(), u"ComboBoxPreviewRecipient"_s);
    EXPECT_TRUE(panel->isVisible());
    ASSERT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->currentIndex(), 0);
    EXPECT_EQ(combo->itemText(2), u"顧客: 佐藤 <s@example.jp>"_s);
    // As typed first.
    EXPECT_NE(ReadBytes(PreviewFile()).find("<#-送信先名->"), std::string::npos);

    combo->setCurrentIndex(2);
    Q_EMIT combo->activated(2);
    EXPECT_NE(ReadBytes(PreviewFile()).find("<p>佐藤様 佐藤-2</p>"), std::string::npos);
    EXPECT_EQ(Syn()->text(), source);
    EXPECT_EQ(form->Draft().htmlBody, QStringToSjis(source));

    // A source without tags has no choice to make.
    ClickPage(ComposePage::Html);
    Syn()->setText(u"<p>plain</p>"_s);
    ClickPage(ComposePage::Preview);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(ReadBytes(PreviewFile()), "<p>plain</p>");
}

// The page with a recipient's values stays while the window is open (also
// when closing is refused) and goes when it closes, the draft kept or not.
TEST_F(MailMakeTest, ThePreviewPageGoesWhenTheWindowCloses)
{
    MakeList("顧客", true, false, false, {{"山田", "y@example.jp"}});
    for (bool keep : {true, false}) {
        SCOPED_TRACE(keep ? "draft kept" : "draft dropped");
        Open();
        Pick(u"PNGBtnTo"_s, {u"顧客"_s});
        ClickPage(ComposePage::Html);
        Syn()->setText(u"<meta charset=\"utf-8\"><p><#-送信先名-></p>"_s);
        ClickPage(ComposePage::Preview);
        auto *combo = Child<QComboBox>(form.get(), u"ComboBoxPreviewRecipient"_s);
        combo->setCurrentIndex(1);
        Q_EMIT combo->activated(1);
        ASSERT_NE(ReadBytes(PreviewFile()).find("<p>山田</p>"), std::string::npos);

        WhenModal(u"TFormMailMakeMsg_Close"_s, [](QWidget *w) {
            QTest::mouseClick(w->findChild<QAbstractButton *>(u"BtnCancel"_s), Qt::LeftButton);
        });
        Click(u"PNGBtnClose"_s);
        ASSERT_TRUE(form->isVisible());
        EXPECT_TRUE(fs::exists(PreviewFile()));

        CloseKeeping(keep);
        EXPECT_FALSE(fs::exists(PreviewFile()));
    }
}

// ---- Merge tags ----

TEST_F(MailMakeTest, AMergeTagWithNoEditorFocusedChangesNothing)
{
    Open();
    Child<QSpinBox>(form.get(), u"SpinEditInterbal"_s)->setFocus();
    Click(u"PNGBtn_Sashi_Name"_s);
    EXPECT_EQ(dialogs.Texts(), QStringList{kNoFocusNotice});
    EXPECT_TRUE(Memo()->toPlainText().isEmpty());
    EXPECT_TRUE(Edit(u"EditTitle"_s)->text().isEmpty());
    EXPECT_FALSE(form->State().draftEdited);

    // The text memo focused but the HTML page shown: the memo is not the
    // active page's editor.
    dialogs.Clear();
    ClickPage(ComposePage::Html);
    Memo()->setFocus();
    Click(u"PNGBtn_Sashi_1"_s);
    EXPECT_EQ(dialogs.Texts(), QStringList{kNoFocusNotice});
    ClickPage(ComposePage::Preview);
    Click(u"PNGBtn_Sashi_1"_s);
    EXPECT_EQ(dialogs.Texts(), (QStringList{kNoFocusNotice, kNoFocusNotice}));
}

TEST_F(MailMakeTest, AMergeTagReplacesTheSelectionOfTheFocusedEditorWhichKeepsTheFocus)
{
    Open();
    QLineEdit *title = Edit(u"EditTitle"_s);
    title->setFocus();
    QTest::keyClicks(title, u"Dear NAME!"_s);
    title->setSelection(5, 4);
    Click(u"PNGBtn_Sashi_1"_s);
    EXPECT_EQ(title->text(), u"Dear <#-差込１->!"_s);
    EXPECT_TRUE(title->hasFocus());

    Memo()->setFocus();
    QTest::keyClicks(Memo(), u"Hello , bye"_s);
    QTextCursor cursor = Memo()->textCursor();
    cursor.setPosition(6);
    Memo()->setTextCursor(cursor);
    Click(u"PNGBtn_Sashi_Name"_s);
    Click(u"PNGBtn_Sashi_Ht"_s);
    EXPECT_EQ(Memo()->toPlainText(), u"Hello <#-送信先名-><#-敬称->, bye"_s);
    EXPECT_TRUE(Memo()->hasFocus());

    // The subject takes tags on any page.
    ClickPage(ComposePage::Preview);
    title->setFocus();
    title->setCursorPosition(0);
    Click(u"PNGBtn_Sashi_Mail"_s);
    EXPECT_EQ(title->text(), u"<#-メールアドレス->Dear <#-差込１->!"_s);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(MailMakeTest, AMergeTagGoesIntoTheSourceEditorAsAnEdit)
{
    Open();
    ClickPage(ComposePage::Html);
    EXPECT_FALSE(form->State().draftEdited);
    Syn()->setText(u"<p>NAME</p>"_s);
    Syn()->setFocus();
    Syn()->setSelection(0, 3, 0, 7);
    Click(u"PNGBtn_Sashi_10"_s);
    EXPECT_EQ(Syn()->text(), u"<p><#-差込１０-></p>"_s);
    EXPECT_TRUE(form->State().draftEdited);
    EXPECT_TRUE(Syn()->hasFocus());
    // The edit can be undone; the template load before it cannot.
    Syn()->undo();
    EXPECT_EQ(Syn()->text(), u"<p>NAME</p>"_s);
    EXPECT_FALSE(Syn()->isUndoAvailable());
    EXPECT_TRUE(dialogs.shown.empty());
}

// ---- Text files ----

TEST_F(MailMakeTest, TextFilesNeedAnEditingPage)
{
    Open();
    ClickPage(ComposePage::Preview);
    Click(u"PNGBtnTextRead"_s);
    Click(u"PNGBtnTextWrite"_s);
    EXPECT_EQ(
        dialogs.Texts(),
        (QStringList{
            u"テキストを読み込むにはテキストモード又はHTMLモードを表示する必要があります"_s,
            u"テキストを保存するにはテキストモード又はHTMLモードを表示する必要があります"_s}));
}

TEST_F(MailMakeTest, TheTextPageReadsAndWritesShiftJisLines)
{
    const fs::path in = TempDir() / "in.txt";
    WriteBytes(in, S("一行目\r\n二行目 <#-送信先名->\r\n"));
    Open();
    QTest::keyClicks(Memo(), u"old"_s);

    ChooseFile(u"OpenDialogText"_s, in);
    dialogs.Answer(false);
    Click(u"PNGBtnTextRead"_s);
    EXPECT_EQ(Memo()->toPlainText(), u"old"_s);

    ChooseFile(u"OpenDialogText"_s, in);
    dialogs.Answer(true);
    Click(u"PNGBtnTextRead"_s);
    EXPECT_EQ(Memo()->toPlainText(), u"一行目\n二行目 <#-送信先名->\n"_s);
    EXPECT_EQ(form->Draft().textBody, S("一行目\r\n二行目 <#-送信先名->\r\n"));
    EXPECT_EQ(
        dialogs.Texts(),
        (QStringList{u"現在の文章を破棄してテキストファイルを読み込みます。よろしいですか？"_s,
                     u"現在の文章を破棄してテキストファイルを読み込みます。よろしいですか？"_s,
                     u"テキストファイルを読み込みました"_s}));

    dialogs.Clear();
    const fs::path out = TempDir() / "out.txt";
    WriteBytes(out, "an older, longer file that is replaced");
    fs::permissions(out, fs::perms(0640)); // the user's file keeps its mode
    ChooseFile(u"SaveDialogText"_s, out);
    Click(u"PNGBtnTextWrite"_s);
    EXPECT_EQ(ReadBytes(out), ReadBytes(in));
    EXPECT_EQ(fs::status(out).permissions(), fs::perms(0640));
    EXPECT_EQ(dialogs.Texts(), QStringList{u"テキストファイルを保存しました"_s});
}

struct HtmlFileCase
{
    const char *name;
    const char *codec;
    const char *bom;
};

TEST_F(MailMakeTest, TheHtmlPageWritesBackInTheEncodingItRead)
{
    const QString content = u"<html>\r\n<p>日本語 ｶﾅ ①</p>\n<#-送信先名->\r\n</html>"_s;
    const HtmlFileCase cases[] = {
        {"sjis.txt", "Shift_JIS", ""},           {"utf8.txt", "UTF-8", "\xEF\xBB\xBF"},
        {"utf8-unmarked.txt", "UTF-8", ""},      {"utf16le.txt", "UTF-16LE", "\xFF\xFE"},
        {"utf16be.txt", "UTF-16BE", "\xFE\xFF"},
    };
    Open();
    ClickPage(ComposePage::Html);
    for (const HtmlFileCase &c : cases) {
        const QString text = content + QString::fromLatin1(c.name);
        QStringEncoder encoder(c.codec);
        const std::string bytes =
            std::string(c.bom) + QByteArray(encoder.encode(text)).toStdString();
        const fs::path in = TempDir() / c.name;
        WriteBytes(in, bytes);
        ChooseFile(u"OpenDialogText"_s, in);
        dialogs.Answer(true);
        Click(u"PNGBtnTextRead"_s);
        EXPECT_EQ(Syn()->text(), text) << c.name;
        EXPECT_FALSE(form->State().draftEdited) << c.name; // a loaded file is no edit

        const fs::path out = TempDir() / (std::string("out-") + c.name);
        ChooseFile(u"SaveDialogText"_s, out);
        Click(u"PNGBtnTextWrite"_s);
        EXPECT_EQ(ReadBytes(out), bytes) << c.name;
    }
    EXPECT_EQ(dialogs.Texts().count(u"テキストファイルを保存しました"_s), 5);
}

TEST_F(MailMakeTest, TheTemplatesEncodingAppliesAndUtf16LeWhenNothingWasLoaded)
{
    Open();
    ClickPage(ComposePage::Html); // html.txt, Shift_JIS
    const fs::path first = TempDir() / "first.txt";
    ChooseFile(u"SaveDialogText"_s, first);
    Click(u"PNGBtnTextWrite"_s);
    EXPECT_EQ(ReadBytes(first), DefaultHtmlTemplate());

    // Without a template nothing is loaded into a fresh window's editor.
    fs::remove(HtmlTemplateFile());
    form.reset();
    fs::remove(HtmlTemplateFile()); // the window writes it anew when made
    form = std::make_unique<TFormMailMake>();
    fs::remove(HtmlTemplateFile());
    TFormMailMake::Links links;
    links.picker = picker.get();
    links.closeQuestion = closeQuestion.get();
    closeQuestion->SetKeepDraft(false);
    form->SetLinks(links);
    Open();
    ClickPage(ComposePage::Html);
    EXPECT_TRUE(Syn()->text().isEmpty());
    Syn()->setText(u"<p>日本</p>"_s);
    const fs::path second = TempDir() / "second.txt";
    ChooseFile(u"SaveDialogText"_s, second);
    Click(u"PNGBtnTextWrite"_s);
    EXPECT_EQ(ReadBytes(second), std::string("\xFF\xFE<\0p\0>\0\xE5\x65\x2C\x67<\0/\0p\0>\0", 20));
}

TEST_F(MailMakeTest, TheTextPageReadsUtf8FilesOfOtherEditors)
{
    const struct
    {
        const char *name;
        std::string bytes;
        QString text;
    } cases[] = {
        // Valid code page 932 too: read as such it was 縺薙ｓ縺ｫ縺｡縺ｯ.
        {"hello.txt", "こんにちは\n", u"こんにちは\n"_s},
        {"lines.txt", "一行目\n二行目 ｶﾅ ① <#-送信先名->\n",
         u"一行目\n二行目 ｶﾅ ① <#-送信先名->\n"_s},
        {"marked.txt",
         "\xEF\xBB\xBF"
         "髙橋様\r\n",
         u"髙橋様\n"_s},
        {"sjis.txt", S("山田です\r\n"), u"山田です\n"_s},
    };
    Open();
    for (const auto &c : cases) {
        const fs::path in = TempDir() / c.name;
        WriteBytes(in, c.bytes);
        ChooseFile(u"OpenDialogText"_s, in);
        dialogs.Answer(true);
        Click(u"PNGBtnTextRead"_s);
        EXPECT_EQ(Memo()->toPlainText(), c.text) << c.name;
        EXPECT_EQ(dialogs.Texts().last(), u"テキストファイルを読み込みました"_s) << c.name;
    }
    // The text page saves Shift_JIS, whatever it read.
    const fs::path out = TempDir() / "out.txt";
    ChooseFile(u"SaveDialogText"_s, out);
    Click(u"PNGBtnTextWrite"_s);
    EXPECT_EQ(ReadBytes(out), S("山田です\r\n"));
}

TEST_F(MailMakeTest, UnreadableContentIsNamedByFileLineAndCharacterAndReplacesNothing)
{
    const struct
    {
        const char *name;
        std::string bytes;
        QString reason;
    } cases[] = {
        {"emoji.txt", "一行目\n二行目\n三行目😀\n",
         u"3 行目の「😀」(U+1F600) はこのソフトで扱えない文字です。"_s},
        {"marked-emoji.txt",
         "\xEF\xBB\xBF"
         "a\r\n😀",
         u"2 行目の「😀」(U+1F600) はこのソフトで扱えない文字です。"_s},
        {"gaiji.txt", S("一行目\r\n外字") + "\xF0\x40\r\n",
         u"2 行目の「\uE000」(U+E000, Shift_JIS F040) は外字（ユーザー定義文字）のため、"
         u"受け取った人には読めません。"_s},
        {"gaiji-utf8.txt", "一行目\r\r外字\uE001",
         u"3 行目の「\uE001」(U+E001, Shift_JIS F041) は外字（ユーザー定義文字）のため、"
         u"受け取った人には読めません。"_s},
        {"neither.txt", S("一行目\r\n二行目") + "\x82\r\n",
         u"2 行目に Shift_JIS としても UTF-8 としても読めないバイト (82) があります。"_s},
        {"broken.txt",
         "\xEF\xBB\xBF"
         "ok\n\xC3",
         u"2 行目に UTF-8 として読めないバイト (C3) があります。"_s},
        {"utf16.txt",
         std::string("\xFF\xFE"
                     "a\0\n\0\x00\xD8",
                     8),
         u"2 行目: UTF-16 として正しくない文字 (D800) があります。"_s},
    };
    Open();
    for (const ComposePage page : {ComposePage::Html, ComposePage::Text}) {
        ClickPage(page);
        if (page == ComposePage::Text)
            Memo()->setPlainText(u"kept"_s);
        const QString before = page == ComposePage::Text ? Memo()->toPlainText() : Syn()->text();
        for (const auto &c : cases) {
            dialogs.Clear();
            const fs::path in = TempDir() / c.name;
            WriteBytes(in, c.bytes);
            ChooseFile(u"OpenDialogText"_s, in);
            dialogs.Answer(true);
            Click(u"PNGBtnTextRead"_s);
            ASSERT_EQ(dialogs.shown.size(), 2u) << c.name;
            EXPECT_EQ(dialogs.shown[1].kind, ShownBox::Error);
            EXPECT_EQ(dialogs.shown[1].text, u"ファイルを読み込めませんでした: "_s +
                                                 QString::fromStdString(in.native()) + u"\n"_s +
                                                 c.reason)
                << c.name;
            EXPECT_EQ(page == ComposePage::Text ? Memo()->toPlainText() : Syn()->text(), before)
                << c.name;
        }
    }
}

TEST_F(MailMakeTest, AUserDefinedCharacterInTheSubjectStopsTheSendNamingIt)
{
    Open();
    // Pasted: the keyboard gives no such character.
    Edit(u"EditTitle"_s)->insert(u"ご案内\uE000"_s);
    Click(u"PNGBtnMailSend"_s);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownBox::Error);
    EXPECT_EQ(dialogs.shown[0].text,
              u"「\uE000」(U+E000, Shift_JIS F040) は外字（ユーザー定義文字）のため、受け取った"
              u"人には読めません。この文字を使わずに入力してください。"_s);
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(Edit(u"EditTitle"_s)->text(), u"ご案内\uE000"_s);
}

TEST_F(MailMakeTest, AFileThatCannotBeReadStopsWithAMessageNamingIt)
{
    const fs::path in = TempDir() / "bad.txt";
    WriteBytes(in, "\xEF\xBB\xBF\xF0\x9F\x98\x80");
    Open();
    ClickPage(ComposePage::Html);
    const QString before = Syn()->text();
    ChooseFile(u"OpenDialogText"_s, in);
    dialogs.Answer(true);
    Click(u"PNGBtnTextRead"_s);
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[1].kind, ShownBox::Error);
    EXPECT_TRUE(dialogs.shown[1].text.contains(QString::fromStdString(in.native())));
    EXPECT_EQ(Syn()->text(), before);
}

// ---- Closing and keeping ----

TEST_F(MailMakeTest, TheCloseQuestionDecidesAndAKeptDraftComesBackAsItWas)
{
    MakeSenderFile("本店");
    MakeSenderFile("支店");
    MakeList("to", true, false, false, {{"一", "1@example.jp"}});
    MakeList("cc", false, true, false, {{"二", "2@example.jp"}});
    Open();
    Pick(u"PNGBtnSender"_s, {u"本店"_s, u"支店"_s});
    Pick(u"PNGBtnTo"_s, {u"to"_s});
    Pick(u"PNGBtnCc"_s, {u"cc"_s});
    QTest::keyClicks(Memo(), u"kept text"_s);

    WhenModal(u"TFormMailMakeMsg_Close"_s, [](QWidget *w) {
        EXPECT_EQ(w->windowTitle(), u"終了確認"_s);
        EXPECT_TRUE(w->findChild<QCheckBox *>(u"CBMailMakeDataFlg"_s)->isChecked());
        EXPECT_EQ(w->findChild<QCheckBox *>(u"CBMailMakeDataFlg"_s)->text(),
                  u"編集中のメール内容を残す"_s);
        QTest::mouseClick(w->findChild<QAbstractButton *>(u"BtnCancel"_s), Qt::LeftButton);
    });
    Click(u"PNGBtnClose"_s);
    EXPECT_TRUE(form->isVisible());
    // Escape asks as well.
    WhenModal(u"TFormMailMakeMsg_Close"_s, [](QWidget *w) { w->close(); });
    QTest::keyClick(form.get(), Qt::Key_Escape);
    EXPECT_TRUE(form->isVisible());

    CloseKeeping(true);
    // Meanwhile one sender and the Cc list go away.
    fs::remove(DataFolder() / "Senders" / "本店.vsl");
    MakeList("cc", false, true, false, {});
    Open();
    EXPECT_EQ(Memo()->toPlainText(), u"kept text"_s);
    EXPECT_EQ(Edit(u"EditSender"_s)->text(), u"支店"_s);
    EXPECT_EQ(Edit(u"EditTo"_s)->text(), u"to"_s);
    EXPECT_TRUE(Edit(u"EditCc"_s)->text().isEmpty());
    EXPECT_EQ(Edit(u"EditCc"_s)->palette().color(QPalette::Base), kSilver);
    EXPECT_TRUE(form->State().draftEdited);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(MailMakeTest, AKeptDraftWhoseOnlyToListWasEmptiedOpensWithoutIt)
{
    MakeList("only", true, false, true, {{"一", "1@example.jp"}});
    Open();
    Pick(u"PNGBtnTo"_s, {u"only"_s});
    CloseKeeping(true);
    MakeList("only", true, false, true, {});
    Open();
    EXPECT_TRUE(Edit(u"EditTo"_s)->text().isEmpty());
    EXPECT_EQ(form->Draft().toLists, "");
}

TEST_F(MailMakeTest, DiscardingTheDraftsFilesEmptiesTheAttachmentsAndDeletesThePictures)
{
    WriteBytes(TempDir() / "a.txt", "a");
    Open();
    ChooseFile(u"OpenDialog"_s, TempDir() / "a.txt");
    Click(u"PNGBtnAppended"_s);
    WriteBytes(PictureFolder() / "image9.gif", "gif");
    form->AddInlinePicture("image9.gif");
    ClickPage(ComposePage::Preview);
    ASSERT_TRUE(fs::exists(PreviewFile()));
    form->DiscardDraftFiles();
    EXPECT_TRUE(Edit(u"EditAppended"_s)->text().isEmpty());
    EXPECT_FALSE(fs::exists(AttachmentFolder() / "a.txt"));
    EXPECT_FALSE(fs::exists(PictureFolder() / "image9.gif"));
    EXPECT_FALSE(fs::exists(PreviewFile()));
    EXPECT_TRUE(form->Draft().inlinePictures.empty());
}

TEST_F(MailMakeTest, TheUnsubscribeChoiceIsOffForANewMailAndStaysWithAKeptDraft)
{
    auto *box = Child<QCheckBox>(form.get(), u"CBListUnsubscribe"_s);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), u"配信停止の案内をヘッダーに付ける"_s);
    Open();
    EXPECT_FALSE(box->isChecked());
    EXPECT_TRUE(Edit(u"EditUnsubscribeUrl"_s)->text().isEmpty());
    EXPECT_FALSE(BuildSendJob(form->Draft()).listUnsubscribe);

    box->setChecked(true);
    QTest::keyClicks(Edit(u"EditUnsubscribeUrl"_s), u" https://example.jp/stop "_s);
    CloseKeeping(true);
    Open();
    EXPECT_TRUE(box->isChecked());
    const SendJob job = BuildSendJob(form->Draft());
    EXPECT_TRUE(job.listUnsubscribe);
    EXPECT_EQ(job.unsubscribeUrl, "https://example.jp/stop");

    // An address typed while the box is off goes nowhere.
    box->setChecked(false);
    EXPECT_EQ(BuildSendJob(form->Draft()).unsubscribeUrl, "");

    box->setChecked(true);
    CloseKeeping(false);
    Open();
    EXPECT_FALSE(box->isChecked());
    EXPECT_TRUE(Edit(u"EditUnsubscribeUrl"_s)->text().isEmpty());
}

} // namespace
} // namespace vostrel::test

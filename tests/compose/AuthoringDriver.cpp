#include "AuthoringDriver.h"

#include "../destinations/WindowDriver.h"
#include "compose/DraftFiles.h"
#include "compose/QsciEditor.h"
#include "core/SjisCodec.h"

#include <QAction>
#include <QApplication>
#include <QTest>
#include <QTimer>

namespace vostrel::test {

using namespace Qt::Literals::StringLiterals;

QString ToolButtonName(TagCommand command)
{
    static const char *const names[kTagCommandCount] = {
        "PNGBtnFont_Size", "PNGBtnFont_Color",   "PNGBtnFont_Style",     "PNGBtnFont_Arrange",
        "PNGBtnLink_Url",  "PNGBtnLink_JumpDes", "PNGBtnLink_Jump",      "PNGBtnLink_Pic",
        "PNGBtnEtc_Br",    "PNGBtnEtc_H",        "PNGBtnEtc_BlockQuote", "PNGBtnEtc_Address"};
    return QString::fromLatin1(names[static_cast<int>(command)]);
}

void AuthoringTest::SetUp()
{
    ComposeTest::SetUp();
    tagDialog = std::make_unique<TFormTagDialog>();
    linkDialog = std::make_unique<TFormLinkDialog>();
    midashiDialog = std::make_unique<TFormMidashiDialog>();
    signatureEdit = std::make_unique<TFormSignatureEdit>();
    mapLink = std::make_unique<TFormMapLink>(*form);
    tools = new THtmlTagCommands(*form, *tagDialog, *linkDialog, *midashiDialog);
    signatureMenu = new TSignatureMenu(*form, *signatureEdit);
    TFormMailMake::Links links;
    links.picker = picker.get();
    links.closeQuestion = closeQuestion.get();
    links.sendProgress = progress.get();
    links.sendOptions.timeouts = {5000, 5000};
    links.openMapLink = [this] { mapLink->ShowMapLink(); };
    TSignatureMenu *menu = signatureMenu;
    links.openSignatureMenu = [menu](const QPoint &at) { menu->Popup(at); };
    form->SetLinks(links);
}

void AuthoringTest::TearDown()
{
    mapLink.reset();
    ComposeTest::TearDown();
    signatureEdit.reset();
    midashiDialog.reset();
    linkDialog.reset();
    tagDialog.reset();
}

void AuthoringTest::OpenHtml(const QString &source)
{
    WriteBytes(HtmlTemplateFile(), QStringToSjis(source));
    Open();
    ClickPage(ComposePage::Html);
    ASSERT_EQ(Page(), ComposePage::Html);
    ASSERT_EQ(Syn()->text(), source);
    ASSERT_FALSE(form->State().draftEdited);
}

namespace {

// Byte position (UTF-8) of character position chars of text.
long BytesOf(const QString &text, int chars)
{
    return text.left(chars).toUtf8().size();
}

} // namespace

void AuthoringTest::SelectSource(int from, int to)
{
    const QString text = Syn()->text();
    Syn()->SendScintilla(QsciScintillaBase::SCI_SETSEL, BytesOf(text, from), BytesOf(text, to));
}

int AuthoringTest::SourceCaret() const
{
    const long bytes = Syn()->SendScintilla(QsciScintillaBase::SCI_GETCURRENTPOS);
    return static_cast<int>(QString::fromUtf8(Syn()->text().toUtf8().left(bytes)).size());
}

bool AuthoringTest::SourceHasSelection() const
{
    return Syn()->SendScintilla(QsciScintillaBase::SCI_GETSELECTIONSTART) !=
           Syn()->SendScintilla(QsciScintillaBase::SCI_GETSELECTIONEND);
}

void AuthoringTest::RunTool(TagCommand command, const QString &dialog,
                            std::function<void(QWidget *)> action)
{
    if (!dialog.isEmpty())
        WhenModal(dialog, std::move(action));
    Click(ToolButtonName(command));
}

void AuthoringTest::WhenPopup(const QString &objectName, std::function<void(QMenu *)> action)
{
    auto *timer = new QTimer(qApp);
    auto elapsed = std::make_shared<int>(0);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        *elapsed += 5;
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (menu && menu->objectName() == objectName && menu->isVisible()) {
            timer->stop();
            timer->deleteLater();
            action(menu);
            return;
        }
        if (*elapsed > 10000) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "popup menu " << objectName.toStdString() << " never appeared";
        }
    });
    timer->start();
}

void AuthoringTest::ClickEntry(QMenu *menu, const QString &entryName)
{
    QAction *entry = menu->findChild<QAction *>(entryName);
    ASSERT_NE(entry, nullptr) << entryName.toStdString();
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(entry).center());
}

} // namespace vostrel::test

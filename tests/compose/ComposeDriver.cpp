#include "ComposeDriver.h"

#include "../destinations/WindowDriver.h"
#include "compose/QsciEditor.h"
#include "core/AppState.h"
#include "core/SjisCodec.h"
#include "destinations/DestinationStore.h"

#include <QAbstractItemView>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

namespace vostrel::test {

using namespace Qt::Literals::StringLiterals;

void ComposeTest::SetUp()
{
    VostrelTest::SetUp();
    picker = std::make_unique<TFormAddMailList>();
    closeQuestion = std::make_unique<TFormMailMakeMsg_Close>();
    progress = std::make_unique<TFormSendProgress>();
    form = std::make_unique<TFormMailMake>();
    TFormMailMake::Links links;
    links.picker = picker.get();
    links.closeQuestion = closeQuestion.get();
    links.sendProgress = progress.get();
    links.sendOptions.timeouts = {5000, 5000};
    form->SetLinks(links);
}

void ComposeTest::TearDown()
{
    form.reset();
    progress.reset();
    closeQuestion.reset();
    picker.reset();
    VostrelTest::TearDown();
}

void ComposeTest::Open()
{
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
}

void ComposeTest::CloseKeeping(bool keep)
{
    WhenModal(u"TFormMailMakeMsg_Close"_s, [keep](QWidget *w) {
        w->findChild<QAbstractButton *>(u"CBMailMakeDataFlg"_s)->setChecked(keep);
        QTest::mouseClick(w->findChild<QAbstractButton *>(u"BtnOk"_s), Qt::LeftButton);
    });
    Click(u"PNGBtnClose"_s);
    ASSERT_FALSE(form->isVisible());
}

void ComposeTest::ClickPage(ComposePage page)
{
    QTabBar *bar = Pages()->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(static_cast<int>(page)).center());
}

namespace {

QStringList Texts(QTreeWidget *list)
{
    QStringList texts;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        texts << list->topLevelItem(i)->text(0);
    return texts;
}

} // namespace

ComposeTest::PickerView ComposeTest::Pick(const QString &button, const QStringList &add,
                                          bool confirm)
{
    PickerView view;
    bool shown = false;
    WhenModal(u"TFormAddMailList"_s, [&](QWidget *w) {
        shown = true;
        auto *left = w->findChild<QTreeWidget *>(u"ListViewAddressList"_s);
        auto *right = w->findChild<QTreeWidget *>(u"ListViewConfigList"_s);
        view.title = w->windowTitle();
        view.left = left->headerItem()->text(0);
        view.right = right->headerItem()->text(0);
        view.chosenBefore = Texts(right);
        for (const QString &name : add) {
            const auto found = left->findItems(name, Qt::MatchExactly);
            EXPECT_EQ(found.size(), 1) << name.toStdString();
            if (found.isEmpty())
                continue;
            left->setCurrentItem(found.front());
            QTest::mouseClick(w->findChild<QAbstractButton *>(u"PNGBtnAdd"_s), Qt::LeftButton);
        }
        QTest::mouseClick(w->findChild<QAbstractButton *>(confirm ? u"BtnConfig"_s : u"BtnClose"_s),
                          Qt::LeftButton);
    });
    Click(button);
    EXPECT_TRUE(shown);
    return view;
}

void ComposeTest::ChooseFile(const QString &objectName, const std::filesystem::path &file)
{
    ChooseFiles(objectName, {file});
}

void ComposeTest::ChooseFiles(const QString &objectName,
                              const std::vector<std::filesystem::path> &files)
{
    // One name as it is; several each in double quotes, as the dialog joins them.
    QString path;
    for (const std::filesystem::path &file : files) {
        const QString name = QString::fromStdString(file.native());
        path += files.size() == 1 ? name : u"\""_s + name + u"\" "_s;
    }
    WhenModal(objectName, [path](QWidget *w) {
        auto *dialog = qobject_cast<QFileDialog *>(w);
        ASSERT_NE(dialog, nullptr);
        // The file name field, as typed: selectFile() keeps an older name
        // while the folder's listing is still being read.
        // A file still selected in the listing from the last use would win
        // over the typed name.
        for (auto *view : dialog->findChildren<QAbstractItemView *>())
            view->clearSelection();
        auto *name = dialog->findChild<QLineEdit *>(u"fileNameEdit"_s);
        ASSERT_NE(name, nullptr);
        name->setText(path);
        static_cast<QDialog *>(dialog)->accept();
        EXPECT_FALSE(dialog->isVisible()) << "the file dialog refused " << path.toStdString();
    });
}

QLineEdit *ComposeTest::Edit(const QString &name) const
{
    return Child<QLineEdit>(form.get(), name);
}

QPlainTextEdit *ComposeTest::Memo() const
{
    return Child<QPlainTextEdit>(form.get(), u"MemoMailText"_s);
}

QsciScintilla *ComposeTest::Syn() const
{
    return Child<QsciScintilla>(form.get(), u"SynMemo"_s);
}

QTabWidget *ComposeTest::Pages() const
{
    return Child<QTabWidget>(form.get(), u"PageControlMailText"_s);
}

void ComposeTest::Click(const QString &name)
{
    ClickButton(form.get(), name);
}

void MakeList(const char *utf8Name, bool to, bool cc, bool bcc,
              const std::vector<std::pair<const char *, const char *>> &people)
{
    std::vector<Recipient> recipients;
    for (const auto &[name, address] : people) {
        Recipient r;
        r.fields[0] = S(name);
        r.fields[1] = S("様");
        r.fields[2] = address;
        for (int i = 1; i <= 10; ++i)
            r.fields[2 + i] = S(name) + "-" + std::to_string(i);
        recipients.push_back(r);
    }
    SaveDestinationList(S(utf8Name), {to, cc, bcc}, recipients);
}

void MakeSenderFile(const char *utf8Name)
{
    WriteBytes(DataFolder() / "Senders" / (std::string(utf8Name) + ".vsl"), "");
}

} // namespace vostrel::test

// The sender list window driven through its controls: listing, the detail
// panel, add, edit with rename, delete, and the errors it reports.
#include "SenderFiles.h"

#include "core/AppState.h"
#include "senders/UnitAddSender.h"
#include "senders/UnitSenderConfig.h"
#include "support/VostrelTest.h"

#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

using namespace Qt::Literals::StringLiterals;

namespace vostrel::test {
namespace {

namespace fs = std::filesystem;

const QString NoPOP = u"POP Before SMTPによる認証を行わない"_s;
const QString WithPOP = u"POP Before SMTPによる認証を行う"_s;
const QString NoAuth = u"SMTP認証を行わない"_s;
const QString WithAuth = u"SMTP認証を行う"_s;

class SenderConfigTest : public VostrelTest
{
protected:
    fs::path Senders() const { return DataFolder() / "Senders"; }
    fs::path Logs() const { return DataFolder() / "Logs"; }
    static std::string Key() { return std::string(DefaultKey); }

    void Open()
    {
        form.show();
        QApplication::setActiveWindow(&form);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    }
    QTreeWidget *List() { return Child<QTreeWidget>(&form, u"ListViewItemBox"_s); }
    QStringList Rows()
    {
        QStringList rows;
        for (int i = 0; i < List()->topLevelItemCount(); ++i)
            rows << List()->topLevelItem(i)->text(0);
        return rows;
    }
    void SelectRow(const QString &caption)
    {
        for (int i = 0; i < List()->topLevelItemCount(); ++i) {
            QTreeWidgetItem *item = List()->topLevelItem(i);
            if (item->text(0) == caption) {
                QTest::mouseClick(List()->viewport(), Qt::LeftButton, {},
                                  List()->visualItemRect(item).center());
                ASSERT_TRUE(item->isSelected()) << caption.toStdString();
                return;
            }
        }
        FAIL() << "no row " << caption.toStdString();
    }
    void Press(const QString &button)
    {
        QTest::mouseClick(Child<QToolButton>(&form, button), Qt::LeftButton);
    }
    QString Detail(const QString &edit) { return Child<QLineEdit>(&form, edit)->text(); }
    QLabel *Label(const QString &name) { return Child<QLabel>(&form, name); }

    // The editor's controls while it is open.
    QLineEdit *EditorEdit(const QString &name) { return Child<QLineEdit>(&editor, name); }
    QCheckBox *EditorBox(const QString &name) { return Child<QCheckBox>(&editor, name); }
    static void Click(QAbstractButton *b)
    {
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
    }
    void EditorOK() { Click(Child<QPushButton>(&editor, u"ButtonOK"_s)); }
    void EditorCancel() { Click(Child<QPushButton>(&editor, u"ButtonCancel"_s)); }
    // Opens the editor with the button and runs action in it.
    void WithEditor(const QString &button, std::function<void()> action)
    {
        bool ran = false;
        WhenModal(u"TFormAddSender"_s, [&, action](QWidget *) {
            ran = true;
            action();
        });
        Press(button);
        EXPECT_TRUE(ran) << "the editor did not open";
    }

    static SenderAccount Named(const std::string &name)
    {
        SenderAccount a = SampleAccount();
        a.ConfName = name;
        return a;
    }
    void Store(const SenderAccount &a) { WriteSenderAccount(SenderAccountPath(a.ConfName), a); }

    // Checks the panel in its cleared state.
    void ExpectClearedPanel()
    {
        for (const char *name :
             {"EditConfName", "EditSMTPAddress", "EditSMTPPort", "EditFromAddress",
              "EditSenderName", "EditReturnAddress", "EditPOPAddress", "EditPOPPort",
              "EditPOPAccount", "EditSMTPAccount"})
            EXPECT_EQ(Detail(QString::fromLatin1(name)), QString()) << name;
        EXPECT_TRUE(Label(u"LabelSMTPSSL"_s)->isHidden());
        EXPECT_TRUE(Label(u"LabelPOPSSL"_s)->isHidden());
        EXPECT_EQ(Label(u"LabelUsePOP"_s)->text(), NoPOP);
        EXPECT_EQ(Label(u"LabelSMTPAuth"_s)->text(), NoAuth);
        for (const char *name :
             {"EditPOPAddress", "EditPOPPort", "EditPOPAccount", "LabelPOPAddress", "LabelPOPPort",
              "LabelPOPAccount", "EditSMTPAccount", "LabelSMTPAccount"})
            EXPECT_FALSE(Child<QWidget>(&form, QString::fromLatin1(name))->isEnabled()) << name;
    }

    TFormAddSender editor;
    TFormSenderConfig form{editor};
};

TEST_F(SenderConfigTest, ShowListsEveryVslFileAndClearsThePanel)
{
    Store(Named("Beta"));
    WriteSenderAccount(Senders() / "ALPHA.VSL", Named("ALPHA"));
    WriteSenderAccount(Senders() / "gamma.Vsl", Named("gamma"));
    Store(Named(S("営業部")));
    Store(Named(""));
    WriteBytes(Senders() / "note.txt", "x");
    WriteBytes(Senders() / "old.vsl.bak", "x");
    fs::create_directory(Senders() / "dir.vsl");

    Open();
    EXPECT_EQ(form.windowTitle(), u"接続設定"_s);
    EXPECT_EQ(Rows(), (QStringList{u""_s, u"ALPHA"_s, u"Beta"_s, u"gamma"_s, u"営業部"_s}));
    EXPECT_EQ(List()->columnCount(), 1);
    EXPECT_EQ(List()->headerItem()->text(0), u"送信者"_s);
    EXPECT_EQ(List()->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(List()->selectionMode(), QAbstractItemView::SingleSelection);
    ExpectClearedPanel();
    for (QLineEdit *edit :
         Child<QWidget>(&form, u"PanelConnectConfig"_s)->findChildren<QLineEdit *>())
        EXPECT_TRUE(edit->isReadOnly()) << edit->objectName().toStdString();
    EXPECT_TRUE(Child<QLineEdit>(&form, u"EditErrorAddress"_s)->isHidden());
    EXPECT_TRUE(Label(u"LabelErrorAddress"_s)->isHidden());

    // A file with the extension in capitals is read like any other.
    SelectRow(u"ALPHA"_s);
    EXPECT_EQ(Detail(u"EditConfName"_s), u"ALPHA"_s);
    SelectRow(u"gamma"_s);
    EXPECT_EQ(Detail(u"EditConfName"_s), u"gamma"_s);
    SelectRow(QString());
    EXPECT_EQ(Detail(u"EditConfName"_s), QString());
    EXPECT_EQ(Detail(u"EditSMTPAddress"_s), u"smtp.example.jp"_s);
    EXPECT_TRUE(dialogs.Texts().isEmpty());

    // Showing again reads the folder afresh.
    form.hide();
    fs::remove(SenderAccountPath("Beta"));
    Open();
    EXPECT_EQ(Rows(), (QStringList{u""_s, u"ALPHA"_s, u"gamma"_s, u"営業部"_s}));
}

// The rows are drawn with grid lines between them.
TEST_F(SenderConfigTest, TheListDrawsGridLines)
{
    Store(Named("a"));
    Store(Named("b"));
    Open();
    const QRect first = List()->visualItemRect(List()->topLevelItem(0));
    const QImage image = List()->viewport()->grab().toImage();
    const QColor line = List()->palette().color(QPalette::Mid);
    int gridPixels = 0;
    for (int x = first.left(); x < first.right(); ++x)
        gridPixels += image.pixelColor(x, first.bottom()).rgb() == line.rgb();
    EXPECT_GT(gridPixels, first.width() / 2);
}

TEST_F(SenderConfigTest, SelectingARowShowsTheAccountButNoPassword)
{
    Store(Named("Full"));
    SenderAccount plain;
    plain.ConfName = "Plain";
    plain.SMTPAddress = "smtp.plain.jp";
    plain.FromAddress = "me@plain.jp";
    Store(plain);
    SenderAccount popOnly = Named("PopNoSSL");
    popOnly.POPSSL = false;
    popOnly.SMTPSSL = false;
    popOnly.SMTPAuth = false;
    Store(popOnly);
    Open();

    SelectRow(u"Full"_s);
    EXPECT_EQ(Detail(u"EditConfName"_s), u"Full"_s);
    EXPECT_EQ(Detail(u"EditSMTPAddress"_s), u"smtp.example.jp"_s);
    EXPECT_EQ(Detail(u"EditSMTPPort"_s), u"587"_s);
    EXPECT_EQ(Detail(u"EditFromAddress"_s), u"sales@example.jp"_s);
    EXPECT_EQ(Detail(u"EditSenderName"_s), u"山田 太郎"_s);
    EXPECT_EQ(Detail(u"EditReturnAddress"_s), u"reply@example.jp"_s);
    EXPECT_EQ(Detail(u"EditPOPAddress"_s), u"pop.example.jp"_s);
    EXPECT_EQ(Detail(u"EditPOPPort"_s), u"1995"_s);
    EXPECT_EQ(Detail(u"EditPOPAccount"_s), u"yamada"_s);
    EXPECT_EQ(Detail(u"EditSMTPAccount"_s), u"yamada-smtp"_s);
    EXPECT_FALSE(Label(u"LabelSMTPSSL"_s)->isHidden());
    EXPECT_EQ(Label(u"LabelSMTPSSL"_s)->text(), u"SSL接続"_s);
    EXPECT_FALSE(Label(u"LabelPOPSSL"_s)->isHidden());
    EXPECT_EQ(Label(u"LabelUsePOP"_s)->text(), WithPOP);
    EXPECT_EQ(Label(u"LabelSMTPAuth"_s)->text(), WithAuth);
    for (const char *name :
         {"EditPOPAddress", "EditPOPPort", "EditPOPAccount", "LabelPOPAddress", "LabelPOPPort",
          "LabelPOPAccount", "EditSMTPAccount", "LabelSMTPAccount"})
        EXPECT_TRUE(Child<QWidget>(&form, QString::fromLatin1(name))->isEnabled()) << name;
    for (QLineEdit *edit : form.findChildren<QLineEdit *>())
        EXPECT_TRUE(edit->text() != u"p@ss,1"_s && edit->text() != u"秘密"_s)
            << edit->objectName().toStdString();
    EXPECT_EQ(Detail(u"EditErrorAddress"_s), QString());

    SelectRow(u"Plain"_s);
    EXPECT_EQ(Detail(u"EditConfName"_s), u"Plain"_s);
    EXPECT_EQ(Detail(u"EditSMTPAddress"_s), u"smtp.plain.jp"_s);
    EXPECT_EQ(Detail(u"EditSMTPPort"_s), u"25"_s);
    EXPECT_EQ(Detail(u"EditFromAddress"_s), u"me@plain.jp"_s);
    EXPECT_EQ(Detail(u"EditReturnAddress"_s), QString());
    EXPECT_EQ(Detail(u"EditPOPAddress"_s), QString());
    EXPECT_EQ(Detail(u"EditPOPPort"_s), QString());
    EXPECT_EQ(Detail(u"EditSMTPAccount"_s), QString());
    EXPECT_TRUE(Label(u"LabelSMTPSSL"_s)->isHidden());
    EXPECT_TRUE(Label(u"LabelPOPSSL"_s)->isHidden());
    EXPECT_EQ(Label(u"LabelUsePOP"_s)->text(), NoPOP);
    EXPECT_EQ(Label(u"LabelSMTPAuth"_s)->text(), NoAuth);
    EXPECT_FALSE(Child<QWidget>(&form, u"LabelPOPPort"_s)->isEnabled());
    EXPECT_FALSE(Child<QWidget>(&form, u"EditSMTPAccount"_s)->isEnabled());

    SelectRow(u"PopNoSSL"_s);
    EXPECT_EQ(Label(u"LabelUsePOP"_s)->text(), WithPOP);
    EXPECT_EQ(Detail(u"EditPOPPort"_s), u"1995"_s);
    EXPECT_TRUE(Label(u"LabelPOPSSL"_s)->isHidden());
    EXPECT_TRUE(Label(u"LabelSMTPSSL"_s)->isHidden());
    EXPECT_EQ(Label(u"LabelSMTPAuth"_s)->text(), NoAuth);
    EXPECT_TRUE(dialogs.Texts().isEmpty());
}

TEST_F(SenderConfigTest, AddResetsTheEditorAndWritesTheAccount)
{
    editor.LoadAccount(Named("left over")); // an earlier use must not leak in
    Open();
    QString caption, confirm, nameBefore, portBefore;
    bool popBefore = true;
    WithEditor(u"PNGBtnAddSender"_s, [&] {
        caption = editor.windowTitle();
        confirm = Child<QPushButton>(&editor, u"ButtonOK"_s)->text();
        nameBefore = EditorEdit(u"EditConfName"_s)->text();
        portBefore = EditorEdit(u"EditSMTPPort"_s)->text();
        popBefore = EditorBox(u"CheckBoxUsePOP"_s)->isChecked();
        Type(EditorEdit(u"EditConfName"_s), u"新規"_s);
        Type(EditorEdit(u"EditSMTPAddress"_s), u"smtp.new.jp"_s);
        Click(EditorBox(u"CheckBoxSMTPSSL"_s));
        Type(EditorEdit(u"EditFromAddress"_s), u"new@new.jp"_s);
        Type(EditorEdit(u"EditSenderName"_s), u"新規 送信者"_s);
        Click(EditorBox(u"CheckBoxSMTPAuth"_s));
        Type(EditorEdit(u"EditSMTPAccount"_s), u"acct"_s);
        Type(EditorEdit(u"EditSMTPPass"_s), u"pw"_s);
        EditorOK();
    });
    EXPECT_EQ(caption, u"接続設定の新規登録"_s);
    EXPECT_EQ(confirm, u"登録する"_s);
    EXPECT_EQ(nameBefore, QString());
    EXPECT_EQ(portBefore, u"25"_s);
    EXPECT_FALSE(popBefore);

    const std::string bytes = ReadBytes(Senders() / "新規.vsl");
    EXPECT_EQ(CountFields(bytes), 11);
    EXPECT_EQ(bytes, FileBytes({S("新規"), "smtp.new.jp", "465", "-1", "new@new.jp",
                                S("新規 送信者"), "", "0", "-1", "acct", "pw"},
                               Key()));
    EXPECT_EQ(Rows(), QStringList{u"新規"_s});
    EXPECT_TRUE(dialogs.Texts().isEmpty());
}

TEST_F(SenderConfigTest, AddWithOnlyANameAndAPortStoresTheShortestFile)
{
    Open();
    WithEditor(u"PNGBtnAddSender"_s, [&] {
        for (QLineEdit *edit : editor.findChildren<QLineEdit *>())
            if (!edit->isHidden() && edit->isEnabled())
                Type(edit, QString());
        Type(EditorEdit(u"EditConfName"_s), u"n"_s);
        Type(EditorEdit(u"EditSMTPPort"_s), u"25"_s);
        EditorOK();
    });
    EXPECT_EQ(ReadBytes(Senders() / "n.vsl"),
              FileBytes({"n", "", "25", "0", "", "", "", "0", "0"}, Key()));
    EXPECT_EQ(Rows(), QStringList{u"n"_s});
    SelectRow(u"n"_s);
    EXPECT_EQ(Detail(u"EditSMTPPort"_s), u"25"_s);
    EXPECT_EQ(Label(u"LabelUsePOP"_s)->text(), NoPOP);
    EXPECT_TRUE(dialogs.Texts().isEmpty());
}

TEST_F(SenderConfigTest, AddRefusesAnExistingNameAndCancelReloads)
{
    SenderAccount existing = Named("Dup");
    existing.SMTPAddress = "first";
    Store(existing);
    const std::string before = ReadBytes(SenderAccountPath("Dup"));
    Open();
    Store(Named("Late")); // appears only when the list is reloaded

    WithEditor(u"PNGBtnAddSender"_s, [&] {
        Type(EditorEdit(u"EditConfName"_s), u"Dup"_s);
        Type(EditorEdit(u"EditSMTPAddress"_s), u"second"_s);
        EditorOK();
    });
    EXPECT_EQ(dialogs.Texts(), QStringList{u"既に同名の接続先があるため、追加できません"_s});
    EXPECT_EQ(ReadBytes(SenderAccountPath("Dup")), before);
    EXPECT_EQ(Rows(), QStringList{u"Dup"_s}); // not reloaded

    WithEditor(u"PNGBtnAddSender"_s, [&] {
        Type(EditorEdit(u"EditConfName"_s), u"Cancelled"_s);
        EditorCancel();
    });
    EXPECT_FALSE(fs::exists(SenderAccountPath("Cancelled")));
    EXPECT_EQ(Rows(), (QStringList{u"Dup"_s, u"Late"_s})); // reloaded after cancel
    EXPECT_EQ(dialogs.Texts().size(), 1);
}

// A name that cannot be a file name or be seen in a list, or a port that is
// no port (every mail of such an account could only fail), is refused by the
// editor with its message, the field in question gets the focus, and nothing
// is written.
TEST_F(SenderConfigTest, AddRefusesUnusableNamesAndPortsAndWritesNothing)
{
    struct Case
    {
        QString name;
        QString smtpPort;
        QString popPort; // POP before SMTP ticked when not empty
        QString message;
        const char *focus;
    };
    const QString noName = u"この設定の名前を入力してください"_s;
    const QString dots = u"この設定の名前に「.」と「..」は使用できません"_s;
    const QString slash = u"この設定の名前に「/」と「,」は使用できません"_s;
    const QString smtp = u"SMTP接続に使うポート番号には、1から65535までの数字を入力してください"_s;
    const QString pop = u"POP接続に使うポート番号には、1から65535までの数字を入力してください"_s;
    const std::vector<Case> cases = {
        {u""_s, u"25"_s, {}, noName, "EditConfName"},
        {u"."_s, u"25"_s, {}, dots, "EditConfName"},
        {u".."_s, u"25"_s, {}, dots, "EditConfName"},
        {u"a/b"_s, u"25"_s, {}, slash, "EditConfName"},
        {u"/"_s, u"25"_s, {}, slash, "EditConfName"},
        {u"本社,支店"_s, u"25"_s, {}, slash, "EditConfName"},
        // The name is looked at first.
        {u".."_s, u"x"_s, {}, dots, "EditConfName"},
        {u"main"_s, u""_s, {}, smtp, "EditSMTPPort"},
        {u"main"_s, u"0"_s, {}, smtp, "EditSMTPPort"},
        {u"main"_s, u"65536"_s, {}, smtp, "EditSMTPPort"},
        {u"main"_s, u"99999"_s, {}, smtp, "EditSMTPPort"},
        {u"main"_s, u"ab99999"_s, {}, smtp, "EditSMTPPort"},
        {u"main"_s, u" 25"_s, {}, smtp, "EditSMTPPort"},
        {u"main"_s, u"-25"_s, {}, smtp, "EditSMTPPort"},
        {u"main"_s, u"２５"_s, {}, smtp, "EditSMTPPort"},
        {u"main"_s, u"99999999999"_s, {}, smtp, "EditSMTPPort"},
        {u"main"_s, u"25"_s, u"0"_s, pop, "EditPOPPort"},
        {u"main"_s, u"25"_s, u"x110"_s, pop, "EditPOPPort"},
        {u"main"_s, u"25"_s, u"70000"_s, pop, "EditPOPPort"},
    };
    Open();
    QStringList shown;
    QStringList focused;
    bool stayedOpen = true;
    WithEditor(u"PNGBtnAddSender"_s, [&] {
        for (const Case &c : cases) {
            Type(EditorEdit(u"EditConfName"_s), c.name);
            Type(EditorEdit(u"EditSMTPPort"_s), c.smtpPort);
            if (EditorBox(u"CheckBoxUsePOP"_s)->isChecked() != !c.popPort.isEmpty())
                Click(EditorBox(u"CheckBoxUsePOP"_s));
            if (!c.popPort.isEmpty()) {
                for (const char *name : {"EditPOPAddress", "EditPOPAccount", "EditPOPPass"})
                    Type(EditorEdit(QString::fromLatin1(name)), u"v"_s);
                Type(EditorEdit(u"EditPOPPort"_s), c.popPort);
            }
            dialogs.Clear();
            EditorOK();
            shown << dialogs.Texts().join(u"|"_s);
            focused << (editor.focusWidget() ? editor.focusWidget()->objectName() : QString());
            stayedOpen = stayedOpen && editor.isVisible();
        }
        EditorCancel();
    });
    EXPECT_TRUE(stayedOpen);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name.toStdString() + " " + cases[i].smtpPort.toStdString() + " " +
                     cases[i].popPort.toStdString());
        EXPECT_EQ(shown[static_cast<int>(i)], cases[i].message);
        EXPECT_EQ(focused[static_cast<int>(i)], QString::fromLatin1(cases[i].focus));
    }
    EXPECT_TRUE(fs::is_empty(Senders()));
    EXPECT_TRUE(fs::is_empty(Logs()));
    EXPECT_TRUE(Rows().isEmpty());
}

TEST_F(SenderConfigTest, EditAndDeleteNeedASelectedRow)
{
    Store(Named("One"));
    Open();
    Press(u"PNGBtnEditSender"_s);
    Press(u"PNGBtnDeleteSender"_s);
    EXPECT_EQ(dialogs.Texts(), (QStringList{u"編集する送信者を選択してください。"_s,
                                            u"削除する送信者を選択してください。"_s}));
    EXPECT_TRUE(fs::exists(SenderAccountPath("One")));
}

TEST_F(SenderConfigTest, EditLoadsTheAccountAndRenameMovesFileAndLogs)
{
    Store(Named("Old"));
    fs::create_directories(Logs() / "Old");
    WriteBytes(Logs() / "Old" / "2024年01月02日03時04分05秒.vsl", "history");
    Open();
    SelectRow(u"Old"_s);

    QStringList seen;
    WithEditor(u"PNGBtnEditSender"_s, [&] {
        seen << editor.windowTitle() << Child<QPushButton>(&editor, u"ButtonOK"_s)->text();
        for (const char *name :
             {"EditConfName", "EditSMTPPort", "EditPOPPort", "EditPOPPass", "EditSMTPPass"})
            seen << EditorEdit(QString::fromLatin1(name))->text();
        Type(EditorEdit(u"EditConfName"_s), u"新名"_s);
        EditorOK();
    });
    EXPECT_EQ(seen, (QStringList{u"接続設定の編集"_s, u"変更する"_s, u"Old"_s, u"587"_s, u"1995"_s,
                                 u"p@ss,1"_s, u"秘密"_s}));

    EXPECT_FALSE(fs::exists(SenderAccountPath("Old")));
    EXPECT_EQ(ReadBytes(Senders() / "新名.vsl"),
              FileBytes({S("新名"), "smtp.example.jp", "587", "-1", "sales@example.jp",
                         S("山田 太郎"), "reply@example.jp", "-1", "pop.example.jp", "1995", "-1",
                         "yamada", "p@ss,1", "-1", "yamada-smtp", S("秘密")},
                        Key()));
    EXPECT_FALSE(fs::exists(Logs() / "Old"));
    EXPECT_EQ(ReadBytes(Logs() / "新名" / "2024年01月02日03時04分05秒.vsl"), "history");
    EXPECT_EQ(Rows(), QStringList{u"新名"_s});
    EXPECT_TRUE(dialogs.Texts().isEmpty());
}

TEST_F(SenderConfigTest, EditRefusesTheNameOfAnotherAccount)
{
    Store(Named("A"));
    Store(Named("B"));
    fs::create_directories(Logs() / "A");
    const std::string a = ReadBytes(SenderAccountPath("A"));
    const std::string b = ReadBytes(SenderAccountPath("B"));
    Open();
    SelectRow(u"A"_s);
    WithEditor(u"PNGBtnEditSender"_s, [&] {
        Type(EditorEdit(u"EditConfName"_s), u"B"_s);
        Type(EditorEdit(u"EditSMTPAddress"_s), u"changed"_s);
        EditorOK();
    });
    EXPECT_EQ(dialogs.Texts(), QStringList{u"既に同名の接続先があります"_s});
    EXPECT_EQ(ReadBytes(SenderAccountPath("A")), a);
    EXPECT_EQ(ReadBytes(SenderAccountPath("B")), b);
    EXPECT_TRUE(fs::is_directory(Logs() / "A"));
    EXPECT_FALSE(fs::exists(Logs() / "B"));
}

TEST_F(SenderConfigTest, EditUnderTheSameNameRewritesInPlaceAndDropsPopValues)
{
    Store(Named("Same"));
    fs::create_directories(Logs() / "Same");
    Open();
    SelectRow(u"Same"_s);
    WithEditor(u"PNGBtnEditSender"_s, [&] {
        Type(EditorEdit(u"EditSMTPAddress"_s), u"smtp2.example.jp"_s);
        Click(EditorBox(u"CheckBoxUsePOP"_s)); // untick: the POP values are dropped
        EditorOK();
    });
    EXPECT_EQ(ReadBytes(SenderAccountPath("Same")),
              FileBytes({"Same", "smtp2.example.jp", "587", "-1", "sales@example.jp",
                         S("山田 太郎"), "reply@example.jp", "0", "-1", "yamada-smtp", S("秘密")},
                        Key()));
    EXPECT_TRUE(fs::is_directory(Logs() / "Same"));
    EXPECT_EQ(Rows(), QStringList{u"Same"_s});

    // Editing it again shows the POP fields at their reset values.
    SelectRow(u"Same"_s);
    QStringList pop;
    bool popEnabled = true;
    WithEditor(u"PNGBtnEditSender"_s, [&] {
        for (const char *name : {"EditPOPAddress", "EditPOPPort", "EditPOPAccount", "EditPOPPass"})
            pop << EditorEdit(QString::fromLatin1(name))->text();
        popEnabled = EditorEdit(u"EditPOPAddress"_s)->isEnabled();
        EditorCancel();
    });
    EXPECT_EQ(pop, (QStringList{QString(), u"110"_s, QString(), QString()}));
    EXPECT_FALSE(popEnabled);
}

TEST_F(SenderConfigTest, AccountsInCapitalVslFilesCanBeEditedAndDeleted)
{
    WriteSenderAccount(Senders() / "Upper.VSL", Named("Upper"));
    Open();
    SelectRow(u"Upper"_s);
    WithEditor(u"PNGBtnEditSender"_s, [&] {
        Type(EditorEdit(u"EditSMTPAddress"_s), u"smtp.upper.jp"_s);
        EditorOK();
    });
    EXPECT_FALSE(fs::exists(Senders() / "Upper.vsl"));
    EXPECT_EQ(ReadSenderAccount(Senders() / "Upper.VSL").SMTPAddress, "smtp.upper.jp");

    SelectRow(u"Upper"_s);
    WithEditor(u"PNGBtnEditSender"_s, [&] {
        Type(EditorEdit(u"EditConfName"_s), u"Lower"_s);
        EditorOK();
    });
    EXPECT_EQ(Rows(), QStringList{u"Lower"_s});
    EXPECT_FALSE(fs::exists(Senders() / "Upper.VSL"));
    EXPECT_EQ(ReadSenderAccount(Senders() / "Lower.vsl").SMTPAddress, "smtp.upper.jp");

    WriteSenderAccount(Senders() / "Other.vSL", Named("Other"));
    form.hide();
    Open();
    SelectRow(u"Other"_s);
    dialogs.Answer(true);
    Press(u"PNGBtnDeleteSender"_s);
    EXPECT_FALSE(fs::exists(Senders() / "Other.vSL"));
    EXPECT_EQ(Rows(), QStringList{u"Lower"_s});
    EXPECT_EQ(dialogs.Texts(), QStringList{u"Other を削除します。\r\nよろしいですか？"_s});
}

TEST_F(SenderConfigTest, CancelledEditChangesNothing)
{
    Store(Named("Keep"));
    const std::string before = ReadBytes(SenderAccountPath("Keep"));
    Open();
    SelectRow(u"Keep"_s);
    WithEditor(u"PNGBtnEditSender"_s, [&] {
        Type(EditorEdit(u"EditConfName"_s), u"Other"_s);
        QTest::keyClick(&editor, Qt::Key_Escape);
    });
    EXPECT_EQ(ReadBytes(SenderAccountPath("Keep")), before);
    EXPECT_FALSE(fs::exists(SenderAccountPath("Other")));
    EXPECT_EQ(Rows(), QStringList{u"Keep"_s});
}

TEST_F(SenderConfigTest, DeleteAsksAndKeepsTheLogsFolder)
{
    Store(Named("Gone"));
    Store(Named("Stays"));
    fs::create_directories(Logs() / "Gone");
    Open();
    SelectRow(u"Gone"_s);

    dialogs.Answer(false);
    Press(u"PNGBtnDeleteSender"_s);
    EXPECT_TRUE(fs::exists(SenderAccountPath("Gone")));
    EXPECT_EQ(Detail(u"EditConfName"_s), u"Gone"_s);

    dialogs.Answer(true);
    Press(u"PNGBtnDeleteSender"_s);
    ASSERT_EQ(dialogs.shown.size(), 2u);
    for (const ShownBox &box : dialogs.shown) {
        EXPECT_EQ(box.kind, ShownBox::Question);
        EXPECT_EQ(box.text, u"Gone を削除します。\r\nよろしいですか？"_s);
    }
    EXPECT_FALSE(fs::exists(SenderAccountPath("Gone")));
    EXPECT_TRUE(fs::is_directory(Logs() / "Gone"));
    EXPECT_EQ(Rows(), QStringList{u"Stays"_s});
    ExpectClearedPanel();
}

TEST_F(SenderConfigTest, DeleteOfAVanishedFileReportsFailure)
{
    Store(Named("Vanish"));
    Open();
    SelectRow(u"Vanish"_s);
    fs::remove(SenderAccountPath("Vanish"));
    dialogs.Answer(true);
    Press(u"PNGBtnDeleteSender"_s);
    EXPECT_EQ(dialogs.Texts(), (QStringList{u"Vanish を削除します。\r\nよろしいですか？"_s,
                                            u"削除できませんでした。"_s}));
    EXPECT_EQ(Rows(), QStringList{u"Vanish"_s});
}

TEST_F(SenderConfigTest, DamagedFileShowsAnErrorAndTheListStaysUsable)
{
    Store(Named("Good"));
    std::string cut = FileBytes({"Broken", "h", "25", "0", "f", "n", "r", "-1"}, Key());
    WriteBytes(Senders() / "Broken.vsl", cut); // the POP group is missing
    WriteBytes(Senders() / "Garbage.vsl", "\x07\x00\x00");
    Open();

    SelectRow(u"Good"_s);
    SelectRow(u"Broken"_s);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownBox::Error);
    EXPECT_TRUE(
        dialogs.shown[0].text.contains(QString::fromStdString((Senders() / "Broken.vsl").string())))
        << dialogs.shown[0].text.toStdString();
    ExpectClearedPanel(); // nothing of "Good" stays on show

    SelectRow(u"Garbage"_s);
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_TRUE(dialogs.shown[1].text.contains(u"Garbage.vsl"_s));

    SelectRow(u"Good"_s);
    EXPECT_EQ(Detail(u"EditConfName"_s), u"Good"_s);
    EXPECT_EQ(Rows(), (QStringList{u"Broken"_s, u"Garbage"_s, u"Good"_s}));

    // Editing the damaged account reports the same error and opens nothing.
    SelectRow(u"Broken"_s);
    Press(u"PNGBtnEditSender"_s);
    ASSERT_EQ(dialogs.shown.size(), 4u);
    EXPECT_EQ(dialogs.shown[3].kind, ShownBox::Error);
    EXPECT_FALSE(editor.isVisible());
}

} // namespace
} // namespace vostrel::test

// The send button: its checks and questions, the progress window during the
// run, the stop button and the messages at the end, driven offscreen.
#include "SendRunFixture.h"

#include "core/AppState.h"
#include "core/AtomicFile.h"
#include "core/DataFolder.h"
#include "core/Errors.h"
#include "core/SjisCodec.h"
#include "send/SendJournal.h"
#include "send/StartSend.h"
#include "send/UnitSendProgress.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <filesystem>
#include <future>

using namespace vostrel;
using namespace vostrel::test;
using namespace Qt::Literals::StringLiterals;

namespace {

namespace fs = std::filesystem;

const QString kFailed =
    u"メール送信に失敗したため、中断しました。送信元の接続設定を再度ご確認ください"_s;

// The name of the one list whose name ends in suffix (Shift_JIS).
std::string ListNameEndingIn(const std::string &suffix)
{
    std::string found;
    for (const std::string &name : ListVslNames(ReceiversFolder()))
        if (name.ends_with(suffix)) {
            EXPECT_TRUE(found.empty()) << "two lists end alike";
            found = name;
        }
    return found;
}

// Runs f on the user-interface thread and waits for it; called from the run's
// thread, while the send button waits for the run.
void OnUiThread(const std::function<void()> &f)
{
    std::promise<void> done;
    QMetaObject::invokeMethod(
        qApp,
        [&] {
            f();
            done.set_value();
        },
        Qt::QueuedConnection);
    done.get_future().wait();
}

// What the compose window lends the send button, reduced to its Bcc check box.
class StandIn : public QWidget
{
public:
    StandIn()
    {
        setObjectName(u"TFormMailMake"_s);
        CBBccOneSend = new QCheckBox(u"１通目のみ送信"_s, this);
        CBBccOneSend->setObjectName(u"CBBccOneSend"_s);
        CBBccOneSend->setChecked(true);
        new QVBoxLayout(this);
        layout()->addWidget(CBBccOneSend);
    }

    ComposeSendLink Link()
    {
        return ComposeSendLink{this, [this] { CBBccOneSend->setChecked(false); }};
    }

    QCheckBox *CBBccOneSend;
};

class StartSendTest : public SendRunTest
{
protected:
    void SetUp() override
    {
        SendRunTest::SetUp();
        AddAccount("A", "a@sender.jp");
        AddAccount("B", "b@sender.jp");
        AddList("three", People("p", 3));
        standIn.show();
    }

    StartSendResult Send(const SendJob &job)
    {
        return StartSend(job, progress, standIn.Link(), recorder.Options());
    }

    template <class W> W *Control(const QString &name)
    {
        W *w = progress.findChild<W *>(name);
        if (!w)
            ADD_FAILURE() << "no control " << name.toStdString();
        return w;
    }

    StandIn standIn;
    TFormSendProgress progress{&standIn};
};

struct RefusalCase
{
    const char *what;
    std::function<void(SendJob &)> change;
    QString message;
};

TEST_F(StartSendTest, IncompleteJobsAreRefusedWithTheirMessage)
{
    const std::vector<RefusalCase> cases = {
        {"no sender", [](SendJob &j) { j.senderNames.clear(); }, u"送信元を選択してください"_s},
        {"no lists",
         [](SendJob &j) {
             j.toLists.clear();
             j.bccLists.clear();
             j.ccLists = {"three"};
         },
         u"宛先、又はBCCが選択されていません"_s},
        {"no body", [](SendJob &j) { j.body.clear(); }, u"文章を入力してください"_s},
        {"an unsubscribe address that is no https URL",
         [](SendJob &j) {
             j.listUnsubscribe = true;
             j.unsubscribeUrl = "http://example.jp/stop";
         },
         u"配信停止のアドレスには https:// で始まるURLを入力してください: http://example.jp/stop"_s},
        // The first failing check speaks.
        {"nothing",
         [](SendJob &j) {
             j.senderNames.clear();
             j.toLists.clear();
             j.body.clear();
         },
         u"送信元を選択してください"_s},
    };
    for (const RefusalCase &c : cases) {
        SCOPED_TRACE(c.what);
        dialogs.Clear();
        SendJob job = Job({"three"});
        c.change(job);
        EXPECT_EQ(Send(job), StartSendResult::NotStarted);
        ASSERT_EQ(dialogs.shown.size(), 1u);
        EXPECT_EQ(dialogs.shown[0].kind, ShownBox::Warning);
        EXPECT_EQ(dialogs.shown[0].caption, u"Vostrel"_s);
        EXPECT_EQ(dialogs.shown[0].text, c.message);
    }
    EXPECT_TRUE(recorder.Mails().empty());
    EXPECT_FALSE(fs::exists(DataFolder() / "Logs" / "A"));
}

TEST_F(StartSendTest, TheSubjectDecidesTheQuestionAndNoEndsIt)
{
    for (const bool withSubject : {true, false}) {
        SCOPED_TRACE(withSubject);
        dialogs.Clear();
        SendJob job = Job({"three"});
        if (!withSubject)
            job.subject.clear();
        dialogs.Answer(false);
        EXPECT_EQ(Send(job), StartSendResult::NotStarted);
        EXPECT_EQ(
            dialogs.Heads(),
            QStringList{withSubject
                            ? u"メールを送信します。よろしいですか？"_s
                            : u"件名が未入力です。このままメールを送信してよろしいですか？"_s});
    }
    EXPECT_TRUE(recorder.Mails().empty());
    EXPECT_FALSE(progress.isVisible());
}

TEST_F(StartSendTest, ABccOnlyJobAsksFirstAndClearsFirstOnly)
{
    SendJob job = Job();
    AddList("bcc", People("b", 2), {false, false, true});
    job.bccLists = {"bcc"};
    job.bccFirstOnly = true;
    const QString bccQuestion = u"BCCメールを送信します。よろしいですか？\r\n"
                                u"※BCCの「１通目のみ送信」を解除して送信します"_s;

    dialogs.Answer(false);
    EXPECT_EQ(Send(job), StartSendResult::NotStarted);
    EXPECT_EQ(dialogs.Texts(), QStringList{bccQuestion});
    EXPECT_TRUE(standIn.CBBccOneSend->isChecked());

    dialogs.Clear();
    dialogs.Answer(true);
    dialogs.Answer(false);
    EXPECT_EQ(Send(job), StartSendResult::NotStarted);
    EXPECT_EQ(dialogs.Heads(),
              (QStringList{bccQuestion, u"メールを送信します。よろしいですか？"_s}));
    EXPECT_FALSE(standIn.CBBccOneSend->isChecked());

    dialogs.Clear();
    dialogs.Answer(true);
    dialogs.Answer(true);
    EXPECT_EQ(Send(job), StartSendResult::Completed);
    const std::vector<DeliveredMail> mails = recorder.Mails();
    ASSERT_EQ(mails.size(), 2u);
    for (const DeliveredMail &mail : mails)
        EXPECT_EQ(HeaderOf(mail.data, "To"), std::nullopt);
    EXPECT_EQ(dialogs.Texts().back(), u"メール送信が完了しました"_s);
}

TEST_F(StartSendTest, TheProgressWindowFollowsTheRun)
{
    SendJob job = Job({"three"});
    job.senderNames = {"A", "B"};
    bool checked = false;
    recorder.answer = [&](int n, const DeliveredMail &) {
        if (n == 2)
            OnUiThread([&] {
                checked = true;
                EXPECT_TRUE(progress.isVisible());
                EXPECT_EQ(progress.windowTitle(), u"送信しています..."_s);
                EXPECT_TRUE(progress.windowFlags() & Qt::WindowStaysOnTopHint);
                EXPECT_FALSE(progress.windowFlags() & Qt::WindowCloseButtonHint);
                EXPECT_FALSE(progress.windowFlags() & Qt::WindowSystemMenuHint);
                EXPECT_EQ(Control<QLabel>(u"lblSendMsg"_s)->text(), u"2/3送信中"_s);
                EXPECT_EQ(Control<QLabel>(u"lblSenderName"_s)->text(), u"送信元：B"_s);
                EXPECT_EQ(Control<QProgressBar>(u"ProgressBar"_s)->maximum(), 3);
                EXPECT_EQ(Control<QProgressBar>(u"ProgressBar"_s)->value(), 2);
                EXPECT_TRUE(Control<QPushButton>(u"BtnSendStop"_s)->isEnabled());
                EXPECT_EQ(Control<QPushButton>(u"BtnSendStop"_s)->text(), u"送信の中断"_s);
                EXPECT_FALSE(Control<QLabel>(u"LabelCancelMsg"_s)->isVisible());
                // Neither closing nor Escape ends the window during a run.
                progress.close();
                QTest::keyClick(&progress, Qt::Key_Escape);
                EXPECT_TRUE(progress.isVisible());
            });
        return DeliveryResult{true, {}};
    };
    dialogs.Answer(true);

    EXPECT_EQ(Send(job), StartSendResult::Completed);

    EXPECT_TRUE(checked);
    EXPECT_FALSE(progress.isVisible());
    EXPECT_EQ(recorder.Accounts(), (std::vector<std::string>{"A", "B", "A"}));
    EXPECT_EQ(dialogs.Heads(), (QStringList{u"メールを送信します。よろしいですか？"_s,
                                            u"メール送信が完了しました"_s}));
}

TEST_F(StartSendTest, TheStopButtonEndsTheRunAfterTheMailInProgress)
{
    AddList("ten", People("q", 10));
    SendJob job = Job({"ten"});
    recorder.answer = [&](int n, const DeliveredMail &) {
        if (n == 3)
            OnUiThread([&] {
                auto *stopButton = Control<QPushButton>(u"BtnSendStop"_s);
                QTest::mouseClick(stopButton, Qt::LeftButton);
                auto *cancel = Control<QLabel>(u"LabelCancelMsg"_s);
                EXPECT_TRUE(cancel->isVisible());
                EXPECT_EQ(cancel->text(), u"キャンセルしています..."_s);
                EXPECT_EQ(cancel->palette().color(QPalette::WindowText), QColor(Qt::red));
                EXPECT_FALSE(stopButton->isEnabled());
                EXPECT_TRUE(progress.StopRequested());
            });
        return DeliveryResult{true, {}};
    };
    dialogs.Answer(true);

    EXPECT_EQ(Send(job), StartSendResult::Stopped);

    EXPECT_EQ(recorder.Mails().size(), 3u);
    // The recipients of mails 4 to 10 are kept, in order, as a list for To.
    const std::vector<DestinationListEntry> lists = ListDestinationLists();
    ASSERT_EQ(lists.size(), 3u); // "ten", "three" and the new one
    const std::string unsent = lists[0].name;
    EXPECT_TRUE(unsent.ends_with(S("_未送信"))) << unsent;
    EXPECT_EQ(lists[0].sendType, (SendType{true, false, false}));
    const std::vector<Recipient> ten = People("q", 10);
    EXPECT_EQ(ListOf(unsent), std::vector<Recipient>(ten.begin() + 3, ten.end()));
    EXPECT_EQ(dialogs.Texts().back(),
              u"メール送信を中断しました\r\n送信 3 件・失敗 0 件・総件数 10 件\r\n\r\n"
              u"※未送信の宛先を送信リスト「"_s +
                  SjisToQString(unsent) + u"」に追加しました"_s);
    EXPECT_FALSE(fs::exists(SendJournalPath()));

    // Showing the window again clears the stop: the next run goes through,
    // and sending the list completes the stopped run without mailing anyone
    // twice.
    recorder.answer = {};
    job.toLists = {unsent};
    dialogs.Clear();
    dialogs.Answer(true);
    EXPECT_EQ(Send(job), StartSendResult::Completed);
    EXPECT_EQ(Control<QLabel>(u"lblSendMsg"_s)->text(), u"7/7送信中"_s);
    EXPECT_FALSE(Control<QLabel>(u"LabelCancelMsg"_s)->isVisible());
    std::vector<std::vector<std::string>> mailed;
    for (const DeliveredMail &mail : recorder.Mails())
        mailed.push_back(mail.recipients);
    std::vector<std::vector<std::string>> everyone;
    for (const Recipient &r : ten)
        everyone.push_back({r.Address()});
    EXPECT_EQ(mailed, everyone);
}

TEST_F(StartSendTest, ARunThatDidNotEndIsAccountedForBeforeAnotherMayStart)
{
    const std::string start = LeavePendingJournal(Job({"three"}), 1);

    EXPECT_EQ(Send(Job({"three"})), StartSendResult::NotStarted);

    EXPECT_TRUE(recorder.Mails().empty());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownBox::Message);
    EXPECT_TRUE(dialogs.shown[0].text.startsWith(u"前回の送信は途中で終了しました。\r\n"_s))
        << dialogs.shown[0].text.toStdString();
    EXPECT_FALSE(SendJournalPending());
    const std::vector<Recipient> three = People("p", 3);
    EXPECT_EQ(ListOf(start + S("_未送信")), std::vector<Recipient>(three.begin() + 1, three.end()));

    dialogs.Clear();
    dialogs.Answer(true);
    EXPECT_EQ(Send(Job({"three"})), StartSendResult::Completed);
    EXPECT_EQ(recorder.Mails().size(), 3u);
}

TEST_F(StartSendTest, ASecondSendDuringARunIsNotStarted)
{
    StartSendResult second = StartSendResult::Completed;
    recorder.answer = [&](int n, const DeliveredMail &) {
        if (n == 1)
            OnUiThread([&] { second = Send(Job({"three"})); });
        return DeliveryResult{true, {}};
    };
    dialogs.Answer(true);
    EXPECT_EQ(Send(Job({"three"})), StartSendResult::Completed);
    EXPECT_EQ(second, StartSendResult::NotStarted);
    EXPECT_EQ(recorder.Mails().size(), 3u);
    EXPECT_EQ(dialogs.Heads(), (QStringList{u"メールを送信します。よろしいですか？"_s,
                                            u"メール送信が完了しました"_s}));
}

TEST_F(StartSendTest, AStopAfterTheLastMailStillCompletesTheSend)
{
    SendJob job = Job({"three"});
    recorder.answer = [&](int n, const DeliveredMail &) {
        if (n == 3)
            OnUiThread(
                [&] { QTest::mouseClick(Control<QPushButton>(u"BtnSendStop"_s), Qt::LeftButton); });
        return DeliveryResult{true, {}};
    };
    dialogs.Answer(true);
    EXPECT_EQ(Send(job), StartSendResult::Completed);
    EXPECT_EQ(dialogs.Texts().back(), u"メール送信が完了しました"_s);
}

TEST_F(StartSendTest, FailedMailsEndWithTheMessageAndTheFirstReason)
{
    recorder.answer = [](int n, const DeliveredMail &) {
        return n == 1 ? DeliveryResult{true, {}}
                      : DeliveryResult{false, "550 refused " + std::to_string(n)};
    };
    dialogs.Answer(true);
    EXPECT_EQ(Send(Job({"three"})), StartSendResult::Failed);
    EXPECT_EQ(dialogs.shown.back().kind, ShownBox::Warning);
    EXPECT_EQ(dialogs.Texts().back(),
              kFailed +
                  u"\r\n送信 1 件・失敗 2 件・総件数 3 件\r\n\r\n"
                  u"※失敗した宛先を送信リストに追加しました\r\n送信リスト「"_s +
                  SjisToQString(ListNameEndingIn(S("_送信失敗"))) + u"」\r\n550 refused 2"_s);
    EXPECT_FALSE(progress.isVisible());
}

TEST_F(StartSendTest, AFailureWithoutRecipientsToStoreHasNoSecondLine)
{
    dialogs.Answer(true);
    EXPECT_EQ(Send(Job({"three", "missing"})), StartSendResult::Failed);
    const QString text = dialogs.Texts().back();
    EXPECT_TRUE(text.startsWith(kFailed + u"\r\n"_s)) << text.toStdString();
    EXPECT_FALSE(text.contains(u"※失敗した宛先"_s));
    EXPECT_TRUE(text.contains(u"missing.vsl"_s));
    EXPECT_EQ(recorder.Mails().size(), 3u);
}

TEST_F(StartSendTest, AFailureOutweighsAStop)
{
    SendJob job = Job({"three"});
    recorder.answer = [&](int n, const DeliveredMail &) {
        if (n == 2)
            OnUiThread(
                [&] { QTest::mouseClick(Control<QPushButton>(u"BtnSendStop"_s), Qt::LeftButton); });
        return DeliveryResult{n != 1, "421 busy"};
    };
    dialogs.Answer(true);
    EXPECT_EQ(Send(job), StartSendResult::Failed);
    EXPECT_EQ(recorder.Mails().size(), 2u);
    // Mail 3 was never sent: its recipient is in a list of its own, which
    // the message names after the failure list.
    const std::string unsent = ListNameEndingIn(S("_未送信"));
    const std::vector<Recipient> three = People("p", 3);
    EXPECT_EQ(ListOf(unsent), std::vector<Recipient>{three[2]});
    EXPECT_EQ(dialogs.Texts().back().toStdString(),
              (kFailed +
               u"\r\n送信 1 件・失敗 1 件・総件数 3 件\r\n\r\n"
               u"※失敗した宛先を送信リストに追加しました\r\n送信リスト「"_s +
               SjisToQString(ListNameEndingIn(S("_送信失敗"))) +
               u"」\r\n※未送信の宛先を送信リスト「"_s + SjisToQString(unsent) +
               u"」に追加しました\r\n421 busy"_s)
                  .toStdString());
}

// A file named in the attachments or the inline pictures that is gone or
// cannot be read stops the start with a message naming it: nothing is sent
// and no run is begun.
struct AttachedFileCase
{
    const char *what;
    bool picture;
    bool unreadable; // there, but its bytes cannot be read; else missing
    QString message; // its beginning, before the file's path
};

void PrintTo(const AttachedFileCase &c, std::ostream *os)
{
    *os << c.what;
}

class AttachedFileTest : public StartSendTest, public testing::WithParamInterface<AttachedFileCase>
{};

TEST_P(AttachedFileTest, AFileThatIsGoneOrUnreadableStopsTheStartNamingIt)
{
    const AttachedFileCase &c = GetParam();
    const fs::path attachments = WorkFolder() / "AppendedImage";
    const fs::path pictures = WorkFolder() / "HtmlImage";
    WriteBytes(attachments / "ok.txt", "fine");
    WriteBytes(pictures / "ok.png", "PNG");
    SendJob job = Job({"three"});
    job.sendAsHtml = true;
    job.attachments = {"ok.txt"};
    job.inlinePictures = {"ok.png"};
    const char *name = c.picture ? "図1.png" : "報告書.pdf";
    const fs::path bad = (c.picture ? pictures : attachments) / name;
    std::vector<std::string> &files = c.picture ? job.inlinePictures : job.attachments;
    files.push_back(S(name));
    QString reason;
    if (c.unreadable && c.picture) {
        fs::create_directory(bad); // a folder where the picture should be
        reason = u"\r\n"_s + QString::fromStdString(FileError::ErrnoText(EISDIR));
    } else if (c.unreadable) {
        fs::create_symlink("/proc/self/mem", bad); // opens, but reading fails
        reason = u"\r\n"_s + QString::fromStdString(FileError::ErrnoText(EIO));
    }
    dialogs.Answer(true);

    EXPECT_EQ(Send(job), StartSendResult::NotStarted);

    EXPECT_EQ(dialogs.Heads(),
              (QStringList{u"メールを送信します。よろしいですか？"_s,
                           c.message + u"\r\n"_s + QString::fromStdString(bad.string()) + reason}));
    EXPECT_EQ(dialogs.shown.back().kind, ShownBox::Warning);
    EXPECT_TRUE(recorder.Mails().empty());
    EXPECT_FALSE(progress.isVisible());
    EXPECT_FALSE(SendJournalPending());
    EXPECT_FALSE(fs::exists(SendProgressPath()));
    EXPECT_FALSE(fs::exists(DataFolder() / "Logs" / "A"));
    EXPECT_EQ(ListVslNames(ReceiversFolder()), std::vector<std::string>{"three"});
}

INSTANTIATE_TEST_SUITE_P(
    MissingOrUnreadable, AttachedFileTest,
    testing::Values(
        AttachedFileCase{"MissingAttachment", false, false,
                         u"添付ファイル「報告書.pdf」が見つからないため、送信を始められません。"
                         u"添付し直してください"_s},
        AttachedFileCase{"UnreadableAttachment", false, true,
                         u"添付ファイル「報告書.pdf」を読み込めないため、送信を始められません。"
                         u"添付し直してください"_s},
        AttachedFileCase{"MissingPicture", true, false,
                         u"画像ファイル「図1.png」が見つからないため、送信を始められません。"
                         u"画像を挿入し直してください"_s},
        AttachedFileCase{"UnreadablePicture", true, true,
                         u"画像ファイル「図1.png」を読み込めないため、送信を始められません。"
                         u"画像を挿入し直してください"_s}),
    [](const testing::TestParamInfo<AttachedFileCase> &param) {
        return std::string(param.param.what);
    });

// One result of a run that the disk refuses: a log of either account, the
// failure list or the unsent list. The run then keeps its journal, its end
// message names the file, and the next start (here: the next send) accounts
// for the run from the journal and writes everything.
struct UnwrittenCase
{
    const char *what;
    // The refused file, from the run's start time (Shift_JIS).
    std::function<fs::path(const std::string &start)> file;
    bool failureListStored;
    bool unsentListStored;
};

void PrintTo(const UnwrittenCase &c, std::ostream *os)
{
    *os << c.what;
}

class UnwrittenResultTest : public StartSendTest, public testing::WithParamInterface<UnwrittenCase>
{
protected:
    void TearDown() override
    {
        AtomicFile::SetFaultInjector({});
        StartSendTest::TearDown();
    }
};

TEST_P(UnwrittenResultTest, TheJournalStaysTheMessageNamesTheFileAndTheNextStartWritesIt)
{
    const UnwrittenCase &c = GetParam();
    AddList("four", People("q", 4));
    SendJob job = Job({"four"});
    job.senderNames = {"A", "B"};
    // Mail 1 fails, mail 2 goes, then the stop: a failure list (q1), an
    // unsent list (q3, q4) and two logs are due.
    recorder.answer = [&](int n, const DeliveredMail &) {
        if (n == 2)
            OnUiThread(
                [&] { QTest::mouseClick(Control<QPushButton>(u"BtnSendStop"_s), Qt::LeftButton); });
        return n == 1 ? DeliveryResult{false, "550 refused"} : DeliveryResult{true, {}};
    };
    std::string refused;
    AtomicFile::SetFaultInjector([&](const fs::path &target) {
        if (!SendJournalPending())
            return true;
        const std::string start = ReadSendJournal(CurrentKey()).header.startTime;
        if (target != c.file(start))
            return true;
        refused = target.string();
        return false;
    });
    dialogs.Answer(true);

    EXPECT_EQ(Send(job), StartSendResult::Failed);

    AtomicFile::SetFaultInjector({});
    ASSERT_TRUE(SendJournalPending());
    const std::string start = ReadSendJournal(CurrentKey()).header.startTime;
    const fs::path file = c.file(start);
    EXPECT_EQ(refused, file.string());
    EXPECT_FALSE(fs::exists(file));
    const QString startText = SjisToQString(start);
    QString expected = kFailed + u"\r\n送信 1 件・失敗 1 件・総件数 4 件"_s;
    if (c.failureListStored)
        expected += u"\r\n\r\n※失敗した宛先を送信リストに追加しました\r\n送信リスト「"_s +
                    startText + u"_送信失敗」"_s;
    if (c.unsentListStored)
        expected += (c.failureListStored ? u"\r\n"_s : u"\r\n\r\n"_s) +
                    u"※未送信の宛先を送信リスト「"_s + startText + u"_未送信」に追加しました"_s;
    expected += u"\r\n550 refused"_s
                u"\r\n\r\n※次のファイルに送信結果を書き込めませんでした。空き容量と書き込みの"
                u"権限をご確認ください。送信の記録を残しましたので、次回の送信時または起動時に"
                u"もう一度書き込みます\r\n"_s +
                QString::fromStdString(file.string());
    EXPECT_EQ(dialogs.Texts().back().toStdString(), expected.toStdString());

    // The next send accounts for the run first and sends nothing.
    dialogs.Clear();
    EXPECT_EQ(Send(job), StartSendResult::NotStarted);
    ASSERT_EQ(dialogs.Texts().size(), 1);
    EXPECT_TRUE(dialogs.Texts()[0].startsWith(u"前回の送信は途中で終了しました。\r\n開始日時："_s +
                                              startText + u"\r\n送信済み：1通 / 4通\r\n"_s))
        << dialogs.Texts()[0].toStdString();
    EXPECT_FALSE(dialogs.Texts()[0].contains(u"送信の記録を残しました"_s));
    EXPECT_FALSE(SendJournalPending());
    EXPECT_EQ(recorder.Mails().size(), 2u);
    for (const char *account : {"A", "B"}) {
        const SendLog log = ReadSendLog(SendLogPath(account, start));
        EXPECT_EQ(log.fields[2], "1") << account;
        EXPECT_EQ(log.fields[3], "4") << account;
    }
    const std::vector<Recipient> four = People("q", 4);
    EXPECT_EQ(ListOf(start + S("_送信失敗")), std::vector<Recipient>{four[0]});
    EXPECT_EQ(ListOf(start + S("_未送信")), std::vector<Recipient>(four.begin() + 2, four.end()));
}

INSTANTIATE_TEST_SUITE_P(
    EachResultFile, UnwrittenResultTest,
    testing::Values(UnwrittenCase{"LogOfTheFirstAccount",
                                  [](const std::string &start) { return SendLogPath("A", start); },
                                  true, true},
                    UnwrittenCase{"LogOfTheSecondAccount",
                                  [](const std::string &start) { return SendLogPath("B", start); },
                                  true, true},
                    UnwrittenCase{"FailureList",
                                  [](const std::string &start) {
                                      return DestinationListPath(start + S("_送信失敗"));
                                  },
                                  false, true},
                    UnwrittenCase{"UnsentList",
                                  [](const std::string &start) {
                                      return DestinationListPath(start + S("_未送信"));
                                  },
                                  true, false}),
    [](const testing::TestParamInfo<UnwrittenCase> &param) {
        return std::string(param.param.what);
    });

// The confirmation says what is about to happen under the question.
TEST_F(StartSendTest, TheConfirmationNamesTheMailsRecipientsListsSendersAndFiles)
{
    AddList("cc", People("c", 2), {false, true, false});
    AddList("bcc", People("b", 1), {false, false, true});
    AddList("two", People("t", 2));
    struct Case
    {
        const char *what;
        std::function<void(SendJob &)> change;
        QString summary;
    };
    const std::vector<Case> cases = {
        {"individual with copies and files",
         [](SendJob &j) {
             j.senderNames = {"A", "B"};
             j.ccLists = {"cc"};
             j.ccFirstOnly = true;
             j.bccLists = {"bcc", "missing"};
             j.attachments = {"a.pdf", "b.txt"};
             j.inlinePictures = {"p.png"};
         },
         u"送信するメール：3 通\r\n宛先：3 件 「three」\r\nCC：2 件 「cc」（１通目のみ）\r\n"
         u"BCC：1 件 「bcc」「missing」\r\n送信元：「A」「B」\r\n添付ファイル：2 件・画像：1 件\r\n"
         u"※読み込めない送信リストがあります"_s},
        {"per list to Bcc",
         [](SendJob &j) {
             j.sendIndividually = false;
             j.bccLists = {"three", "two"};
             j.toLists.clear();
         },
         u"送信するメール：2 通\r\nBCC：5 件 「three」「two」\r\n送信元：「A」\r\n"
         u"添付ファイル：0 件"_s},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        dialogs.Clear();
        SendJob job = Job({"three"});
        c.change(job);
        if (job.toLists.empty())
            dialogs.Answer(true); // the Bcc question
        dialogs.Answer(false);
        EXPECT_EQ(Send(job), StartSendResult::NotStarted);
        EXPECT_EQ(dialogs.Texts().back(),
                  u"メールを送信します。よろしいですか？\r\n\r\n"_s + c.summary);
    }
    EXPECT_TRUE(recorder.Mails().empty());
}

TEST_F(StartSendTest, TheProgressWindowCountsTheFailuresAsTheyHappen)
{
    AddList("four", People("q", 4));
    std::vector<QString> seen;
    recorder.answer = [&](int n, const DeliveredMail &) {
        OnUiThread([&] {
            auto *failed = Control<QLabel>(u"lblFailedCount"_s);
            seen.push_back(failed->isVisible() ? failed->text() : QString());
            EXPECT_EQ(failed->palette().color(QPalette::WindowText), QColor(Qt::red));
        });
        return n == 1 || n == 3 ? DeliveryResult{false, "550 no"} : DeliveryResult{true, {}};
    };
    dialogs.Answer(true);
    EXPECT_EQ(Send(Job({"four"})), StartSendResult::Failed);
    EXPECT_EQ(seen, (std::vector<QString>{{}, u"失敗 1 件"_s, u"失敗 1 件"_s, u"失敗 2 件"_s}));
}

// A mail refused for now: the window says why and how long the run waits,
// and the stop button ends the wait at once.
TEST_F(StartSendTest, TheProgressWindowSaysWhyItWaitsAndTheStopEndsTheWait)
{
    recorder.answer = [](int, const DeliveredMail &) {
        return DeliveryResult{false, "smtp.a.jp:25: 421 4.7.0 Try again later", false, true};
    };
    struct StopWaiter : SendWaiter
    {
        void Wait(int ms, const std::atomic<bool> &) override
        {
            if (ms > 0)
                during();
        }
        std::function<void()> during;
    } waiter;
    QString shown;
    bool visible = false;
    waiter.during = [&] {
        OnUiThread([&] {
            auto *wait = Control<QLabel>(u"lblWaitMsg"_s);
            visible = wait->isVisible();
            shown = wait->text();
            QTest::mouseClick(Control<QPushButton>(u"BtnSendStop"_s), Qt::LeftButton);
        });
    };
    RunSendOptions options = recorder.Options();
    options.waiter = &waiter;
    dialogs.Answer(true);

    EXPECT_EQ(StartSend(Job({"three"}), progress, standIn.Link(), options),
              StartSendResult::Stopped);

    EXPECT_TRUE(visible);
    EXPECT_EQ(shown, u"サーバーが一時的に受け付けません。30 秒後に再送します（1/3）: "
                     u"smtp.a.jp:25: 421 4.7.0 Try again later"_s);
    EXPECT_TRUE(Control<QLabel>(u"lblWaitMsg"_s)->text().isEmpty());
    EXPECT_EQ(recorder.Mails().size(), 1u);
    EXPECT_EQ(ListOf(ListNameEndingIn(S("_未送信"))), People("p", 3));
}

// A draft whose last run stopped or failed: sending it again asks before it
// mails anyone that run reached.
class SendAgainTest : public StartSendTest
{
protected:
    StartSendResult SendDraft(const SendJob &job)
    {
        ComposeSendLink link = standIn.Link();
        link.previous = &previous;
        return StartSend(job, progress, link, recorder.Options());
    }

    // The first run of job: mails 1 and 2 go, mail 3 fails, then the stop.
    void StopAfterThree(const SendJob &job)
    {
        recorder.answer = [&](int n, const DeliveredMail &) {
            if (n == 3)
                OnUiThread([&] {
                    QTest::mouseClick(Control<QPushButton>(u"BtnSendStop"_s), Qt::LeftButton);
                });
            return DeliveryResult{n != 3, "550 no"};
        };
        dialogs.Answer(true);
        ASSERT_EQ(SendDraft(job), StartSendResult::Failed);
        recorder.answer = {};
        dialogs.Clear();
    }

    std::vector<std::vector<std::string>> MailedFrom(std::size_t first) const
    {
        std::vector<std::vector<std::string>> mailed;
        const std::vector<DeliveredMail> mails = recorder.Mails();
        for (std::size_t i = first; i < mails.size(); ++i)
            mailed.push_back(mails[i].recipients);
        return mailed;
    }

    PreviousRun previous;
};

TEST_F(SendAgainTest, OnlyTheRestEveryoneOrNothing)
{
    AddList("five", People("q", 5));
    const SendJob job = Job({"five"});
    StopAfterThree(job);
    const QString failedList = SjisToQString(ListNameEndingIn(S("_送信失敗")));
    const QString unsentList = SjisToQString(ListNameEndingIn(S("_未送信")));
    const QString question =
        u"前回の中断・失敗した送信で既にメールを送った宛先が 2 件含まれています。"
        u"\r\n残りの宛先（送信リスト「"_s +
        failedList + u"」「"_s + unsentList + u"」）だけに送信できます"_s;

    dialogs.choices = {2}; // キャンセル
    EXPECT_EQ(SendDraft(job), StartSendResult::NotStarted);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownBox::Choice);
    EXPECT_EQ(dialogs.shown[0].text, question);
    EXPECT_EQ(dialogs.lastButtons,
              (QStringList{u"残りの宛先だけに送信"_s, u"全員に送信"_s, u"キャンセル"_s}));
    EXPECT_EQ(recorder.Mails().size(), 3u);

    // Only the rest: the failed one and the two never mailed, nobody twice.
    dialogs.Clear();
    dialogs.choices = {0};
    dialogs.Answer(true);
    EXPECT_EQ(SendDraft(job), StartSendResult::Completed);
    EXPECT_EQ(MailedFrom(3), (std::vector<std::vector<std::string>>{
                                 {"q3@example.jp"}, {"q4@example.jp"}, {"q5@example.jp"}}));
    EXPECT_FALSE(previous.any); // complete: the next send asks nothing

    dialogs.Clear();
    dialogs.Answer(true);
    EXPECT_EQ(SendDraft(job), StartSendResult::Completed);
    EXPECT_EQ(dialogs.shown[0].kind, ShownBox::Question);
    EXPECT_EQ(recorder.Mails().size(), 11u);
}

TEST_F(SendAgainTest, EveryoneMailsTheListsAsTheyAreAndPerListSendingKeepsItsLists)
{
    AddList("one", People("a", 1));
    AddList("two", People("b", 2));
    AddList("four", People("c", 4));
    SendJob job = Job({"one", "two", "four"});
    job.sendIndividually = false;
    // The recorder counts the mails of every run: the failing list is named
    // by its first address.
    const auto failing = [this](const std::string &first) {
        recorder.answer = [first](int, const DeliveredMail &mail) {
            return DeliveryResult{mail.recipients.front() != first, "550 no"};
        };
    };
    failing("b1@example.jp");
    dialogs.Answer(true);
    ASSERT_EQ(SendDraft(job), StartSendResult::Failed);
    recorder.answer = {};
    EXPECT_EQ(previous.restLists, std::vector<std::string>{"two"});

    dialogs.Clear();
    dialogs.choices = {1}; // 全員に送信
    dialogs.Answer(true);
    EXPECT_EQ(SendDraft(job), StartSendResult::Completed);
    EXPECT_TRUE(dialogs.shown[0].text.startsWith(
        u"前回の中断・失敗した送信で既にメールを送った宛先が 5 件含まれています。"_s));
    EXPECT_EQ(MailedFrom(3).size(), 3u);

    // A failed list of a per-list run: only that list again.
    failing("c1@example.jp");
    dialogs.Clear();
    dialogs.Answer(true);
    ASSERT_EQ(SendDraft(job), StartSendResult::Failed);
    recorder.answer = {};
    dialogs.Clear();
    dialogs.choices = {0};
    dialogs.Answer(true);
    EXPECT_EQ(SendDraft(job), StartSendResult::Completed);
    EXPECT_EQ(MailedFrom(9),
              (std::vector<std::vector<std::string>>{
                  {"c1@example.jp", "c2@example.jp", "c3@example.jp", "c4@example.jp"}}));
}

} // namespace

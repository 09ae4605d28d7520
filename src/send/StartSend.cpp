#include "send/StartSend.h"

#include "core/AppState.h"
#include "core/DialogService.h"
#include "core/ErrorReporting.h"
#include "core/SjisCodec.h"
#include "core/UiHelpers.h"
#include "destinations/DestinationStore.h"
#include "send/MailSendThread.h"
#include "send/MessageBuilder.h"
#include "send/SendJournal.h"
#include "send/SendRecovery.h"
#include "send/UnitSendProgress.h"

#include <QEventLoop>
#include <algorithm>
#include <filesystem>

namespace vostrel {

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kFailed =
    u"メール送信に失敗したため、中断しました。送信元の接続設定を再度ご確認ください"_s;

// Set while a run is on: there is one run at a time.
bool runInProgress = false;

// The line about the recipients the run did not get to, when they were stored.
QString UnsentLine(const RunSendResult &result)
{
    if (result.unsentListName.empty())
        return {};
    return u"※未送信の宛先を送信リスト「"_s + SjisToQString(result.unsentListName) +
           u"」に追加しました"_s;
}

// The counts of a run, on a line of their own.
QString CountLine(const RunSendResult &result)
{
    return u"送信 "_s + QString::number(result.sentCount) + u" 件・失敗 "_s +
           QString::number(result.failedCount) + u" 件・総件数 "_s + QString::number(result.total) +
           u" 件"_s;
}

QString FailureText(const RunSendResult &result)
{
    QString text = kFailed + u"\r\n"_s + CountLine(result);
    if (result.outcome == SendOutcome::FailedListStored)
        text += u"\r\n\r\n※失敗した宛先を送信リストに追加しました\r\n送信リスト「"_s +
                SjisToQString(result.failedListName) + u"」"_s;
    if (const QString unsent = UnsentLine(result); !unsent.isEmpty())
        text +=
            (result.outcome == SendOutcome::FailedListStored ? u"\r\n"_s : u"\r\n\r\n"_s) + unsent;
    if (!result.firstFailure.empty())
        text += u"\r\n"_s + QString::fromStdString(result.firstFailure);
    if (result.journalKept) {
        text += u"\r\n\r\n※次のファイルに送信結果を書き込めませんでした。空き容量と書き込みの"
                u"権限をご確認ください。送信の記録を残しましたので、次回の送信時または起動時に"
                u"もう一度書き込みます"_s;
        for (const std::filesystem::path &file : result.unwrittenFiles)
            text += u"\r\n"_s + QStringFromPath(file);
    }
    return text;
}

QString Names(const std::vector<std::string> &names)
{
    QString text;
    for (const std::string &name : names)
        text += u"「"_s + SjisToQString(name) + u"」"_s;
    return text;
}

// The recipients the lists announce, and whether one could not be read.
struct Recipients
{
    long long count = 0;
    bool unreadable = false;
};

Recipients CountRecipients(const std::vector<std::string> &lists)
{
    Recipients r;
    for (const std::string &list : lists) {
        try {
            r.count += std::max(0LL, DestinationListReader(DestinationListPath(list)).Count());
        } catch (const std::exception &) {
            r.unreadable = true;
        }
    }
    return r;
}

// What the confirmation says is about to happen: the mails, the recipients
// of each field with their lists, the sender accounts and the files.
QString RunSummary(const SendJob &job)
{
    const bool toMain = !job.toLists.empty();
    const std::vector<std::string> &mainLists = toMain ? job.toLists : job.bccLists;
    const Recipients main = CountRecipients(mainLists);
    const long long mails =
        job.sendIndividually ? main.count : static_cast<long long>(mainLists.size());
    QString text = u"送信するメール：%1 通"_s.arg(mails);
    bool unreadable = main.unreadable;
    auto field = [&](const QString &label, const std::vector<std::string> &lists,
                     const Recipients &r, bool firstOnly) {
        text += u"\r\n"_s + label + u"：%1 件 "_s.arg(r.count) + Names(lists);
        if (firstOnly)
            text += u"（１通目のみ）"_s;
    };
    field(toMain ? u"宛先"_s : u"BCC"_s, mainLists, main, false);
    if (!job.ccLists.empty()) {
        const Recipients cc = CountRecipients(job.ccLists);
        unreadable = unreadable || cc.unreadable;
        field(u"CC"_s, job.ccLists, cc, job.ccFirstOnly);
    }
    if (toMain && !job.bccLists.empty()) {
        const Recipients bcc = CountRecipients(job.bccLists);
        unreadable = unreadable || bcc.unreadable;
        field(u"BCC"_s, job.bccLists, bcc, job.bccFirstOnly);
    }
    text += u"\r\n送信元："_s + Names(job.senderNames);
    text += u"\r\n添付ファイル：%1 件"_s.arg(job.attachments.size());
    if (!job.inlinePictures.empty())
        text += u"・画像：%1 件"_s.arg(job.inlinePictures.size());
    if (unreadable)
        text += u"\r\n※読み込めない送信リストがあります"_s;
    return text;
}

// How many of the main lists' recipients the draft's last run reached.
long long ReachedAgain(const SendJob &job, const PreviousRun &previous)
{
    long long again = 0;
    for (const std::string &list : job.toLists.empty() ? job.bccLists : job.toLists) {
        try {
            DestinationListReader reader(DestinationListPath(list));
            Recipient recipient;
            while (reader.Next(recipient))
                again += previous.reached.count(recipient.fields[2]) > 0 ? 1 : 0;
        } catch (const std::exception &) {
            // The run reports a list it cannot read.
        }
    }
    return again;
}

// Before a send mails again someone the draft's last stopped or failed run
// reached: only the rest, everyone, or nothing. False when cancelled; the job
// then goes to the rest's lists when that was chosen.
bool AskAboutTheReached(QWidget *parent, SendJob &job, const PreviousRun *previous)
{
    if (!previous || !previous->any)
        return true;
    const long long again = ReachedAgain(job, *previous);
    if (again == 0)
        return true;
    QString text =
        u"前回の中断・失敗した送信で既にメールを送った宛先が %1 件含まれています。"_s.arg(again);
    QStringList buttons;
    if (!previous->restLists.empty()) {
        text += u"\r\n残りの宛先（送信リスト"_s + Names(previous->restLists) +
                u"）だけに送信できます"_s;
        buttons << u"残りの宛先だけに送信"_s;
    }
    buttons << u"全員に送信"_s << u"キャンセル"_s;
    const int chosen = AskChoice(parent, text, buttons);
    if (chosen < 0 || chosen == buttons.size() - 1)
        return false;
    if (!previous->restLists.empty() && chosen == 0)
        (job.toLists.empty() ? job.bccLists : job.toLists) = previous->restLists;
    return true;
}

// What a stopped or failed run leaves for the draft's next send.
void NoteRun(PreviousRun *previous, const SendJob &job, const RunSendResult &result)
{
    if (!previous)
        return;
    if (!result.stopped && result.outcome == SendOutcome::Finished) {
        *previous = {};
        return;
    }
    previous->any = true;
    previous->reached.insert(result.reachedAddresses.begin(), result.reachedAddresses.end());
    previous->restLists.clear();
    if (result.listsIncomplete)
        return;
    if (job.sendIndividually) {
        for (const std::string *name : {&result.failedListName, &result.unsentListName})
            if (!name->empty())
                previous->restLists.push_back(*name);
        return;
    }
    const std::vector<std::string> &mainLists = job.toLists.empty() ? job.bccLists : job.toLists;
    for (std::size_t k = 0; k < mainLists.size(); ++k) {
        const auto n = static_cast<long long>(k) + 1;
        const bool failed = std::any_of(result.failures.begin(), result.failures.end(),
                                        [n](const SendFailure &f) { return f.position == n; });
        if (failed || n > result.attempted)
            previous->restLists.push_back(mainLists[k]);
    }
}

// Shows the progress window, runs the job on MailSendThread and processes
// window events until the outcome is no longer Running.
RunSendResult RunWithProgress(const SendJob &job, TFormSendProgress &progress,
                              const RunSendOptions &options)
{
    struct InProgress
    {
        InProgress() { runInProgress = true; }
        ~InProgress() { runInProgress = false; }
    } inProgress;
    progress.show();
    progress.SetRunning(true);
    MailSendThread thread(job, progress.StopFlag(), options);
    QObject::connect(&thread, &MailSendThread::PositionChanged, &progress,
                     &TFormSendProgress::ShowPosition, Qt::QueuedConnection);
    QObject::connect(&thread, &MailSendThread::SenderChanged, &progress,
                     &TFormSendProgress::ShowSender, Qt::QueuedConnection);
    QObject::connect(&thread, &MailSendThread::FailedCountChanged, &progress,
                     &TFormSendProgress::ShowFailed, Qt::QueuedConnection);
    QObject::connect(&thread, &MailSendThread::WaitingChanged, &progress,
                     &TFormSendProgress::ShowWaiting, Qt::QueuedConnection);
    QEventLoop loop;
    QObject::connect(&thread, &MailSendThread::RunEnded, &loop, &QEventLoop::quit,
                     Qt::QueuedConnection);
    thread.start();
    // The loop sleeps until an event arrives; the end of the run is one.
    while (thread.Outcome() == SendOutcome::Running)
        loop.exec();
    thread.wait();
    progress.SetRunning(false);
    progress.close();
    return thread.Result();
}

} // namespace

void ReportInterruptedSend(QWidget *parent)
{
    RunGuarded(parent, [parent] {
        const SendRecoveryReport report = RecoverInterruptedSend(CurrentKey());
        if (!report.message.empty())
            ShowMessage(parent, QString::fromStdString(report.message));
    });
}

StartSendResult StartSend(SendJob job, TFormSendProgress &progress, const ComposeSendLink &link,
                          const RunSendOptions &options)
{
    QWidget *parent = link.window;
    if (runInProgress)
        return StartSendResult::NotStarted;
    if (SendJournalPending()) {
        // A run that did not end is accounted for before another may start.
        ReportInterruptedSend(parent);
        return StartSendResult::NotStarted;
    }
    if (job.senderNames.empty()) {
        ShowWarning(parent, u"送信元を選択してください"_s);
        return StartSendResult::NotStarted;
    }
    if (job.toLists.empty() && job.bccLists.empty()) {
        ShowWarning(parent, u"宛先、又はBCCが選択されていません"_s);
        return StartSendResult::NotStarted;
    }
    if (job.body.empty()) {
        ShowWarning(parent, u"文章を入力してください"_s);
        return StartSendResult::NotStarted;
    }
    if (const std::string problem = UnsubscribeUrlProblem(job.unsubscribeUrl); !problem.empty()) {
        ShowWarning(parent, QString::fromStdString(problem));
        return StartSendResult::NotStarted;
    }
    if (!AskAboutTheReached(parent, job, link.previous))
        return StartSendResult::NotStarted;
    if (job.toLists.empty()) {
        if (!AskYesNo(parent, u"BCCメールを送信します。よろしいですか？\r\n"
                              u"※BCCの「１通目のみ送信」を解除して送信します"_s))
            return StartSendResult::NotStarted;
        job.bccFirstOnly = false;
        if (link.clearBccFirstOnly)
            link.clearBccFirstOnly();
    }
    if (!AskYesNo(parent, (job.subject.empty()
                               ? u"件名が未入力です。このままメールを送信してよろしいですか？"_s
                               : u"メールを送信します。よろしいですか？"_s) +
                              u"\r\n\r\n"_s + RunSummary(job)))
        return StartSendResult::NotStarted;

    // Nothing goes without what the user attached: a file that is gone or
    // cannot be read stops the start, naming it.
    if (const std::string problem = JobFilesProblem(job); !problem.empty()) {
        ShowWarning(parent, QString::fromStdString(problem));
        return StartSendResult::NotStarted;
    }

    const RunSendResult result = RunWithProgress(job, progress, options);
    NoteRun(link.previous, job, result);

    switch (result.outcome) {
    case SendOutcome::Failed:
    case SendOutcome::FailedListStored:
        ShowWarning(parent, FailureText(result));
        return StartSendResult::Failed;
    case SendOutcome::Running:
    case SendOutcome::Finished:
        break;
    }
    if (result.stopped) {
        QString text = u"メール送信を中断しました\r\n"_s + CountLine(result);
        if (const QString unsent = UnsentLine(result); !unsent.isEmpty())
            text += u"\r\n\r\n"_s + unsent;
        ShowMessage(parent, text);
        return StartSendResult::Stopped;
    }
    ShowMessage(parent, u"メール送信が完了しました"_s);
    return StartSendResult::Completed;
}

} // namespace vostrel

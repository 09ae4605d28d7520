#include "send/StartSend.h"

#include "core/AppState.h"
#include "core/DialogService.h"
#include "core/ErrorReporting.h"
#include "core/SjisCodec.h"
#include "send/MailSendThread.h"
#include "send/MessageBuilder.h"
#include "send/SendJournal.h"
#include "send/SendRecovery.h"
#include "send/UnitSendProgress.h"

#include <QEventLoop>
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

QString FailureText(const RunSendResult &result)
{
    QString text = kFailed;
    if (result.outcome == SendOutcome::FailedListStored)
        text += u"\r\n\r\n※失敗した宛先を送信リストに追加しました"_s;
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
            text += u"\r\n"_s + QString::fromStdString(file.string());
    }
    return text;
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
        ShowMessage(parent, u"送信元を選択してください"_s);
        return StartSendResult::NotStarted;
    }
    if (job.toLists.empty() && job.bccLists.empty()) {
        ShowMessage(parent, u"宛先、又はBCCが選択されていません"_s);
        return StartSendResult::NotStarted;
    }
    if (job.body.empty()) {
        ShowMessage(parent, u"文章を入力してください"_s);
        return StartSendResult::NotStarted;
    }
    if (job.toLists.empty()) {
        if (!AskYesNo(parent, u"BCCメールを送信します。よろしいですか？\r\n"
                              u"※BCCの「１通目のみ送信」を解除して送信します"_s))
            return StartSendResult::NotStarted;
        job.bccFirstOnly = false;
        if (link.clearBccFirstOnly)
            link.clearBccFirstOnly();
    }
    if (!AskYesNo(parent, job.subject.empty()
                              ? u"件名が未入力です。このままメールを送信してよろしいですか？"_s
                              : u"メールを送信します。よろしいですか？"_s))
        return StartSendResult::NotStarted;

    // Nothing goes without what the user attached: a file that is gone or
    // cannot be read stops the start, naming it.
    if (const std::string problem = JobFilesProblem(job); !problem.empty()) {
        ShowMessage(parent, QString::fromStdString(problem));
        return StartSendResult::NotStarted;
    }

    const RunSendResult result = RunWithProgress(job, progress, options);

    switch (result.outcome) {
    case SendOutcome::Failed:
    case SendOutcome::FailedListStored:
        ShowMessage(parent, FailureText(result));
        return StartSendResult::Failed;
    case SendOutcome::Running:
    case SendOutcome::Finished:
        break;
    }
    if (result.stopped) {
        QString text = u"メール送信を中断しました"_s;
        if (const QString unsent = UnsentLine(result); !unsent.isEmpty())
            text += u"\r\n\r\n"_s + unsent;
        ShowMessage(parent, text);
        return StartSendResult::Stopped;
    }
    ShowMessage(parent, u"メール送信が完了しました"_s);
    return StartSendResult::Completed;
}

} // namespace vostrel

#include "send/SendRecovery.h"

#include "core/SjisCodec.h"
#include "send/SendJournal.h"

#include <unistd.h>

namespace vostrel {

namespace {

constexpr const char *kHeadline = "前回の送信は途中で終了しました。";

std::string Count(long long n)
{
    return std::to_string(n) + "通";
}

std::string FinishedMessage(const SendRecoveryReport &report)
{
    const RunSendResult &run = report.run;
    long long failedMails = 0;
    for (const SendFailure &failure : run.failures)
        failedMails += failure.position > 0 ? 1 : 0;
    std::string text = kHeadline;
    text += "\r\n開始日時：" + SjisToUtf8(run.startTime);
    text += "\r\n送信済み：" + Count(run.sentCount) + " / " + Count(run.total);
    text += "\r\n送信失敗：" + Count(failedMails);
    text += "\r\n未送信：" + Count(run.total - run.attempted);
    std::string notes;
    auto note = [&notes](const std::string &line) { notes += "\r\n※" + line; };
    if (!run.failedListName.empty())
        note("失敗した宛先を送信リスト「" + SjisToUtf8(run.failedListName) + "」に追加しました");
    if (!run.unsentListName.empty())
        note("未送信の宛先を送信リスト「" + SjisToUtf8(run.unsentListName) + "」に追加しました");
    if (run.interruptedMail > 0) {
        std::string to = run.interruptedMailTo.empty()
                             ? std::string()
                             : "（" + SjisToUtf8(run.interruptedMailTo) + "）";
        note(std::to_string(run.interruptedMail) + "通目" + to +
             "は送信の途中で終了したため、届いている可能性があります。"
             "この宛先も未送信の宛先に含めています");
    }
    if (report.tailDamaged)
        note("送信の記録の最後の部分が読めなかったため、読めたところまでを送信済み・送信失敗と"
             "しています。それより後のメールも届いている可能性があります");
    for (const SendFailure &failure : run.failures)
        if (failure.position == 0)
            note(failure.reason);
    if (report.journalKept) {
        std::string kept = "送信結果を書き込めなかったため、送信の記録を残しました。"
                           "次回の送信時または起動時に、もう一度処理します";
        for (const std::filesystem::path &file : run.unwrittenFiles)
            kept += "\r\n" + file.string();
        note(kept);
    }
    if (!notes.empty())
        text += "\r\n" + notes;
    return text;
}

} // namespace

SendRecoveryReport RecoverInterruptedSend(const std::string &key)
{
    SendRecoveryReport report;
    if (!SendJournalPending()) {
        // A progress file without its plan is what is left of a run that
        // had already removed its plan.
        ::unlink(SendProgressPath().c_str());
        return report;
    }
    SendJournalContents journal;
    try {
        journal = ReadSendJournal(key);
    } catch (const std::exception &e) {
        report.kind = SendRecoveryReport::Kind::Unreadable;
        report.message = std::string(kHeadline) +
                         "\r\n送信の記録を読み込めなかったため、送信ログと送信失敗・未送信の"
                         "宛先リストは作成できませんでした。\r\n" +
                         e.what();
        try {
            report.setAside = SetSendJournalAside();
            report.message +=
                "\r\n記録のファイルは次の名前で残しました: " + report.setAside.string();
        } catch (const std::exception &aside) {
            report.message += std::string("\r\n") + aside.what();
        }
        return report;
    }
    report.kind = SendRecoveryReport::Kind::Finished;
    report.tailDamaged = journal.tailDamaged;
    report.run = FinishJournaledRun(journal, key);
    if (report.run.listsIncomplete || !report.run.unwrittenFiles.empty()) {
        report.journalKept = true;
    } else {
        SendJournalStep("remove");
        try {
            RemoveSendJournal();
        } catch (const std::exception &e) {
            report.run.failures.push_back(
                {0, std::string("送信の記録を削除できませんでした\n") + e.what()});
        }
    }
    report.message = FinishedMessage(report);
    return report;
}

} // namespace vostrel

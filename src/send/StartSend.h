// The send button of the compose window: the checks and questions before a
// run, the progress window during it and the messages after it.
#pragma once

#include "send/SendEngine.h"
#include "send/SendJob.h"

#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

class QWidget;

namespace vostrel {

class TFormSendProgress;

// What the last run of a draft that was stopped or failed left behind: who
// was reached, and the lists that hold everyone else. The compose window
// keeps it with the draft; the next send of the draft asks before it mails
// someone of them again.
struct PreviousRun
{
    bool any = false;
    std::unordered_set<std::string> reached; // main-field addresses (Shift_JIS)
    // The lists to send to for "only the rest": the stored _送信失敗 and
    // _未送信 lists (individual sending), or the lists whose mail did not go
    // (per-list sending). Empty when they could not be stored.
    std::vector<std::string> restLists;
};

// What the compose window lends the send button.
struct ComposeSendLink
{
    QWidget *window = nullptr; // the parent of every box
    // Unchecks CBBccOneSend (the user confirmed a send with Bcc lists only).
    std::function<void()> clearBccFirstOnly;
    // The draft's last stopped or failed run; read before and written after
    // the run (cleared after a complete one). May be null.
    PreviousRun *previous = nullptr;
};

enum class StartSendResult
{
    NotStarted, // a check failed or a question was answered No
    Completed,  // every mail sent: the compose window clears askOnClose and closes
    Stopped,    // the user stopped the run; the window stays open
    Failed,     // a mail failed; the window stays open
};

// Checks the job, asks, runs it on MailSendThread with the progress window
// shown, keeps the windows responsive until the run ends, and shows the end
// message.
// A run whose journal is still pending is accounted for first
// (ReportInterruptedSend) and nothing is sent then.
StartSendResult StartSend(SendJob job, TFormSendProgress &progress, const ComposeSendLink &link,
                          const RunSendOptions &options = {});

// Does the bookkeeping of a send run that the end of the program cut short
// (RecoverInterruptedSend under CurrentKey) and tells the user what happened.
// The main window calls it once the log-in has set the key and before it
// shows the history. Nothing happens when no run is pending. Never throws.
void ReportInterruptedSend(QWidget *parent);

} // namespace vostrel

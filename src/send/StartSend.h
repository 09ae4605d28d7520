// The send button of the compose window: the checks and questions before a
// run, the progress window during it and the messages after it.
#pragma once

#include "send/SendEngine.h"
#include "send/SendJob.h"

#include <functional>

class QWidget;

namespace vostrel {

class TFormSendProgress;

// What the compose window lends the send button.
struct ComposeSendLink
{
    QWidget *window = nullptr; // the parent of every box
    // Unchecks CBBccOneSend (the user confirmed a send with Bcc lists only).
    std::function<void()> clearBccFirstOnly;
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

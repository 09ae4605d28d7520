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
StartSendResult StartSend(SendJob job, TFormSendProgress &progress, const ComposeSendLink &link,
                          const RunSendOptions &options = {});

} // namespace vostrel

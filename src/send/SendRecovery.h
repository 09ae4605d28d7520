// Accounting at start-up for a send run that the end of the program (a crash,
// a kill, a power cut) cut short, from the journal it left (SendJournal.h).
#pragma once

#include "core/AppState.h"
#include "send/SendEngine.h"

#include <filesystem>
#include <string>

namespace vostrel {

struct SendRecoveryReport
{
    enum class Kind
    {
        Nothing,    // no journal was pending
        Finished,   // the run's logs and lists were written from its journal
        Unreadable, // the journal could not be read: it was set aside
    };
    Kind kind = Kind::Nothing;
    // Finished: what the bookkeeping did.
    RunSendResult run;
    bool tailDamaged = false; // the journal's last entries could not be read
    // Finished: a log or a list could not be written (run.unwrittenFiles),
    // so the journal stays for the next send or start.
    bool journalKept = false;
    // Unreadable: where the journal's plan was moved.
    std::filesystem::path setAside;
    // What to tell the user (UTF-8); empty for Nothing. It begins with
    // "前回の送信は途中で終了しました".
    std::string message;
};

// Finishes the bookkeeping of a pending journal under key (FinishJournaledRun)
// and removes the journal; a journal that cannot be read is set aside with a
// message and nothing else changes. Run after the log-in and before anything
// shows the history. Never throws.
SendRecoveryReport RecoverInterruptedSend(const std::string &key = CurrentKey());

} // namespace vostrel

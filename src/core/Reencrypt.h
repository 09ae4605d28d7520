// Rewriting every data file under a new key, all or nothing.
//
// Every file is first written anew under the new key beside the old one (as
// ".<name>.rekey"). Only when all of them are on disk is a journal listing
// them committed; then each new file is renamed over its old one, config.dat
// last, and the journal is removed. Whatever moment the process dies at, the
// next start either finds no journal (and deletes the half-made new files:
// everything is still under the old key) or finds the journal (and finishes
// the renames: everything is under the new key). config.dat always matches
// the files once RecoverInterruptedKeyChange has run.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace vostrel {

struct ReencryptProgress
{
    // Called with 1 (destination lists), 2 (sender accounts), 3 (sent-mail
    // logs) and 4 (the password record) as the work reaches each kind.
    std::function<void(int position)> onPosition;
    // Called every 50 records of a list and after every file, so that a
    // window can process its pending events.
    std::function<void()> pumpEvents;
};

// Rewrites the destination lists, the sender accounts, the sent-mail logs of
// the existing sender accounts and config.dat under newKey, then sets
// CurrentKey to newKey. On an error before the switch-over nothing has
// changed (CurrentKey stays oldKey) and the error is thrown. Signatures and
// the work folder are not touched.
void ReencryptAll(const std::string &oldKey, const std::string &newKey,
                  const ReencryptProgress &progress = {});

enum class KeyChangeRecovery
{
    Nothing,
    RolledBack,
    RolledForward
};
// Run at start-up, before the log-in: completes a change whose journal was
// committed, or removes the traces of one that was not.
KeyChangeRecovery RecoverInterruptedKeyChange();

// The path of the new file written beside target during a change.
std::filesystem::path RekeySidePath(const std::filesystem::path &target);
// The journal of a change in progress: DataFolder() + "rekey.journal".
std::filesystem::path RekeyJournalPath();

// Test hook: called with a step name ("write <path>", "commit",
// "switch <path>", "done") before each step; it may throw to fail that step.
void SetReencryptStepHook(std::function<void(const std::string &step)> hook);

} // namespace vostrel

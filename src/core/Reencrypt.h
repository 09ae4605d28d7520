// Rewriting every record file under a new key, all or nothing.
//
// The subsystems that own record files register what they own (a kind: how
// to find its files and how to rewrite one). A change writes every new file
// into a staging folder of its own inside the data folder, mirroring the
// live layout; only when all of them are on disk is a journal listing them
// committed there. Then each staged file is renamed over its live one,
// config.dat last, and the staging folder is removed. Whatever moment the
// process dies at, the next start looks only into the staging folder: without
// a committed journal it deletes the folder (everything is still under the
// old key), with one it finishes the renames (everything is under the new
// key). No file outside the staging folder is ever taken for a leftover.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace vostrel {

struct ReencryptProgress
{
    // Called with each kind's position (1 destination lists, 2 sender
    // accounts, 3 sent-mail logs) and with 4 for the password record.
    std::function<void(int position)> onPosition;
    // Called every 50 records of a file and after every file, so that a
    // window can process its pending events.
    std::function<void()> pumpEvents;
};

// One kind of record file, supplied by the subsystem that owns its layout.
// Each subsystem registers all of its kinds in one function, which the
// program calls at start: RegisterDestinationsRekeyKinds(),
// RegisterSendersRekeyKinds() and RegisterSendRekeyKinds().
struct RekeyKind
{
    int position = 0; // 1..3, the order of the kinds and the progress shown
    std::string name; // registering a kind of the same name replaces it
    // Every file of the kind now on disk, by its real path.
    std::function<std::vector<std::filesystem::path>()> files;
    // Reads `from` under oldKey and writes the same records to `to` under
    // newKey (EncryptedFieldFile::Create + Commit). pump processes events.
    std::function<void(const std::filesystem::path &from, const std::filesystem::path &to,
                       const std::string &oldKey, const std::string &newKey,
                       const std::function<void()> &pump)>
        rewrite;
};
void RegisterRekeyKind(RekeyKind kind);
// The kinds registered now, by position (registration order within one).
std::vector<RekeyKind> RegisteredRekeyKinds();

// A rewrite that copies every field of the file as it is.
void RekeyCopyAllFields(const std::filesystem::path &from, const std::filesystem::path &to,
                        const std::string &oldKey, const std::string &newKey,
                        const std::function<void()> &pump);

// True while a password change runs. Operations that write records refuse
// to start meanwhile, and a change refuses to start while one of them runs.
bool KeyChangeRunning();

// Rewrites the files of every registered kind and config.dat under newKey,
// then sets CurrentKey to newKey. Each file found is rewritten exactly once.
// On an error before the switch-over nothing has changed (CurrentKey stays
// oldKey) and the error is thrown. Signatures and the work folder are not
// touched.
void ReencryptAll(const std::string &oldKey, const std::string &newKey,
                  const ReencryptProgress &progress = {});

enum class KeyChangeRecovery
{
    Nothing,
    RolledBack,
    RolledForward
};
// Run at start-up, before the log-in: completes a change whose journal was
// committed, or removes the staging folder of one that was not.
KeyChangeRecovery RecoverInterruptedKeyChange();

// DataFolder() + "rekey-staging/": where a change writes its new files.
std::filesystem::path RekeyStagingFolder();
// The journal of a change in progress, inside the staging folder.
std::filesystem::path RekeyJournalPath();

#ifdef VOSTREL_TEST_HOOKS
// Test builds only: called with a step name ("write <path>", "commit",
// "switch <path>", "done") before each step; it may throw to fail that step.
void SetReencryptStepHook(std::function<void(const std::string &step)> hook);
#endif

} // namespace vostrel

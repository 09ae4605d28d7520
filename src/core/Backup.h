// Backup and restore of the whole data folder.
//
// A backup is a folder "Vostrel_backup" (or "Vostrel_backup(1)", (2), ...)
// inside a folder the user chooses, holding a copy of every sub-folder of the
// data folder and config.dat, still encrypted under the key of the moment.
// The plain work pages (IsPlainWorkFile) are left out.
//
// A restore replaces the data folder's sub-folders and config.dat by the
// backup's, all or nothing: the backup is first copied into a staging folder
// inside the data folder, every file and folder synced to disk; only when the
// copy is complete is the switch committed, and then each entry is swapped in
// by renaming. A failed copy leaves the old data as it was; a switch cut short
// by a crash is finished at the next start (OpenDataFolder).
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace vostrel {

// The first of chosen/Vostrel_backup, chosen/Vostrel_backup(1), ... that does
// not exist.
std::filesystem::path NextBackupFolder(const std::filesystem::path &chosen);

// Makes a backup inside chosen and returns its folder. A file or folder that
// cannot be copied throws FileError naming it; the partial backup folder is
// then removed.
std::filesystem::path MakeBackup(const std::filesystem::path &chosen);

// True when folder holds config.dat and the folders Senders, Logs, Signature
// and Receivers (checked in that order).
bool IsValidBackup(const std::filesystem::path &folder);

// The first symbolic link found anywhere inside folder (links are never
// followed), or an empty path when there is none.
std::filesystem::path FindSymbolicLink(const std::filesystem::path &folder);
// Throws FileError naming the first symbolic link inside backup: a restore
// reads nothing that lies outside the backup.
void RefuseSymbolicLinks(const std::filesystem::path &backup);

// A check that every restore makes first: the reason (UTF-8 text for the
// user) why a restore may not run now, or empty when it may. Subsystems whose
// unfinished work a restore would spoil register one; a guard of the same name
// replaces the earlier one.
void RegisterRestoreGuard(std::string name, std::function<std::string()> guard);
// Throws VostrelError with the reason when a restore may not run now: a guard
// refuses, or a committed restore is still to be finished by the next start.
void CheckRestoreMayRun();

// True when the backup's config.dat holds key (see ConfigFileHoldsKey).
// Throws FileError when it cannot be read.
bool BackupHoldsKey(const std::filesystem::path &backup, const std::string &key);

// Replaces every sub-folder of the data folder and config.dat by the backup's
// (a sub-folder the backup lacks comes back empty; other files directly in the
// data folder and extra folders of the backup are left alone). key is the
// backup's password, already checked with BackupHoldsKey; the copy of
// config.dat must hold it too, or nothing changes. Throws FileError naming
// the file that could not be copied or the symbolic link found, VostrelError
// with the reason of CheckRestoreMayRun; nothing has changed then.
void RestoreBackup(const std::filesystem::path &backup, const std::string &key);

// Run at start-up, before the folder tree is made again: finishes a restore
// whose switch was committed, or removes the staging folder of one that was
// not. True when something was found.
bool RecoverInterruptedRestore();

// DataFolder() + "restore-staging/".
std::filesystem::path RestoreStagingFolder();

#ifdef VOSTREL_TEST_HOOKS
// Test builds only: called with each file before it is copied (by a backup
// or a restore); it may throw to make that copy fail.
void SetBackupCopyHook(std::function<void(const std::filesystem::path &file)> hook);
// Test builds only: called with a step name of a restore before and after
// each step ("copy <file>", "copied <file>", "commit", "committed",
// "rename <from>", "renamed <from>", "clean", "done").
void SetRestoreStepHook(std::function<void(const std::string &step)> hook);
#endif

} // namespace vostrel

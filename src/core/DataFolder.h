// The data folder tree, file listing and the file-system side of names.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vostrel {

// The folder for the user's application data ($XDG_DATA_HOME, by default
// ~/.local/share).
std::filesystem::path AppDataRoot();
// AppDataRoot() + "Halvik/Vostrel/".
std::filesystem::path DefaultDataFolder();

// Creates, one level each and in this order, Halvik/, the data folder, Logs/,
// Signature/, Senders/, Receivers/, work/, work/AppendedImage/ and
// work/HtmlImage/ (mode 0700); then the empty signature files sig01.dat ..
// sig05.dat (mode 0600) that do not exist yet. Then everything in the data
// folder is made private again (KeepDataFolderPrivate) and the plain work
// pages are deleted (RemovePlainWorkFiles). Failures are not reported here:
// the operations that later use a folder report them.
void PrepareDataFolder(const std::filesystem::path &dataFolder);

// The start of the program's use of the data folder, before any record is
// read: sets DataFolder(), finishes or undoes a restore and a password change
// that a crash interrupted, and only then prepares the tree
// (PrepareDataFolder); a folder made again before the recovery would stand
// in the place of one that a restore had moved away. At the start no draft
// is kept, so the copies of attachments and inline pictures still in the work
// folder (left by a crash, a kill or a restore) belong to none: they are
// removed (RemoveDraftCopies), and an old file can never go out under the
// name of a new one. An error of the recovery is thrown once the tree is
// prepared.
void OpenDataFolder(const std::filesystem::path &dataFolder);

// Takes the group and other permission bits off the data folder and off every
// folder and file in it (links are not followed), so that records stay 0600
// and folders 0700 whatever made them wider.
void KeepDataFolderPrivate(const std::filesystem::path &dataFolder);

// True for the work folder's plain-text pages, which may hold a recipient's
// merged values: every "*_work.html" (History_work.html, Preview_work.html)
// and the temporary files they are written through.
bool IsPlainWorkFile(std::string_view fileName);
// Deletes the plain work pages directly in the work folder of dataFolder;
// the draft's AppendedImage/ and HtmlImage/ are not touched.
void RemovePlainWorkFiles(const std::filesystem::path &dataFolder);

// Empties the draft's folders work/AppendedImage/ and work/HtmlImage/ of
// dataFolder (the folders themselves stay), silently.
void RemoveDraftCopies(const std::filesystem::path &dataFolder);

// The file name on disk of a name held as Shift_JIS text (its UTF-8 form).
std::filesystem::path FileNameOf(std::string_view sjisName);
// The Shift_JIS name of a file name on disk, or false when it cannot be held.
bool NameOfFile(const std::filesystem::path &fileName, std::string &sjisName);

// The plain files in folder whose extension is ".vsl" in any letter case, by
// their real paths, sorted by file name. Files whose names cannot be held as
// Shift_JIS text are left out. A missing folder gives an empty list. Every
// reader of record folders (lists, accounts, logs, the password change)
// starts from this one listing.
std::vector<std::filesystem::path> ListVslFiles(const std::filesystem::path &folder);
// Names (file names without the extension, as Shift_JIS text) of the files
// of ListVslFiles, in the same order. A file named only ".vsl" gives the empty
// name.
std::vector<std::string> ListVslNames(const std::filesystem::path &folder);
// The Shift_JIS name of a file of ListVslFiles (its name without extension).
std::string VslNameOf(const std::filesystem::path &file);
// True when fileName ends in ".vsl" in any letter case.
bool HasVslExtension(std::string_view fileName);

} // namespace vostrel

// The program's plain settings: how the windows were laid out when they were
// last closed, and the folder the backup dialogs last used. Nothing secret
// goes here.
#pragma once

#include <QString>
#include <filesystem>

class QWidget;

namespace vostrel {

// DataFolder() + "settings.ini", an INI file. Not part of a backup (only the
// data folder's sub-folders and config.dat are). A file that cannot be read
// as settings is ignored, and written anew at the next change.
std::filesystem::path SettingsFile();

// Gives window, under its object name, the size it had (and whether it was
// maximised), the positions of its named splitters and the column widths of
// its named list views as they were when it was last hidden; and remembers
// them again each time it is hidden (closed). A value that does not fit (a
// size out of range, a different number of columns or panes) is left out, so
// a damaged file changes nothing.
void RememberWindowLayout(QWidget *window);

// The folder last chosen in the backup and restore dialogs; empty when there
// is none or it no longer exists.
QString LastBackupFolder();
void SetLastBackupFolder(const QString &folder);

} // namespace vostrel

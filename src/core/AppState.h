// The state that every operation reads: the key in effect and the data and
// work folders. The main window sets them; logic on any thread reads them.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace vostrel {

// The fixed key used when the user chose to have no password.
inline constexpr std::string_view DefaultKey = "Tenmar4";

std::string CurrentKey();
void SetCurrentKey(std::string key);

// The data root, .../Halvik/Vostrel/ (always with a trailing separator).
std::filesystem::path DataFolder();
// DataFolder() + "work/".
std::filesystem::path WorkFolder();
void SetDataFolder(const std::filesystem::path &folder);

// Held by an operation that writes records while it lets window events run
// (a list being saved or imported, a send run). A password change refuses to
// start while one is held, so that it never rewrites a file that such an
// operation is about to write under the old key.
class RecordWriteScope
{
public:
    RecordWriteScope();
    ~RecordWriteScope();
    RecordWriteScope(const RecordWriteScope &) = delete;
    RecordWriteScope &operator=(const RecordWriteScope &) = delete;

    // The number of scopes held now, on any thread.
    static int Active();
};

} // namespace vostrel

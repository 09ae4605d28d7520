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

} // namespace vostrel

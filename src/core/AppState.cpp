#include "core/AppState.h"

#include "core/DataLayout.h"
#include <atomic>
#include <mutex>

namespace vostrel {
namespace {

std::mutex stateMutex;
std::string currentKey(DefaultKey);
std::filesystem::path dataFolder;
std::atomic<int> recordWriters{0};

} // namespace

std::string CurrentKey()
{
    std::lock_guard lock(stateMutex);
    return currentKey;
}

void SetCurrentKey(std::string key)
{
    std::lock_guard lock(stateMutex);
    currentKey = std::move(key);
}

std::filesystem::path DataFolder()
{
    std::lock_guard lock(stateMutex);
    return dataFolder;
}

std::filesystem::path WorkFolder()
{
    std::lock_guard lock(stateMutex);
    return dataFolder / layout::kWork / "";
}

void SetDataFolder(const std::filesystem::path &folder)
{
    std::lock_guard lock(stateMutex);
    dataFolder = folder / ""; // keep the trailing separator
}

RecordWriteScope::RecordWriteScope()
{
    ++recordWriters;
}

RecordWriteScope::~RecordWriteScope()
{
    --recordWriters;
}

int RecordWriteScope::Active()
{
    return recordWriters.load();
}

} // namespace vostrel

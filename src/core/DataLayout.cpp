#include "core/DataLayout.h"

#include "core/AppState.h"

namespace vostrel {

namespace fs = std::filesystem;

std::string layout::SignatureFileName(int slot)
{
    return "sig0" + std::to_string(slot) + ".dat";
}

fs::path SendersFolder()
{
    return DataFolder() / layout::kSenders;
}

fs::path ReceiversFolder()
{
    return DataFolder() / layout::kReceivers / "";
}

fs::path LogsFolder()
{
    return DataFolder() / layout::kLogs / "";
}

fs::path SignatureFolder()
{
    return DataFolder() / layout::kSignature / "";
}

} // namespace vostrel

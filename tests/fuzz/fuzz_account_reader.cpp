// Sender account files of any content: read whole, or a file or conversion
// error; an account read is written and read back unchanged.
#include "FuzzInput.h"

#include "core/Errors.h"
#include "senders/SenderAccount.h"

#include <cstdlib>

using namespace vostrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::PrepareDataFolder();
    const auto path = SenderAccountPath("fuzz");
    fuzz::WriteRecordFile(path, data, size);
    SenderAccount account;
    try {
        account = ReadSenderAccount(path);
    } catch (const VostrelError &) {
        return 0;
    }
    WriteSenderAccount(path, account);
    if (!(ReadSenderAccount(path) == account))
        std::abort();
    return 0;
}

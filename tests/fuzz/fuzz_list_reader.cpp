// Destination list files of any content: reading them fails cleanly or gives
// at most what the file holds; appending to a readable list keeps it readable.
#include "FuzzInput.h"

#include "core/Errors.h"
#include "core/Reencrypt.h"
#include "destinations/DestinationStore.h"

#include <cstdlib>

using namespace vostrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::PrepareDataFolder();
    const auto path = DestinationListPath("fuzz");
    fuzz::WriteRecordFile(path, data, size);
    std::size_t read = 0;
    try {
        DestinationListReader reader(path);
        Recipient recipient;
        while (reader.Next(recipient))
            ++read;
    } catch (const FileError &) {
    }
    ListDestinationLists();
    try {
        const DestinationList list = LoadDestinationList("fuzz");
        if (list.recipients.size() != read)
            std::abort();
        AppendRecipients("fuzz", {"name", "", "a@b"});
        if (LoadDestinationList("fuzz").recipients.size() != read + 1)
            std::abort();
    } catch (const FileError &) {
    }
    // The password change's rewriting of a list reads it whole or fails.
    fuzz::WriteRecordFile(path, data, size);
    RegisterDestinationsRekeyKinds();
    try {
        ReencryptAll(CurrentKey(), CurrentKey());
    } catch (const VostrelError &) {
    }
    return 0;
}

// The field reader on any file: it either reads fields or fails with a file
// error naming the file; it never reads outside the data or allocates what the
// file does not hold. Fields written are read back unchanged.
#include "FuzzInput.h"

#include "core/Errors.h"
#include "core/FieldStore.h"

#include <cstdlib>

using namespace vostrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::PrepareDataFolder();
    const auto path = DataFolder() / "fuzz-field-file.vsl";
    fuzz::WriteRecordFile(path, data, size);
    try {
        EncryptedFieldFile in = EncryptedFieldFile::OpenRead(path);
        while (!in.AtEnd())
            in.ReadField();
    } catch (const FileError &) {
    }
    // Every text survives a write and a read under any key.
    const std::vector<std::string> fields = fuzz::SplitFields(data, size);
    const std::string key =
        fields.front().empty() ? std::string("k") : fields.front().substr(0, 20);
    {
        EncryptedFieldFile out = EncryptedFieldFile::Create(path, key);
        for (const std::string &field : fields)
            out.WriteField(field);
        out.Commit();
    }
    EncryptedFieldFile in = EncryptedFieldFile::OpenRead(path, key);
    for (const std::string &field : fields)
        if (in.ReadField() != field)
            std::abort();
    if (!in.AtEnd())
        std::abort();
    // A ciphertext of any length decrypts without reading outside it.
    DecryptString(std::string_view(reinterpret_cast<const char *>(data), size));
    return 0;
}

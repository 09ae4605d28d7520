#include "FuzzInput.h"

#include "core/AppState.h"
#include "core/DataFolder.h"
#include "core/FieldStore.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace vostrel::fuzz {

namespace fs = std::filesystem;

void PrepareDataFolder()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    // In memory where there is such a folder: the writes sync every file.
    std::string root =
        fs::is_directory("/dev/shm") ? "/dev/shm/vostrel-fuzz-XXXXXX" : "/tmp/vostrel-fuzz-XXXXXX";
    if (!::mkdtemp(root.data()))
        std::abort();
    const fs::path data = fs::path(root) / "Halvik" / "Vostrel" / "";
    // Removed when the process ends.
    static const struct Cleanup
    {
        fs::path folder;
        ~Cleanup()
        {
            std::error_code ec;
            fs::remove_all(folder, ec);
        }
    } cleanup{root};
    vostrel::PrepareDataFolder(data);
    SetDataFolder(data);
    SetCurrentKey(std::string(DefaultKey));
}

std::vector<std::string> SplitFields(const uint8_t *data, size_t size)
{
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0x1F)
            fields.emplace_back();
        else
            fields.back() += static_cast<char>(data[i]);
    }
    return fields;
}

void WriteRecordFile(const fs::path &path, const uint8_t *data, size_t size)
{
    if (size == 0 || (data[0] & 1) == 0) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (size > 0)
            out.write(reinterpret_cast<const char *>(data + 1),
                      static_cast<std::streamsize>(size - 1));
        return;
    }
    EncryptedFieldFile file = EncryptedFieldFile::Create(path);
    for (const std::string &field : SplitFields(data + 1, size - 1))
        file.WriteField(field);
    file.Commit();
    if ((data[0] & 3) == 3 && size >= 3) {
        std::error_code ec;
        const auto length = fs::file_size(path, ec);
        const size_t cut = (static_cast<size_t>(data[size - 2]) << 8) | data[size - 1];
        if (!ec && cut < length)
            fs::resize_file(path, cut, ec);
    }
}

} // namespace vostrel::fuzz

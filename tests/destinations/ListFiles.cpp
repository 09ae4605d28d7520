#include "ListFiles.h"

#include "core/AppState.h"
#include "core/DataFolder.h"
#include "core/FieldStore.h"
#include "support/VostrelTest.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>

namespace vostrel::test {

std::string FieldBytes(std::string_view plain)
{
    const std::string cipher = EncryptString(plain);
    const auto length = static_cast<uint32_t>(cipher.size());
    std::string bytes;
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<char>((length >> (8 * i)) & 0xFF));
    return bytes + cipher;
}

std::string FieldsBytes(const std::vector<std::string> &plains)
{
    std::string bytes;
    for (const std::string &plain : plains)
        bytes += FieldBytes(plain);
    return bytes;
}

std::vector<std::string> RawFieldsOf(const std::string &bytes)
{
    std::vector<std::string> fields;
    size_t at = 0;
    while (at + 4 <= bytes.size()) {
        uint32_t length = 0;
        for (int i = 0; i < 4; ++i)
            length |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
        if (at + 4 + length > bytes.size())
            break;
        fields.push_back(bytes.substr(at, 4 + length));
        at += 4 + length;
    }
    EXPECT_EQ(at, bytes.size()) << "file does not end after a whole field";
    return fields;
}

std::vector<std::string> ReadFieldsOf(const std::filesystem::path &file)
{
    std::vector<std::string> plains;
    for (const std::string &raw : RawFieldsOf(ReadBytes(file)))
        plains.push_back(DecryptString(std::string_view(raw).substr(4)));
    return plains;
}

std::filesystem::path ListFile(const char *utf8Name)
{
    return DataFolder() / "Receivers" / (std::string(utf8Name) + ".vsl");
}

std::vector<std::string> RecipientFields(const std::string &tag)
{
    std::vector<std::string> fields;
    fields.push_back(tag + S("-名前"));
    fields.push_back(S("様"));
    fields.push_back(tag + "@example.jp");
    for (int i = 1; i <= 10; ++i)
        fields.push_back(tag + "-" + std::to_string(i));
    return fields;
}

void WriteListFile(const std::filesystem::path &file, const std::vector<std::string> &flags,
                   const std::string &count, const std::vector<std::string> &recipientFields)
{
    std::vector<std::string> all = flags;
    all.push_back(count);
    all.insert(all.end(), recipientFields.begin(), recipientFields.end());
    WriteBytes(file, FieldsBytes(all));
}

} // namespace vostrel::test

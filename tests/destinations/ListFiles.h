// Test helpers that write and read list files field by field, without the
// list-store operations, so that the file layout itself is checked.
#pragma once

#include "support/VostrelTest.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vostrel::test {

using DestinationTest = VostrelTest;

// One field as it stands in a file: 4-byte little-endian length, ciphertext
// (under the current key).
std::string FieldBytes(std::string_view plain);
// The fields of a file, in order, as a sequence of field encodings.
std::string FieldsBytes(const std::vector<std::string> &plains);
// Decrypts every field of a file. Fails the test if the file does not end
// exactly after a field.
std::vector<std::string> ReadFieldsOf(const std::filesystem::path &file);
// Splits raw file bytes into their fields' raw bytes (length + ciphertext).
std::vector<std::string> RawFieldsOf(const std::string &bytes);

// Receivers/<utf-8 name>.vsl of the test's data folder.
std::filesystem::path ListFile(const char *utf8Name);

// Thirteen fields of a recipient whose texts are tag + "-" + field number
// (name, honorific, address made distinct per tag).
std::vector<std::string> RecipientFields(const std::string &tag);
// A hand-written list file: the flag texts, the count text and the given
// recipient fields.
void WriteListFile(const std::filesystem::path &file, const std::vector<std::string> &flags,
                   const std::string &count, const std::vector<std::string> &recipientFields);

} // namespace vostrel::test

// Shared set-up of the fuzz targets: a private data folder, and a way to turn
// fuzz input into a record file, either as raw bytes (to exercise the field
// reader on damaged files) or as plaintext fields encrypted properly (to
// reach the record layouts behind the cipher).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vostrel::fuzz {

// Creates a data folder under a private temporary folder (once per process)
// and points the program at it.
void PrepareDataFolder();

// Writes the input as a record file at path. The first byte chooses the form:
//   even: the rest is the file's raw bytes;
//   odd:  the rest is plaintext fields separated by 0x1F, each written as a
//         proper field under the current key; when the byte is 3 mod 4 the
//         file is then cut to a length taken from the last two bytes.
void WriteRecordFile(const std::filesystem::path &path, const uint8_t *data, size_t size);

// The input split into fields at 0x1F.
std::vector<std::string> SplitFields(const uint8_t *data, size_t size);

} // namespace vostrel::fuzz

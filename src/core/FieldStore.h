// The encrypted field store. Every record file of the program is a sequence of
// fields with no header, count or terminator; one field is a signed 32-bit
// little-endian length L followed by L bytes of ciphertext: the field's text
// encrypted on its own with Blowfish-CBC (IV A7 3C 19 E2 5B 84 D0 6F, count
// padding) under the key in effect.
#pragma once

#include "core/AppState.h"
#include "core/AtomicFile.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vostrel {

// The store's string codec. Every call enciphers from the IV afresh, so equal
// texts give equal ciphertexts wherever they stand.
class FieldCodec
{
public:
    explicit FieldCodec(std::string key);

    std::string EncryptString(std::string_view plain) const;
    // Never fails: a wrong key gives arbitrary bytes or the empty string. A
    // ciphertext whose length is not a multiple of 8 (a damaged file) is
    // decrypted over its whole blocks only.
    std::string DecryptString(std::string_view cipher) const;

    const std::string &Key() const { return key_; }

private:
    std::string key_;
};

// The same under CurrentKey() at the moment of the call.
std::string EncryptString(std::string_view plain);
std::string DecryptString(std::string_view cipher);

// A field file open for reading (from the start) or for writing (a new file
// that replaces the old one when committed, see AtomicFile).
class EncryptedFieldFile
{
public:
    // Throws FileError naming the file when it cannot be opened.
    static EncryptedFieldFile OpenRead(const std::filesystem::path &path,
                                       std::string key = CurrentKey());
    static EncryptedFieldFile Create(const std::filesystem::path &path,
                                     std::string key = CurrentKey());

    EncryptedFieldFile(EncryptedFieldFile &&) noexcept;
    EncryptedFieldFile &operator=(EncryptedFieldFile &&) noexcept;
    ~EncryptedFieldFile();

    // Reads the next field. A file that ends before the field or inside it
    // throws FileError naming the file ("ファイルが途中で終わっています").
    // A length that is zero or negative reads as the empty text; a length
    // larger than what is left of the file is an early end. Never allocates
    // more than the file holds.
    std::string ReadField();
    // Reads the next field but deciphers at most the first maxBytes bytes of
    // its text (whole blocks); the rest of the field is passed over unread.
    // *cut (when given) tells whether the text was longer. The field must be
    // whole in the file, as for ReadField.
    std::string ReadFieldPrefix(std::size_t maxBytes, bool *cut = nullptr);
    // Passes over the next field without deciphering it.
    void SkipField();
    // Reads the next field's raw ciphertext, unchanged (for copying fields).
    std::string ReadRawField();
    // True when no byte is left to read.
    bool AtEnd() const;

    // Appends one field encrypted under this file's key.
    void WriteField(std::string_view plain);
    // Finishes a written file: it replaces the old one only now.
    void Commit();

    const std::filesystem::path &Path() const { return path_; }
    const FieldCodec &Codec() const { return codec_; }

private:
    EncryptedFieldFile(std::filesystem::path path, std::string key);
    void ReadExact(char *dst, size_t n);
    void SkipExact(size_t n);
    // The next length field; checks that the file still holds its bytes.
    int32_t ReadLength();
    [[noreturn]] void EarlyEnd() const;

    std::filesystem::path path_;
    FieldCodec codec_;
    // reading
    std::FILE *in_ = nullptr;
    uint64_t remaining_ = 0;
    std::unique_ptr<char[]> inBuffer_; // the stream's buffer
    std::vector<char> cipherBuffer_;   // the last field's ciphertext, reused
    // writing
    std::unique_ptr<AtomicFile> out_;
};

} // namespace vostrel

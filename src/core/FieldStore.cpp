#include "core/FieldStore.h"

#include "core/BlowFish.h"
#include "core/CryptUtils.h"
#include "core/Errors.h"

#include <cerrno>
#include <climits>
#include <stdexcept>
#include <sys/stat.h>
#include <utility>

namespace vostrel {

namespace {

// Every field is enciphered from this IV.
constexpr unsigned char kFieldIV[8] = {0xA7, 0x3C, 0x19, 0xE2, 0x5B, 0x84, 0xD0, 0x6F};

constexpr size_t kReadBufferSize = 1 << 16;

const unsigned char *Bytes(std::string_view text)
{
    return reinterpret_cast<const unsigned char *>(text.data());
}

} // namespace

// ---- FieldCodec ----
//
// Each call builds its own mode object and cipher and throws them away
// afterwards; both live on the stack, and the cipher takes the expanded key
// from the key-schedule cache, so a call costs its blocks and little else.

FieldCodec::FieldCodec(std::string key)
    : key_(std::move(key))
{}

std::string FieldCodec::EncryptString(std::string_view plain) const
{
    TBlowFish cipher;
    TCryptCBC mode(key_, &cipher, kFieldIV, sizeof kFieldIV, padCount, false);
    std::string result(mode.EncryptedSize(plain.size()), '\0');
    mode.Encrypt(Bytes(plain), reinterpret_cast<unsigned char *>(result.data()), plain.size());
    return result;
}

std::string FieldCodec::DecryptString(std::string_view cipherText) const
{
    // Only whole blocks are deciphered; stray bytes of a damaged field after
    // the last whole block are left out.
    const size_t whole = cipherText.size() / 8 * 8;
    if (whole == 0)
        return {};
    TBlowFish cipher;
    TCryptCBC mode(key_, &cipher, kFieldIV, sizeof kFieldIV, padCount, false);
    std::string result(whole, '\0');
    const std::ptrdiff_t length =
        mode.Decrypt(Bytes(cipherText), reinterpret_cast<unsigned char *>(result.data()), whole);
    if (length <= 0)
        return {};
    result.resize(static_cast<size_t>(length));
    return result;
}

std::string EncryptString(std::string_view plain)
{
    return FieldCodec(CurrentKey()).EncryptString(plain);
}

std::string DecryptString(std::string_view cipher)
{
    return FieldCodec(CurrentKey()).DecryptString(cipher);
}

// ---- EncryptedFieldFile ----

EncryptedFieldFile::EncryptedFieldFile(std::filesystem::path path, std::string key)
    : path_(std::move(path))
    , codec_(std::move(key))
{}

EncryptedFieldFile EncryptedFieldFile::OpenRead(const std::filesystem::path &path, std::string key)
{
    EncryptedFieldFile file(path, std::move(key));
    file.in_ = std::fopen(path.c_str(), "rbe");
    if (!file.in_)
        throw FileError::ReadFailed(path, FileError::ErrnoText(errno));
    struct stat info;
    if (::fstat(fileno(file.in_), &info) != 0)
        throw FileError::ReadFailed(path, FileError::ErrnoText(errno));
    if (S_ISDIR(info.st_mode))
        throw FileError::ReadFailed(path, FileError::ErrnoText(EISDIR));
    file.remaining_ = info.st_size > 0 ? static_cast<uint64_t>(info.st_size) : 0;
    file.inBuffer_ = std::make_unique<char[]>(kReadBufferSize);
    std::setvbuf(file.in_, file.inBuffer_.get(), _IOFBF, kReadBufferSize);
    return file;
}

EncryptedFieldFile EncryptedFieldFile::Create(const std::filesystem::path &path, std::string key)
{
    EncryptedFieldFile file(path, std::move(key));
    file.out_ = std::make_unique<AtomicFile>(path);
    return file;
}

EncryptedFieldFile::EncryptedFieldFile(EncryptedFieldFile &&other) noexcept
    : path_(std::move(other.path_))
    , codec_(std::move(other.codec_))
    , in_(std::exchange(other.in_, nullptr))
    , remaining_(std::exchange(other.remaining_, 0))
    , inBuffer_(std::move(other.inBuffer_))
    , cipherBuffer_(std::move(other.cipherBuffer_))
    , out_(std::move(other.out_))
{}

EncryptedFieldFile &EncryptedFieldFile::operator=(EncryptedFieldFile &&other) noexcept
{
    if (this != &other) {
        if (in_)
            std::fclose(in_);
        path_ = std::move(other.path_);
        codec_ = std::move(other.codec_);
        in_ = std::exchange(other.in_, nullptr);
        remaining_ = std::exchange(other.remaining_, 0);
        inBuffer_ = std::move(other.inBuffer_);
        cipherBuffer_ = std::move(other.cipherBuffer_);
        out_ = std::move(other.out_);
    }
    return *this;
}

EncryptedFieldFile::~EncryptedFieldFile()
{
    if (in_)
        std::fclose(in_);
}

void EncryptedFieldFile::EarlyEnd() const
{
    throw FileError::ReadFailed(path_, "ファイルが途中で終わっています");
}

void EncryptedFieldFile::ReadExact(char *dst, size_t n)
{
    if (!in_)
        throw std::logic_error("field file not open for reading");
    if (n > remaining_)
        EarlyEnd();
    if (n == 0)
        return;
    if (fread_unlocked(dst, 1, n, in_) != n) {
        if (std::ferror(in_))
            throw FileError::ReadFailed(path_, FileError::ErrnoText(errno));
        remaining_ = 0;
        EarlyEnd(); // the file shrank while open
    }
    remaining_ -= n;
}

int32_t EncryptedFieldFile::ReadLength()
{
    unsigned char bytes[4];
    ReadExact(reinterpret_cast<char *>(bytes), sizeof bytes);
    const uint32_t value = uint32_t(bytes[0]) | (uint32_t(bytes[1]) << 8) |
                           (uint32_t(bytes[2]) << 16) | (uint32_t(bytes[3]) << 24);
    const auto length = static_cast<int32_t>(value);
    if (length > 0 && static_cast<uint64_t>(length) > remaining_)
        EarlyEnd(); // checked before anything of that size is allocated
    return length;
}

std::string EncryptedFieldFile::ReadField()
{
    const int32_t length = ReadLength();
    if (length <= 0)
        return {};
    const auto size = static_cast<size_t>(length);
    if (cipherBuffer_.size() < size)
        cipherBuffer_.resize(size);
    ReadExact(cipherBuffer_.data(), size);
    return codec_.DecryptString(std::string_view(cipherBuffer_.data(), size));
}

std::string EncryptedFieldFile::ReadFieldPrefix(std::size_t maxBytes, bool *cut)
{
    if (cut)
        *cut = false;
    const int32_t length = ReadLength();
    if (length <= 0)
        return {};
    const auto size = static_cast<size_t>(length);
    // The text of a field is shorter than its ciphertext (at least one byte
    // of padding): a field of up to maxBytes + 8 bytes is read whole.
    const size_t wanted = (maxBytes + 7) / 8 * 8;
    if (size <= wanted + 8) {
        if (cipherBuffer_.size() < size)
            cipherBuffer_.resize(size);
        ReadExact(cipherBuffer_.data(), size);
        std::string text = codec_.DecryptString(std::string_view(cipherBuffer_.data(), size));
        if (text.size() > maxBytes) {
            text.resize(maxBytes);
            if (cut)
                *cut = true;
        }
        return text;
    }
    // A long field: its first blocks decipher on their own (chaining runs
    // forward from the IV); the padding lies in the last block, never here.
    std::string text(wanted, '\0');
    ReadExact(text.data(), wanted);
    TBlowFish cipher;
    TCryptCBC mode(codec_.Key(), &cipher, kFieldIV, sizeof kFieldIV, padNone, false);
    mode.Decrypt(Bytes(text), reinterpret_cast<unsigned char *>(text.data()), wanted);
    SkipExact(size - wanted);
    text.resize(maxBytes);
    if (cut)
        *cut = true;
    return text;
}

void EncryptedFieldFile::SkipField()
{
    const int32_t length = ReadLength();
    if (length > 0)
        SkipExact(static_cast<size_t>(length));
}

void EncryptedFieldFile::SkipExact(size_t n)
{
    if (!in_)
        throw std::logic_error("field file not open for reading");
    if (n > remaining_)
        EarlyEnd();
    if (n == 0)
        return;
    if (::fseeko(in_, static_cast<off_t>(n), SEEK_CUR) != 0)
        throw FileError::ReadFailed(path_, FileError::ErrnoText(errno));
    remaining_ -= n;
}

std::string EncryptedFieldFile::ReadRawField()
{
    const int32_t length = ReadLength();
    if (length <= 0)
        return {};
    std::string raw(static_cast<size_t>(length), '\0');
    ReadExact(raw.data(), raw.size());
    return raw;
}

bool EncryptedFieldFile::AtEnd() const
{
    return remaining_ == 0;
}

void EncryptedFieldFile::WriteField(std::string_view plain)
{
    if (!out_)
        throw std::logic_error("field file not open for writing");
    const std::string cipher = codec_.EncryptString(plain);
    if (cipher.size() > static_cast<size_t>(INT32_MAX))
        throw FileError::WriteFailed(path_, "項目が大きすぎます");
    const auto length = static_cast<uint32_t>(cipher.size());
    const char bytes[4] = {static_cast<char>(length), static_cast<char>(length >> 8),
                           static_cast<char>(length >> 16), static_cast<char>(length >> 24)};
    out_->Write(std::string_view(bytes, sizeof bytes));
    out_->Write(cipher);
}

void EncryptedFieldFile::Commit()
{
    if (!out_)
        throw std::logic_error("field file not open for writing");
    out_->Commit();
}

} // namespace vostrel

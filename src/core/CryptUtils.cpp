#include "core/CryptUtils.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace vostrel {

CryptError::CryptError()
    : VostrelError("Crypt Error")
{}

// ---- TCipher ----

void TCipher::SetKey(const unsigned char *, std::size_t) {}

void TCipher::InternalToBytes(const unsigned char *internal, unsigned char *bytes)
{
    std::memmove(bytes, internal, BlockSize());
}

void TCipher::BytesToInternal(const unsigned char *bytes, unsigned char *internal)
{
    std::memmove(internal, bytes, BlockSize());
}

void TCipher::EncryptBytes(unsigned char *block)
{
    alignas(8) unsigned char internal[kMaxBlockSize];
    BytesToInternal(block, internal);
    EncryptBlock(internal);
    InternalToBytes(internal, block);
}

void TCipher::DecryptBytes(unsigned char *block)
{
    alignas(8) unsigned char internal[kMaxBlockSize];
    BytesToInternal(block, internal);
    DecryptBlock(internal);
    InternalToBytes(internal, block);
}

// ---- TCrypt ----

TCrypt::TCrypt(std::string_view key, TCipher *cipher, const unsigned char *iv, std::size_t ivSize,
               PaddingMode padding, bool ownsCipher)
    : padding_(padding)
    , cipher_(cipher)
    , ownsCipher_(ownsCipher)
    , blockSize_(cipher->BlockSize())
{
    if (blockSize_ == 0 || blockSize_ > TCipher::kMaxBlockSize) {
        if (ownsCipher_)
            delete cipher_;
        throw std::invalid_argument("block size out of range");
    }
    cipher_->SetKey(reinterpret_cast<const unsigned char *>(key.data()), key.size());
    if (iv != nullptr)
        std::memcpy(iv_.data(), iv, std::min(blockSize_, ivSize));
}

TCrypt::~TCrypt()
{
    if (ownsCipher_)
        delete cipher_;
}

void TCrypt::ResetEncrypt()
{
    feedback_ = iv_;
}

void TCrypt::ResetDecrypt()
{
    feedback_ = iv_;
}

int TCrypt::Pad(unsigned char *block, std::size_t count, bool adding)
{
    const std::size_t bs = blockSize_;
    if (adding) {
        const std::size_t added = bs - count;
        switch (padding_) {
        case padCount:
            std::memset(block + count, static_cast<int>(added), added);
            return static_cast<int>(added);
        case padOneZero:
            block[count] = 0x80;
            std::memset(block + count + 1, 0, added - 1);
            return static_cast<int>(added);
        case padZero:
            std::memset(block + count, 0, added);
            return static_cast<int>(added);
        case padSpace:
            std::memset(block + count, 0x20, added);
            return static_cast<int>(added);
        case padNone:
            return 0;
        }
        return 0;
    }
    // Removing: count is the block size.
    switch (padding_) {
    case padCount:
        return block[count - 1];
    case padOneZero: {
        std::size_t i = count;
        while (i > 0 && block[i - 1] == 0)
            --i;
        if (i == 0 || block[i - 1] != 0x80)
            throw CryptError();
        return static_cast<int>(count - (i - 1));
    }
    case padZero:
    case padSpace: {
        const unsigned char fill = padding_ == padZero ? 0x00 : 0x20;
        std::size_t i = count;
        while (i > 0 && block[i - 1] == fill)
            --i;
        return static_cast<int>(count - i);
    }
    case padNone:
        return 0;
    }
    return 0;
}

std::size_t TCrypt::EncryptedSize(std::size_t n) const
{
    if (padding_ == padNone)
        return n;
    return (n / blockSize_ + 1) * blockSize_;
}

std::size_t TCrypt::Encrypt(const unsigned char *source, unsigned char *destination, std::size_t n)
{
    const std::size_t bs = blockSize_;
    const std::size_t whole = n / bs * bs;
    const std::size_t rest = n - whole;
    if (padding_ == padNone && rest != 0)
        throw std::invalid_argument("data without padding must be whole blocks");
    ResetEncrypt();
    for (std::size_t i = 0; i < whole; i += bs) {
        if (destination != source)
            std::memcpy(destination + i, source + i, bs);
        EncryptBlock(destination + i);
    }
    if (padding_ != padNone) {
        unsigned char *last = destination + whole;
        if (destination != source)
            std::memcpy(last, source + whole, rest);
        Pad(last, rest, true);
        EncryptBlock(last);
    }
    return EncryptedSize(n);
}

std::ptrdiff_t TCrypt::Decrypt(const unsigned char *source, unsigned char *destination,
                               std::size_t n)
{
    const std::size_t bs = blockSize_;
    const std::size_t whole = n / bs * bs;
    if (whole == 0)
        return 0;
    ResetDecrypt();
    for (std::size_t i = 0; i < whole; i += bs) {
        if (destination != source)
            std::memcpy(destination + i, source + i, bs);
        DecryptBlock(destination + i);
    }
    const int pad = Pad(destination + whole - bs, bs, false);
    return static_cast<std::ptrdiff_t>(whole) - pad;
}

// ---- TCryptCBC ----

void TCryptCBC::EncryptBlock(unsigned char *block)
{
    unsigned char *v = feedback_.data();
    for (std::size_t i = 0; i < blockSize_; ++i)
        v[i] ^= block[i];
    cipher_->EncryptBytes(v);
    std::memcpy(block, v, blockSize_);
}

void TCryptCBC::DecryptBlock(unsigned char *block)
{
    unsigned char *v = feedback_.data();
    std::memcpy(scratch_.data(), block, blockSize_);
    cipher_->DecryptBytes(block);
    for (std::size_t i = 0; i < blockSize_; ++i)
        block[i] ^= v[i];
    std::memcpy(v, scratch_.data(), blockSize_);
}

} // namespace vostrel

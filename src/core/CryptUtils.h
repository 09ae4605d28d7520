// The small cipher library behind the field store: a block-cipher base class,
// a block-mode base class with its padding choices, and cipher-block chaining.
//
// A block operation of a cipher always runs in three steps: the block's bytes
// are converted to the cipher's internal form, enciphered or deciphered there,
// and converted back to bytes. The internal form occupies block-size bytes.
#pragma once

#include "core/Errors.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vostrel {

// The only error the cipher library raises: the one-and-zeros padding found
// no 0x80 marker when removing. Its text is "Crypt Error".
class CryptError : public VostrelError
{
public:
    CryptError();
};

// Abstract block cipher. Block sizes run from 1 to kMaxBlockSize bytes.
class TCipher
{
public:
    static constexpr std::size_t kMaxBlockSize = 32;

    TCipher() = default;
    TCipher(const TCipher &) = delete;
    TCipher &operator=(const TCipher &) = delete;
    virtual ~TCipher() = default;

    virtual std::string Name() const = 0;
    virtual std::size_t BlockSize() const = 0;
    // The base ignores the key.
    virtual void SetKey(const unsigned char *key, std::size_t length);
    // One block in internal form, in place.
    virtual void EncryptBlock(unsigned char *internal) = 0;
    virtual void DecryptBlock(unsigned char *internal) = 0;
    // Internal form -> bytes; the base copies block-size bytes unchanged.
    virtual void InternalToBytes(const unsigned char *internal, unsigned char *bytes);
    // Bytes -> internal form; the base copies block-size bytes unchanged.
    virtual void BytesToInternal(const unsigned char *bytes, unsigned char *internal);

    // Convert, encipher or decipher, convert back: one block of bytes in place.
    void EncryptBytes(unsigned char *block);
    void DecryptBytes(unsigned char *block);
};

// How the last block is filled when encrypting and recognised when decrypting.
enum PaddingMode : std::uint8_t
{
    padCount = 0,   // the remaining k bytes each hold k (a whole block of 8 when none remain)
    padOneZero = 1, // 0x80, then zeros
    padZero = 2,    // zeros
    padSpace = 3,   // spaces (0x20)
    padNone = 4,    // nothing: the data must be a whole number of blocks
};

// Abstract block mode over a cipher, with an IV and a feedback register.
class TCrypt
{
public:
    // Stores the cipher (whose block size must be 1 to kMaxBlockSize, else
    // std::invalid_argument), gives it the key's bytes, sizes IV, feedback register
    // and scratch block to the cipher's block size (zero-filled), copies
    // min(block size, ivSize) IV bytes, and keeps the padding mode. With
    // ownsCipher the mode object deletes the cipher when it is destroyed.
    TCrypt(std::string_view key, TCipher *cipher, const unsigned char *iv, std::size_t ivSize,
           PaddingMode padding, bool ownsCipher);
    TCrypt(const TCrypt &) = delete;
    TCrypt &operator=(const TCrypt &) = delete;
    virtual ~TCrypt();

    // One block of bytes in place, with the mode's chaining.
    virtual void EncryptBlock(unsigned char *block) = 0;
    virtual void DecryptBlock(unsigned char *block) = 0;
    // Feedback register := IV.
    virtual void ResetEncrypt();
    virtual void ResetDecrypt();
    // Adding: block holds count plaintext bytes (0 <= count < block size);
    // fills the rest and returns the number of bytes added. Removing: count is
    // the block size; returns the number of bytes to drop from the end.
    // Removing one-and-zeros padding that is not there throws CryptError.
    virtual int Pad(unsigned char *block, std::size_t count, bool adding);

    // n for padNone, otherwise (n / block size + 1) * block size.
    std::size_t EncryptedSize(std::size_t n) const;
    // Encrypts n source bytes into destination, which must hold
    // EncryptedSize(n) bytes; returns that size. The source and the
    // destination may be the same buffer. With padNone, n must be a whole
    // number of blocks (std::invalid_argument otherwise).
    std::size_t Encrypt(const unsigned char *source, unsigned char *destination, std::size_t n);
    // Decrypts the whole blocks of n source bytes into destination (which
    // must hold that many bytes; it may be the source) and removes the
    // padding from the last of them. Returns the plaintext length, which is
    // zero or negative when the padding claims more than was decrypted
    // (another key, damaged data). Bytes after the last whole block are
    // ignored; fewer than one block gives 0.
    std::ptrdiff_t Decrypt(const unsigned char *source, unsigned char *destination, std::size_t n);

    PaddingMode Padding() const { return padding_; }
    TCipher &Cipher() const { return *cipher_; }
    std::size_t BlockSize() const { return blockSize_; }
    const unsigned char *IV() const { return iv_.data(); }
    const unsigned char *FeedbackRegister() const { return feedback_.data(); }

protected:
    using Block = std::array<unsigned char, TCipher::kMaxBlockSize>;

    PaddingMode padding_;
    TCipher *cipher_;
    Block iv_{};
    Block feedback_{};
    Block scratch_{};
    bool ownsCipher_;
    std::size_t blockSize_;
};

// Cipher-block chaining. With V the feedback register:
// encrypt X: V := cipher(V XOR X), output V;
// decrypt Y: output decipher(Y) XOR V, V := Y.
class TCryptCBC : public TCrypt
{
public:
    using TCrypt::TCrypt;

    void EncryptBlock(unsigned char *block) override;
    void DecryptBlock(unsigned char *block) override;
};

} // namespace vostrel

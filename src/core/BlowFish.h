// Blowfish: 64-bit blocks, 16 rounds, keys of 1 to 72 bytes (longer keys
// count with their first 72 bytes; shorter ones repeat cyclically).
#pragma once

#include "core/CryptUtils.h"

#include <cstdint>
#include <memory>

namespace vostrel {

// The expanded key: the P-array and the four S-boxes.
struct BlowFishSchedule
{
    std::uint32_t P[18];
    std::uint32_t S[4][256];
};

// Runs the key schedule: the initial P-array and S-boxes (the fractional
// hexadecimal digits of pi), the P-array XORed with the key bytes taken
// cyclically four at a time (big-endian), then 521 encryptions of a chained
// block starting from zero replacing P[0..17] and the S-boxes pair by pair.
// A key of zero bytes leaves the P-array unmixed.
BlowFishSchedule ExpandBlowFishKey(const unsigned char *key, std::size_t length);

// The expanded keys of the last few keys set on this thread are kept, so that
// setting an unchanged key costs a lookup instead of a key schedule.
#ifdef VOSTREL_TEST_HOOKS
// Test builds only (tests, benchmarks): turning the cache off makes every
// SetKey run the schedule.
void SetKeyScheduleCacheEnabled(bool enabled);
bool KeyScheduleCacheEnabled();
#endif

class TBlowFish final : public TCipher
{
public:
    // Until a key is set, the cipher runs on the initial tables.
    TBlowFish();

    std::string Name() const override;      // "BlowFish"
    std::size_t BlockSize() const override; // 8
    void SetKey(const unsigned char *key, std::size_t length) override;
    // The internal form is two 32-bit words (x1, x2) in native order.
    void EncryptBlock(unsigned char *internal) override;
    void DecryptBlock(unsigned char *internal) override;
    // Bytes 0-3 hold x1 and bytes 4-7 hold x2, each big-endian.
    void InternalToBytes(const unsigned char *internal, unsigned char *bytes) override;
    void BytesToInternal(const unsigned char *bytes, unsigned char *internal) override;

    // The halves themselves, for callers that hold them as words.
    void Encrypt(std::uint32_t &x1, std::uint32_t &x2) const;
    void Decrypt(std::uint32_t &x1, std::uint32_t &x2) const;

    const BlowFishSchedule &Schedule() const { return *state_; }

private:
    // Shared with the key-schedule cache and other ciphers of the same key;
    // never changed once built.
    std::shared_ptr<const BlowFishSchedule> schedule_;
    const BlowFishSchedule *state_;
};

} // namespace vostrel

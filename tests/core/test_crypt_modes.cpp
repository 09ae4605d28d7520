// The block-mode classes: the five padding modes, the encrypted size, CBC
// chaining, construction from a key, and what decryption does with data it
// cannot make sense of.
#include "OpenSslBlowfish.h"

#include "core/BlowFish.h"
#include "core/CryptUtils.h"

#include <cstring>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>

using namespace vostrel;
using vostrel::test::FromHex;
using vostrel::test::ToHex;

namespace {

const std::string kIV = FromHex("A73C19E25B84D06F");

unsigned char *U(std::string &s)
{
    return reinterpret_cast<unsigned char *>(s.data());
}

const unsigned char *U(std::string_view s)
{
    return reinterpret_cast<const unsigned char *>(s.data());
}

// A mode object over Blowfish with the given padding and key.
struct Mode
{
    explicit Mode(PaddingMode padding, std::string_view key = "Tenmar4", std::string_view iv = kIV)
        : cbc(key, new TBlowFish, U(iv), iv.size(), padding, true)
    {}
    std::string Encrypt(std::string_view plain)
    {
        std::string out(cbc.EncryptedSize(plain.size()), '\0');
        cbc.Encrypt(U(plain), U(out), plain.size());
        return out;
    }
    // The decrypted bytes with the padding removed as the mode sees it.
    std::string Decrypt(std::string cipher)
    {
        const std::ptrdiff_t n = cbc.Decrypt(U(cipher), U(cipher), cipher.size());
        return n > 0 ? cipher.substr(0, static_cast<size_t>(n)) : std::string();
    }
    TCryptCBC cbc;
};

// The raw decrypted blocks, padding included.
std::string RawDecrypt(const std::string &cipher, std::string_view key = "Tenmar4")
{
    Mode raw(padNone, key);
    std::string out = cipher;
    const std::ptrdiff_t n = raw.cbc.Decrypt(U(out), U(out), out.size());
    EXPECT_EQ(n, static_cast<std::ptrdiff_t>(cipher.size()));
    return out;
}

int Unpad(PaddingMode padding, std::string block)
{
    Mode mode(padding);
    return mode.cbc.Pad(U(block), block.size(), false);
}

// A cipher that keeps the base class's conversions and key handling and
// enciphers by adding 1 to every byte; block size and lifetime are chosen
// by the test.
class TAddOne : public TCipher
{
public:
    explicit TAddOne(size_t blockSize, bool *destroyed = nullptr)
        : blockSize_(blockSize)
        , destroyed_(destroyed)
    {}
    ~TAddOne() override
    {
        if (destroyed_)
            *destroyed_ = true;
    }
    std::string Name() const override { return "AddOne"; }
    size_t BlockSize() const override { return blockSize_; }
    void EncryptBlock(unsigned char *block) override
    {
        for (size_t i = 0; i < blockSize_; ++i)
            ++block[i];
    }
    void DecryptBlock(unsigned char *block) override
    {
        for (size_t i = 0; i < blockSize_; ++i)
            --block[i];
    }

private:
    size_t blockSize_;
    bool *destroyed_;
};

} // namespace

TEST(Padding, AddingFillsTheLastBlockForEveryMode)
{
    struct Case
    {
        PaddingMode mode;
        const char *plain;
        const char *lastBlock; // hex of the whole last block before encryption
        int added;
    };
    const Case cases[] = {
        {padCount, "", "0808080808080808", 8},
        {padCount, "a", "6107070707070707", 7},
        {padCount, "abcdefg", "6162636465666701", 1},
        {padOneZero, "", "8000000000000000", 8},
        {padOneZero, "abc", "6162638000000000", 5},
        {padOneZero, "abcdefg", "6162636465666780", 1},
        {padZero, "", "0000000000000000", 8},
        {padZero, "ab", "6162000000000000", 6},
        {padSpace, "", "2020202020202020", 8},
        {padSpace, "abcde", "6162636465202020", 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("mode ") + std::to_string(c.mode) + ", plaintext \"" + c.plain +
                     "\"");
        Mode mode(c.mode);
        std::string block(8, '\x55');
        const size_t n = std::strlen(c.plain);
        std::memcpy(block.data(), c.plain, n);
        EXPECT_EQ(mode.cbc.Pad(U(block), n, true), c.added);
        EXPECT_EQ(ToHex(block), ToHex(FromHex(c.lastBlock)));
        // Through Encrypt, the padded block is what decryption without
        // padding shows.
        EXPECT_EQ(ToHex(RawDecrypt(mode.Encrypt(c.plain))), ToHex(FromHex(c.lastBlock)));
    }
    // padNone adds nothing and leaves the block alone.
    Mode none(padNone);
    std::string block = "abc\x11\x22\x33\x44\x55";
    EXPECT_EQ(none.cbc.Pad(U(block), 3, true), 0);
    EXPECT_EQ(block, "abc\x11\x22\x33\x44\x55");
}

TEST(Padding, RemovingFindsThePadLength)
{
    // padCount trusts the last byte, whatever it is.
    EXPECT_EQ(Unpad(padCount, FromHex("6162636405050505")), 5);
    EXPECT_EQ(Unpad(padCount, FromHex("0000000000000000")), 0);
    EXPECT_EQ(Unpad(padCount, FromHex("61626364656667FF")), 255);
    EXPECT_EQ(Unpad(padCount, FromHex("6162636465666709")), 9);
    // padOneZero: back over zeros to the 0x80 marker.
    EXPECT_EQ(Unpad(padOneZero, FromHex("6162638000000000")), 5);
    EXPECT_EQ(Unpad(padOneZero, FromHex("6162636465666780")), 1);
    EXPECT_EQ(Unpad(padOneZero, FromHex("8000000000000000")), 8);
    EXPECT_EQ(Unpad(padOneZero, FromHex("8080000000000000")), 7);
    // padZero and padSpace count their trailing fill, up to the whole block.
    EXPECT_EQ(Unpad(padZero, FromHex("6162000000000000")), 6);
    EXPECT_EQ(Unpad(padZero, FromHex("0000000000000000")), 8);
    EXPECT_EQ(Unpad(padZero, FromHex("6162636465666768")), 0);
    EXPECT_EQ(Unpad(padZero, FromHex("0061626364656667")), 0);
    EXPECT_EQ(Unpad(padSpace, FromHex("6120202020202020")), 7);
    EXPECT_EQ(Unpad(padSpace, FromHex("2020202020202020")), 8);
    EXPECT_EQ(Unpad(padSpace, FromHex("2020202020202000")), 0);
    // padNone drops nothing.
    EXPECT_EQ(Unpad(padNone, FromHex("0808080808080808")), 0);
}

TEST(Padding, OneZeroWithoutItsMarkerIsACryptError)
{
    for (const char *hex : {"0000000000000000", "6162636465666768", "6162638100000000",
                            "8000000000000001", "0000000000000008"}) {
        SCOPED_TRACE(hex);
        try {
            Unpad(padOneZero, FromHex(hex));
            ADD_FAILURE() << "no error";
        } catch (const CryptError &e) {
            EXPECT_STREQ(e.what(), "Crypt Error");
        }
    }
    // Decrypting data that does not end in the marker reports the same.
    Mode count(padCount);
    Mode oneZero(padOneZero);
    const std::string cipher = count.Encrypt("abc"); // ends in 05 05 05 05 05
    EXPECT_THROW(oneZero.Decrypt(cipher), CryptError);
    // A VostrelError, so the program's error reporting shows it.
    EXPECT_THROW(oneZero.Decrypt(cipher), VostrelError);
}

TEST(Padding, RoundTripsForEveryMode)
{
    const std::string texts[] = {
        "", "a", "abcdefg", "abcdefgh", "abcdefghi", std::string(31, 'x'), std::string("a\0b", 3)};
    for (PaddingMode padding : {padCount, padOneZero, padZero, padSpace}) {
        for (const std::string &text : texts) {
            SCOPED_TRACE("mode " + std::to_string(padding) + ", length " +
                         std::to_string(text.size()));
            Mode mode(padding);
            const std::string cipher = mode.Encrypt(text);
            EXPECT_EQ(cipher.size(), (text.size() / 8 + 1) * 8);
            EXPECT_EQ(mode.Decrypt(cipher), text);
        }
    }
    // Fill bytes at the end of the text itself are taken for padding.
    Mode zero(padZero);
    EXPECT_EQ(zero.Decrypt(zero.Encrypt(std::string("ab\0", 3))), "ab");
    Mode space(padSpace);
    EXPECT_EQ(space.Decrypt(space.Encrypt("ab  ")), "ab");
    // padNone: whole blocks only, nothing added.
    Mode none(padNone);
    const std::string sixteen = "0123456789abcdef";
    const std::string cipher = none.Encrypt(sixteen);
    EXPECT_EQ(cipher.size(), 16u);
    EXPECT_EQ(none.Decrypt(cipher), sixteen);
    EXPECT_EQ(none.Encrypt("").size(), 0u);
    std::string out(16, '\0');
    EXPECT_THROW(none.cbc.Encrypt(U(std::string_view("0123456789")), U(out), 10),
                 std::invalid_argument);
}

TEST(CryptMode, EncryptedSize)
{
    Mode count(padCount);
    EXPECT_EQ(count.cbc.EncryptedSize(0), 8u);
    EXPECT_EQ(count.cbc.EncryptedSize(1), 8u);
    EXPECT_EQ(count.cbc.EncryptedSize(7), 8u);
    EXPECT_EQ(count.cbc.EncryptedSize(8), 16u);
    EXPECT_EQ(count.cbc.EncryptedSize(15), 16u);
    EXPECT_EQ(count.cbc.EncryptedSize(16), 24u);
    for (PaddingMode padding : {padOneZero, padZero, padSpace})
        EXPECT_EQ(Mode(padding).cbc.EncryptedSize(13), 16u);
    Mode none(padNone);
    EXPECT_EQ(none.cbc.EncryptedSize(0), 0u);
    EXPECT_EQ(none.cbc.EncryptedSize(24), 24u);
    // In general the cipher's block size counts.
    TCryptCBC wide("k", new TAddOne(16), nullptr, 0, padCount, true);
    EXPECT_EQ(wide.EncryptedSize(0), 16u);
    EXPECT_EQ(wide.EncryptedSize(16), 32u);
}

TEST(CryptMode, CbcChainsEveryBlockThroughTheFeedbackRegister)
{
    const std::string key = "chain key";
    const std::string plain = "block-1.block-2.block-3";
    Mode mode(padCount, key);
    const std::string cipher = mode.Encrypt(plain);
    ASSERT_EQ(cipher.size(), 24u);
    // The register holds the last ciphertext block after encrypting.
    EXPECT_EQ(std::memcmp(mode.cbc.FeedbackRegister(), cipher.data() + 16, 8), 0);

    // C[i] = E(C[i-1] XOR P[i]) with C[-1] = IV, built block by block.
    TBlowFish bf;
    bf.SetKey(U(std::string_view(key)), key.size());
    std::string padded = plain + "\x01";
    std::string previous = kIV;
    for (size_t i = 0; i < 3; ++i) {
        std::string block = padded.substr(i * 8, 8);
        for (size_t j = 0; j < 8; ++j)
            block[j] = static_cast<char>(block[j] ^ previous[j]);
        bf.EncryptBytes(U(block));
        EXPECT_EQ(ToHex(block), ToHex(cipher.substr(i * 8, 8))) << "block " << i;
        previous = block;
    }

    // Every call starts again from the IV.
    EXPECT_EQ(mode.Encrypt(plain), cipher);
    mode.cbc.ResetDecrypt();
    EXPECT_EQ(std::memcmp(mode.cbc.FeedbackRegister(), kIV.data(), 8), 0);

    // Decrypting a separate buffer leaves the source alone.
    const std::string source = cipher;
    std::string target(24, '\0');
    EXPECT_EQ(mode.cbc.Decrypt(U(source), U(target), source.size()), 23);
    EXPECT_EQ(target.substr(0, 23), plain);
    EXPECT_EQ(source, cipher);
}

TEST(CryptMode, ConstructionSetsKeyAndSizesTheIV)
{
    bool destroyed = false;
    {
        // A longer IV is cut to the block size; the base conversions copy
        // bytes unchanged and the base ignores the key.
        const std::string iv = FromHex("0102030405060708");
        TCryptCBC mode("ignored", new TAddOne(4, &destroyed), U(iv), iv.size(), padNone, true);
        EXPECT_EQ(mode.BlockSize(), 4u);
        EXPECT_EQ(ToHex(std::string_view(reinterpret_cast<const char *>(mode.IV()), 4)),
                  "01020304");
        EXPECT_EQ(mode.Cipher().Name(), "AddOne");
        // CBC over "add one": C = (IV XOR P) + 1 per byte.
        std::string data = FromHex("00000000 10101010");
        mode.Encrypt(U(data), U(data), data.size());
        EXPECT_EQ(ToHex(data), "02030405"
                               "13141516");
        mode.Decrypt(U(data), U(data), data.size());
        EXPECT_EQ(ToHex(data), "00000000"
                               "10101010");
    }
    EXPECT_TRUE(destroyed) << "the owning mode object deletes its cipher";

    destroyed = false;
    {
        TAddOne cipher(8, &destroyed);
        {
            // A shorter IV is filled up with zeros.
            const std::string iv = FromHex("AABB");
            TCryptCBC mode("k", &cipher, U(iv), iv.size(), padCount, false);
            EXPECT_EQ(ToHex(std::string_view(reinterpret_cast<const char *>(mode.IV()), 8)),
                      "aabb000000000000");
        }
        EXPECT_FALSE(destroyed) << "a mode object that does not own its cipher leaves it alone";
    }
    destroyed = false;

    // Blocks larger than a mode object holds are refused, and an owned
    // cipher is not leaked.
    EXPECT_THROW(TCryptCBC("k", new TAddOne(64, &destroyed), nullptr, 0, padCount, true),
                 std::invalid_argument);
    EXPECT_TRUE(destroyed);
}

TEST(CryptMode, DecryptOnlyUsesWholeBlocksAndNeverFails)
{
    Mode mode(padCount);
    const std::string cipher = mode.Encrypt("twelve bytes"); // 16 bytes
    ASSERT_EQ(cipher.size(), 16u);
    // Stray bytes after the last whole block are ignored.
    std::string damaged = cipher + "xyz";
    std::string out(damaged.size(), '\0');
    EXPECT_EQ(mode.cbc.Decrypt(U(damaged), U(out), damaged.size()), 12);
    EXPECT_EQ(out.substr(0, 12), "twelve bytes");
    EXPECT_EQ(out.substr(16), std::string(3, '\0')) << "nothing written past the blocks";
    // Less than one block decrypts to nothing.
    std::string tiny = "abcde";
    EXPECT_EQ(mode.cbc.Decrypt(U(tiny), U(tiny), tiny.size()), 0);
    EXPECT_EQ(tiny, "abcde");
    // A pad length beyond the data gives a negative length.
    Mode none(padNone);
    const std::string claims255 = none.Encrypt(FromHex("00000000000000FF"));
    EXPECT_EQ(mode.Decrypt(claims255), "");
    std::string copy = claims255;
    EXPECT_EQ(mode.cbc.Decrypt(U(copy), U(copy), copy.size()), 8 - 255);
    // Another key decrypts without complaint.
    Mode other(padCount, "another key");
    for (const char *text : {"", "hello", "a longer text of several blocks"}) {
        const std::string garbled = other.Decrypt(mode.Encrypt(text));
        EXPECT_LE(garbled.size(), mode.cbc.EncryptedSize(std::strlen(text)));
    }
}

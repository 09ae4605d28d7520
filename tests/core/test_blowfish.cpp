// The Blowfish cipher: published test vectors, the key schedule and its
// cache, and agreement with OpenSSL's Blowfish-CBC.
#include "OpenSslBlowfish.h"

#include "core/BlowFish.h"
#include "core/CryptUtils.h"

#include <cstring>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace vostrel;
using vostrel::test::FromHex;
using vostrel::test::OpenSslBlowfish;
using vostrel::test::ToHex;

namespace {

const OpenSslBlowfish &OpenSsl()
{
    static const OpenSslBlowfish instance;
    return instance;
}

std::string EncryptBlockWith(std::string_view key, std::string block)
{
    TBlowFish cipher;
    cipher.SetKey(reinterpret_cast<const unsigned char *>(key.data()), key.size());
    cipher.EncryptBytes(reinterpret_cast<unsigned char *>(block.data()));
    return block;
}

std::string DecryptBlockWith(std::string_view key, std::string block)
{
    TBlowFish cipher;
    cipher.SetKey(reinterpret_cast<const unsigned char *>(key.data()), key.size());
    cipher.DecryptBytes(reinterpret_cast<unsigned char *>(block.data()));
    return block;
}

// CBC with count padding through our classes.
std::string OurCbcEncrypt(std::string_view key, std::string_view iv, std::string_view plain,
                          PaddingMode padding = padCount)
{
    TCryptCBC mode(key, new TBlowFish, reinterpret_cast<const unsigned char *>(iv.data()),
                   iv.size(), padding, true);
    std::string out(mode.EncryptedSize(plain.size()), '\0');
    const size_t n = mode.Encrypt(reinterpret_cast<const unsigned char *>(plain.data()),
                                  reinterpret_cast<unsigned char *>(out.data()), plain.size());
    EXPECT_EQ(n, out.size());
    return out;
}

std::string OurCbcDecrypt(std::string_view key, std::string_view iv, std::string cipher)
{
    TCryptCBC mode(key, new TBlowFish, reinterpret_cast<const unsigned char *>(iv.data()),
                   iv.size(), padCount, true);
    auto *data = reinterpret_cast<unsigned char *>(cipher.data());
    const std::ptrdiff_t n = mode.Decrypt(data, data, cipher.size());
    return n > 0 ? cipher.substr(0, static_cast<size_t>(n)) : std::string();
}

std::string RandomBytes(std::mt19937 &random, size_t n)
{
    std::uniform_int_distribution<int> byte(0, 255);
    std::string out(n, '\0');
    for (char &c : out)
        c = static_cast<char>(byte(random));
    return out;
}

const std::string kFieldIV = FromHex("A73C19E25B84D06F");

} // namespace

TEST(OpenSslReference, LegacyProviderLoadsInPrivateContext)
{
    ASSERT_TRUE(OpenSsl().Available()) << OpenSsl().Error();
    // The default context still offers the default provider's ciphers.
    EVP_CIPHER *aes = EVP_CIPHER_fetch(nullptr, "AES-128-CBC", nullptr);
    EXPECT_NE(aes, nullptr);
    EVP_CIPHER_free(aes);
}

// Eric Young's table of 34 ECB vectors: key, plaintext, ciphertext.
TEST(BlowFishVectors, EcbTableOfEricYoung)
{
    struct Vector
    {
        const char *key, *plain, *cipher;
    };
    const Vector table[] = {
        {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
        {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
        {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
        {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
        {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
        {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
        {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
        {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
        {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
        {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
        {"07A1133E4A0B2686", "0248D43806F67172", "1730E5778BEA1DA4"},
        {"3849674C2602319E", "51454B582DDF440A", "A25E7856CF2651EB"},
        {"04B915BA43FEB5B6", "42FD443059577FA2", "353882B109CE8F1A"},
        {"0113B970FD34F2CE", "059B5E0851CF143A", "48F4D0884C379918"},
        {"0170F175468FB5E6", "0756D8E0774761D2", "432193B78951FC98"},
        {"43297FAD38E373FE", "762514B829BF486A", "13F04154D69D1AE5"},
        {"07A7137045DA2A16", "3BDD119049372802", "2EEDDA93FFD39C79"},
        {"04689104C2FD3B2F", "26955F6835AF609A", "D887E0393C2DA6E3"},
        {"37D06BB516CB7546", "164D5E404F275232", "5F99D04F5B163969"},
        {"1F08260D1AC2465E", "6B056E18759F5CCA", "4A057A3B24D3977B"},
        {"584023641ABA6176", "004BD6EF09176062", "452031C1E4FADA8E"},
        {"025816164629B007", "480D39006EE762F2", "7555AE39F59B87BD"},
        {"49793EBC79B3258F", "437540C8698F3CFA", "53C55F9CB49FC019"},
        {"4FB05E1515AB73A7", "072D43A077075292", "7A8E7BFA937E89A3"},
        {"49E95D6D4CA229BF", "02FE55778117F12A", "CF9C5D7A4986ADB5"},
        {"018310DC409B26D6", "1D9D5C5018F728C2", "D1ABB290658BC778"},
        {"1C587F1C13924FEF", "305532286D6F295A", "55CB3774D13EF201"},
        {"0101010101010101", "0123456789ABCDEF", "FA34EC4847B268B2"},
        {"1F1F1F1F0E0E0E0E", "0123456789ABCDEF", "A790795108EA3CAE"},
        {"E0FEE0FEF1FEF1FE", "0123456789ABCDEF", "C39E072D9FAC631D"},
        {"0000000000000000", "FFFFFFFFFFFFFFFF", "014933E0CDAFF6E4"},
        {"FFFFFFFFFFFFFFFF", "0000000000000000", "F21E9A77B71C49BC"},
        {"0123456789ABCDEF", "0000000000000000", "245946885754369A"},
        {"FEDCBA9876543210", "FFFFFFFFFFFFFFFF", "6B5C5A9C5D9E0A5A"},
    };
    ASSERT_EQ(std::size(table), 34u);
    ASSERT_TRUE(OpenSsl().Available()) << OpenSsl().Error();
    for (const Vector &v : table) {
        SCOPED_TRACE(std::string("key ") + v.key + ", plaintext " + v.plain);
        const std::string key = FromHex(v.key);
        const std::string plain = FromHex(v.plain);
        const std::string cipher = FromHex(v.cipher);
        // The typed table itself, against OpenSSL.
        EXPECT_EQ(ToHex(OpenSsl().EcbEncrypt(key, plain)), ToHex(cipher));
        EXPECT_EQ(ToHex(EncryptBlockWith(key, plain)), ToHex(cipher));
        EXPECT_EQ(ToHex(DecryptBlockWith(key, cipher)), ToHex(plain));
    }
}

// The variable-key-length set: one key cut to 1..24 bytes, one plaintext.
TEST(BlowFishVectors, VariableKeyLengths)
{
    const std::string fullKey = FromHex("F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677");
    const std::string plain = FromHex("FEDCBA9876543210");
    const char *expected[24] = {
        "F9AD597C49DB005E", "E91D21C1D961A6D6", "E9C2B70A1BC65CF3", "BE1E639408640F05",
        "B39E44481BDB1E6E", "9457AA83B1928C0D", "8BB77032F960629D", "E87A244E2CC85E82",
        "15750E7A4F4EC577", "122BA70B3AB64AE0", "3A833C9AFFC537F6", "9409DA87A90F6BF2",
        "884F80625060B8B4", "1F85031C19E11968", "79D9373A714CA34F", "93142887EE3BE15C",
        "03429E838CE2D14B", "A4299E27469FF67B", "AFD5AED1C1BC96A8", "10851C0E3858DA9F",
        "E6F51ED79B9DB21F", "64A6E14AFD36B46F", "80C7D7D45A5479AD", "05044B62FA52D080",
    };
    ASSERT_TRUE(OpenSsl().Available()) << OpenSsl().Error();
    for (size_t length = 1; length <= 24; ++length) {
        SCOPED_TRACE("key length " + std::to_string(length));
        const std::string key = fullKey.substr(0, length);
        const std::string cipher = FromHex(expected[length - 1]);
        EXPECT_EQ(ToHex(OpenSsl().EcbEncrypt(key, plain)), ToHex(cipher));
        EXPECT_EQ(ToHex(EncryptBlockWith(key, plain)), ToHex(cipher));
        EXPECT_EQ(ToHex(DecryptBlockWith(key, cipher)), ToHex(plain));
    }
}

TEST(BlowFish, NameBlockSizeAndBigEndianHalves)
{
    TBlowFish cipher;
    EXPECT_EQ(cipher.Name(), "BlowFish");
    EXPECT_EQ(cipher.BlockSize(), 8u);

    // Bytes 0-3 are x1 and 4-7 are x2, most significant byte first.
    const unsigned char bytes[8] = {0x01, 0x02, 0x03, 0x04, 0xA5, 0xB6, 0xC7, 0xD8};
    alignas(8) unsigned char internal[8];
    cipher.BytesToInternal(bytes, internal);
    uint32_t words[2];
    std::memcpy(words, internal, sizeof words);
    EXPECT_EQ(words[0], 0x01020304u);
    EXPECT_EQ(words[1], 0xA5B6C7D8u);
    unsigned char back[8] = {};
    cipher.InternalToBytes(internal, back);
    EXPECT_EQ(std::memcmp(back, bytes, 8), 0);

    // The word interface and the byte interface are the same cipher.
    const std::string key = FromHex("0123456789ABCDEF");
    cipher.SetKey(reinterpret_cast<const unsigned char *>(key.data()), key.size());
    uint32_t x1 = 0x11111111, x2 = 0x11111111;
    cipher.Encrypt(x1, x2);
    EXPECT_EQ(x1, 0x61F9C380u);
    EXPECT_EQ(x2, 0x2281B096u);
    cipher.Decrypt(x1, x2);
    EXPECT_EQ(x1, 0x11111111u);
    EXPECT_EQ(x2, 0x11111111u);
}

TEST(BlowFish, InitialTablesAreTheDigitsOfPi)
{
    // Published first and last words of the P-array and of each S-box.
    const BlowFishSchedule &s = TBlowFish().Schedule();
    EXPECT_EQ(s.P[0], 0x243F6A88u);
    EXPECT_EQ(s.P[1], 0x85A308D3u);
    EXPECT_EQ(s.P[17], 0x8979FB1Bu);
    EXPECT_EQ(s.S[0][0], 0xD1310BA6u);
    EXPECT_EQ(s.S[0][255], 0x6E85076Au);
    EXPECT_EQ(s.S[1][0], 0x4B7A70E9u);
    EXPECT_EQ(s.S[1][255], 0xDB83ADF7u);
    EXPECT_EQ(s.S[2][0], 0xE93D5A68u);
    EXPECT_EQ(s.S[2][255], 0x406000E0u);
    EXPECT_EQ(s.S[3][0], 0x3A39CE37u);
    EXPECT_EQ(s.S[3][255], 0x3AC372E6u);
}

TEST(BlowFish, KeyBytesRepeatCyclicallyAndOnly72Count)
{
    const std::string plain = FromHex("0011223344556677");
    // "ab" repeated is the same key as "ab"; "aba" is not.
    EXPECT_EQ(EncryptBlockWith("ab", plain), EncryptBlockWith("abab", plain));
    std::string ab36;
    for (int i = 0; i < 36; ++i)
        ab36 += "ab";
    EXPECT_EQ(EncryptBlockWith("ab", plain), EncryptBlockWith(ab36, plain));
    EXPECT_NE(EncryptBlockWith("ab", plain), EncryptBlockWith("aba", plain));

    std::mt19937 random(72);
    const std::string key72 = RandomBytes(random, 72);
    const std::string cipher72 = EncryptBlockWith(key72, plain);
    // Bytes after the 72nd change nothing.
    EXPECT_EQ(EncryptBlockWith(key72 + "x", plain), cipher72);
    EXPECT_EQ(EncryptBlockWith(key72 + RandomBytes(random, 100), plain), cipher72);
    // The 72nd byte does count.
    std::string changed = key72;
    changed[71] = static_cast<char>(changed[71] ^ 1);
    EXPECT_NE(EncryptBlockWith(changed, plain), cipher72);
    // And OpenSSL agrees on the 72-byte key.
    ASSERT_TRUE(OpenSsl().Available()) << OpenSsl().Error();
    EXPECT_EQ(ToHex(OpenSsl().EcbEncrypt(key72, plain)), ToHex(cipher72));
}

TEST(BlowFish, ScheduleCacheSharesUnchangedKeysAndCanBeBypassed)
{
    ASSERT_TRUE(KeyScheduleCacheEnabled());
    const std::string key = "Tenmar4";
    auto set = [](TBlowFish &c, const std::string &k) {
        c.SetKey(reinterpret_cast<const unsigned char *>(k.data()), k.size());
    };
    TBlowFish a, b, other;
    set(a, key);
    set(other, "another key");
    set(b, key);
    // The same key gives the same shared schedule, even with another key set
    // in between (the password change alternates between two keys).
    EXPECT_EQ(&a.Schedule(), &b.Schedule());
    EXPECT_NE(&a.Schedule(), &other.Schedule());

    // Many other keys push it out of the cache; the holders keep theirs.
    for (int i = 0; i < 10; ++i) {
        TBlowFish filler;
        set(filler, "filler " + std::to_string(i));
    }
    TBlowFish c;
    set(c, key);
    EXPECT_NE(&c.Schedule(), &a.Schedule());
    EXPECT_EQ(std::memcmp(&c.Schedule(), &a.Schedule(), sizeof(BlowFishSchedule)), 0);

    SetKeyScheduleCacheEnabled(false);
    TBlowFish d, e;
    set(d, key);
    set(e, key);
    SetKeyScheduleCacheEnabled(true);
    EXPECT_NE(&d.Schedule(), &e.Schedule());
    EXPECT_EQ(std::memcmp(&d.Schedule(), &a.Schedule(), sizeof(BlowFishSchedule)), 0);
    const BlowFishSchedule direct =
        ExpandBlowFishKey(reinterpret_cast<const unsigned char *>(key.data()), key.size());
    EXPECT_EQ(std::memcmp(&direct, &a.Schedule(), sizeof(BlowFishSchedule)), 0);
}

TEST(BlowFish, ThreadsWithTheirOwnKeysDoNotDisturbEachOther)
{
    const std::string plain = FromHex("FEDCBA9876543210");
    const std::vector<std::string> keys = {"old key", "new key", "Tenmar4", "x"};
    std::vector<std::string> expected;
    for (const auto &k : keys)
        expected.push_back(EncryptBlockWith(k, plain));
    std::vector<int> mismatches(keys.size(), 0);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < keys.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                // Alternate between this thread's key and its neighbour's.
                const size_t k = (i % 2 == 0) ? t : (t + 1) % keys.size();
                if (EncryptBlockWith(keys[k], plain) != expected[k])
                    ++mismatches[t];
            }
        });
    }
    for (auto &thread : threads)
        thread.join();
    for (size_t t = 0; t < keys.size(); ++t)
        EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

TEST(BlowFishCbc, ReferenceValueUnderTheFixedKey)
{
    EXPECT_EQ(ToHex(OurCbcEncrypt("Tenmar4", kFieldIV, "hello")), "f88af97a8f198317");
    EXPECT_EQ(OurCbcDecrypt("Tenmar4", kFieldIV, FromHex("f88af97a8f198317")), "hello");
}

TEST(BlowFishCbc, AgreesWithOpenSslForRandomKeysAndTexts)
{
    ASSERT_TRUE(OpenSsl().Available()) << OpenSsl().Error();
    std::mt19937 random(20240607);
    std::uniform_int_distribution<size_t> keyLength(1, 72);
    std::uniform_int_distribution<size_t> plainLength(0, 100);
    for (int i = 0; i < 400; ++i) {
        const std::string key = RandomBytes(random, keyLength(random));
        const std::string plain = RandomBytes(random, plainLength(random));
        // Half with the store's IV, half with random ones.
        const std::string iv = (i % 2 == 0) ? kFieldIV : RandomBytes(random, 8);
        SCOPED_TRACE("case " + std::to_string(i) + ": key " + ToHex(key) + ", plaintext " +
                     ToHex(plain));
        const std::string theirs = OpenSsl().CbcEncrypt(key, iv, plain);
        const std::string ours = OurCbcEncrypt(key, iv, plain);
        ASSERT_EQ(ToHex(ours), ToHex(theirs));
        ASSERT_EQ(OurCbcDecrypt(key, iv, theirs), plain);
        ASSERT_EQ(OpenSsl().CbcDecrypt(key, iv, ours), plain);
    }
}

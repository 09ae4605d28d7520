// The field store: the string codec, the exact bytes of field files, damaged
// files, and whole-file writing.
#include "AllocationWatch.h"
#include "OpenSslBlowfish.h"

#include "core/AppState.h"
#include "core/AtomicFile.h"
#include "core/BlowFish.h"
#include "core/CryptUtils.h"
#include "core/Errors.h"
#include "core/FieldStore.h"
#include "support/VostrelTest.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace vostrel;
using vostrel::test::AllocationWatch;
using vostrel::test::FromHex;
using vostrel::test::OpenSslBlowfish;
using vostrel::test::ReadBytes;
using vostrel::test::S;
using vostrel::test::ToHex;
using vostrel::test::WriteBytes;
namespace fs = std::filesystem;

namespace {

const std::string kIV = FromHex("A73C19E25B84D06F");

const OpenSslBlowfish &OpenSsl()
{
    static const OpenSslBlowfish instance;
    return instance;
}

std::string LittleEndian32(int32_t value)
{
    const auto u = static_cast<uint32_t>(value);
    return {static_cast<char>(u), static_cast<char>(u >> 8), static_cast<char>(u >> 16),
            static_cast<char>(u >> 24)};
}

// One field as the store writes it, built from OpenSSL's ciphertext.
std::string ReferenceField(std::string_view key, std::string_view plain)
{
    const std::string cipher = OpenSsl().CbcEncrypt(key, kIV, plain);
    return LittleEndian32(static_cast<int32_t>(cipher.size())) + cipher;
}

std::vector<std::string> FilesIn(const fs::path &folder)
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Restores the normal disk behaviour when a test ends, however it ends.
struct FaultInjectorReset
{
    ~FaultInjectorReset() { AtomicFile::SetFaultInjector(nullptr); }
};

class FieldStoreTest : public vostrel::test::VostrelTest
{
protected:
    void SetUp() override
    {
        VostrelTest::SetUp();
        folder = TempDir() / "fields";
        fs::create_directories(folder);
        file = folder / "list.vsl";
    }

    // Expects reading the fields of bytes to give texts, then the end.
    void ExpectFields(const std::string &bytes, const std::vector<std::string> &texts)
    {
        WriteBytes(file, bytes);
        EncryptedFieldFile in = EncryptedFieldFile::OpenRead(file);
        for (const std::string &text : texts) {
            ASSERT_FALSE(in.AtEnd());
            EXPECT_EQ(in.ReadField(), text);
        }
        EXPECT_TRUE(in.AtEnd());
    }

    // Expects one of the reads of a file holding bytes to fail with a read
    // error that names the file and says it ends early; reads before it may
    // succeed. Returns the texts read before the failure.
    std::vector<std::string> ExpectEarlyEnd(const std::string &bytes, bool raw = false)
    {
        WriteBytes(file, bytes);
        EncryptedFieldFile in = EncryptedFieldFile::OpenRead(file);
        std::vector<std::string> read;
        for (int i = 0; i < 10; ++i) {
            try {
                read.push_back(raw ? in.ReadRawField() : in.ReadField());
            } catch (const FileError &e) {
                const std::string text = e.what();
                EXPECT_NE(text.find(file.string()), std::string::npos) << text;
                EXPECT_NE(text.find("ファイルが途中で終わっています"), std::string::npos) << text;
                EXPECT_EQ(e.File(), file);
                return read;
            }
        }
        ADD_FAILURE() << "no read error";
        return read;
    }

    fs::path folder;
    fs::path file;
};

} // namespace

TEST_F(FieldStoreTest, EncryptedSizesAndTheWholePaddingBlock)
{
    EXPECT_EQ(EncryptString("").size(), 8u);
    EXPECT_EQ(EncryptString("1234567").size(), 8u);
    EXPECT_EQ(EncryptString("12345678").size(), 16u);
    EXPECT_EQ(EncryptString(std::string(40, 'x')).size(), 48u);
    // An 8-byte text gets a whole block of eight 08 bytes.
    ASSERT_TRUE(OpenSsl().Available()) << OpenSsl().Error();
    const std::string plainBlocks =
        OpenSsl().CbcDecrypt(DefaultKey, kIV, EncryptString("12345678"), false);
    EXPECT_EQ(ToHex(plainBlocks), ToHex("12345678" + std::string(8, '\x08')));
    const std::string emptyBlock = OpenSsl().CbcDecrypt(DefaultKey, kIV, EncryptString(""), false);
    EXPECT_EQ(ToHex(emptyBlock), "0808080808080808");
}

TEST_F(FieldStoreTest, ReferenceValueAndAgreementWithOpenSsl)
{
    // "hello" under the fixed key, which is CurrentKey in a fresh test.
    EXPECT_EQ(ToHex(EncryptString("hello")), "f88af97a8f198317");
    EXPECT_EQ(DecryptString(FromHex("f88af97a8f198317")), "hello");
    EXPECT_EQ(ToHex(FieldCodec(std::string(DefaultKey)).EncryptString("hello")),
              "f88af97a8f198317");
    ASSERT_TRUE(OpenSsl().Available()) << OpenSsl().Error();
    // Keys of 20 and 7 bytes, and Shift_JIS text.
    for (const std::string &key : {std::string("abcdefghijklmnopqrst"), std::string("pass123")}) {
        const FieldCodec codec(key);
        for (const std::string &text : {S("日本語の宛先リスト"), std::string("mail@example.jp")}) {
            EXPECT_EQ(ToHex(codec.EncryptString(text)),
                      ToHex(OpenSsl().CbcEncrypt(key, kIV, text)));
            EXPECT_EQ(codec.DecryptString(codec.EncryptString(text)), text);
        }
    }
}

TEST_F(FieldStoreTest, RoundTripsArbitraryBytes)
{
    std::vector<std::string> texts = {"",
                                      std::string(1, '\0'),
                                      std::string("a\0b\0", 4),
                                      S("表示名"),
                                      S("ソ能表"), // trail bytes 0x5C
                                      std::string(8, '\x08'),
                                      std::string(7, '\x01')};
    std::string all;
    for (int c = 0; c < 256; ++c)
        all.push_back(static_cast<char>(c));
    texts.push_back(all);
    std::mt19937 random(13);
    for (size_t n = 0; n <= 40; ++n) {
        std::string text(n, '\0');
        for (char &c : text)
            c = static_cast<char>(random());
        texts.push_back(text);
    }
    for (const std::string &text : texts)
        EXPECT_EQ(ToHex(DecryptString(EncryptString(text))), ToHex(text));
}

TEST_F(FieldStoreTest, EqualTextsGiveEqualCiphertextsAndTheKeyIsTakenPerCall)
{
    const std::string first = EncryptString("same text");
    EXPECT_EQ(EncryptString("same text"), first);
    // A change of CurrentKey counts from the very next call.
    SetCurrentKey("NewPass9");
    const std::string second = EncryptString("same text");
    EXPECT_NE(second, first);
    EXPECT_EQ(second, FieldCodec("NewPass9").EncryptString("same text"));
    EXPECT_EQ(DecryptString(second), "same text");
    // Keys longer than 72 bytes count with their first 72.
    const std::string key72(72, 'k');
    EXPECT_EQ(FieldCodec(key72 + "extra").EncryptString("text"),
              FieldCodec(key72).EncryptString("text"));
}

TEST_F(FieldStoreTest, WrongKeyOrDamagedCiphertextDecryptsWithoutError)
{
    const FieldCodec right("RightKey1");
    const FieldCodec wrong("WrongKey2");
    std::mt19937 random(99);
    int differing = 0;
    for (int i = 0; i < 200; ++i) {
        // Not empty: garbage can be empty too.
        std::string text(static_cast<size_t>(1 + random() % 40), '\0');
        for (char &c : text)
            c = static_cast<char>(random());
        const std::string cipher = right.EncryptString(text);
        std::string garbled;
        ASSERT_NO_THROW(garbled = wrong.DecryptString(cipher));
        EXPECT_LE(garbled.size(), cipher.size());
        if (garbled != text)
            ++differing;
    }
    EXPECT_EQ(differing, 200);

    // Whole blocks only: stray bytes after them are ignored.
    const std::string cipher = right.EncryptString("twelve bytes");
    EXPECT_EQ(right.DecryptString(cipher + "abc"), "twelve bytes");
    EXPECT_EQ(right.DecryptString(cipher.substr(0, 5)), "");
    EXPECT_EQ(right.DecryptString(""), "");
    // A pad length larger than the data gives the empty text; a last byte
    // of 0 keeps the whole block.
    ASSERT_TRUE(OpenSsl().Available()) << OpenSsl().Error();
    const std::string big = OpenSsl().CbcEncrypt("RightKey1", kIV, "abcdefg\x40", false);
    EXPECT_EQ(right.DecryptString(big), "");
    const std::string zero =
        OpenSsl().CbcEncrypt("RightKey1", kIV, std::string("abcdefg\0", 8), false);
    EXPECT_EQ(right.DecryptString(zero), std::string("abcdefg\0", 8));
}

TEST_F(FieldStoreTest, FileBytesAreLengthThenCiphertext)
{
    ASSERT_TRUE(OpenSsl().Available()) << OpenSsl().Error();
    const std::string key = "FileKey7";
    const std::string name = S("山田 太郎");
    {
        EncryptedFieldFile out = EncryptedFieldFile::Create(file, key);
        out.WriteField(name);
        out.WriteField("taro@example.jp, a somewhat longer field");
        out.Commit();
    }
    EXPECT_EQ(ToHex(ReadBytes(file)),
              ToHex(ReferenceField(key, name) +
                    ReferenceField(key, "taro@example.jp, a somewhat longer field")));

    EncryptedFieldFile in = EncryptedFieldFile::OpenRead(file, key);
    EXPECT_EQ(in.Path(), file);
    EXPECT_EQ(in.ReadField(), name);
    // The raw form of a field is its ciphertext, unchanged.
    EXPECT_EQ(ToHex(in.ReadRawField()),
              ToHex(OpenSsl().CbcEncrypt(key, kIV, "taro@example.jp, a somewhat longer field")));
    EXPECT_TRUE(in.AtEnd());
}

TEST_F(FieldStoreTest, EmptyAndRepeatedFieldsInAFile)
{
    {
        EncryptedFieldFile out = EncryptedFieldFile::Create(file); // CurrentKey
        out.WriteField("");
        out.Commit();
    }
    const std::string bytes = ReadBytes(file);
    ASSERT_EQ(bytes.size(), 12u);
    EXPECT_EQ(ToHex(bytes.substr(0, 4)), "08000000");
    EXPECT_EQ(ToHex(bytes.substr(4)), ToHex(EncryptString("")));

    {
        EncryptedFieldFile out = EncryptedFieldFile::Create(file);
        out.WriteField("-1");
        out.WriteField("-1");
        out.Commit();
    }
    const std::string twice = ReadBytes(file);
    ASSERT_EQ(twice.size(), 24u);
    EXPECT_EQ(twice.substr(0, 12), twice.substr(12));
    ExpectFields(twice, {"-1", "-1"});
}

TEST_F(FieldStoreTest, CacheOnOrOffWritesTheSameBytes)
{
    auto writeAll = [&](const fs::path &path) {
        EncryptedFieldFile out = EncryptedFieldFile::Create(path, "cache test");
        for (int i = 0; i < 50; ++i)
            out.WriteField("field " + std::to_string(i));
        out.Commit();
    };
    writeAll(file);
    SetKeyScheduleCacheEnabled(false);
    writeAll(folder / "uncached.vsl");
    SetKeyScheduleCacheEnabled(true);
    EXPECT_EQ(ReadBytes(file), ReadBytes(folder / "uncached.vsl"));
}

TEST_F(FieldStoreTest, ReadingPastTheEndOrACutFileIsAReadError)
{
    const std::string a = ReferenceField(DefaultKey, "first");
    const std::string b = ReferenceField(DefaultKey, "second field");
    // An empty file, and a file that ends after its fields.
    EXPECT_TRUE(ExpectEarlyEnd("").empty());
    EXPECT_EQ(ExpectEarlyEnd(a + b), (std::vector<std::string>{"first", "second field"}));
    // Cut inside a length field.
    EXPECT_TRUE(ExpectEarlyEnd(a.substr(0, 2)).empty());
    EXPECT_EQ(ExpectEarlyEnd(a + b.substr(0, 3)), std::vector<std::string>{"first"});
    // Cut inside the ciphertext, for reading and for raw copying.
    EXPECT_EQ(ExpectEarlyEnd(a + b.substr(0, b.size() - 1)), std::vector<std::string>{"first"});
    EXPECT_EQ(ExpectEarlyEnd(a + b.substr(0, 10), true).size(), 1u);

    // One stray byte after the last field is not the end of the file, and
    // not a field either.
    WriteBytes(file, a + "x");
    {
        EncryptedFieldFile in = EncryptedFieldFile::OpenRead(file);
        EXPECT_EQ(in.ReadField(), "first");
        EXPECT_FALSE(in.AtEnd());
        EXPECT_THROW(in.ReadField(), FileError);
    }

    // Opening a missing file names it.
    try {
        EncryptedFieldFile::OpenRead(folder / "missing.vsl");
        ADD_FAILURE() << "no error";
    } catch (const FileError &e) {
        EXPECT_NE(std::string(e.what()).find("missing.vsl"), std::string::npos);
    }
}

TEST_F(FieldStoreTest, OddLengthFieldsReadSafely)
{
    const std::string next = ReferenceField(DefaultKey, "next");
    // Zero and negative lengths read as the empty text and take 4 bytes.
    ExpectFields(LittleEndian32(0), {""});
    ExpectFields(LittleEndian32(0) + next, {"", "next"});
    ExpectFields(LittleEndian32(-8) + next, {"", "next"});
    ExpectFields(LittleEndian32(INT32_MIN) + next, {"", "next"});
    // A length that is not a multiple of 8: its bytes are consumed, its
    // whole blocks deciphered.
    ExpectFields(LittleEndian32(5) + "abcde" + next, {"", "next"});
    const std::string cipher = OpenSsl().CbcEncrypt(DefaultKey, kIV, "1234");
    ExpectFields(LittleEndian32(static_cast<int32_t>(cipher.size() + 3)) + cipher + "xyz" + next,
                 {"1234", "next"});
    // The raw reader sees the same fields.
    WriteBytes(file, LittleEndian32(-8) + LittleEndian32(5) + "abcde");
    EncryptedFieldFile in = EncryptedFieldFile::OpenRead(file);
    EXPECT_EQ(in.ReadRawField(), "");
    EXPECT_EQ(in.ReadRawField(), "abcde");
    EXPECT_TRUE(in.AtEnd());
}

TEST_F(FieldStoreTest, HugeLengthInASmallFileAllocatesNothingLarge)
{
    const std::string small = LittleEndian32(0x7FFFFFF8) + std::string(100, 'x');
    for (bool raw : {false, true}) {
        SCOPED_TRACE(raw ? "raw" : "decrypted");
        AllocationWatch watch;
        const auto start = std::chrono::steady_clock::now();
        try {
            EXPECT_TRUE(ExpectEarlyEnd(small, raw).empty());
        } catch (const std::bad_alloc &) {
            ADD_FAILURE() << "allocated what the length claims";
        }
        const auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_LT(watch.Largest(), size_t(1) << 20);
        EXPECT_LT(elapsed, std::chrono::seconds(2));
    }
    // A length just beyond what is left is an early end too.
    const std::string cipher = OpenSsl().CbcEncrypt(DefaultKey, kIV, "abc");
    EXPECT_TRUE(ExpectEarlyEnd(LittleEndian32(16) + cipher).empty());
}

TEST_F(FieldStoreTest, NothingAppearsBeforeCommit)
{
    WriteBytes(file, "old content");
    {
        EncryptedFieldFile out = EncryptedFieldFile::Create(file);
        out.WriteField("new");
        EXPECT_EQ(ReadBytes(file), "old content");
        // Dropped without Commit.
    }
    EXPECT_EQ(ReadBytes(file), "old content");
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"list.vsl"});
}

TEST_F(FieldStoreTest, FailedWriteLeavesTheOldFileAndNoTemporary)
{
    FaultInjectorReset reset;
    const std::string old = ReferenceField(DefaultKey, "old record");
    // The injector is asked before every write to disk and before the
    // rename. The disk fills up while many fields are written (they pass the
    // 64 KB buffer), when the rest is flushed at Commit, or at the rename.
    struct Case
    {
        const char *what;
        int fields;
        int failingCall;
    };
    for (const Case &c : {Case{"while writing", 10000, 1}, Case{"at the last flush", 10, 1},
                          Case{"at the rename", 10, 2}}) {
        SCOPED_TRACE(c.what);
        WriteBytes(file, old);
        int calls = 0;
        AtomicFile::SetFaultInjector([&](const fs::path &) { return ++calls != c.failingCall; });
        bool failed = false;
        bool committing = false;
        try {
            EncryptedFieldFile out = EncryptedFieldFile::Create(file);
            for (int i = 0; i < c.fields; ++i)
                out.WriteField("recipient " + std::to_string(i));
            committing = true;
            out.Commit();
        } catch (const FileError &e) {
            failed = true;
            EXPECT_NE(std::string(e.what()).find(file.string()), std::string::npos) << e.what();
        }
        AtomicFile::SetFaultInjector(nullptr);
        EXPECT_TRUE(failed);
        EXPECT_EQ(committing, c.fields == 10) << "failed at the expected step";
        EXPECT_EQ(calls, c.failingCall);
        EXPECT_EQ(ToHex(ReadBytes(file)), ToHex(old));
        EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"list.vsl"});
    }
}

TEST_F(FieldStoreTest, NewFilesAreReadableByTheUserOnly)
{
    WriteBytes(file, "old");
    ::chmod(file.c_str(), 0644);
    {
        EncryptedFieldFile out = EncryptedFieldFile::Create(file);
        out.WriteField("secret");
        out.Commit();
    }
    struct stat info;
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    {
        EncryptedFieldFile out = EncryptedFieldFile::Create(folder / "fresh.vsl");
        out.Commit();
    }
    ASSERT_EQ(::stat((folder / "fresh.vsl").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(ReadBytes(folder / "fresh.vsl"), "");
    EncryptedFieldFile in = EncryptedFieldFile::OpenRead(folder / "fresh.vsl");
    EXPECT_TRUE(in.AtEnd());
}

TEST_F(FieldStoreTest, FilesMoveAndReadTheirOwnKey)
{
    {
        EncryptedFieldFile out = EncryptedFieldFile::Create(file, "key one");
        out.WriteField("a");
        out.WriteField("b");
        EncryptedFieldFile moved = std::move(out);
        moved.Commit();
    }
    SetCurrentKey("something else");
    EncryptedFieldFile in = EncryptedFieldFile::OpenRead(file, "key one");
    EXPECT_EQ(in.ReadField(), "a");
    EncryptedFieldFile moved(std::move(in));
    EXPECT_EQ(moved.Codec().Key(), "key one");
    EXPECT_EQ(moved.ReadField(), "b");
    EXPECT_TRUE(moved.AtEnd());
    in = std::move(moved); // back again, still positioned at the end
    EXPECT_TRUE(in.AtEnd());
}

TEST_F(FieldStoreTest, APrefixOfALongFieldIsReadWithoutTheRestAndTheNextFieldFollows)
{
    // Texts around the block and limit boundaries, each followed by a short
    // field that must read correctly after the prefix or the skip.
    std::string text;
    for (int i = 0; i < 300; ++i)
        text += static_cast<char>('A' + i % 26);
    struct Case
    {
        std::size_t length;
        std::size_t limit;
    };
    const Case cases[] = {{0, 16},  {1, 16},  {15, 16}, {16, 16}, {17, 16},
                          {23, 16}, {24, 16}, {25, 16}, {40, 16}, {300, 16},
                          {300, 5}, {300, 0}, {7, 0},   {8, 5},   {299, 298}};
    for (const Case &c : cases) {
        const std::string plain = text.substr(0, c.length);
        WriteBytes(file, ReferenceField(DefaultKey, plain) + ReferenceField(DefaultKey, "next"));
        const std::string where = std::to_string(c.length) + "/" + std::to_string(c.limit);
        {
            EncryptedFieldFile in = EncryptedFieldFile::OpenRead(file);
            bool cut = false;
            EXPECT_EQ(in.ReadFieldPrefix(c.limit, &cut), plain.substr(0, c.limit)) << where;
            EXPECT_EQ(cut, c.length > c.limit) << where;
            EXPECT_EQ(in.ReadField(), "next") << where;
            EXPECT_TRUE(in.AtEnd());
        }
        EncryptedFieldFile in = EncryptedFieldFile::OpenRead(file);
        in.SkipField();
        EXPECT_EQ(in.ReadField(), "next") << where;
    }
}

TEST_F(FieldStoreTest, APrefixOrASkipOfAFieldCutShortIsAReadError)
{
    const std::string a = ReferenceField(DefaultKey, std::string(100, 'x'));
    for (int skip = 0; skip < 2; ++skip) {
        WriteBytes(file, a.substr(0, a.size() - 1));
        EncryptedFieldFile in = EncryptedFieldFile::OpenRead(file);
        if (skip)
            EXPECT_THROW(in.SkipField(), FileError);
        else
            EXPECT_THROW(in.ReadFieldPrefix(8), FileError);
    }
}

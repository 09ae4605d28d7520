// Field store figures: writing and reading a destination list of 100,000
// recipients (13 fields each, 1,300,000 fields of 8 to 40 bytes) under one
// key, the cost of a field without the key-schedule cache, and OpenSSL's
// Blowfish-CBC on the same texts. Prints figures only; nothing passes or fails.
#include "core/BlowFish.h"
#include "core/FieldStore.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <random>
#include <string>
#include <vector>

using namespace vostrel;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t kRecipients = 100000;
constexpr size_t kFieldsPerRecipient = 13;
constexpr size_t kUncachedSample = 10000;
const std::string kKey = "Tenmar4";
const unsigned char kIV[8] = {0xA7, 0x3C, 0x19, 0xE2, 0x5B, 0x84, 0xD0, 0x6F};

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// CPU time of this thread: on a shared machine it shows the cost on one core
// better than the wall clock does.
double ThreadCpuSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Timing
{
    double cpu = 1e300;  // seconds of CPU time, fastest run
    double wall = 1e300; // seconds of wall time, fastest run
};

void Report(const char *what, size_t fields, const Timing &t)
{
    std::printf("%-52s %8zu fields  cpu %7.3f s  wall %7.3f s  %9.0f fields/s  %6.0f ns/field\n",
                what, fields, t.cpu, t.wall, static_cast<double>(fields) / t.cpu,
                t.cpu * 1e9 / static_cast<double>(fields));
}

// Runs work a few times and keeps the fastest run.
template <typename Work> Timing Best(int runs, Work work)
{
    Timing best;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        const double cpuStart = ThreadCpuSeconds();
        work();
        best.cpu = std::min(best.cpu, ThreadCpuSeconds() - cpuStart);
        best.wall = std::min(best.wall, Seconds(Clock::now() - start));
    }
    return best;
}

std::vector<std::string> MakeTexts(size_t count)
{
    std::mt19937 random(1300000);
    std::uniform_int_distribution<size_t> length(8, 40);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<std::string> texts(count);
    for (std::string &text : texts) {
        text.resize(length(random));
        for (char &c : text)
            c = static_cast<char>(byte(random));
    }
    return texts;
}

// OpenSSL's Blowfish-CBC from the legacy provider in a private library
// context, one cipher context keyed once and re-initialised per field with
// the IV only.
class OpenSslCbc
{
public:
    explicit OpenSslCbc(bool encrypt)
        : encrypt_(encrypt)
    {
        library_ = OSSL_LIB_CTX_new();
        if (!library_ || !OSSL_PROVIDER_load(library_, "legacy"))
            Fail("legacy provider");
        cipher_ = EVP_CIPHER_fetch(library_, "BF-CBC", nullptr);
        ctx_ = EVP_CIPHER_CTX_new();
        if (!cipher_ || !ctx_)
            Fail("BF-CBC");
        SetKey();
    }
    ~OpenSslCbc()
    {
        EVP_CIPHER_CTX_free(ctx_);
        EVP_CIPHER_free(cipher_);
        OSSL_LIB_CTX_free(library_);
    }

    // The full key set-up, as a fresh context per field would need.
    void SetKey()
    {
        if (!EVP_CipherInit_ex2(ctx_, cipher_, nullptr, nullptr, encrypt_, nullptr) ||
            !EVP_CIPHER_CTX_set_key_length(ctx_, static_cast<int>(kKey.size())) ||
            !EVP_CipherInit_ex2(ctx_, nullptr, reinterpret_cast<const unsigned char *>(kKey.data()),
                                kIV, encrypt_, nullptr))
            Fail("key set-up");
    }

    // One field: IV reset (key kept), then the data. Returns the output length.
    int Field(const std::string &in, unsigned char *out, bool newKey = false)
    {
        if (newKey)
            SetKey();
        else if (!EVP_CipherInit_ex2(ctx_, nullptr, nullptr, kIV, encrypt_, nullptr))
            Fail("IV reset");
        int n = 0;
        int last = 0;
        if (!EVP_CipherUpdate(ctx_, out, &n, reinterpret_cast<const unsigned char *>(in.data()),
                              static_cast<int>(in.size())) ||
            !EVP_CipherFinal_ex(ctx_, out + n, &last))
            Fail("cipher");
        return n + last;
    }

private:
    [[noreturn]] static void Fail(const char *what)
    {
        char text[256] = {};
        ERR_error_string_n(ERR_get_error(), text, sizeof text);
        std::fprintf(stderr, "OpenSSL %s failed: %s\n", what, text);
        std::exit(1);
    }

    bool encrypt_;
    OSSL_LIB_CTX *library_ = nullptr;
    EVP_CIPHER *cipher_ = nullptr;
    EVP_CIPHER_CTX *ctx_ = nullptr;
};

} // namespace

int main()
{
    const size_t total = kRecipients * kFieldsPerRecipient;
    std::printf("Field store: %zu recipients x %zu fields = %zu fields of 8..40 random bytes, "
                "key \"%s\"\n\n",
                kRecipients, kFieldsPerRecipient, total, kKey.c_str());
    const std::vector<std::string> texts = MakeTexts(total);
    size_t plainBytes = 0;
    for (const auto &t : texts)
        plainBytes += t.size();

    char folderTemplate[] = "/tmp/vostrel-bench-XXXXXX";
    if (!::mkdtemp(folderTemplate)) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path folder = folderTemplate;
    const fs::path file = folder / "list.vsl";

    // ---- the file, with the key-schedule cache ----
    const Timing writeTime = Best(3, [&] {
        EncryptedFieldFile out = EncryptedFieldFile::Create(file, kKey);
        for (const auto &t : texts)
            out.WriteField(t);
        out.Commit();
    });
    const auto fileSize = fs::file_size(file);
    size_t mismatches = 0;
    const Timing readTime = Best(3, [&] {
        mismatches = 0;
        EncryptedFieldFile in = EncryptedFieldFile::OpenRead(file, kKey);
        for (const auto &t : texts)
            if (in.ReadField() != t)
                ++mismatches;
        if (!in.AtEnd())
            ++mismatches;
    });
    std::printf("file: %llu bytes (%zu bytes of text), %zu fields read back wrong\n",
                static_cast<unsigned long long>(fileSize), plainBytes, mismatches);
    Report("write file (WriteField + Commit, cache on)", total, writeTime);
    Report("read file (ReadField, cache on)", total, readTime);

    // ---- codec only, in memory, same texts ----
    const FieldCodec codec(kKey);
    std::vector<std::string> ciphers(total);
    const Timing encryptTime = Best(3, [&] {
        for (size_t i = 0; i < total; ++i)
            ciphers[i] = codec.EncryptString(texts[i]);
    });
    size_t decodedBytes = 0;
    const Timing decryptTime = Best(3, [&] {
        decodedBytes = 0;
        for (size_t i = 0; i < total; ++i)
            decodedBytes += codec.DecryptString(ciphers[i]).size();
    });
    Report("EncryptString in memory (cache on)", total, encryptTime);
    Report("DecryptString in memory (cache on)", total, decryptTime);

    // ---- without the cache: a full key schedule per field ----
    SetKeyScheduleCacheEnabled(false);
    const Timing uncachedEncrypt = Best(2, [&] {
        for (size_t i = 0; i < kUncachedSample; ++i)
            ciphers[i] = codec.EncryptString(texts[i]);
    });
    const Timing uncachedDecrypt = Best(2, [&] {
        for (size_t i = 0; i < kUncachedSample; ++i)
            decodedBytes += codec.DecryptString(ciphers[i]).size();
    });
    SetKeyScheduleCacheEnabled(true);
    Report("EncryptString, cache off (key schedule per field)", kUncachedSample, uncachedEncrypt);
    Report("DecryptString, cache off (key schedule per field)", kUncachedSample, uncachedDecrypt);
    std::printf("  -> a %zu-field file without the cache would take about %.1f s to read\n", total,
                uncachedDecrypt.cpu / kUncachedSample * total + readTime.cpu);

    // ---- OpenSSL on the same texts ----
    OpenSslCbc sslEncrypt(true);
    OpenSslCbc sslDecrypt(false);
    std::vector<unsigned char> out(64);
    // Check once that both produce the same ciphertexts.
    size_t sslMismatches = 0;
    for (size_t i = 0; i < total; i += 997) {
        const int n = sslEncrypt.Field(texts[i], out.data());
        if (std::string(reinterpret_cast<char *>(out.data()), static_cast<size_t>(n)) != ciphers[i])
            ++sslMismatches;
    }
    for (size_t i = 0; i < total; i += 997) {
        const int n = sslDecrypt.Field(ciphers[i], out.data());
        if (std::string(reinterpret_cast<char *>(out.data()), static_cast<size_t>(n)) != texts[i])
            ++sslMismatches;
    }
    std::printf("\n%s, every 997th field encrypted and decrypted: %zu differ from ours\n",
                OpenSSL_version(OPENSSL_VERSION), sslMismatches);
    size_t sink = 0;
    const Timing sslEncryptTime = Best(3, [&] {
        for (size_t i = 0; i < total; ++i)
            sink += static_cast<size_t>(sslEncrypt.Field(texts[i], out.data()));
    });
    const Timing sslDecryptTime = Best(3, [&] {
        for (size_t i = 0; i < total; ++i)
            sink += static_cast<size_t>(sslDecrypt.Field(ciphers[i], out.data()));
    });
    const Timing sslKeyedDecrypt = Best(2, [&] {
        for (size_t i = 0; i < kUncachedSample; ++i)
            sink += static_cast<size_t>(sslDecrypt.Field(ciphers[i], out.data(), true));
    });
    Report("OpenSSL BF-CBC encrypt, IV reset per field", total, sslEncryptTime);
    Report("OpenSSL BF-CBC decrypt, IV reset per field", total, sslDecryptTime);
    Report("OpenSSL BF-CBC decrypt, full key set-up per field", kUncachedSample, sslKeyedDecrypt);

    std::printf("\nRatios (our CPU time / OpenSSL CPU time, per field; below 1 means faster):\n");
    std::printf("  EncryptString vs OpenSSL encrypt           %.2f\n",
                encryptTime.cpu / sslEncryptTime.cpu);
    std::printf("  DecryptString vs OpenSSL decrypt           %.2f\n",
                decryptTime.cpu / sslDecryptTime.cpu);
    std::printf("  ReadField (file) vs OpenSSL decrypt        %.2f\n",
                readTime.cpu / sslDecryptTime.cpu);
    std::printf("  WriteField (file) vs OpenSSL encrypt       %.2f\n",
                writeTime.cpu / sslEncryptTime.cpu);
    std::printf("  cache off vs cache on (DecryptString)      %.1f\n",
                (uncachedDecrypt.cpu / kUncachedSample) / (decryptTime.cpu / total));
    std::printf("  cache off vs OpenSSL full key set-up       %.2f\n",
                uncachedDecrypt.cpu / sslKeyedDecrypt.cpu);
    std::printf("(checksum %zu %zu)\n", sink, decodedBytes);

    std::error_code ec;
    fs::remove_all(folder, ec);
    return 0;
}

#include "OpenSslBlowfish.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <stdexcept>

namespace vostrel::test {

namespace {

std::string LastOpenSslError(const char *what)
{
    char text[256] = {};
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    return std::string(what) + ": " + text;
}

const unsigned char *Bytes(std::string_view s)
{
    return reinterpret_cast<const unsigned char *>(s.data());
}

} // namespace

OpenSslBlowfish::OpenSslBlowfish()
{
    context_ = OSSL_LIB_CTX_new();
    if (!context_) {
        error_ = LastOpenSslError("OSSL_LIB_CTX_new");
        return;
    }
    if (!OSSL_PROVIDER_load(context_, "legacy")) {
        error_ = LastOpenSslError("loading the legacy provider");
        return;
    }
    cbc_ = EVP_CIPHER_fetch(context_, "BF-CBC", nullptr);
    ecb_ = EVP_CIPHER_fetch(context_, "BF-ECB", nullptr);
    if (!cbc_ || !ecb_)
        error_ = LastOpenSslError("fetching Blowfish");
}

OpenSslBlowfish::~OpenSslBlowfish()
{
    EVP_CIPHER_free(cbc_);
    EVP_CIPHER_free(ecb_);
    OSSL_LIB_CTX_free(context_); // unloads the provider as well
}

std::string OpenSslBlowfish::Run(const evp_cipher_st *cipher, bool encrypt, std::string_view key,
                                 std::string_view iv, std::string_view input, bool pad) const
{
    if (!cipher)
        throw std::runtime_error("OpenSSL Blowfish unavailable: " + error_);
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    std::string out(input.size() + 16, '\0');
    int produced = 0;
    int last = 0;
    const bool ok =
        ctx && EVP_CipherInit_ex2(ctx, cipher, nullptr, nullptr, encrypt ? 1 : 0, nullptr) &&
        EVP_CIPHER_CTX_set_key_length(ctx, static_cast<int>(key.size())) &&
        EVP_CipherInit_ex2(ctx, nullptr, Bytes(key), iv.empty() ? nullptr : Bytes(iv),
                           encrypt ? 1 : 0, nullptr) &&
        EVP_CIPHER_CTX_set_padding(ctx, pad ? 1 : 0) &&
        EVP_CipherUpdate(ctx, reinterpret_cast<unsigned char *>(out.data()), &produced,
                         Bytes(input), static_cast<int>(input.size())) &&
        EVP_CipherFinal_ex(ctx, reinterpret_cast<unsigned char *>(out.data()) + produced, &last);
    EVP_CIPHER_CTX_free(ctx);
    if (!ok)
        throw std::runtime_error(LastOpenSslError("OpenSSL Blowfish"));
    out.resize(static_cast<size_t>(produced + last));
    return out;
}

std::string OpenSslBlowfish::CbcEncrypt(std::string_view key, std::string_view iv,
                                        std::string_view plain, bool pad) const
{
    return Run(cbc_, true, key, iv, plain, pad);
}

std::string OpenSslBlowfish::CbcDecrypt(std::string_view key, std::string_view iv,
                                        std::string_view cipher, bool pad) const
{
    return Run(cbc_, false, key, iv, cipher, pad);
}

std::string OpenSslBlowfish::EcbEncrypt(std::string_view key, std::string_view plain) const
{
    return Run(ecb_, true, key, {}, plain, false);
}

std::string FromHex(std::string_view hex)
{
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        throw std::invalid_argument("not a hexadecimal digit");
    };
    std::string out;
    int high = -1;
    for (char c : hex) {
        if (c == ' ')
            continue;
        const int v = nibble(c);
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<char>(high * 16 + v));
            high = -1;
        }
    }
    if (high >= 0)
        throw std::invalid_argument("odd number of hexadecimal digits");
    return out;
}

std::string ToHex(std::string_view bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

} // namespace vostrel::test

// Blowfish from OpenSSL, an implementation independent of ours, to check
// against. The legacy provider that holds Blowfish is loaded into a private
// library context: loading it into the default one would switch off the
// default provider (and TLS) for the whole process.
#pragma once

#include <string>
#include <string_view>

struct evp_cipher_st;
struct ossl_lib_ctx_st;

namespace vostrel::test {

class OpenSslBlowfish
{
public:
    OpenSslBlowfish();
    ~OpenSslBlowfish();
    OpenSslBlowfish(const OpenSslBlowfish &) = delete;
    OpenSslBlowfish &operator=(const OpenSslBlowfish &) = delete;

    // False when the legacy provider could not be loaded (the reason is in
    // Error()).
    bool Available() const { return cbc_ && ecb_; }
    const std::string &Error() const { return error_; }

    // CBC with the key length set to the key's own length; with pad the
    // last block carries PKCS#7 padding (each added byte holds the count).
    std::string CbcEncrypt(std::string_view key, std::string_view iv, std::string_view plain,
                           bool pad = true) const;
    std::string CbcDecrypt(std::string_view key, std::string_view iv, std::string_view cipher,
                           bool pad = true) const;
    // One block (or several, each on its own) without padding.
    std::string EcbEncrypt(std::string_view key, std::string_view plain) const;

private:
    std::string Run(const evp_cipher_st *cipher, bool encrypt, std::string_view key,
                    std::string_view iv, std::string_view input, bool pad) const;

    ossl_lib_ctx_st *context_ = nullptr;
    evp_cipher_st *cbc_ = nullptr;
    evp_cipher_st *ecb_ = nullptr;
    std::string error_;
};

// "0123AB" -> bytes; spaces are skipped.
std::string FromHex(std::string_view hex);
// bytes -> "0123ab"
std::string ToHex(std::string_view bytes);

} // namespace vostrel::test

// Helpers shared by the tests of the sending code.
#pragma once

#include <cstdlib>
#include <ctime>
#include <iconv.h>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vostrel::test {

// "1b2442" -> the bytes 1B 24 42 (spaces are ignored).
inline std::string FromHex(std::string_view hex)
{
    std::string out;
    int high = -1;
    for (char c : hex) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            continue;
        if (high < 0) {
            high = v;
        } else {
            out += static_cast<char>(high * 16 + v);
            high = -1;
        }
    }
    return out;
}

inline std::string ToHex(std::string_view bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

// ISO-2022-JP bytes -> UTF-8 by the C library's own converter, which knows
// nothing of the code under test. Empty optional when it rejects the input.
inline std::optional<std::string> Iso2022JpToUtf8(std::string_view jis)
{
    iconv_t cd = iconv_open("UTF-8", "ISO-2022-JP");
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error("iconv cannot convert ISO-2022-JP");
    std::string out(jis.size() * 4 + 16, '\0');
    char *in = const_cast<char *>(jis.data());
    size_t inLeft = jis.size();
    char *dst = out.data();
    size_t outLeft = out.size();
    const size_t rc = iconv(cd, &in, &inLeft, &dst, &outLeft);
    const size_t flush = iconv(cd, nullptr, nullptr, &dst, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1) || flush == static_cast<size_t>(-1) || inLeft != 0)
        return std::nullopt;
    out.resize(static_cast<size_t>(dst - out.data()));
    return out;
}

// Sets the TZ variable (a POSIX zone text such as "JST-9") for one scope.
class ScopedTimeZone
{
public:
    explicit ScopedTimeZone(const char *tz)
    {
        if (const char *old = std::getenv("TZ"))
            old_ = old;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~ScopedTimeZone()
    {
        if (old_)
            ::setenv("TZ", old_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    ScopedTimeZone(const ScopedTimeZone &) = delete;
    ScopedTimeZone &operator=(const ScopedTimeZone &) = delete;

private:
    std::optional<std::string> old_;
};

} // namespace vostrel::test

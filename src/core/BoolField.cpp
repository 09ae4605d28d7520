#include "core/BoolField.h"

#include "core/Errors.h"
#include "core/SjisCodec.h"

#include <charconv>

namespace vostrel {

std::string BoolField(bool value)
{
    return value ? "-1" : "0";
}

bool ParseDecimal(std::string_view text, long long &value)
{
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty() || text.front() == '+')
        return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y + 32);
        if (x != y)
            return false;
    }
    return true;
}

} // namespace

bool ParseBoolField(std::string_view text)
{
    long long number = 0;
    if (ParseDecimal(text, number))
        return number != 0;
    if (EqualsIgnoringCase(text, "true"))
        return true;
    if (EqualsIgnoringCase(text, "false"))
        return false;
    throw ConversionError("'" + SjisToUtf8(text) + "' は正しい論理値ではありません");
}

} // namespace vostrel

// The address rules on any bytes: never fail, and agree with their own
// definition (no "@" is always a message; a clean address has none).
#include "destinations/AddressRules.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace vostrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view address(reinterpret_cast<const char *>(data), size);
    const std::vector<std::string> messages = ValidateAddress(address);
    if (address.find('@') == std::string_view::npos && messages.empty())
        std::abort();
    bool plain = address.find('@') != std::string_view::npos;
    for (unsigned char c : address)
        plain = plain && ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '@' ||
                          c == '.' || c == '-' || c == '_');
    if (plain && !messages.empty())
        std::abort();
    return 0;
}

#include "destinations/AddressRules.h"

#include "core/SjisCodec.h"

#include <array>

namespace vostrel {

namespace {

// Searched in this order.
constexpr std::array<char, 12> kForbidden = {'(', ')', '<', '>', '\\', ',',
                                             ':', ';', '[', ']', '/',  ' '};

bool IsControl(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

bool HasDoubleByteCharacter(std::string_view address)
{
    for (std::size_t i = 0; i < address.size(); ++i) {
        // A lead byte with a byte after it makes a double-byte character; a
        // lead byte at the very end is no single-byte character either.
        if (IsSjisLeadByte(static_cast<unsigned char>(address[i])))
            return true;
    }
    return false;
}

} // namespace

std::vector<std::string> ValidateAddress(std::string_view address)
{
    std::vector<std::string> messages;

    if (HasDoubleByteCharacter(address))
        messages.push_back(Sjis("メールアドレスに2バイト文字が含まれているため追加できません"));

    const std::string forbidden =
        Sjis("メールアドレスに使用できない文字が含まれているため、追加できません");
    for (char c : kForbidden) {
        if (address.find(c) != std::string_view::npos)
            messages.push_back(forbidden);
    }
    // Control characters would reach the mail dialogue as they are.
    std::array<bool, 0x80> seen{};
    for (char c : address) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsControl(byte) && !seen[byte]) {
            seen[byte] = true;
            messages.push_back(forbidden);
        }
    }

    if (address.find('@') == std::string_view::npos)
        messages.push_back(Sjis("メールアドレスに「@」がありません"));
    return messages;
}

} // namespace vostrel

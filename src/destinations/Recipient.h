// One recipient of a destination list: thirteen texts (Shift_JIS) in a fixed
// order: name, honorific, address, merge fields 1 to 10.
#pragma once

#include <array>
#include <string>

namespace vostrel {

struct Recipient
{
    static constexpr int kFieldCount = 13;
    std::array<std::string, kFieldCount> fields;

    const std::string &Name() const { return fields[0]; }
    const std::string &Honorific() const { return fields[1]; }
    const std::string &Address() const { return fields[2]; }
    // Merge field 1..10.
    const std::string &Merge(int i) const { return fields[2 + i]; }

    bool operator==(const Recipient &) const = default;
};

} // namespace vostrel

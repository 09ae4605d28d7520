// Booleans in record files: "-1" for true, "0" for false.
#pragma once

#include <string>
#include <string_view>

namespace vostrel {

std::string BoolField(bool value);
// A number is true when it is not zero; otherwise "True" and "False" in any
// letter case are accepted; any other text throws ConversionError.
bool ParseBoolField(std::string_view text);
// The integer value of a decimal text with an optional sign and no other
// characters; false when the text is not such a number (or out of range).
bool ParseDecimal(std::string_view text, long long &value);

} // namespace vostrel

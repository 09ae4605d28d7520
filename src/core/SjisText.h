// Text helpers on Shift_JIS strings shared by composing and sending.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vostrel {

// Literal, case-sensitive replace of every match of search by replacement.
// The search steps over double-byte characters whole, so a match never starts
// on a trail byte; replaced text is never searched again. An empty search
// text leaves source unchanged.
std::string ReplaceAll(std::string_view source, std::string_view search,
                       std::string_view replacement);

// Names joined by "," with nothing around the commas. Splitting cuts at every
// comma and nowhere else; an empty text is an empty list.
std::vector<std::string> SplitCommaNameList(std::string_view text);
std::string JoinCommaNameList(const std::vector<std::string> &names);

} // namespace vostrel

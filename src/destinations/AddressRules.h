// The rules a recipient's mail address must meet, on entry and on import.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vostrel {

// Runs every check on the address (Shift_JIS) and returns the messages
// (Shift_JIS) to show, in order; the address may be used exactly when the
// result is empty. The checks, all of which always run:
//  1. no byte may be the second byte of a double-byte character (one message);
//  2. none of ( ) < > \ , : ; [ ] / and the space, searched by byte, nor a
//     control character (CR, LF, TAB, NUL and the other codes below 0x20,
//     and DEL): one message per distinct character found;
//  3. at least one "@", searched by byte.
std::vector<std::string> ValidateAddress(std::string_view address);

// The same, for callers that show nothing.
inline bool IsValidAddress(std::string_view address)
{
    return ValidateAddress(address).empty();
}

} // namespace vostrel

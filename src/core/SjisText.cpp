#include "core/SjisText.h"

#include "core/SjisCodec.h"

namespace vostrel {
namespace {

// True when pos starts a character, scanning back no further than
// knownBoundary (a position known to start a character). A byte outside the
// lead-byte ranges ends a character whether it is a single byte or a trail
// byte, so the next byte starts one; from there, lead-range bytes pair up as
// lead and trail, and pos starts a character when an even number of them lie
// before it.
bool StartsCharacter(std::string_view text, std::size_t pos, std::size_t knownBoundary)
{
    std::size_t leadRange = 0;
    std::size_t i = pos;
    while (i > knownBoundary && IsSjisLeadByte(static_cast<unsigned char>(text[i - 1]))) {
        --i;
        ++leadRange;
    }
    return leadRange % 2 == 0;
}

} // namespace

std::string ReplaceAll(std::string_view source, std::string_view search,
                       std::string_view replacement)
{
    if (search.empty())
        return std::string(source);
    std::string result;
    std::size_t copied = 0;   // source[0, copied) is in result already
    std::size_t boundary = 0; // a position known to start a character
    std::size_t from = 0;     // where the next search starts
    bool any = false;
    while (from < source.size()) {
        const std::size_t pos = source.find(search, from);
        if (pos == std::string_view::npos)
            break;
        if (!StartsCharacter(source, pos, boundary)) {
            // pos is a trail byte: the character ends there.
            boundary = pos + 1;
            from = pos + 1;
            continue;
        }
        if (!any) {
            result.reserve(source.size() + (replacement.size() > search.size()
                                                ? (replacement.size() - search.size()) * 4
                                                : 0));
            any = true;
        }
        result.append(source.substr(copied, pos - copied));
        result.append(replacement);
        copied = pos + search.size();
        boundary = copied;
        from = copied;
    }
    if (!any)
        return std::string(source);
    result.append(source.substr(copied));
    return result;
}

std::vector<std::string> SplitCommaNameList(std::string_view text)
{
    std::vector<std::string> names;
    if (text.empty())
        return names;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        if (comma == std::string_view::npos) {
            names.emplace_back(text.substr(start));
            break;
        }
        names.emplace_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return names;
}

std::string JoinCommaNameList(const std::vector<std::string> &names)
{
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0)
            text += ',';
        text += names[i];
    }
    return text;
}

} // namespace vostrel

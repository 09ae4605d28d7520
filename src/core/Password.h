// The password record config.dat and the rule for passwords.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace vostrel {

// Character classes of ClassifyCharacters, one bit each.
enum CharClass : uint16_t
{
    HalfWidthPlain = 0x001,    // ASCII digits
    HalfWidthLetter = 0x002,   // ASCII letters
    HalfWidthSymbol = 0x004,   // other printable ASCII and the space
    HalfWidthKatakana = 0x008, // U+FF61..U+FF9F
    FullWidthPlain = 0x010,    // full-width digits
    FullWidthLetter = 0x020,   // full-width Latin letters, Greek, Cyrillic
    FullWidthSymbol = 0x040,   // every other full-width form and symbol
    Katakana = 0x080,          // U+30A0..U+30FF
    Hiragana = 0x100,          // U+3040..U+309F
    Ideograph = 0x200,         // CJK ideographs
    BareSymbol = 0x400,        // control characters
};
using CharClassSet = uint16_t;

// The classes of the characters of a Shift_JIS text (empty text: empty set).
CharClassSet ClassifyCharacters(std::string_view sjis);
// A password may hold only ASCII letters and digits (the empty text passes
// this rule; emptiness is checked by the dialogs).
bool PasswordRuleAccepts(std::string_view sjis);

// DataFolder() + "config.dat".
std::filesystem::path ConfigPath();
// True when config.dat's single field, decrypted with key, equals key.
// Throws FileError when the file cannot be read.
bool ConfigHoldsKey(const std::string &key);
// The same for the password record configFile (a backup's config.dat).
bool ConfigFileHoldsKey(const std::filesystem::path &configFile, const std::string &key);
// Writes config.dat anew: key, encrypted with key.
void WriteConfig(const std::string &key);

} // namespace vostrel

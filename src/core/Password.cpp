#include "core/Password.h"

#include "core/AppState.h"
#include "core/DataLayout.h"
#include "core/FieldStore.h"
#include "core/SjisCodec.h"

#include <QList>

namespace vostrel {

namespace {

CharClass ClassOf(char32_t c)
{
    if (c >= U'0' && c <= U'9')
        return HalfWidthPlain;
    if ((c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z'))
        return HalfWidthLetter;
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0))
        return BareSymbol;
    if (c < 0x80)
        return HalfWidthSymbol;
    if (c >= 0xFF61 && c <= 0xFF9F)
        return HalfWidthKatakana;
    if (c >= 0xFF10 && c <= 0xFF19)
        return FullWidthPlain;
    if ((c >= 0xFF21 && c <= 0xFF3A) || (c >= 0xFF41 && c <= 0xFF5A) ||
        (c >= 0x0391 && c <= 0x03C9) || (c >= 0x0401 && c <= 0x0451))
        return FullWidthLetter;
    if (c >= 0x30A0 && c <= 0x30FF)
        return Katakana;
    if (c >= 0x3040 && c <= 0x309F)
        return Hiragana;
    if ((c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) ||
        (c >= 0xF900 && c <= 0xFAFF) || c == 0x3005 || c == 0x3006)
        return Ideograph;
    return FullWidthSymbol;
}

} // namespace

CharClassSet ClassifyCharacters(std::string_view sjis)
{
    CharClassSet set = 0;
    const QString text = SjisToQString(sjis);
    for (char32_t c : text.toUcs4())
        set |= ClassOf(c);
    return set;
}

bool PasswordRuleAccepts(std::string_view sjis)
{
    return (ClassifyCharacters(sjis) & ~(HalfWidthPlain | HalfWidthLetter)) == 0;
}

std::filesystem::path ConfigPath()
{
    return DataFolder() / layout::kConfig;
}

bool ConfigHoldsKey(const std::string &key)
{
    return ConfigFileHoldsKey(ConfigPath(), key);
}

bool ConfigFileHoldsKey(const std::filesystem::path &configFile, const std::string &key)
{
    EncryptedFieldFile file = EncryptedFieldFile::OpenRead(configFile, key);
    return file.ReadField() == key;
}

void WriteConfig(const std::string &key)
{
    EncryptedFieldFile file = EncryptedFieldFile::Create(ConfigPath(), key);
    file.WriteField(key);
    file.Commit();
}

} // namespace vostrel

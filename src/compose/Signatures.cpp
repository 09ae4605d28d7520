#include "compose/Signatures.h"

#include "compose/TextFile.h"
#include "core/AppState.h"
#include "core/AtomicFile.h"
#include "core/Errors.h"
#include "core/SjisCodec.h"

#include <algorithm>

namespace vostrel {

namespace fs = std::filesystem;

fs::path SignatureFile(int slot)
{
    return DataFolder() / "Signature" / ("sig0" + std::to_string(slot) + ".dat");
}

namespace {

bool HasNonAscii(std::string_view bytes)
{
    return std::any_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

} // namespace

std::string ReadSignature(int slot)
{
    const fs::path file = SignatureFile(slot);
    std::string bytes = ReadFileBytes(file);
    // Shift_JIS text with kana or kanji is practically never valid UTF-8
    // (its lead bytes 81..9F are UTF-8 continuation bytes), so a file that is
    // UTF-8 with characters beyond ASCII was written by another editor.
    if (!IsValidSjis(bytes) || (HasNonAscii(bytes) && IsValidUtf8(bytes)))
        throw FileError::ReadFailed(file, "Shift_JISのテキストではありません"
                                          "（UTF-8などで保存されたファイルは読み込めません）");
    return bytes;
}

SignatureTexts ReadSignatures()
{
    SignatureTexts texts;
    for (int slot = 1; slot <= kSignatureCount; ++slot)
        texts[slot - 1] = ReadSignature(slot);
    return texts;
}

std::string SignatureLines(std::string_view sjisText)
{
    return TextLinesWithCrLf(sjisText);
}

void SaveSignatures(const SignatureTexts &texts)
{
    for (int slot = 1; slot <= kSignatureCount; ++slot)
        WriteFileAtomically(SignatureFile(slot), SignatureLines(texts[slot - 1]));
}

} // namespace vostrel

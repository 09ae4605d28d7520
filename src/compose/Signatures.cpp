#include "compose/Signatures.h"

#include "core/AppState.h"
#include "core/AtomicFile.h"
#include "core/DataLayout.h"
#include "core/Errors.h"
#include "core/SjisCodec.h"
#include "core/TextFile.h"

namespace vostrel {

namespace fs = std::filesystem;

fs::path SignatureFile(int slot)
{
    return SignatureFolder() / layout::SignatureFileName(slot);
}

std::string ReadSignature(int slot)
{
    const fs::path file = SignatureFile(slot);
    std::string bytes = ReadFileBytes(file);
    // Decided as for every text file the program reads: a file that is not
    // Shift_JIS (UTF-8 from another editor, say) is refused rather than
    // shown garbled. Valid Shift_JIS is taken also when it is valid UTF-8,
    // unless it then reads as UTF-8 kana or kanji (which Shift_JIS text
    // practically never does, while short UTF-8 texts often are valid
    // Shift_JIS).
    if (DetectTextEncoding(bytes) != TextEncoding::ShiftJis)
        throw FileError::ReadFailed(file, "Shift_JISのテキストではありません"
                                          "（UTF-8などで保存されたファイルは読み込めません）");
    // Line and character of a user-defined character, which no recipient
    // could read.
    try {
        DecodeTextFile(bytes);
    } catch (const ConversionError &e) {
        throw FileError::ReadFailed(file, e.what());
    }
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

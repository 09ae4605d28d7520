// The five signatures: plain Shift_JIS text files sig01.dat .. sig05.dat in
// the data folder's "Signature" folder, each line followed by CR LF; an
// empty file is an unset signature. They are neither encrypted nor touched
// by a password change.
#pragma once

#include "core/DataLayout.h"

#include <array>
#include <filesystem>
#include <string>
#include <string_view>

namespace vostrel {

inline constexpr int kSignatureCount = layout::kSignatureSlots;
using SignatureTexts = std::array<std::string, kSignatureCount>;

// DataFolder() + "Signature/sig0" + slot + ".dat", slot 1 to 5.
std::filesystem::path SignatureFile(int slot);

// The content of a slot's file as it is stored. Throws FileError naming the
// file when it cannot be read, when its content is not Shift_JIS text (a
// file saved as UTF-8 by another editor, say; decided by DetectTextEncoding),
// rather than showing it garbled, or when it holds a user-defined character
// (naming the line and the character).
std::string ReadSignature(int slot);
// All five, in slot order; the first failure stops the reading.
SignatureTexts ReadSignatures();

// A signature's text as it goes into the mail and into its file: every line
// followed by CR LF (a last line without one gets it); empty stays empty.
std::string SignatureLines(std::string_view sjisText);

// Replaces every slot's file with its text (SignatureLines), in slot order,
// each file whole. A file that cannot be written stops the saving there
// with a FileError naming it; files written before it keep their new content.
void SaveSignatures(const SignatureTexts &texts);

} // namespace vostrel

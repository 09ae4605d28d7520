// Errors that abort an operation and reach the user through the program's
// general error reporting. what() is UTF-8 text meant for the user; it names
// the file involved where there is one.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace vostrel {

class VostrelError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// A file could not be opened, read, written, renamed or deleted.
class FileError : public VostrelError
{
public:
    FileError(const std::filesystem::path &file, const std::string &messageUtf8);
    const std::filesystem::path &File() const { return file_; }

    // "ファイルを読み込めませんでした: <path>" + the reason on a second line.
    static FileError ReadFailed(const std::filesystem::path &file, const std::string &reasonUtf8);
    // "ファイルに書き込めませんでした: <path>" + the reason on a second line.
    static FileError WriteFailed(const std::filesystem::path &file, const std::string &reasonUtf8);
    // The reason text of errno, in the user's language where the C library has it.
    static std::string ErrnoText(int err);

private:
    std::filesystem::path file_;
};

// A text could not be converted (a character Shift_JIS cannot hold, a field
// that should be a number or a boolean and is not).
class ConversionError : public VostrelError
{
public:
    using VostrelError::VostrelError;
};

} // namespace vostrel

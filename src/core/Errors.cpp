#include "core/Errors.h"

#include <cstring>

namespace vostrel {

FileError::FileError(const std::filesystem::path &file, const std::string &messageUtf8)
    : VostrelError(messageUtf8)
    , file_(file)
{}

FileError FileError::ReadFailed(const std::filesystem::path &file, const std::string &reasonUtf8)
{
    std::string text = "ファイルを読み込めませんでした: " + file.string();
    if (!reasonUtf8.empty())
        text += "\n" + reasonUtf8;
    return FileError(file, text);
}

FileError FileError::WriteFailed(const std::filesystem::path &file, const std::string &reasonUtf8)
{
    std::string text = "ファイルに書き込めませんでした: " + file.string();
    if (!reasonUtf8.empty())
        text += "\n" + reasonUtf8;
    return FileError(file, text);
}

std::string FileError::ErrnoText(int err)
{
    char buffer[256];
    // GNU strerror_r returns the text, which may or may not live in buffer.
    const char *text = strerror_r(err, buffer, sizeof buffer);
    return text ? std::string(text) : std::string();
}

} // namespace vostrel

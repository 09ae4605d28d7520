#include "compose/DraftFiles.h"

#include "core/AppState.h"
#include "core/AtomicFile.h"
#include "core/DataFolder.h"
#include "core/DataLayout.h"
#include "core/Errors.h"
#include "core/FileUtils.h"
#include "core/SjisCodec.h"
#include "core/SjisText.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace vostrel {

namespace fs = std::filesystem;

fs::path AttachmentFolder()
{
    return WorkFolder() / layout::kAppendedImage / "";
}

fs::path PictureFolder()
{
    return WorkFolder() / layout::kHtmlImage / "";
}

fs::path PreviewFile()
{
    return WorkFolder() / layout::kPreviewPage;
}

fs::path HtmlTemplateFile()
{
    return DataFolder() / layout::kHtmlTemplate;
}

std::string AttachmentName(const fs::path &chosenFile)
{
    std::string name = Utf8ToSjis(chosenFile.filename().native());
    return ReplaceAll(name, ",", Sjis("，"));
}

CopyResult CopyFileNoOverwrite(const fs::path &source, const fs::path &target)
{
    std::error_code ec;
    if (fs::exists(fs::symlink_status(target, ec)))
        return CopyResult::AlreadyThere;

    ScopedFd in{::open(source.c_str(), O_RDONLY | O_CLOEXEC)};
    if (in.fd < 0)
        throw FileError::ReadFailed(source, FileError::ErrnoText(errno));
    std::string tempName = (target.parent_path() / ("." + target.filename().native())).native();
    tempName += ".XXXXXX";
    ScopedFd out{::mkostemp(tempName.data(), O_CLOEXEC)};
    if (out.fd < 0)
        throw FileError::WriteFailed(target, FileError::ErrnoText(errno));
    const fs::path temp(tempName);
    auto fail = [&](auto makeError, const fs::path &file, int err) {
        ::unlink(temp.c_str());
        throw makeError(file, FileError::ErrnoText(err));
    };

    if (const CopyFailure failure = CopyContent(in.fd, out.fd)) {
        if (failure.reading)
            fail(FileError::ReadFailed, source, failure.err);
        fail(FileError::WriteFailed, target, failure.err);
    }
    if (::close(out.fd) != 0) {
        out.fd = -1;
        fail(FileError::WriteFailed, target, errno);
    }
    out.fd = -1;
    // link() never replaces an existing file: a copy that appeared meanwhile wins.
    if (::link(temp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        if (err == EEXIST)
            return CopyResult::AlreadyThere;
        throw FileError::WriteFailed(target, FileError::ErrnoText(err));
    }
    ::unlink(temp.c_str());
    return CopyResult::Copied;
}

std::string CopyAttachment(const fs::path &chosenFile)
{
    std::string name = AttachmentName(chosenFile);
    const fs::path target = AttachmentFolder() / FileNameOf(name);
    std::error_code ec;
    if (fs::equivalent(chosenFile, target, ec))
        return name; // the leftover itself was chosen: it is the file
    // A leftover never stands in for the chosen file.
    if (fs::exists(fs::symlink_status(target, ec)) && !fs::remove(target, ec))
        throw FileError::WriteFailed(target, FileError::ErrnoText(ec.value()));
    if (CopyFileNoOverwrite(chosenFile, target) == CopyResult::AlreadyThere)
        throw FileError::WriteFailed(target, "同じ名前のファイルがあります");
    return name;
}

namespace {

bool IsPlainFileName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

} // namespace

void DeleteWorkFiles(const fs::path &folder, const std::vector<std::string> &names)
{
    for (const std::string &name : names) {
        if (!IsPlainFileName(name))
            continue;
        std::error_code ec;
        fs::remove(folder / FileNameOf(name), ec);
    }
}

void DeleteDraftFiles(const std::vector<std::string> &attachments,
                      const std::vector<std::string> &inlinePictures)
{
    DeleteWorkFiles(AttachmentFolder(), attachments);
    DeleteWorkFiles(PictureFolder(), inlinePictures);
    std::error_code ec;
    fs::remove(PreviewFile(), ec);
}

std::string MakePictureName(const std::tm &localTime, unsigned random, std::string_view extension)
{
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "image%02d%02d%02d%02d%02d%02d_%08u",
                  localTime.tm_year % 100, localTime.tm_mon + 1, localTime.tm_mday,
                  localTime.tm_hour, localTime.tm_min, localTime.tm_sec, random);
    return std::string(stamp).append(extension);
}

std::string PictureName(std::string_view chosenFileName)
{
    const std::size_t slash = chosenFileName.rfind('/');
    const std::string_view base =
        slash == std::string_view::npos ? chosenFileName : chosenFileName.substr(slash + 1);
    const std::size_t dot = base.rfind('.');
    const std::string_view extension =
        dot == std::string_view::npos ? std::string_view() : base.substr(dot);

    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    std::mt19937 generator(static_cast<unsigned>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count()));
    std::uniform_int_distribution<unsigned> draw(0, 89999998);
    return MakePictureName(local, draw(generator) + 10000000, extension);
}

const std::string &DefaultHtmlTemplate()
{
    static const std::string text = Sjis("<!DOCTYPE html>\r\n"
                                         "<html lang=\"ja\">\r\n"
                                         "<head>\r\n"
                                         "<meta charset=\"Shift_JIS\">\r\n"
                                         "<title>メール</title>\r\n"
                                         "</head>\r\n"
                                         "<body>\r\n"
                                         "\r\n"
                                         "</body>\r\n"
                                         "</html>\r\n");
    return text;
}

void EnsureHtmlTemplate()
{
    std::error_code ec;
    if (fs::exists(fs::symlink_status(HtmlTemplateFile(), ec)))
        return;
    WriteFileAtomically(HtmlTemplateFile(), DefaultHtmlTemplate());
}

} // namespace vostrel

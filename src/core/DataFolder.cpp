#include "core/DataFolder.h"

#include "core/AppState.h"
#include "core/Backup.h"
#include "core/DataLayout.h"
#include "core/Reencrypt.h"
#include "core/SjisCodec.h"

#include <QStandardPaths>
#include <algorithm>
#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vostrel {

namespace fs = std::filesystem;

fs::path AppDataRoot()
{
    const QString root = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return fs::path(root.toStdString()) / "";
}

fs::path DefaultDataFolder()
{
    return AppDataRoot() / "Halvik" / "Vostrel" / "";
}

void PrepareDataFolder(const fs::path &dataFolder)
{
    const fs::path data = dataFolder.has_filename() ? dataFolder : dataFolder.parent_path();
    const fs::path folders[] = {data.parent_path(),
                                data,
                                data / layout::kLogs,
                                data / layout::kSignature,
                                data / layout::kSenders,
                                data / layout::kReceivers,
                                data / layout::kWork,
                                data / layout::kWork / layout::kAppendedImage,
                                data / layout::kWork / layout::kHtmlImage};
    // The user's data folder itself may not exist yet on a fresh account.
    std::error_code ec;
    fs::create_directories(data.parent_path().parent_path(), ec);
    for (const fs::path &folder : folders)
        ::mkdir(folder.c_str(), 0700); // one level; EEXIST and failures alike are ignored
    for (int i = 1; i <= layout::kSignatureSlots; ++i) {
        const fs::path sig = data / layout::kSignature / layout::SignatureFileName(i);
        // O_EXCL: an existing signature file is never touched.
        const int fd = ::open(sig.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0)
            ::close(fd);
    }
    KeepDataFolderPrivate(data);
    RemovePlainWorkFiles(data);
}

void OpenDataFolder(const fs::path &dataFolder)
{
    SetDataFolder(dataFolder);
    std::exception_ptr failure;
    try {
        RecoverInterruptedRestore();
    } catch (...) {
        failure = std::current_exception();
    }
    try {
        RecoverInterruptedKeyChange();
    } catch (...) {
        if (!failure)
            failure = std::current_exception();
    }
    PrepareDataFolder(dataFolder);
    RemoveDraftCopies(dataFolder);
    if (failure)
        std::rethrow_exception(failure);
}

void KeepDataFolderPrivate(const fs::path &dataFolder)
{
    auto keepPrivate = [](const fs::path &path) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode) || (st.st_mode & 077) == 0)
            return;
        ::chmod(path.c_str(), st.st_mode & 07700);
    };
    const fs::path data = dataFolder.has_filename() ? dataFolder : dataFolder.parent_path();
    keepPrivate(data);
    std::error_code ec;
    for (fs::recursive_directory_iterator
             it(data, fs::directory_options::skip_permission_denied, ec),
         end;
         !ec && it != end; it.increment(ec))
        keepPrivate(it->path());
}

bool IsPlainWorkFile(std::string_view fileName)
{
    if (fileName.size() > layout::kWorkPage.size() && fileName.ends_with(layout::kWorkPage))
        return true;
    // An AtomicFile temporary of such a page: ".<page>.tmp-XXXXXX".
    const std::size_t temp = fileName.rfind(".tmp-");
    return fileName.starts_with('.') && temp != std::string_view::npos &&
           IsPlainWorkFile(fileName.substr(1, temp - 1));
}

void RemovePlainWorkFiles(const fs::path &dataFolder)
{
    std::vector<fs::path> pages;
    std::error_code ec;
    for (fs::directory_iterator it(dataFolder / layout::kWork, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code typeEc;
        if (!fs::is_directory(it->symlink_status(typeEc)) &&
            IsPlainWorkFile(it->path().filename().native()))
            pages.push_back(it->path());
    }
    for (const fs::path &page : pages)
        fs::remove(page, ec);
}

void RemoveDraftCopies(const fs::path &dataFolder)
{
    for (const std::string_view folder : {layout::kAppendedImage, layout::kHtmlImage}) {
        std::vector<fs::path> entries;
        std::error_code ec;
        for (fs::directory_iterator it(dataFolder / layout::kWork / folder, ec), end;
             !ec && it != end; it.increment(ec))
            entries.push_back(it->path());
        for (const fs::path &entry : entries)
            fs::remove_all(entry, ec); // a link goes, never what it points to
    }
}

fs::path FileNameOf(std::string_view sjisName)
{
    return fs::path(SjisToUtf8(sjisName));
}

bool NameOfFile(const fs::path &fileName, std::string &sjisName)
{
    try {
        // A name stored before user-defined characters were refused stays
        // readable, so that its file can still be found.
        sjisName = Utf8ToSjis(fileName.native(), UserDefinedCharacters::Keep);
        return true;
    } catch (const ConversionError &) {
        return false;
    }
}

bool HasVslExtension(std::string_view fileName)
{
    if (fileName.size() < 4)
        return false;
    const std::string_view ext = fileName.substr(fileName.size() - 4);
    return ext[0] == '.' && (ext[1] | 0x20) == 'v' && (ext[2] | 0x20) == 's' &&
           (ext[3] | 0x20) == 'l';
}

std::vector<fs::path> ListVslFiles(const fs::path &folder)
{
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeEc;
        if (!it->is_regular_file(typeEc))
            continue;
        const std::string name = it->path().filename().native();
        std::string sjis;
        if (HasVslExtension(name) && NameOfFile(name.substr(0, name.size() - 4), sjis))
            files.push_back(it->path());
    }
    std::sort(files.begin(), files.end(),
              [](const fs::path &a, const fs::path &b) { return a.filename() < b.filename(); });
    return files;
}

std::string VslNameOf(const fs::path &file)
{
    const std::string name = file.filename().native();
    std::string sjis;
    NameOfFile(name.substr(0, name.size() >= 4 ? name.size() - 4 : 0), sjis);
    return sjis;
}

std::vector<std::string> ListVslNames(const fs::path &folder)
{
    std::vector<std::string> names;
    for (const fs::path &file : ListVslFiles(folder))
        names.push_back(VslNameOf(file));
    return names;
}

} // namespace vostrel

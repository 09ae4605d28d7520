#include "send/SendLog.h"

#include "core/BoolField.h"
#include "core/DataFolder.h"
#include "core/DataLayout.h"
#include "core/Errors.h"
#include "core/FieldStore.h"
#include "core/SjisText.h"
#include "senders/SenderAccount.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <system_error>

namespace vostrel {

namespace fs = std::filesystem;

namespace {

fs::path AccountLogFolder(std::string_view accountName)
{
    return LogsFolder() / FileNameOf(accountName);
}

// Creates one folder level (mode 0700). A folder that is already there is
// used as it is; anything else that stands in the way, or a failure, throws.
void MakeFolder(const fs::path &folder)
{
    if (::mkdir(folder.c_str(), 0700) == 0)
        return;
    const int err = errno;
    std::error_code ec;
    if (err == EEXIST && fs::is_directory(folder, ec))
        return;
    throw FileError(folder, "フォルダを作成できませんでした: " + folder.string() + "\n" +
                                FileError::ErrnoText(err));
}

} // namespace

fs::path SendLogPath(std::string_view accountName, std::string_view startTime)
{
    fs::path file = FileNameOf(startTime);
    file += layout::kRecordExtension;
    return AccountLogFolder(accountName) / file;
}

fs::path SendLogPictureFolder(std::string_view accountName, std::string_view startTime)
{
    return AccountLogFolder(accountName) / FileNameOf(startTime) / "";
}

void WriteSendLog(std::string_view accountName, const SendJob &job, long long sentCount,
                  long long total, std::string_view startTime, std::string_view endTime,
                  std::string_view toAddrLog, std::string_view ccAddrLog,
                  std::string_view bccAddrLog, const std::string &key)
{
    const std::string name(accountName);
    const SenderAccount account = ReadSenderAccount(SenderAccountPath(name), key);
    WriteSendLogFrom(accountName, account.FromAddress, job, sentCount, total, startTime, endTime,
                     toAddrLog, ccAddrLog, bccAddrLog, key);
}

void WriteSendLogFrom(std::string_view accountName, std::string_view fromAddress,
                      const SendJob &job, long long sentCount, long long total,
                      std::string_view startTime, std::string_view endTime,
                      std::string_view toAddrLog, std::string_view ccAddrLog,
                      std::string_view bccAddrLog, const std::string &key)
{
    MakeFolder(AccountLogFolder(accountName));

    EncryptedFieldFile file = EncryptedFieldFile::Create(SendLogPath(accountName, startTime), key);
    file.WriteField(job.subject);
    file.WriteField(JoinCommaNameList(job.toLists));
    file.WriteField(std::to_string(sentCount));
    file.WriteField(std::to_string(total));
    file.WriteField(startTime);
    file.WriteField(endTime);
    file.WriteField(JoinCommaNameList(job.ccLists));
    file.WriteField(JoinCommaNameList(job.bccLists));
    file.WriteField(toAddrLog);
    file.WriteField(ccAddrLog);
    file.WriteField(bccAddrLog);
    file.WriteField(fromAddress);
    file.WriteField(job.body);
    file.WriteField(JoinCommaNameList(job.attachments));
    file.WriteField(accountName);
    file.WriteField(BoolField(job.listUnsubscribe));
    file.Commit();

    if (job.inlinePictures.empty())
        return;
    // The same account named twice in one job finds the folder of its first
    // log already there; it is used as it is.
    const fs::path pictures = SendLogPictureFolder(accountName, startTime);
    MakeFolder(pictures.parent_path());
    const fs::path source = WorkFolder() / layout::kHtmlImage;
    for (const std::string &picture : job.inlinePictures) {
        // Never overwrites; a copy that fails is not reported.
        std::error_code ec;
        fs::copy_file(source / FileNameOf(picture), pictures / FileNameOf(picture),
                      fs::copy_options::skip_existing, ec);
    }
}

SendLog ReadSendLog(const fs::path &path, int count, const std::string &key)
{
    SendLog log;
    EncryptedFieldFile file = EncryptedFieldFile::OpenRead(path, key);
    const int n = std::clamp(count, 0, SendLog::kFieldCount);
    for (int i = 0; i < n; ++i) {
        if (i >= SendLog::kFirstFieldCount && file.AtEnd())
            break;
        log.fields[static_cast<std::size_t>(i)] = file.ReadField();
    }
    return log;
}

bool SendLog::ListUnsubscribe() const
{
    try {
        return !fields[15].empty() && ParseBoolField(fields[15]);
    } catch (const std::exception &) {
        return false;
    }
}

} // namespace vostrel

// The sent-mail log: one file per sender account and run, Logs/<account>/
// <start time>.vsl in the data folder, an encrypted field file of exactly 16
// fields:
//    1 subject as typed          6 end time            11 Bcc addresses
//    2 To list names, ","        7 Cc list names, ","  12 sending address
//    3 mails sent                8 Bcc list names, "," 13 body as typed
//    4 mails planned             9 To addresses        14 attachment names, ","
//    5 start time (= file name) 10 Cc addresses        15 account name
//   16 List-Unsubscribe sent ("-1" or "0")
// Logs written before the 16th field existed end after the 15th; they read
// as runs without List-Unsubscribe.
// Runs with inline pictures keep copies of them in Logs/<account>/<start time>/.
#pragma once

#include "core/AppState.h"
#include "send/SendJob.h"

#include <array>
#include <filesystem>
#include <string>
#include <string_view>

namespace vostrel {

struct SendLog
{
    static constexpr int kFieldCount = 16;
    // The fields every log has; the later ones may be absent.
    static constexpr int kFirstFieldCount = 15;
    // Field n (1-based) is fields[n - 1]; Shift_JIS texts.
    std::array<std::string, kFieldCount> fields;

    const std::string &Subject() const { return fields[0]; }
    const std::string &StartTime() const { return fields[4]; }
    const std::string &Body() const { return fields[12]; }
    const std::string &Attachments() const { return fields[13]; }
    const std::string &AccountName() const { return fields[14]; }
    // Field 16; false when absent or not a boolean.
    bool ListUnsubscribe() const;
};

// DataFolder() + "Logs/" + account + "/" + startTime + ".vsl".
std::filesystem::path SendLogPath(std::string_view accountName, std::string_view startTime);
// DataFolder() + "Logs/" + account + "/" + startTime + "/".
std::filesystem::path SendLogPictureFolder(std::string_view accountName,
                                           std::string_view startTime);

// Writes the log of one account of a run (reading the account's file for its
// FromAddress) and copies the job's inline pictures next to it. Throws
// FileError when the account, the folder or the file cannot be read or made.
void WriteSendLog(std::string_view accountName, const SendJob &job, long long sentCount,
                  long long total, std::string_view startTime, std::string_view endTime,
                  std::string_view toAddrLog, std::string_view ccAddrLog,
                  std::string_view bccAddrLog, const std::string &key = CurrentKey());

// The same with the account's FromAddress given: the account is not read.
// Throws FileError when the folder or the file cannot be made.
void WriteSendLogFrom(std::string_view accountName, std::string_view fromAddress,
                      const SendJob &job, long long sentCount, long long total,
                      std::string_view startTime, std::string_view endTime,
                      std::string_view toAddrLog, std::string_view ccAddrLog,
                      std::string_view bccAddrLog, const std::string &key = CurrentKey());

// Reads the first `count` fields (1..16) of a log file; the others stay
// empty. Throws FileError when the file cannot be read that far; a field after
// the 15th that the file does not have stays empty.
SendLog ReadSendLog(const std::filesystem::path &path, int count = SendLog::kFieldCount,
                    const std::string &key = CurrentKey());

} // namespace vostrel

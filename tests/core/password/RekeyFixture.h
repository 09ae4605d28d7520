// A data folder with lists, sender accounts and logs, and a record of what
// every file holds, for the password-change tests.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace vostrel::test {

using FieldSnapshot = std::map<std::filesystem::path, std::vector<std::string>>;

// Every field of a field file, read to its end under key.
std::vector<std::string> ReadAllFields(const std::filesystem::path &file, const std::string &key);
// Every record file the password change rewrites (lists, accounts, the logs
// of every log folder, a pending send journal, config.dat), read under key.
FieldSnapshot SnapshotRecords(const std::string &key);
// The change's staging folder and temporary files anywhere under the data folder.
std::vector<std::filesystem::path> LeftoverChangeFiles();

// Registers the kinds of record file the program rewrites (lists, accounts,
// logs, the send journal), as the application does at start.
void RegisterRecordKinds();

// Fills the data folder under key: lists x recipients, accounts (with every
// combination of the optional groups) and logs per account, plus config.dat,
// the journal of a send run still to be accounted for, and a log folder (with
// a picture folder) of an account that no longer exists.
void MakeRecords(const std::string &key, int lists, int recipientsPerList, int accounts,
                 int logsPerAccount);

} // namespace vostrel::test

#include "RekeyFixture.h"

#include "core/AppState.h"
#include "core/DataFolder.h"
#include "core/FieldStore.h"
#include "core/Password.h"
#include "core/Reencrypt.h"
#include "destinations/DestinationStore.h"
#include "send/SendJournal.h"
#include "send/SendLogRekey.h"
#include "senders/SenderAccount.h"

#include <fstream>

namespace vostrel::test {

namespace fs = std::filesystem;

void RegisterRecordKinds()
{
    RegisterDestinationsRekeyKinds();
    RegisterSendersRekeyKinds();
    RegisterSendRekeyKinds();
}

namespace {
// The kinds are there before any test runs, as in the program.
const bool kindsRegistered = (RegisterRecordKinds(), true);
} // namespace

std::vector<std::string> ReadAllFields(const fs::path &file, const std::string &key)
{
    EncryptedFieldFile in = EncryptedFieldFile::OpenRead(file, key);
    std::vector<std::string> fields;
    while (!in.AtEnd())
        fields.push_back(in.ReadField());
    return fields;
}

FieldSnapshot SnapshotRecords(const std::string &key)
{
    FieldSnapshot snapshot;
    const fs::path data = DataFolder();
    for (const fs::path &p : ListVslFiles(data / "Receivers"))
        snapshot[p] = ReadAllFields(p, key);
    for (const fs::path &p : ListVslFiles(data / "Senders"))
        snapshot[p] = ReadAllFields(p, key);
    // The logs of every folder under Logs, accounts that exist or not.
    for (const auto &folder : fs::directory_iterator(data / "Logs"))
        for (const fs::path &l : ListVslFiles(folder.path()))
            snapshot[l] = ReadAllFields(l, key);
    for (const fs::path &p : {SendJournalPath(), SendProgressPath()})
        if (fs::exists(p))
            snapshot[p] = ReadAllFields(p, key);
    snapshot[ConfigPath()] = ReadAllFields(ConfigPath(), key);
    return snapshot;
}

std::vector<fs::path> LeftoverChangeFiles()
{
    std::vector<fs::path> found;
    for (const auto &entry : fs::recursive_directory_iterator(DataFolder())) {
        const std::string name = entry.path().filename().native();
        if (name == "rekey-staging" || name.find(".tmp-") != std::string::npos)
            found.push_back(entry.path());
    }
    return found;
}

namespace {

void WriteFields(const fs::path &file, const std::string &key,
                 const std::vector<std::string> &fields)
{
    EncryptedFieldFile out = EncryptedFieldFile::Create(file, key);
    for (const std::string &f : fields)
        out.WriteField(f);
    out.Commit();
}

} // namespace

void MakeRecords(const std::string &key, int lists, int recipientsPerList, int accounts,
                 int logsPerAccount)
{
    const fs::path data = DataFolder();
    for (int l = 0; l < lists; ++l) {
        std::vector<std::string> fields = {l % 2 ? "-1" : "0", "0", l % 3 ? "0" : "-1",
                                           std::to_string(recipientsPerList)};
        for (int r = 0; r < recipientsPerList; ++r)
            for (int f = 0; f < 13; ++f)
                fields.push_back("list" + std::to_string(l) + "-r" + std::to_string(r) + "-f" +
                                 std::to_string(f) + (f == 0 ? "\x8e\x52\x93\x63" : ""));
        WriteFields(data / "Receivers" / ("list" + std::to_string(l) + ".vsl"), key, fields);
    }
    for (int a = 0; a < accounts; ++a) {
        SenderAccount account;
        account.ConfName = "sender" + std::to_string(a);
        account.SMTPAddress = "smtp" + std::to_string(a) + ".example.jp";
        account.FromAddress = "from" + std::to_string(a) + "@example.jp";
        account.SenderName = "\x8e\x52\x93\x63"; // 山田
        account.UsePOP = a % 2 == 1;
        account.SMTPAuth = a % 4 >= 2;
        if (account.UsePOP) {
            account.POPAddress = "pop.example.jp";
            account.POPAccount = "user" + std::to_string(a);
            account.POPPass = "pop-pass";
        }
        if (account.SMTPAuth) {
            account.SMTPAccount = "smtp-user";
            account.SMTPPass = "smtp-pass" + std::to_string(a);
        }
        WriteSenderAccount(SenderAccountPath(account.ConfName), account, key);
        const fs::path logs = data / "Logs" / account.ConfName;
        fs::create_directories(logs);
        for (int g = 0; g < logsPerAccount; ++g) {
            std::vector<std::string> fields;
            for (int f = 0; f < 15; ++f)
                fields.push_back("log" + std::to_string(g) + "-" + std::to_string(f));
            WriteFields(logs / ("2024年03月0" + std::to_string(g) + ".vsl"), key, fields);
        }
    }
    // Logs of an account that was deleted, with a picture folder.
    fs::create_directories(data / "Logs" / "gone");
    WriteFields(data / "Logs" / "gone" / "old.vsl", key, {"of a deleted account"});
    fs::create_directories(data / "Logs" / "gone" / "old");
    std::ofstream(data / "Logs" / "gone" / "old" / "p.png", std::ios::binary) << "png";
    // The journal of a send run that is still to be accounted for.
    WriteFields(SendJournalPath(), key, {"VOSTREL-SEND-JOURNAL 1", "0123456789abcdef", "plan"});
    WriteFields(SendProgressPath(), key,
                {"0123456789abcdef\tS\t1\t1709597702", "0123456789abcdef\tF\t2\t1709597703\tno"});
    WriteConfig(key);
}

} // namespace vostrel::test

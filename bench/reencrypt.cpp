// Rewriting every record under a new password: 100 lists of 1,000 recipients,
// 50 sender accounts and 1,000 sent-mail logs. Prints the time of the whole
// change and the longest stretch without a chance to process window events.
#include "core/Reencrypt.h"
#include "core/AppState.h"
#include "core/DataFolder.h"
#include "core/FieldStore.h"
#include "core/Password.h"
#include "destinations/DestinationStore.h"
#include "send/SendLogRekey.h"
#include "senders/SenderAccount.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int main()
{
    char root[] = "/tmp/vostrel-bench-rekey-XXXXXX";
    if (!::mkdtemp(root))
        return 1;
    ::setenv("XDG_DATA_HOME", root, 1);
    const fs::path data = vostrel::DefaultDataFolder();
    vostrel::PrepareDataFolder(data);
    vostrel::SetDataFolder(data);
    vostrel::RegisterDestinationsRekeyKinds();
    vostrel::RegisterSendersRekeyKinds();
    vostrel::RegisterSendRekeyKinds();
    const std::string oldKey = "OldPassword1", newKey = "NewPassword2";

    for (int l = 0; l < 100; ++l) {
        auto out = vostrel::EncryptedFieldFile::Create(
            data / "Receivers" / ("list" + std::to_string(l) + ".vsl"), oldKey);
        out.WriteField("-1");
        out.WriteField("0");
        out.WriteField("0");
        out.WriteField("1000");
        for (int r = 0; r < 1000; ++r)
            for (int f = 0; f < 13; ++f)
                out.WriteField("recipient " + std::to_string(r) + " field " + std::to_string(f) +
                               (f == 2 ? "@example.jp" : ""));
        out.Commit();
    }
    for (int a = 0; a < 50; ++a) {
        vostrel::SenderAccount account;
        account.ConfName = "sender" + std::to_string(a);
        account.SMTPAddress = "smtp.example.jp";
        account.FromAddress = "from@example.jp";
        account.UsePOP = a % 2;
        account.SMTPAuth = a % 3 == 0;
        vostrel::WriteSenderAccount(vostrel::SenderAccountPath(account.ConfName), account, oldKey);
        if (a < 10) {
            const fs::path logs = data / "Logs" / account.ConfName;
            fs::create_directories(logs);
            for (int g = 0; g < 100; ++g) {
                auto out = vostrel::EncryptedFieldFile::Create(
                    logs / ("2024年01月01日00時00分" + std::to_string(10 + g) + "秒.vsl"), oldKey);
                for (int f = 0; f < 15; ++f)
                    out.WriteField(f == 12 ? std::string(2000, 'x') : "log field");
                out.Commit();
            }
        }
    }
    vostrel::WriteConfig(oldKey);

    Clock::time_point last = Clock::now();
    double longestGapMs = 0;
    long pumps = 0;
    vostrel::ReencryptProgress progress;
    progress.pumpEvents = [&] {
        const Clock::time_point now = Clock::now();
        longestGapMs =
            std::max(longestGapMs, std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
        ++pumps;
    };
    const Clock::time_point start = Clock::now();
    last = start;
    vostrel::ReencryptAll(oldKey, newKey, progress);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    std::printf("ReencryptAll: 100 lists x 1,000 recipients, 50 accounts, 1,000 logs\n");
    std::printf("  whole change            %.2f s (target: under 5 s)\n", seconds);
    std::printf("  event-processing calls  %ld, longest stretch without one %.1f ms\n", pumps,
                longestGapMs);
    std::printf("  config.dat holds the new key: %s\n",
                vostrel::ConfigHoldsKey(newKey) ? "yes" : "NO");
    fs::remove_all(root);
    return 0;
}

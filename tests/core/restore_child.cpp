// Runs a restore of a backup into the data folder under the given XDG data
// folder and kills itself with SIGKILL at the n-th step (0: never), the way a
// crash or a power cut would stop it. Without a kill it prints the number of
// steps it went through.
#include "core/AppState.h"
#include "core/Backup.h"
#include "core/DataFolder.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char **argv)
{
    if (argc != 5)
        return 2;
    ::setenv("XDG_DATA_HOME", argv[1], 1);
    vostrel::SetDataFolder(vostrel::DefaultDataFolder());
    const long killAt = std::strtol(argv[4], nullptr, 10);
    long step = 0;
    vostrel::SetRestoreStepHook([&](const std::string &) {
        if (++step == killAt)
            std::raise(SIGKILL);
    });
    vostrel::RestoreBackup(argv[2], argv[3]);
    std::printf("%ld\n", step);
    return 0;
}

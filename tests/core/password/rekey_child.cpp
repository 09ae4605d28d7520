// Runs a password change on the data folder under the given XDG data folder
// and kills itself with SIGKILL just before the n-th step (0: never), the way
// a crash or a power cut would stop it.
#include "RekeyFixture.h"
#include "core/AppState.h"
#include "core/DataFolder.h"
#include "core/Reencrypt.h"

#include <csignal>
#include <cstdlib>
#include <string>

int main(int argc, char **argv)
{
    if (argc != 5)
        return 2;
    ::setenv("XDG_DATA_HOME", argv[1], 1);
    vostrel::SetDataFolder(vostrel::DefaultDataFolder());
    vostrel::test::RegisterRecordKinds();
    const long killAt = std::strtol(argv[4], nullptr, 10);
    long step = 0;
    vostrel::SetReencryptStepHook([&](const std::string &) {
        if (++step == killAt)
            std::raise(SIGKILL);
    });
    vostrel::SetCurrentKey(argv[2]);
    vostrel::ReencryptAll(argv[2], argv[3]);
    return 0;
}

// GoogleTest main for every test program: Qt windows run offscreen, with a
// private runtime folder, and WebEngine may start as root.
#include "core/UiHelpers.h"

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    char runtimeDir[] = "/tmp/vostrel-test-rt-XXXXXX";
    if (::mkdtemp(runtimeDir)) {
        ::chmod(runtimeDir, 0700);
        ::setenv("XDG_RUNTIME_DIR", runtimeDir, 1);
    }
    if (::geteuid() == 0)
        ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
    QApplication app(argc, argv);
    vostrel::UseProgramIconTheme();
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(runtimeDir, ec);
    return rc;
}

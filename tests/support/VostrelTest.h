// The fixture of every test: a fresh data folder under a temporary
// XDG_DATA_HOME, CurrentKey = DefaultKey, and scripted dialogs.
#pragma once

#include "support/ScriptedDialogs.h"

#include <QTemporaryDir>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <string>

class QWidget;

namespace vostrel::test {

class VostrelTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // The temporary folder of this test (XDG_DATA_HOME lives inside it).
    std::filesystem::path TempDir() const;

    ScriptedDialogs dialogs;

private:
    QTemporaryDir temp_;
    DialogService *previousDialogs_ = nullptr;
};

// UTF-8 literal -> Shift_JIS bytes.
std::string S(const char *utf8);
// Whole content of a file ("" when missing).
std::string ReadBytes(const std::filesystem::path &file);
void WriteBytes(const std::filesystem::path &file, const std::string &bytes);

// Runs action on the first modal window named objectName as soon as it is
// shown (polled from the event loop); used to drive dialogs opened with exec().
// Fails the test if no such window appears within timeoutMs.
void WhenModal(const QString &objectName, std::function<void(QWidget *)> action,
               int timeoutMs = 10000);

// Runs a program to the end; returns its exit code and fills output with
// what it wrote to stdout and stderr.
int RunProgram(const QString &program, const QStringList &args, QString *output = nullptr,
               const QByteArray &stdinData = {}, int timeoutMs = 120000);

} // namespace vostrel::test

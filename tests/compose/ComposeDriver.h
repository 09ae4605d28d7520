// Driving the compose window offscreen: the window with its picker and close
// question, and helpers for the pages, the picker and the file dialogs.
#pragma once

#include "compose/UnitMailMake.h"
#include "compose/UnitMailMakeMsg_Close.h"
#include "destinations/UnitAddMailList.h"
#include "send/UnitSendProgress.h"
#include "support/VostrelTest.h"

#include <QString>
#include <QStringList>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

class QLineEdit;
class QPlainTextEdit;
class QTabWidget;
class QsciScintilla;

namespace vostrel::test {

class ComposeTest : public VostrelTest
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Shows the window (which runs OpenCompose) and waits until it is active.
    void Open();
    // Closes it through the close question, answering はい with the check box
    // as given; fails the test when the window stays open.
    void CloseKeeping(bool keep);

    // Clicks the tab of the page, as the user does.
    void ClickPage(ComposePage page);
    ComposePage Page() const { return form->CurrentPage(); }

    // Runs the picker of the button: adds the offered names given (in order)
    // and confirms; records the picker's captions and chosen names as shown.
    struct PickerView
    {
        QString title, left, right;
        QStringList chosenBefore;
    };
    PickerView Pick(const QString &button, const QStringList &add, bool confirm = true);

    // Answers the next file dialog named objectName with file.
    void ChooseFile(const QString &objectName, const std::filesystem::path &file);
    // Answers it with several files at once, as typed in its name field.
    void ChooseFiles(const QString &objectName, const std::vector<std::filesystem::path> &files);

    QLineEdit *Edit(const QString &name) const;
    QPlainTextEdit *Memo() const;
    QsciScintilla *Syn() const;
    QTabWidget *Pages() const;
    void Click(const QString &name);

    std::unique_ptr<TFormAddMailList> picker;
    std::unique_ptr<TFormMailMakeMsg_Close> closeQuestion;
    std::unique_ptr<TFormSendProgress> progress;
    std::unique_ptr<TFormMailMake> form;
};

// A destination list with the flags and recipients given as name/address pairs.
void MakeList(const char *utf8Name, bool to, bool cc, bool bcc,
              const std::vector<std::pair<const char *, const char *>> &people);
// A sender account file (only its existence counts for the picker).
void MakeSenderFile(const char *utf8Name);

} // namespace vostrel::test

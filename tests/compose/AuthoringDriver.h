// The compose window with its HTML tool bar, tag dialogs, map link dialog,
// signature menu and signature editor, driven offscreen.
#pragma once

#include "ComposeDriver.h"
#include "compose/HtmlTags.h"
#include "compose/HtmlToolBar.h"
#include "compose/SignatureMenu.h"
#include "compose/UnitFontDialog.h"
#include "compose/UnitLinkDialog.h"
#include "compose/UnitMapLink.h"
#include "compose/UnitMidashiDialog.h"
#include "compose/UnitSignatureEdit.h"

#include <QMenu>
#include <QString>
#include <functional>
#include <memory>
#include <ostream>

namespace vostrel::test {

class AuthoringTest : public ComposeTest
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Opens the window on the HTML page with source as the template loaded
    // there (so the draft is not edited yet).
    void OpenHtml(const QString &source);
    // Selects the characters from..to of the source (character positions).
    void SelectSource(int from, int to);
    // The caret of the source in characters, and whether something is selected.
    int SourceCaret() const;
    bool SourceHasSelection() const;

    // Answers the next modal window named objectName with action, then
    // clicks the tool bar button of command.
    void RunTool(TagCommand command, const QString &dialog = {},
                 std::function<void(QWidget *)> action = {});

    // Runs action on the popup menu as soon as it is shown.
    static void WhenPopup(const QString &objectName, std::function<void(QMenu *)> action);
    // Clicks the entry named entryName of a shown menu.
    static void ClickEntry(QMenu *menu, const QString &entryName);

    std::unique_ptr<TFormTagDialog> tagDialog;
    std::unique_ptr<TFormLinkDialog> linkDialog;
    std::unique_ptr<TFormMidashiDialog> midashiDialog;
    std::unique_ptr<TFormSignatureEdit> signatureEdit;
    std::unique_ptr<TFormMapLink> mapLink;
    THtmlTagCommands *tools = nullptr;
    TSignatureMenu *signatureMenu = nullptr;
};

// The tool bar button of each command, in command order.
QString ToolButtonName(TagCommand command);

} // namespace vostrel::test

// Readable failure output for texts.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

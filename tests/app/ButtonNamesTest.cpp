// Every window of the program, walked: a button that shows only its icon
// tells what it does in a Japanese tool tip and to screen readers.
#include "app/VostrelApp.h"
#include "core/UiHelpers.h"
#include "history/UnitMain.h"
#include "support/VostrelTest.h"

#include <QAbstractButton>
#include <QApplication>
#include <QToolButton>
#include <set>

namespace vostrel::test {
namespace {

using namespace Qt::Literals::StringLiterals;

bool HasJapanese(const QString &text)
{
    for (QChar c : text)
        if (c.unicode() >= 0x3000)
            return true;
    return false;
}

bool ShowsIconOnly(const QAbstractButton &button)
{
    if (button.icon().isNull())
        return false;
    const auto *tool = qobject_cast<const QToolButton *>(&button);
    return button.text().isEmpty() || (tool && tool->toolButtonStyle() == Qt::ToolButtonIconOnly);
}

using ButtonNamesTest = VostrelTest;

TEST_F(ButtonNamesTest, EveryIconOnlyButtonHasAJapaneseToolTipAndAnAccessibleName)
{
    UseJapaneseQtTexts(); // as at the program's start: Qt's own dialogs in it too
    TVostrelApp app;      // every window, the compose window's HTML tool bar included
    std::set<QString> seen;
    for (QWidget *window : QApplication::topLevelWidgets()) {
        for (QAbstractButton *button : window->findChildren<QAbstractButton *>()) {
            // Qt's private controls ("qt_menubar_ext_button") are Qt's business.
            if (button->window() != window || !ShowsIconOnly(*button) ||
                button->objectName().startsWith(u"qt_"_s))
                continue;
            const std::string where =
                (window->objectName() + u'/' + button->objectName()).toStdString();
            seen.insert(window->objectName() + u'/' + button->objectName());
            EXPECT_FALSE(button->objectName().isEmpty()) << where;
            EXPECT_TRUE(HasJapanese(button->toolTip())) << where;
            EXPECT_FALSE(button->accessibleName().isEmpty()) << where;
            EXPECT_TRUE(HasJapanese(button->accessibleName())) << where;
        }
    }
    // The walk reached the windows named in the complaint.
    for (const QString &button :
         {u"TFormMailMake/PNGBtnMailSend"_s, u"TFormMailMake/PNGBtnTextRead"_s,
          u"TFormMailMake/PNGBtnTextWrite"_s, u"TFormMailMake/PNGBtnReset"_s,
          u"TFormMailMake/PNGBtnFont_Size"_s, u"TFormMailMake/PNGBtnEtc_Address"_s,
          u"TFormAddMailList/PNGBtnAdd"_s})
        EXPECT_EQ(seen.count(button), 1u) << button.toStdString();
}

// A button with a caption is named by it, on one line.
TEST_F(ButtonNamesTest, AButtonWithACaptionIsNamedByIt)
{
    TVostrelApp app;
    auto *restore = app.Main().findChild<QAbstractButton *>(u"PNGBtnBkLoad"_s);
    ASSERT_NE(restore, nullptr);
    EXPECT_EQ(restore->accessibleName(), u"バックアップ 読込"_s);
}

} // namespace
} // namespace vostrel::test

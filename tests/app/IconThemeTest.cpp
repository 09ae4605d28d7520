// Every image button of every window shows a picture of the program's icon
// theme, and the list window's buttons say what they do.
#include "app/VostrelApp.h"
#include "core/UiHelpers.h"
#include "destinations/UnitDestinationList.h"
#include "history/UnitMain.h"
#include "support/VostrelTest.h"

#include <QApplication>
#include <QIcon>
#include <QToolButton>
#include <gtest/gtest.h>

namespace vostrel::test {
namespace {

TEST(IconThemeTest, EveryImageButtonShowsAnIconOfTheProgramsTheme)
{
    ASSERT_EQ(QIcon::themeName(), QString::fromLatin1(kIconTheme));
    TVostrelApp app;
    int buttons = 0;
    for (QWidget *window : QApplication::topLevelWidgets()) {
        for (QToolButton *button : window->findChildren<QToolButton *>()) {
            if (!button->objectName().startsWith(u"PNGBtn"))
                continue;
            ++buttons;
            const QString where = window->objectName() + u'.' + button->objectName();
            // A theme icon carries its name; the style's fallbacks do not.
            EXPECT_FALSE(button->icon().name().isEmpty()) << where.toStdString();
            EXPECT_TRUE(QIcon::hasThemeIcon(button->icon().name())) << where.toStdString();
            EXPECT_FALSE(button->icon().pixmap(24).isNull()) << where.toStdString();
        }
    }
    EXPECT_GE(buttons, 20);

    // The list window's buttons carry their captions, the same as their tips.
    for (QToolButton *button : app.DestinationList().findChildren<QToolButton *>()) {
        if (!button->objectName().startsWith(u"PNGBtn"))
            continue; // the file pickers' own buttons
        EXPECT_FALSE(button->text().isEmpty()) << button->objectName().toStdString();
        EXPECT_EQ(button->text(), button->toolTip()) << button->objectName().toStdString();
        EXPECT_NE(button->toolButtonStyle(), Qt::ToolButtonIconOnly);
    }
}

} // namespace
} // namespace vostrel::test

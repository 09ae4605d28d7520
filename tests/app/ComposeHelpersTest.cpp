// The application links the compose window to its helpers: the HTML tool
// bar, the map link dialog and the signature menu.
#include "app/VostrelApp.h"
#include "compose/UnitMailMake.h"
#include "compose/UnitMapLink.h"
#include "support/VostrelTest.h"

#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

namespace vostrel::test {
namespace {

using namespace Qt::Literals::StringLiterals;
using ComposeHelpersTest = VostrelTest;

TEST_F(ComposeHelpersTest, TheComposeWindowReachesItsToolBarMapLinkAndSignatures)
{
    TVostrelApp app;
    TFormMailMake &compose = app.MailMake();
    EXPECT_NE(compose.HtmlToolArea()->findChild<QToolButton *>(u"PNGBtnFont_Size"_s), nullptr);
    EXPECT_NE(compose.HtmlToolArea()->findChild<QToolButton *>(u"PNGBtnEtc_Address"_s), nullptr);
    EXPECT_EQ(app.MapLink().objectName(), u"TFormMapLink"_s);

    compose.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&compose));
    auto *mapButton = compose.findChild<QToolButton *>(u"PNGBtnMapLink"_s);
    auto *signatureButton = compose.findChild<QToolButton *>(u"PNGBtnSignature"_s);
    ASSERT_TRUE(mapButton->isEnabled());
    ASSERT_TRUE(signatureButton->isEnabled());

    bool mapShown = false;
    WhenModal(u"TFormMapLink"_s, [&](QWidget *w) {
        mapShown = true;
        w->close();
    });
    QTest::mouseClick(mapButton, Qt::LeftButton);
    EXPECT_TRUE(mapShown);

    QTest::mouseClick(signatureButton, Qt::LeftButton);
    QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
    EXPECT_EQ(QApplication::activePopupWidget()->objectName(), u"PopupMenuSignature"_s);
    QApplication::activePopupWidget()->close();
    compose.hide();
}

} // namespace
} // namespace vostrel::test

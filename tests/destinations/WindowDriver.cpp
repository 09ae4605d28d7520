#include "WindowDriver.h"

#include <QLineEdit>
#include <QTest>

namespace vostrel::test {

void ClickButton(QWidget *window, const QString &name)
{
    auto *button = Child<QAbstractButton>(window, name);
    if (button)
        QTest::mouseClick(button, Qt::LeftButton);
}

void TypeInto(QWidget *window, const QString &name, const QString &text)
{
    auto *edit = Child<QLineEdit>(window, name);
    if (!edit)
        return;
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    TypeText(edit, text);
}

void TypeText(QWidget *widget, const QString &text)
{
    // QTest::keyClicks knows only ASCII keys; other characters arrive as
    // key events that carry just their text, as an input method sends them.
    for (QChar c : text) {
        if (c.unicode() < 0x80)
            QTest::keyClick(widget, static_cast<char>(c.unicode()));
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

bool ShowWindow(QWidget *window)
{
    window->show();
    return QTest::qWaitForWindowExposed(window);
}

} // namespace vostrel::test

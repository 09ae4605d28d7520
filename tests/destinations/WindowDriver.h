// Small helpers for driving the destination windows offscreen.
#pragma once

#include <QAbstractButton>
#include <QString>
#include <QWidget>
#include <gtest/gtest.h>

namespace vostrel::test {

// The child named name of type T; fails the test when there is none.
template <class T> T *Child(QWidget *window, const QString &name)
{
    T *child = window->findChild<T *>(name);
    EXPECT_NE(child, nullptr) << "no control " << name.toStdString();
    return child;
}

// Clicks the button named name.
void ClickButton(QWidget *window, const QString &name);
// Replaces the text of the line edit named name, as typing would.
void TypeInto(QWidget *window, const QString &name, const QString &text);
// Types text into a widget key by key.
void TypeText(QWidget *widget, const QString &text);
// Shows a window and waits until it is exposed.
bool ShowWindow(QWidget *window);

} // namespace vostrel::test

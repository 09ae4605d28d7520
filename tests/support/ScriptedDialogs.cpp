#include "support/ScriptedDialogs.h"

#include <gtest/gtest.h>

namespace vostrel::test {

void ScriptedDialogs::Message(QWidget *, const QString &text, const QString &caption)
{
    shown.push_back({ShownBox::Message, caption, text});
    if (onShow)
        onShow(shown.back());
}

void ScriptedDialogs::Error(QWidget *, const QString &text, const QString &caption)
{
    shown.push_back({ShownBox::Error, caption, text});
    if (onShow)
        onShow(shown.back());
}

bool ScriptedDialogs::YesNo(QWidget *, const QString &text, const QString &caption)
{
    shown.push_back({ShownBox::Question, caption, text});
    if (onShow)
        onShow(shown.back());
    if (answers.empty()) {
        ADD_FAILURE() << "unexpected question: " << text.toStdString();
        return false;
    }
    const bool yes = answers.front();
    answers.pop_front();
    return yes;
}

void ScriptedDialogs::Warning(QWidget *, const QString &text, const QString &caption)
{
    shown.push_back({ShownBox::Warning, caption, text});
    if (onShow)
        onShow(shown.back());
}

int ScriptedDialogs::Choose(QWidget *, const QString &text, const QStringList &buttons,
                            const QString &caption)
{
    shown.push_back({ShownBox::Choice, caption, text});
    lastButtons = buttons;
    if (onShow)
        onShow(shown.back());
    if (choices.empty()) {
        ADD_FAILURE() << "unexpected choice: " << text.toStdString();
        return static_cast<int>(buttons.size()) - 1;
    }
    const int chosen = choices.front();
    choices.pop_front();
    return chosen;
}

QStringList ScriptedDialogs::Texts() const
{
    QStringList texts;
    for (const ShownBox &box : shown)
        texts << box.text;
    return texts;
}

QStringList ScriptedDialogs::Heads() const
{
    QStringList heads;
    for (const ShownBox &box : shown)
        heads << box.text.section(QStringLiteral("\r\n\r\n"), 0, 0);
    return heads;
}

} // namespace vostrel::test

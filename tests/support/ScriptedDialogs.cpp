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

QStringList ScriptedDialogs::Texts() const
{
    QStringList texts;
    for (const ShownBox &box : shown)
        texts << box.text;
    return texts;
}

} // namespace vostrel::test

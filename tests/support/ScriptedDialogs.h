// A dialog service for tests: records every box with its caption and text and
// answers questions from a script.
#pragma once

#include "core/DialogService.h"

#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

namespace vostrel::test {

struct ShownBox
{
    enum Kind
    {
        Message,
        Error,
        Question,
        Warning,
        Choice
    };
    Kind kind;
    QString caption;
    QString text;
};

class ScriptedDialogs : public DialogService
{
public:
    void Message(QWidget *parent, const QString &text, const QString &caption) override;
    void Error(QWidget *parent, const QString &text, const QString &caption) override;
    bool YesNo(QWidget *parent, const QString &text, const QString &caption) override;
    void Warning(QWidget *parent, const QString &text, const QString &caption) override;
    // Answers from choices (an index); the buttons offered are kept in
    // lastButtons.
    int Choose(QWidget *parent, const QString &text, const QStringList &buttons,
               const QString &caption) override;

    // Queues the answer to the next question (true = Yes).
    void Answer(bool yes) { answers.push_back(yes); }
    // The texts of every box shown so far, in order.
    QStringList Texts() const;
    // The same, each cut before its first empty line (the question or
    // message itself, without the particulars below it).
    QStringList Heads() const;
    // Forgets what was shown.
    void Clear() { shown.clear(); }

    std::vector<ShownBox> shown;
    std::deque<bool> answers;
    std::deque<int> choices;
    QStringList lastButtons;
    // Called whenever a box is shown (after it is recorded).
    std::function<void(const ShownBox &)> onShow;
};

} // namespace vostrel::test

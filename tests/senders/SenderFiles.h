// Helpers of the sender tests: account files built field by field in the test
// itself, and a walk over a file's fields.
#pragma once

#include "senders/SenderAccount.h"

#include <QLineEdit>
#include <QString>
#include <QWidget>
#include <filesystem>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace vostrel::test {

// One field as it lies in a file: the 4-byte little-endian ciphertext length,
// then the ciphertext of text under key.
std::string FieldBytes(const std::string &text, const std::string &key);
// The fields one after another.
std::string FileBytes(const std::vector<std::string> &texts, const std::string &key);
// The number of fields a file holds, by following the length prefixes; -1
// when the last field runs past the end.
int CountFields(const std::string &bytes);

// An account with every field filled and both optional groups on.
SenderAccount SampleAccount();
// Writes a file of the given field texts under DefaultKey to Senders/<file>.
std::filesystem::path WriteHandMadeAccount(const std::string &fileNameUtf8,
                                           const std::vector<std::string> &texts);

// Replaces the text of an edit by typing: the old text is selected and
// erased, then every character is sent as a key press (any script).
void Type(QLineEdit *edit, const QString &text);

// A child widget by its objectName; a missing one ends the test with a failure.
template <class W> W *Child(QWidget *parent, const QString &name)
{
    W *widget = parent->findChild<W *>(name);
    if (!widget)
        throw std::runtime_error("no control " + name.toStdString());
    return widget;
}

} // namespace vostrel::test

// Readable failure output for texts and accounts.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace vostrel {
void PrintTo(const SenderAccount &account, std::ostream *os);
} // namespace vostrel

// Helpers shared by the tests of the wire side of sending.
#pragma once

#include "send/MailTransport.h"
#include "send/MessageBuilder.h"
#include "send/PzConv.h"
#include "support/VostrelTest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <string>
#include <unistd.h>
#include <vector>

namespace vostrel::test {

// A mail as the message builder writes it (needs the fixture's data folder):
// from sender@example.jp to the given addresses, with the subject and body
// (Shift_JIS).
inline OutgoingMail BuildTestMail(const std::vector<std::string> &to, const std::string &subject,
                                  const std::string &body)
{
    SendJob job;
    job.subject = subject;
    job.body = body;
    SenderAccount account;
    account.FromAddress = "sender@example.jp";
    account.SenderName = S("送信 太郎");
    const MailMessage message = BuildMailMessage(job, account, to, {}, {});
    return {account.FromAddress, to, WriteMimeMessage(message)};
}

// Python's email package's view of a mail (tests/send/parse_mail.py).
inline QJsonObject ParseWithPython(const std::filesystem::path &folder, const std::string &mail)
{
    static int count = 0;
    const auto file = folder / ("received" + std::to_string(++count) + ".eml");
    WriteBytes(file, mail);
    QString output;
    const int rc = RunProgram(QStringLiteral(VOSTREL_PYTHON),
                              {QStringLiteral(VOSTREL_SOURCE_DIR "/tests/send/parse_mail.py"),
                               QString::fromStdString(file.string())},
                              &output);
    EXPECT_EQ(rc, 0) << output.toStdString();
    return QJsonDocument::fromJson(output.toUtf8()).object();
}

// The decoded value of a header in parse_mail.py's description.
inline QString ParsedHeader(const QJsonObject &mail, const QString &name)
{
    for (const auto &h : mail.value(QStringLiteral("headers")).toArray())
        if (h.toObject().value(QStringLiteral("name")).toString() == name)
            return h.toObject().value(QStringLiteral("value")).toString();
    return {};
}

// The decoded text of the first text part.
inline QString ParsedText(const QJsonObject &mail)
{
    for (const auto &p : mail.value(QStringLiteral("parts")).toArray())
        if (p.toObject().contains(QStringLiteral("text")))
            return p.toObject().value(QStringLiteral("text")).toString();
    return {};
}

inline qsizetype ParsedDefectCount(const QJsonObject &mail)
{
    qsizetype count = mail.value(QStringLiteral("defects")).toArray().size();
    for (const auto &p : mail.value(QStringLiteral("parts")).toArray())
        count += p.toObject().value(QStringLiteral("defects")).toArray().size();
    return count;
}

// The local host name, as the client says it in EHLO.
inline std::string HostName()
{
    char buffer[256] = {};
    ::gethostname(buffer, sizeof buffer - 1);
    return buffer;
}

// Standard Base64, as AUTH sends credentials.
inline std::string B64(const std::string &text)
{
    return TPzConv::Base64Encode(text);
}

} // namespace vostrel::test

#include "SenderFiles.h"

#include "core/AppState.h"
#include "core/DataFolder.h"
#include "core/FieldStore.h"
#include "core/SjisCodec.h"
#include "support/VostrelTest.h"

#include <QTest>
#include <cstdint>
#include <cstring>

namespace vostrel::test {

std::string FieldBytes(const std::string &text, const std::string &key)
{
    const std::string cipher = FieldCodec(key).EncryptString(text);
    const uint32_t n = static_cast<uint32_t>(cipher.size());
    std::string bytes;
    bytes += static_cast<char>(n & 0xFF);
    bytes += static_cast<char>((n >> 8) & 0xFF);
    bytes += static_cast<char>((n >> 16) & 0xFF);
    bytes += static_cast<char>((n >> 24) & 0xFF);
    return bytes + cipher;
}

std::string FileBytes(const std::vector<std::string> &texts, const std::string &key)
{
    std::string bytes;
    for (const std::string &text : texts)
        bytes += FieldBytes(text, key);
    return bytes;
}

int CountFields(const std::string &bytes)
{
    size_t pos = 0;
    int count = 0;
    while (pos < bytes.size()) {
        if (bytes.size() - pos < 4)
            return -1;
        const auto *p = reinterpret_cast<const unsigned char *>(bytes.data() + pos);
        const uint32_t n = p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24);
        pos += 4;
        if (bytes.size() - pos < n)
            return -1;
        pos += n;
        ++count;
    }
    return count;
}

SenderAccount SampleAccount()
{
    SenderAccount a;
    a.ConfName = S("営業部");
    a.SMTPAddress = "smtp.example.jp";
    a.SMTPPort = "587";
    a.SMTPSSL = true;
    a.FromAddress = "sales@example.jp";
    a.SenderName = S("山田 太郎");
    a.ReturnAddress = "reply@example.jp";
    a.UsePOP = true;
    a.POPAddress = "pop.example.jp";
    a.POPPort = "1995";
    a.POPSSL = true;
    a.POPAccount = "yamada";
    a.POPPass = "p@ss,1";
    a.SMTPAuth = true;
    a.SMTPAccount = "yamada-smtp";
    a.SMTPPass = S("秘密");
    return a;
}

std::filesystem::path WriteHandMadeAccount(const std::string &fileNameUtf8,
                                           const std::vector<std::string> &texts)
{
    const std::filesystem::path path = DataFolder() / "Senders" / fileNameUtf8;
    WriteBytes(path, FileBytes(texts, std::string(DefaultKey)));
    return path;
}

void Type(QLineEdit *edit, const QString &text)
{
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    for (int i = 0; i < text.size(); ++i) {
        // A character outside the basic plane travels as one key with two units.
        const int n = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, text.mid(i, n), Qt::NoModifier);
        i += n - 1;
    }
}

} // namespace vostrel::test

namespace vostrel {

void PrintTo(const SenderAccount &a, std::ostream *os)
{
    auto text = [](const std::string &s) { return "\"" + SjisToUtf8(s) + "\""; };
    *os << "{" << text(a.ConfName) << ", " << text(a.SMTPAddress) << ", " << text(a.SMTPPort)
        << ", ssl=" << a.SMTPSSL << ", " << text(a.FromAddress) << ", " << text(a.SenderName)
        << ", " << text(a.ReturnAddress) << ", pop=" << a.UsePOP << " " << text(a.POPAddress)
        << ", " << text(a.POPPort) << ", popssl=" << a.POPSSL << ", " << text(a.POPAccount) << ", "
        << text(a.POPPass) << ", auth=" << a.SMTPAuth << " " << text(a.SMTPAccount) << ", "
        << text(a.SMTPPass) << "}";
}

} // namespace vostrel

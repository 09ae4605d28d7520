// The pieces the SMTP and POP3 dialogues share: the failure of a dialogue,
// the server's and the account's texts as the user reads them, the checks of
// values before connecting and the rule against a server whose encryption
// disappeared.
#include "send/WireDialogue.h"

#include "core/SjisCodec.h"

#include <cctype>

namespace vostrel::wire {

// A reply line as the user may read it: cut to a sensible length, bytes
// that are neither printable ASCII nor UTF-8 shown as "?".
std::string ServerText(std::string_view line)
{
    constexpr std::size_t kMax = 300;
    std::string out;
    for (std::size_t i = 0; i < line.size() && out.size() < kMax;) {
        const auto c = static_cast<unsigned char>(line[i]);
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        std::size_t length = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        if (c >= 0xF5)
            length = 0;
        bool valid = length > 0 && i + length <= line.size();
        for (std::size_t k = 1; valid && k < length; ++k)
            valid = (static_cast<unsigned char>(line[i + k]) & 0xC0) == 0x80;
        if (valid) {
            out.append(line.substr(i, length));
            i += length;
        } else {
            out += '?';
            ++i;
        }
    }
    return out;
}

// A value of the account or the mail as shown in a reason: UTF-8, with line
// breaks made visible.
std::string ShownValue(std::string_view sjis)
{
    std::string visible;
    for (char c : sjis) {
        if (c == '\r')
            visible += "\\r";
        else if (c == '\n')
            visible += "\\n";
        else if (c == '\0')
            visible += "\\0";
        else
            visible += c;
    }
    return SjisToUtf8(visible);
}

bool HasLineBreak(std::string_view value)
{
    return value.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

namespace {
constexpr std::string_view kUnusable = "に使えない文字 (改行など) が含まれているため送信できません";
} // namespace

// A value that goes into a command line, shown in the reason.
void CheckShown(std::string_view what, std::string_view value)
{
    if (HasLineBreak(value))
        throw MailFailure{std::string(what) + "「" + ShownValue(value) + "」" +
                          std::string(kUnusable)};
}

// A secret that goes into a command line: never shown.
void CheckSecret(std::string_view what, std::string_view value)
{
    if (HasLineBreak(value))
        throw MailFailure{std::string(what) + std::string(kUnusable)};
}

int CheckPort(std::string_view what, std::string_view text)
{
    if (const auto port = ParsePort(text))
        return *port;
    throw MailFailure{std::string(what) + "「" + ShownValue(text) +
                      "」が正しくありません (1～65535 の半角数字で指定してください)"};
}

void CheckHost(std::string_view what, std::string_view host)
{
    if (host.empty())
        throw MailFailure{std::string(what) + "が設定されていません"};
    CheckShown(what, host);
}

// "<peer>: <what> (<step>)" for a transport failure in the middle of a step.
// The user's stop goes on as it is.
[[noreturn]] void FailDuring(const TransportError &error, std::string_view step)
{
    if (error.Stopped())
        throw error;
    throw MailFailure{std::string(error.what()) + " (" + std::string(step) + ")", true};
}

// How a server upgrades a plain connection, for messages.
std::string_view UpgradeName(TlsUpgrade how)
{
    switch (how) {
    case TlsUpgrade::StartTls:
        return "STARTTLS";
    case TlsUpgrade::Stls:
        return "STLS";
    case TlsUpgrade::ImplicitTls:
        break;
    }
    return "SSL/TLS";
}

// A server that was reached encrypted before offers no encryption now.
[[noreturn]] void FailDowngrade(const std::string &peer, TlsUpgrade before)
{
    throw MailFailure{peer + ": 以前は暗号化通信 (" + std::string(UpgradeName(before)) +
                      ") を使えたサーバーが、今回は暗号化通信に対応していませんでした。通信の"
                      "途中で暗号化が取り除かれたおそれがあるため、パスワードを送らずに送信を"
                      "中止しました"};
}

// "<what> に失敗しました", the space only after a Latin word or command.
std::string FailedText(std::string_view what)
{
    const bool latin = !what.empty() && static_cast<unsigned char>(what.back()) < 0x80;
    return std::string(what) + (latin ? " " : "") + "に失敗しました";
}

std::string Upper(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}
} // namespace vostrel::wire

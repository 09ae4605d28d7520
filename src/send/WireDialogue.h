// The pieces the SMTP and POP3 dialogues share (inside the sending library):
// the failure of a dialogue, the server's and the account's texts as the
// user reads them, the checks of values before connecting and the rule
// against a server whose encryption disappeared.
#pragma once

#include "send/MailTransport.h"

#include <string>
#include <string_view>

namespace vostrel::wire {

// A dialogue that cannot go on: the reason for the user (UTF-8). broken: the
// connection can carry nothing more (a transport failure or a reply that
// makes no sense), so there is no point in a polite QUIT.
struct MailFailure
{
    std::string reason;
    bool broken = false;
    // The server's reply code when a reply refused the mail (0 otherwise).
    int code = 0;
    // A 4xx reply to the greeting, MAIL FROM or RCPT TO.
    bool temporary = false;
};

// A reply line as the user may read it: cut to a sensible length, bytes
// that are neither printable ASCII nor UTF-8 shown as "?".
std::string ServerText(std::string_view line);
// A value of the account or the mail as shown in a reason: UTF-8, with line
// breaks made visible.
std::string ShownValue(std::string_view sjis);
bool HasLineBreak(std::string_view value);
// A value that goes into a command line, shown in the reason when it holds a
// line break (MailFailure).
void CheckShown(std::string_view what, std::string_view value);
// A secret that goes into a command line: never shown.
void CheckSecret(std::string_view what, std::string_view value);
// The port of an account text, or MailFailure naming it.
int CheckPort(std::string_view what, std::string_view text);
// A host that is empty or holds a line break: MailFailure.
void CheckHost(std::string_view what, std::string_view host);

// Closes the connection however the dialogue ends.
class Closer
{
public:
    explicit Closer(Connection &connection)
        : connection_(connection)
    {}
    ~Closer() { connection_.Close(); }
    Closer(const Closer &) = delete;
    Closer &operator=(const Closer &) = delete;

private:
    Connection &connection_;
};

// "<peer>: <what> (<step>)" for a transport failure in the middle of a step.
// The user's stop goes on as it is.
[[noreturn]] void FailDuring(const TransportError &error, std::string_view step);
// A server that was reached encrypted before offers no encryption now.
[[noreturn]] void FailDowngrade(const std::string &peer, TlsUpgrade before);
// "<what> に失敗しました", the space only after a Latin word or command.
std::string FailedText(std::string_view what);
std::string Upper(std::string text);

} // namespace vostrel::wire

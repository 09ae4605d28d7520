// A POP3 session as the accounts' POP3 fields describe it, shared by the
// log-in before SMTP and the reading of the sender's mailbox: POP3S from the
// first byte when POPSSL, otherwise CAPA and STLS when the server offers it
// (the certificate and host name checked as for every TLS connection), the
// rule against a server whose encryption disappeared, then USER and PASS.
#pragma once

#include "send/MailTransport.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace vostrel {

class Pop3Session
{
public:
    // Connects to account.POPAddress:port and logs in. Throws
    // wire::MailFailure (send/WireDialogue.h) with the reason naming the
    // server, or TransportError (the connection could not be made, or the
    // user's stop). memory may be null.
    Pop3Session(Transport &transport, const SenderAccount &account, int port,
                const TransportTimeouts &timeouts, ServerTlsMemory *memory);
    ~Pop3Session();
    Pop3Session(const Pop3Session &) = delete;
    Pop3Session &operator=(const Pop3Session &) = delete;

    // Sends one command and returns the server's "+OK" line; "-ERR" fails
    // with "<peer>: POP3 の <verb> に失敗しました: -ERR ...".
    std::string Command(const std::string &line, std::string_view verb);
    // A command with a multi-line answer: each line after "+OK" up to the
    // final ".", without CR LF and with a doubled leading "." made single.
    void MultiLine(const std::string &line, std::string_view verb,
                   const std::function<void(std::string_view line)> &onLine);
    // QUIT, "+OK" expected (the server deletes the marked mails now).
    void Quit();

    const std::string &Peer() const { return peer_; }

private:
    void LogIn(const SenderAccount &account, int port, ServerTlsMemory *memory);
    std::string ReadLine(std::string_view step);
    void Write(const std::string &line, std::string_view step);
    bool ExpectOk(std::string_view step, std::string_view phrase, bool refusalIsAnswer = false);

    std::unique_ptr<Connection> connection_;
    std::string peer_;
    TransportTimeouts timeouts_;
};

} // namespace vostrel

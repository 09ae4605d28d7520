// What came back to the sender's mailbox: delivery status notifications
// (multipart/report; report-type=delivery-status), the plain-text bounces of
// Postfix, qmail, Exim and Japanese providers (ISO-2022-JP text naming the
// address), unsubscribe requests (subject "unsubscribe", "unsubscribe
// <address>", "配信停止" or "配信停止 <address>") and auto-replies
// (Auto-Submitted, vacation notices), which are never taken for bounces.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vostrel {

enum class MailKind
{
    Other,       // an ordinary mail (a reply, anything else)
    AutoReply,   // Auto-Submitted other than "no", or a vacation notice
    Bounce,      // a delivery failure or delay of one or more recipients
    Unsubscribe, // a request to be taken off the lists
};

enum class FindingKind
{
    Permanent,   // 5.x.x: the address cannot be reached
    Temporary,   // 4.x.x: delayed or failed for now
    Unsubscribe, // the address asked to be removed
};

struct Finding
{
    std::string address; // lower case
    FindingKind kind = FindingKind::Permanent;
    std::string reason; // UTF-8: the status and the diagnostic text
};

struct RecognizedMail
{
    MailKind kind = MailKind::Other;
    // Bounce: each failed recipient; Unsubscribe: the one address.
    std::vector<Finding> findings;
    // The Message-ID of the mail that bounced, when the bounce quotes it
    // (with its angle brackets); it tells one failed mail from another.
    std::string originalMessageId;
    // The address in From (lower case), empty when there is none.
    std::string sender;
};

// Reads one mail as RETR gives it (CR LF or LF line ends).
RecognizedMail RecognizeMail(std::string_view mail);

// The first mail address in text (lower case), or empty: local@domain with a
// dot in the domain, angle brackets and "mailto:" removed.
std::string FindAddress(std::string_view text);

// The text of a header value with its RFC 2047 encoded-words (B and Q, any
// charset iconv knows) decoded, as UTF-8.
std::string DecodeHeaderText(std::string_view value);

// Bytes in charset (a MIME charset label) as UTF-8; unknown labels and bytes
// that do not convert are kept as they are.
std::string ToUtf8(std::string_view bytes, std::string_view charset);

} // namespace vostrel

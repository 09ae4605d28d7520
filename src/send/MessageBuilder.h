// The message builder: merge tags, the MailMessage of one mail and its MIME
// form for the SMTP DATA phase. Mail goes out in ISO-2022-JP.
#pragma once

#include "destinations/Recipient.h"
#include "send/SendJob.h"
#include "senders/SenderAccount.h"

#include <array>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vostrel {

// Merge tags: "<#-" + label + "->". There are thirteen, one per value of a
// Recipient and in the same order; they are applied in this order.
inline constexpr int kMergeTagCount = Recipient::kFieldCount;
// The labels (Shift_JIS): 送信先名, 敬称, メールアドレス, 差込１ .. 差込１０
// (full-width digits).
const std::array<std::string, kMergeTagCount> &MergeTagLabels();
// The tags (Shift_JIS), "<#-送信先名->" and so on.
const std::array<std::string, kMergeTagCount> &MergeTags();
// "<#-" + label + "->".
std::string MakeMergeTag(std::string_view label);

// Replaces each of the thirteen tags, in order, by the recipient's value with
// ReplaceAll. Each step works on the result of the one before, so a value that
// holds a later tag is replaced again by that later step.
std::string ApplyMergeTags(std::string_view text, const Recipient &recipient);

// A header text ready for writing: either one plain ASCII text, or one or more
// RFC 2047 encoded-words of at most 75 characters that are written on folded
// lines. No words: the text is empty.
struct HeaderText
{
    std::vector<std::string> words;
    bool encoded = false;

    bool Empty() const { return words.empty(); }
    bool operator==(const HeaderText &) const = default;
};

// One part of a message: the text part or a file part.
struct MailPart
{
    enum class Kind
    {
        Text,
        File,
    };
    Kind kind = Kind::Text;

    // Text part.
    std::string contentType;            // "text/plain" or "text/html"
    std::string charset;                // "ISO-2022-JP"
    std::string transferEncoding;       // "7bit"; "8bit" when a byte is 80 or above;
                                        // "base64" when a line is longer than 998 bytes
    std::vector<std::string> bodyLines; // ISO-2022-JP, without line ends

    // File part (Base64): contentType is the type of the file name's
    // extension ("application/octet-stream" when unknown); disposition
    // "inline" for inline pictures, "attachment" otherwise.
    std::filesystem::path path;
    HeaderText fileName;   // as shown to the recipient
    std::string contentId; // the picture name for inline pictures, else empty

    bool operator==(const MailPart &) const = default;
};

struct MailMessage
{
    std::string envelopeSender;  // the account's FromAddress
    std::vector<std::string> to; // plain addresses
    std::vector<std::string> cc;
    std::vector<std::string> bcc; // never written into the header
    HeaderText fromName;          // display name
    std::string fromAddress;
    std::string replyTo;   // empty: no Reply-To
    HeaderText subject;    // empty: no Subject
    std::string messageId; // with its angle brackets
    // List-Unsubscribe: the URIs (without angle brackets), mailto: first;
    // empty: no header. oneClick adds List-Unsubscribe-Post. listId (without
    // angle brackets) goes with them: filters take List-Unsubscribe without
    // List-Id for an incomplete list header.
    std::vector<std::string> listUnsubscribe;
    std::string listId;
    bool oneClick = false;
    // The type of the whole message: "text/plain", "text/html",
    // "multipart/alternative" (an HTML mail: its plain text, then the HTML,
    // the HTML in a "multipart/related" with its inline pictures), or
    // "multipart/mixed" (the body first, then the files).
    std::string topType;
    // The text parts (the plain text; or for HTML the plain text made from it,
    // then the HTML), then inline pictures, then attachments.
    std::vector<MailPart> parts;

    bool operator==(const MailMessage &) const = default;
};

// Builds one mail. recipient is given exactly when the job sends individually;
// then merge tags in subject and body are replaced by its values. An
// attachment or picture file that is missing from WorkFolder() or cannot be
// read is refused with a FileError naming it ("添付ファイル「a.pdf」が見つかりま
// せん: <path>"): a mail never goes without what the user attached. Line breaks
// are removed from every text that goes into a header line. An attachment or
// picture name that is not a plain file name (empty, "." or "..", or holding
// "/" or a NUL byte) is refused with a VostrelError naming it: only files
// directly inside AppendedImage/ and HtmlImage/ are ever read. A user-defined
// character (Shift_JIS F040..F9FC) in the subject, the sender's display name,
// the body or a file name, typed or brought in by a merge tag, is refused with
// a VostrelError naming the recipient, the field and the character.
MailMessage BuildMailMessage(const SendJob &job, const SenderAccount &account,
                             const std::vector<std::string> &to, const std::vector<std::string> &cc,
                             const std::vector<std::string> &bcc,
                             const Recipient *recipient = nullptr);

// What is wrong with an address for one-click unsubscribing (UTF-8 message
// naming it); empty when it is an https URL that can stand in a header: it
// starts with "https://" and a host name, and holds printable ASCII only,
// without "<", ">" or "\"". An empty address is fine (none is sent).
std::string UnsubscribeUrlProblem(std::string_view url);

// Checked before a run starts: the message (UTF-8) naming the first
// attachment or inline picture of the job whose file in the work folder is
// missing or cannot be read, or whose name is not a plain file name; empty
// when every file is there and readable.
std::string JobFilesProblem(const SendJob &job);

struct MimeWriteOptions
{
    // The moment written in the Date header; the current time when not set.
    std::optional<std::chrono::system_clock::time_point> time;
    // The multipart boundary; MimeBoundary() when empty.
    std::string boundary;
};

// The message as lines ending in CR LF, ready for the SMTP DATA phase (before
// dot-stuffing). Reads the file parts; throws FileError when one cannot be
// read.
std::string WriteMimeMessage(const MailMessage &message, const MimeWriteOptions &options = {});

// The type of a file part named fileName (UTF-8): the type registered for its
// extension, "application/octet-stream" when none is.
std::string MimeTypeOfFileName(const std::string &fileNameUtf8);

// The multipart boundary of this program run: made on first use, then reused.
const std::string &MimeBoundary();
// A fresh boundary: 34 characters, letters and digits with the pair "=_" at a
// random position.
std::string MakeMimeBoundary();
// A fresh unique message id "<...@domain>", the domain taken from the sending
// address (the host name when the address has none).
std::string NewMessageId(std::string_view fromAddress);
// The Date header value of a moment in local time: "Fri, 15 Mar 2024 14:30:59 +0900".
std::string FormatMailDate(std::chrono::system_clock::time_point time);

} // namespace vostrel

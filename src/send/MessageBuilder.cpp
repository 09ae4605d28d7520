#include "send/MessageBuilder.h"

#include "core/AppState.h"
#include "core/DataFolder.h"
#include "core/DataLayout.h"
#include "core/Errors.h"
#include "core/SjisCodec.h"
#include "core/SjisText.h"
#include "send/HtmlText.h"
#include "send/PzConv.h"

#include <QMimeDatabase>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace vostrel {
namespace {

namespace fs = std::filesystem;

// RFC 5322: a header line holds at most 998 octets before its CR LF.
constexpr std::size_t kMaxLineLength = 998;
constexpr std::string_view kCrLf = "\r\n";
// Continuation of a header value: the line break and one space.
constexpr std::string_view kHeaderFold = "\r\n ";
// Continuation lines of the file-name parameters start with eight spaces.
constexpr std::string_view kParamIndent = "        ";
// A header line that holds an encoded-word holds at most 76 characters, its
// field name included.
constexpr std::size_t kEncodedLineLimit = 76;

// The longest encoded-words a header can take: the first shares its line
// with what comes before it; the others stand on continuation lines.
struct WordLimits
{
    std::size_t first;
    std::size_t other;
};
// "Subject: " + word; " " + word.
constexpr WordLimits kSubjectWords{kEncodedLineLimit - 9, kEncodedLineLimit - 1};
// "From: " + word; " " + word (the address moves to a line of its own when
// it does not fit behind the last word).
constexpr WordLimits kFromWords{kEncodedLineLimit - 6, kEncodedLineLimit - 1};
// "        filename=\"" + word + "\""; "        " + word + "\"".
constexpr WordLimits kFileNameWords{kEncodedLineLimit - 18 - 1, kEncodedLineLimit - 8 - 1};

bool IsAscii(std::string_view text)
{
    for (unsigned char c : text)
        if (c >= 0x80)
            return false;
    return true;
}

// CR and LF never reach a header line, so no text can add one. Neither byte
// can be the trail byte of a double-byte character.
std::string StripLineBreaks(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (c != '\r' && c != '\n')
            out += c;
    return out;
}

// Backslash and double quote escaped by a backslash, for a quoted string.
std::string EscapeQuoted(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 2);
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out;
}

// The header form of a text. asciiLineLength gives the length of the whole
// line that a plain ASCII text would make; when that is over the limit the
// text is written as encoded-words instead, which fold.
template <typename LineLength>
HeaderText MakeHeaderText(const TPzConv &conv, std::string_view text, WordLimits limits,
                          LineLength asciiLineLength)
{
    HeaderText result;
    if (text.empty())
        return result;
    const bool ascii = IsAscii(text);
    const bool force = ascii && asciiLineLength(text) > kMaxLineLength;
    result.words = conv.EncodeHeaderWords(text, force, limits.first, limits.other);
    result.encoded = !ascii || force;
    return result;
}

// The line "        filename=" + quoted name is the longer of the two lines
// that carry a file name.
HeaderText MakeFileNameText(const TPzConv &conv, std::string_view name)
{
    return MakeHeaderText(conv, name, kFileNameWords, [](std::string_view t) {
        return kParamIndent.size() + std::string_view("filename=\"\"").size() +
               EscapeQuoted(t).size();
    });
}

bool IsDomainText(std::string_view text)
{
    if (text.empty() || text.size() > 253 || text.front() == '.' || text.back() == '.')
        return false;
    char previous = 0;
    for (char c : text) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '.';
        if (!ok || (c == '.' && previous == '.'))
            return false;
        previous = c;
    }
    return true;
}

std::mt19937_64 &RandomEngine()
{
    thread_local std::mt19937_64 engine([] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(),
                           static_cast<unsigned>(::getpid())};
        return std::mt19937_64(seed);
    }());
    return engine;
}

void AppendAddressLine(std::string &out, std::string_view field,
                       const std::vector<std::string> &addresses)
{
    if (addresses.empty())
        return;
    out += field;
    out += ": ";
    std::size_t lineLength = field.size() + 2;
    bool first = true;
    for (const std::string &address : addresses) {
        if (!first) {
            // Keep room for the comma that may follow the next address.
            if (lineLength + 2 + address.size() + 1 > kMaxLineLength) {
                out += ",";
                out += kHeaderFold;
                lineLength = 1;
            } else {
                out += ", ";
                lineLength += 2;
            }
        }
        out += address;
        lineLength += address.size();
        first = false;
    }
    out += kCrLf;
}

void AppendWords(std::string &out, const std::vector<std::string> &words, std::string_view fold)
{
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i > 0)
            out += fold;
        out += words[i];
    }
}

// The content of a quoted parameter or display name, without the quotes.
void AppendQuotedContent(std::string &out, const HeaderText &text, std::string_view fold)
{
    if (text.encoded)
        AppendWords(out, text.words, fold);
    else if (!text.words.empty())
        out += EscapeQuoted(text.words.front());
}

void AppendTextPart(std::string &out, const MailPart &part)
{
    out += "Content-Type: ";
    out += part.contentType;
    out += " ; charset=\"";
    out += part.charset;
    out += "\"\r\nContent-Transfer-Encoding: ";
    out += part.transferEncoding;
    out += "\r\n\r\n";
    if (part.transferEncoding == "base64") {
        std::string raw;
        std::size_t size = 0;
        for (const std::string &line : part.bodyLines)
            size += line.size() + 2;
        raw.reserve(size);
        for (const std::string &line : part.bodyLines) {
            raw += line;
            raw += kCrLf;
        }
        AppendBase64Lines(raw, out);
        return;
    }
    for (const std::string &line : part.bodyLines) {
        out += line;
        out += kCrLf;
    }
}

// Appends the Base64 lines of a file's content, read in pieces of whole
// lines; stamp gets what the open file looked like.
void EncodeFileBase64(std::string &out, const fs::path &path, struct stat &stamp)
{
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file)
        throw FileError::ReadFailed(path, FileError::ErrnoText(errno));
    if (::fstat(::fileno(file), &stamp) != 0)
        stamp = {};
    out.reserve(out.size() + (static_cast<std::size_t>(stamp.st_size) + 56) / 57 * 78 + 4096);
    constexpr std::size_t kChunk = 57 * 4096;
    std::string buffer(kChunk, '\0');
    for (;;) {
        std::size_t got = 0;
        while (got < kChunk) {
            const std::size_t n = std::fread(buffer.data() + got, 1, kChunk - got, file);
            if (n == 0)
                break;
            got += n;
        }
        if (std::ferror(file)) {
            const int err = errno;
            std::fclose(file);
            throw FileError::ReadFailed(path, FileError::ErrnoText(err));
        }
        AppendBase64Lines(std::string_view(buffer.data(), got), out);
        if (got < kChunk)
            break;
    }
    std::fclose(file);
}

// The Base64 lines of the files mailed lately, per thread (a send run has a
// thread of its own), so that a run that mails the same files to many
// recipients reads and encodes each once. A file is read again when it is no
// longer the same (another file in its place, another size or time).
class EncodedFiles
{
public:
    void Append(std::string &out, const fs::path &path)
    {
        struct stat now
        {};
        const bool known = ::stat(path.c_str(), &now) == 0;
        if (const auto it = files_.find(path.native());
            known && it != files_.end() && Same(it->second.stamp, now)) {
            out += it->second.lines;
            return;
        }
        Entry entry;
        EncodeFileBase64(entry.lines, path, entry.stamp);
        out += entry.lines;
        if (entry.stamp.st_ino == 0 || entry.lines.size() > kMaxBytes / 4)
            return;
        if (bytes_ + entry.lines.size() > kMaxBytes) {
            files_.clear();
            bytes_ = 0;
        }
        bytes_ += entry.lines.size();
        if (const auto old = files_.find(path.native()); old != files_.end())
            bytes_ -= old->second.lines.size();
        files_[path.native()] = std::move(entry);
    }

private:
    static constexpr std::size_t kMaxBytes = 64u << 20;

    struct Entry
    {
        struct stat stamp
        {};
        std::string lines;
    };

    static bool Same(const struct stat &a, const struct stat &b)
    {
        return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
               a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
               a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
    }

    std::unordered_map<std::string, Entry> files_;
    std::size_t bytes_ = 0;
};

void AppendFileBase64(std::string &out, const fs::path &path)
{
    thread_local EncodedFiles encoded;
    encoded.Append(out, path);
}

void AppendFilePart(std::string &out, const MailPart &part)
{
    out += "Content-Type: ";
    out += part.contentType;
    out += ";\r\n";
    out += kParamIndent;
    out += "name=\"";
    AppendQuotedContent(out, part.fileName, std::string("\r\n").append(kParamIndent));
    out += "\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: ";
    out += part.contentId.empty() ? "attachment" : "inline";
    out += ";\r\n";
    out += kParamIndent;
    out += "filename=\"";
    AppendQuotedContent(out, part.fileName, std::string("\r\n").append(kParamIndent));
    out += "\"\r\n";
    if (!part.contentId.empty()) {
        out += "Content-ID: <";
        out += part.contentId;
        out += ">\r\n";
    }
    out += kCrLf;
    AppendFileBase64(out, part.path);
}

// What a file of the job is like when it is about to be read.
enum class FileState
{
    Readable,
    Missing,    // no such file (or a link to nothing)
    Unreadable, // there, but not a file whose bytes can be read
};

// Opens the file and reads its first byte; reason gets the error text when
// it is not readable. Only a plain file is read (never waiting on a pipe).
FileState StateOf(const fs::path &path, std::string &reason)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT)
            return FileState::Missing;
        reason = FileError::ErrnoText(err);
        return FileState::Unreadable;
    }
    struct stat st
    {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        reason = S_ISDIR(st.st_mode) ? FileError::ErrnoText(EISDIR)
                                     : std::string("通常のファイルではありません");
        ::close(fd);
        return FileState::Unreadable;
    }
    char byte = 0;
    ssize_t got = -1;
    do
        got = ::read(fd, &byte, 1);
    while (got < 0 && errno == EINTR);
    const int err = errno;
    ::close(fd);
    if (got < 0) {
        reason = FileError::ErrnoText(err);
        return FileState::Unreadable;
    }
    return FileState::Readable;
}

// The kind of a file of the job as the user knows it: "添付ファイル" for an
// attachment, "画像ファイル" for an inline picture.
const char *FileKind(bool picture)
{
    return picture ? "画像ファイル" : "添付ファイル";
}

bool IsPlainName(const std::string &name)
{
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string::npos;
}

std::string BadNameText(bool picture, const std::string &name)
{
    return std::string(FileKind(picture)) +
           "の名前が正しくないため、送信できません: " + SjisToUtf8(name);
}

// Whom a mail goes to, for messages: the recipient's name and address, or
// the first addresses of the mail.
std::string RecipientText(const Recipient *recipient, const std::vector<std::string> &to,
                          const std::vector<std::string> &cc, const std::vector<std::string> &bcc)
{
    if (recipient) {
        const std::string address = SjisToUtf8(StripLineBreaks(recipient->Address()));
        const std::string name = SjisToUtf8(StripLineBreaks(recipient->Name()));
        return name.empty() ? address : name + " <" + address + ">";
    }
    const std::vector<std::string> &main = !to.empty() ? to : !bcc.empty() ? bcc : cc;
    constexpr std::size_t kNamed = 3;
    std::string text;
    for (std::size_t i = 0; i < main.size() && i < kNamed; ++i) {
        if (i > 0)
            text += ", ";
        text += SjisToUtf8(StripLineBreaks(main[i]));
    }
    if (main.size() > kNamed)
        text += " ほか " + std::to_string(main.size() - kNamed) + " 件";
    return text;
}

// A user-defined character (Shift_JIS lead bytes F0..F9) is shown only by
// the machine that defined it, and ISO-2022-JP has no code for it: the mail
// fails before anything is sent, naming the recipient, the field and the
// character. field is the field's name; raw is the text as composed, before
// the merge tags took the recipient's values.
class UserDefinedCheck
{
public:
    UserDefinedCheck(std::string whom, const Recipient *recipient)
        : whom_(std::move(whom))
        , recipient_(recipient)
    {}

    void Check(std::string_view text, std::string_view field, std::string_view raw = {}) const
    {
        const std::size_t at = FindUserDefinedCharacter(text);
        if (at == std::string_view::npos)
            return;
        std::string where(field);
        if (recipient_ && FindUserDefinedCharacter(raw) == std::string_view::npos) {
            // It came with a merge tag: name the value.
            for (int i = 0; i < kMergeTagCount; ++i) {
                if (FindUserDefinedCharacter(recipient_->fields[i]) != std::string::npos &&
                    raw.find(MergeTags()[i]) != std::string_view::npos) {
                    where += "（差込タグ「" + SjisToUtf8(MergeTagLabels()[i]) + "」の値）";
                    break;
                }
            }
        }
        throw VostrelError(whom_ + " へのメール: " + where + "の" +
                           UnusableCharacterText(SjisCodePoint(text.substr(at, 2))));
    }

private:
    std::string whom_;
    const Recipient *recipient_;
};

constexpr std::string_view kMailCharset = "ISO-2022-JP";

// A text part of the mail: the Shift_JIS text in ISO-2022-JP, cut into lines.
MailPart MakeTextPart(const TPzConv &conv, std::string contentType, std::string_view sjis)
{
    MailPart text;
    text.kind = MailPart::Kind::Text;
    text.contentType = std::move(contentType);
    text.charset = kMailCharset;
    const std::string jis = conv.ToIso2022Jp(sjis);
    // Cut at CR LF, CR or LF; a line break at the very end starts no
    // further line.
    bool eightBit = false;
    bool longLine = false;
    std::size_t start = 0;
    const std::size_t n = jis.size();
    std::size_t i = 0;
    auto endLine = [&](std::size_t end) {
        if (end - start > kMaxLineLength)
            longLine = true;
        text.bodyLines.emplace_back(jis, start, end - start);
    };
    while (i < n) {
        const char c = jis[i];
        if (c == '\r' || c == '\n') {
            endLine(i);
            i += (c == '\r' && i + 1 < n && jis[i + 1] == '\n') ? 2 : 1;
            start = i;
            continue;
        }
        if (static_cast<unsigned char>(c) >= 0x80)
            eightBit = true;
        ++i;
    }
    if (start < n)
        endLine(n);
    text.transferEncoding = longLine ? "base64" : eightBit ? "8bit" : "7bit";
    return text;
}

// Every byte but letters, digits and "-._~!$'()*,;:@" as %XX ("+" too: some
// readers take it for a space).
std::string PercentEncode(std::string_view text)
{
    static constexpr std::string_view kKept = "-._~!$'()*,;:@";
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            kKept.find(static_cast<char>(c)) != std::string_view::npos) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

// The list's id (RFC 2919) of the mails from an address: the address with "@"
// as ".", every character but letters, digits, "-" and "_" as "-" between the
// dots ("sender.example.jp").
std::string ListIdOf(std::string_view address)
{
    std::string id;
    for (char c : address) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (c == '@' || c == '.') {
            if (!id.empty() && id.back() != '.')
                id += '.';
        } else {
            id += plain ? c : '-';
        }
    }
    while (!id.empty() && id.back() == '.')
        id.pop_back();
    return id.empty() ? std::string("list.invalid") : id;
}

// The MIME structure of a message: a part, or a multipart with its children.
struct MimeNode
{
    std::string type;
    const MailPart *part = nullptr;
    std::vector<MimeNode> children;
};

MimeNode Leaf(const MailPart &part)
{
    return {part.kind == MailPart::Kind::Text ? part.contentType : std::string(), &part, {}};
}

// HTML: the plain text and the HTML as alternatives, the HTML related to its
// pictures; files that are no inline pictures of an HTML page follow the body
// in a multipart/mixed.
MimeNode MimeTree(const MailMessage &message)
{
    std::vector<const MailPart *> texts, pictures, files;
    for (const MailPart &part : message.parts) {
        if (part.kind == MailPart::Kind::Text)
            texts.push_back(&part);
        else if (!part.contentId.empty())
            pictures.push_back(&part);
        else
            files.push_back(&part);
    }
    if (texts.empty())
        return {"multipart/mixed", nullptr, {}};
    const bool html = texts.back()->contentType == "text/html";
    MimeNode body = Leaf(*texts.back());
    if (html && !pictures.empty()) {
        MimeNode related{"multipart/related", nullptr, {std::move(body)}};
        for (const MailPart *picture : pictures)
            related.children.push_back(Leaf(*picture));
        body = std::move(related);
        pictures.clear();
    }
    if (texts.size() > 1) {
        MimeNode alternative{"multipart/alternative", nullptr, {}};
        for (std::size_t i = 0; i + 1 < texts.size(); ++i)
            alternative.children.push_back(Leaf(*texts[i]));
        alternative.children.push_back(std::move(body));
        body = std::move(alternative);
    }
    files.insert(files.begin(), pictures.begin(), pictures.end());
    if (files.empty())
        return body;
    MimeNode mixed{"multipart/mixed", nullptr, {std::move(body)}};
    for (const MailPart *file : files)
        mixed.children.push_back(Leaf(*file));
    return mixed;
}

// The boundary of the multipart at depth: the message's own at the top, below
// it a digit and "_" in front, so no boundary starts with another.
std::string NestedBoundary(const std::string &boundary, int depth)
{
    return depth == 0 ? boundary : std::to_string(depth) + "_" + boundary;
}

void AppendNode(std::string &out, const MimeNode &node, const std::string &boundary, int depth);

// The children of a multipart, each after its delimiter line, then the close.
void AppendChildren(std::string &out, const MimeNode &node, const std::string &boundary, int depth)
{
    const std::string own = NestedBoundary(boundary, depth);
    for (const MimeNode &child : node.children) {
        out += "--";
        out += own;
        out += kCrLf;
        AppendNode(out, child, boundary, depth + 1);
        out += kCrLf;
    }
    out += "--";
    out += own;
    out += "--\r\n";
}

void AppendNode(std::string &out, const MimeNode &node, const std::string &boundary, int depth)
{
    if (node.part) {
        if (node.part->kind == MailPart::Kind::Text)
            AppendTextPart(out, *node.part);
        else
            AppendFilePart(out, *node.part);
        return;
    }
    out += "Content-Type: ";
    out += node.type;
    out += ";\r\n\tboundary=\"";
    out += NestedBoundary(boundary, depth);
    out += "\"\r\n\r\n";
    AppendChildren(out, node, boundary, depth);
}

} // namespace

const std::array<std::string, kMergeTagCount> &MergeTagLabels()
{
    static const std::array<std::string, kMergeTagCount> labels = {
        Sjis("送信先名"), Sjis("敬称"),   Sjis("メールアドレス"), Sjis("差込１"), Sjis("差込２"),
        Sjis("差込３"),   Sjis("差込４"), Sjis("差込５"),         Sjis("差込６"), Sjis("差込７"),
        Sjis("差込８"),   Sjis("差込９"), Sjis("差込１０"),
    };
    return labels;
}

std::string MakeMergeTag(std::string_view label)
{
    std::string tag = "<#-";
    tag += label;
    tag += "->";
    return tag;
}

const std::array<std::string, kMergeTagCount> &MergeTags()
{
    static const std::array<std::string, kMergeTagCount> tags = [] {
        std::array<std::string, kMergeTagCount> t;
        for (int i = 0; i < kMergeTagCount; ++i)
            t[i] = MakeMergeTag(MergeTagLabels()[i]);
        return t;
    }();
    return tags;
}

std::string ApplyMergeTags(std::string_view text, const Recipient &recipient)
{
    std::string result(text);
    // No tag can match in a text without "<#-"; nothing would be inserted.
    if (result.find("<#-") == std::string::npos)
        return result;
    const auto &tags = MergeTags();
    for (int i = 0; i < kMergeTagCount; ++i)
        result = ReplaceAll(result, tags[i], recipient.fields[i]);
    return result;
}

MailMessage BuildMailMessage(const SendJob &job, const SenderAccount &account,
                             const std::vector<std::string> &to, const std::vector<std::string> &cc,
                             const std::vector<std::string> &bcc, const Recipient *recipient)
{
    const TPzConv conv;
    MailMessage message;

    auto stripAll = [](const std::vector<std::string> &list) {
        std::vector<std::string> out;
        out.reserve(list.size());
        for (const std::string &s : list)
            out.push_back(StripLineBreaks(s));
        return out;
    };
    // Subject and body, personalised when a recipient is given.
    const std::string subject =
        StripLineBreaks(recipient ? ApplyMergeTags(job.subject, *recipient) : job.subject);
    const std::string body = recipient ? ApplyMergeTags(job.body, *recipient) : job.body;
    {
        const UserDefinedCheck check(RecipientText(recipient, to, cc, bcc), recipient);
        check.Check(subject, "件名", job.subject);
        check.Check(account.SenderName, "送信元「" + SjisToUtf8(account.ConfName) + "」の送信者名");
        check.Check(body, "本文", job.body);
        for (const std::string &name : job.attachments)
            check.Check(name, "添付ファイル名");
        for (const std::string &name : job.inlinePictures)
            check.Check(name, "画像ファイル名");
    }

    message.fromAddress = StripLineBreaks(account.FromAddress);
    message.envelopeSender = message.fromAddress;
    message.to = stripAll(to);
    message.cc = stripAll(cc);
    message.bcc = stripAll(bcc);

    message.subject = MakeHeaderText(conv, subject, kSubjectWords, [](std::string_view t) {
        return std::string_view("Subject: ").size() + t.size();
    });

    // From: the display name, or the address itself when there is none.
    {
        const std::string name = StripLineBreaks(account.SenderName);
        const std::size_t addressLength = message.fromAddress.size();
        message.fromName = MakeHeaderText(
            conv, name.empty() ? std::string_view(message.fromAddress) : std::string_view(name),
            kFromWords, [addressLength](std::string_view t) {
                // From: "name" <address>
                return std::string_view("From: \"\" <>").size() + EscapeQuoted(t).size() +
                       addressLength;
            });
    }

    message.replyTo = StripLineBreaks(account.ReturnAddress);
    message.messageId = NewMessageId(message.fromAddress);

    if (job.listUnsubscribe) {
        const std::string reply = StripLineBreaks(account.ReturnAddress);
        std::string request = "unsubscribe";
        if (recipient)
            request += " <" + StripLineBreaks(recipient->Address()) + ">";
        message.listUnsubscribe.push_back(
            "mailto:" + (reply.empty() ? message.fromAddress : reply) +
            "?subject=" + PercentEncode(request));
        if (!job.unsubscribeUrl.empty()) {
            if (std::string problem = UnsubscribeUrlProblem(job.unsubscribeUrl); !problem.empty())
                throw VostrelError(problem);
            message.listUnsubscribe.push_back(job.unsubscribeUrl);
            message.oneClick = true;
        }
        message.listId = ListIdOf(message.fromAddress);
    }

    const fs::path work = WorkFolder();
    auto filePart = [&](const fs::path &path, const std::string &name) {
        MailPart part;
        part.kind = MailPart::Kind::File;
        part.path = path;
        part.contentType = MimeTypeOfFileName(path.filename().native());
        part.fileName = MakeFileNameText(conv, StripLineBreaks(name));
        return part;
    };
    auto checkName = [](const std::string &name, bool picture) {
        if (!IsPlainName(name))
            throw VostrelError(BadNameText(picture, name));
    };
    // A file that is gone or cannot be read fails the mail: it is never sent
    // without it.
    auto checkFile = [](const fs::path &path, const std::string &name, bool picture) {
        std::string reason;
        switch (StateOf(path, reason)) {
        case FileState::Readable:
            return;
        case FileState::Missing:
            throw FileError(path, std::string(FileKind(picture)) + "「" + SjisToUtf8(name) +
                                      "」が見つかりません: " + path.string());
        case FileState::Unreadable:
            throw FileError(path, std::string(FileKind(picture)) + "「" + SjisToUtf8(name) +
                                      "」を読み込めません: " + path.string() + "\n" + reason);
        }
    };

    for (const std::string &name : job.attachments)
        checkName(name, false);
    for (const std::string &name : job.inlinePictures)
        checkName(name, true);

    // The text parts: the text; or for HTML the plain text made from the page,
    // then the page declaring the charset it travels in.
    if (job.sendAsHtml) {
        message.parts.push_back(MakeTextPart(conv, "text/plain", HtmlToPlainText(body)));
        message.parts.push_back(
            MakeTextPart(conv, "text/html", DeclareHtmlCharset(body, kMailCharset)));
    } else {
        message.parts.push_back(MakeTextPart(conv, "text/plain", body));
    }

    for (const std::string &name : job.inlinePictures) {
        const fs::path path = work / layout::kHtmlImage / FileNameOf(name);
        checkFile(path, name, true);
        MailPart part = filePart(path, name);
        part.contentId = StripLineBreaks(name);
        message.parts.push_back(std::move(part));
    }

    for (const std::string &name : job.attachments) {
        const fs::path path = work / layout::kAppendedImage / FileNameOf(name);
        checkFile(path, name, false);
        message.parts.push_back(filePart(path, name));
    }

    message.topType = MimeTree(message).type;
    return message;
}

std::string WriteMimeMessage(const MailMessage &message, const MimeWriteOptions &options)
{
    const MimeNode tree = MimeTree(message);
    const bool multipart = tree.part == nullptr;
    const std::string &boundary = options.boundary.empty() ? MimeBoundary() : options.boundary;

    std::string out;
    std::size_t estimate = 1024;
    for (const MailPart &part : message.parts)
        for (const std::string &line : part.bodyLines)
            estimate += line.size() + 2;
    out.reserve(estimate + estimate / 3);

    out += "MIME-Version: 1.0\r\n";

    if (!message.fromName.Empty() || !message.fromAddress.empty()) {
        out += "From: ";
        if (message.fromName.encoded) {
            AppendWords(out, message.fromName.words, kHeaderFold);
            const std::vector<std::string> &words = message.fromName.words;
            const std::size_t lastLine =
                (words.size() == 1 ? std::string_view("From: ").size() : 1) + words.back().size();
            // " <address>" behind the last word, or on a line of its own.
            if (lastLine + 3 + message.fromAddress.size() > kEncodedLineLimit)
                out += kHeaderFold;
            else
                out += ' ';
        } else if (!message.fromName.Empty()) {
            out += '"';
            AppendQuotedContent(out, message.fromName, kHeaderFold);
            out += "\" ";
        }
        out += '<';
        out += message.fromAddress;
        out += ">\r\n";
    }

    if (!message.subject.Empty()) {
        out += "Subject: ";
        AppendWords(out, message.subject.words, kHeaderFold);
        out += kCrLf;
    }

    AppendAddressLine(out, "To", message.to);
    AppendAddressLine(out, "Cc", message.cc);

    if (multipart) {
        out += "Content-Type: ";
        out += tree.type;
        out += ";\r\n\tcharset=\"ISO-2022-jp\"; boundary=\"";
        out += boundary;
        out += "\"\r\nContent-Transfer-Encoding: 7bit\r\n";
    }

    if (!message.replyTo.empty()) {
        out += "Reply-To: ";
        out += message.replyTo;
        out += kCrLf;
    }

    out += "Date: ";
    out += FormatMailDate(options.time ? *options.time : std::chrono::system_clock::now());
    out += kCrLf;

    if (!message.messageId.empty()) {
        out += "Message-ID: ";
        out += message.messageId;
        out += kCrLf;
    }

    if (!message.listId.empty()) {
        out += "List-Id: <";
        out += message.listId;
        out += ">\r\n";
    }
    if (!message.listUnsubscribe.empty()) {
        out += "List-Unsubscribe: ";
        for (std::size_t i = 0; i < message.listUnsubscribe.size(); ++i) {
            if (i > 0) {
                out += ',';
                out += kHeaderFold;
            }
            out += '<';
            out += message.listUnsubscribe[i];
            out += '>';
        }
        out += kCrLf;
        if (message.oneClick)
            out += "List-Unsubscribe-Post: List-Unsubscribe=One-Click\r\n";
    }

    if (!multipart) {
        AppendTextPart(out, *tree.part);
        return out;
    }

    out += "\r\nThis is a multi-part message in MIME format\r\n\r\n";
    AppendChildren(out, tree, boundary, 0);
    out += kCrLf;
    return out;
}

std::string MimeTypeOfFileName(const std::string &fileNameUtf8)
{
    static const QMimeDatabase database;
    const QMimeType type = database.mimeTypeForFile(QString::fromStdString(fileNameUtf8),
                                                    QMimeDatabase::MatchExtension);
    const QString name = type.isValid() && !type.isDefault()
                             ? type.name()
                             : QStringLiteral("application/octet-stream");
    return name.toStdString();
}

std::string MakeMimeBoundary()
{
    static constexpr char kChars[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    constexpr int kRandomChars = 32;
    auto &engine = RandomEngine();
    std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof kChars) - 2);
    std::string boundary;
    boundary.reserve(kRandomChars + 2);
    for (int i = 0; i < kRandomChars; ++i)
        boundary += kChars[pick(engine)];
    std::uniform_int_distribution<int> position(0, kRandomChars);
    boundary.insert(static_cast<std::size_t>(position(engine)), "=_");
    return boundary;
}

const std::string &MimeBoundary()
{
    static const std::string boundary = MakeMimeBoundary();
    return boundary;
}

std::string NewMessageId(std::string_view fromAddress)
{
    static std::atomic<unsigned long long> counter{0};
    std::string domain;
    const std::string address = StripLineBreaks(fromAddress);
    if (const auto at = address.rfind('@'); at != std::string::npos)
        domain = address.substr(at + 1);
    if (!IsDomainText(domain)) {
        char host[256] = {};
        if (::gethostname(host, sizeof host - 1) == 0 && IsDomainText(host))
            domain = host;
        else
            domain = "localhost";
    }
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char id[96];
    std::snprintf(id, sizeof id, "%04d%02d%02d%02d%02d%02d.%016llx.%llu", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<unsigned long long>(RandomEngine()()), ++counter);
    std::string result = "<";
    result += id;
    result += '@';
    result += domain;
    result += '>';
    return result;
}

std::string FormatMailDate(std::chrono::system_clock::time_point time)
{
    static constexpr const char *kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char *kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t t = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    ::localtime_r(&t, &local);
    const long offset = local.tm_gmtoff;
    const long minutes = std::labs(offset) / 60;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                  kDays[local.tm_wday], local.tm_mday, kMonths[local.tm_mon], local.tm_year + 1900,
                  local.tm_hour, local.tm_min, local.tm_sec, offset < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    return text;
}

std::string UnsubscribeUrlProblem(std::string_view url)
{
    if (url.empty())
        return {};
    bool ok = url.size() > 8;
    for (std::size_t i = 0; ok && i < 8; ++i)
        ok = std::tolower(static_cast<unsigned char>(url[i])) == "https://"[i];
    ok = ok && url[8] != '/';
    for (unsigned char c : url)
        ok = ok && c > 0x20 && c < 0x7F && c != '<' && c != '>' && c != '"';
    if (ok)
        return {};
    return "配信停止のアドレスには https:// で始まるURLを入力してください: " +
           SjisToUtf8(StripLineBreaks(url));
}

std::string JobFilesProblem(const SendJob &job)
{
    const fs::path work = WorkFolder();
    auto problem = [&](const std::string &name, bool picture) -> std::string {
        if (!IsPlainName(name))
            return BadNameText(picture, name);
        const fs::path path =
            work / (picture ? layout::kHtmlImage : layout::kAppendedImage) / FileNameOf(name);
        const std::string again = picture ? "画像を挿入し直してください" : "添付し直してください";
        std::string reason;
        switch (StateOf(path, reason)) {
        case FileState::Readable:
            return {};
        case FileState::Missing:
            return std::string(FileKind(picture)) + "「" + SjisToUtf8(name) +
                   "」が見つからないため、送信を始められません。" + again + "\r\n" + path.string();
        case FileState::Unreadable:
            return std::string(FileKind(picture)) + "「" + SjisToUtf8(name) +
                   "」を読み込めないため、送信を始められません。" + again + "\r\n" + path.string() +
                   "\r\n" + reason;
        }
        return {};
    };
    for (const std::string &name : job.attachments)
        if (std::string text = problem(name, false); !text.empty())
            return text;
    for (const std::string &name : job.inlinePictures)
        if (std::string text = problem(name, true); !text.empty())
            return text;
    return {};
}

} // namespace vostrel

#include "send/BounceRecognizer.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <iconv.h>
#include <optional>
#include <utility>

namespace vostrel {

namespace {

std::string Lower(std::string_view text)
{
    std::string out(text);
    for (char &c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view Trim(std::string_view text)
{
    constexpr std::string_view kSpace = " \t\r\n";
    const auto first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

// Spaces (also the full-width one) and line breaks trimmed from both ends.
std::string TrimWide(std::string_view text)
{
    constexpr std::string_view kWideSpace = "\xE3\x80\x80";
    for (;;) {
        const std::string_view before = text;
        text = Trim(text);
        if (text.starts_with(kWideSpace))
            text.remove_prefix(kWideSpace.size());
        if (text.ends_with(kWideSpace))
            text.remove_suffix(kWideSpace.size());
        if (text == before)
            return std::string(text);
    }
}

// Runs of white space made one space, cut to a length a row can show.
std::string OneLine(std::string_view text)
{
    constexpr std::size_t kMax = 300;
    std::string out;
    bool space = false;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            space = !out.empty();
            continue;
        }
        if (space)
            out += ' ';
        space = false;
        out += c;
    }
    if (out.size() > kMax) {
        std::size_t end = kMax;
        while (end > 0 && (static_cast<unsigned char>(out[end]) & 0xC0) == 0x80)
            --end;
        out.resize(end);
        out += "…";
    }
    return out;
}

// ---- MIME ------------------------------------------------------------------

struct Entity
{
    std::vector<std::pair<std::string, std::string>> headers; // lower-case name, unfolded value
    std::string body;                                         // as transferred

    std::optional<std::string> Header(std::string_view name) const
    {
        for (const auto &[key, value] : headers)
            if (key == name)
                return value;
        return std::nullopt;
    }
};

// Splits the headers (unfolded) from the body; line ends are LF only.
Entity ParseEntity(std::string_view text)
{
    Entity entity;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto end = text.find('\n', pos);
        const std::string_view line =
            text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        pos = end == std::string_view::npos ? text.size() : end + 1;
        if (line.empty())
            break;
        if ((line[0] == ' ' || line[0] == '\t') && !entity.headers.empty()) {
            entity.headers.back().second += ' ';
            entity.headers.back().second += Trim(line);
            continue;
        }
        const auto colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) {
            // Not a header: the body starts here (a bounce without headers).
            pos -= line.size() + (end == std::string_view::npos ? 0 : 1);
            break;
        }
        entity.headers.emplace_back(Lower(Trim(line.substr(0, colon))),
                                    std::string(Trim(line.substr(colon + 1))));
    }
    entity.body = std::string(text.substr(std::min(pos, text.size())));
    return entity;
}

struct ContentType
{
    std::string type = "text/plain"; // lower case
    std::vector<std::pair<std::string, std::string>> params;

    std::string Param(std::string_view name) const
    {
        for (const auto &[key, value] : params)
            if (key == name)
                return value;
        return {};
    }
};

ContentType ParseContentType(const std::optional<std::string> &value)
{
    ContentType result;
    if (!value)
        return result;
    std::vector<std::string> pieces;
    std::string current;
    bool quoted = false;
    for (char c : *value) {
        if (c == '"')
            quoted = !quoted;
        else if (c == ';' && !quoted)
            pieces.push_back(std::exchange(current, {}));
        else
            current += c;
    }
    pieces.push_back(current);
    const std::string type = Lower(Trim(pieces[0]));
    if (type.find('/') != std::string::npos)
        result.type = type;
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const auto eq = pieces[i].find('=');
        if (eq == std::string::npos)
            continue;
        result.params.emplace_back(Lower(Trim(std::string_view(pieces[i]).substr(0, eq))),
                                   std::string(Trim(std::string_view(pieces[i]).substr(eq + 1))));
    }
    return result;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string DecodeQuotedPrintable(std::string_view text, bool underscoreIsSpace)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '_' && underscoreIsSpace) {
            out += ' ';
        } else if (c == '=' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i; // soft line break
        } else if (c == '=' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
                   HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

std::string DecodeBase64(std::string_view text)
{
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (char c : text) {
        int value;
        if (c >= 'A' && c <= 'Z')
            value = c - 'A';
        else if (c >= 'a' && c <= 'z')
            value = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            value = c - '0' + 52;
        else if (c == '+')
            value = 62;
        else if (c == '/')
            value = 63;
        else
            continue; // padding, line breaks
        bits = (bits << 6) | static_cast<unsigned>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

std::string DecodeTransfer(const Entity &entity)
{
    const std::string encoding =
        Lower(Trim(entity.Header("content-transfer-encoding").value_or("")));
    if (encoding == "base64")
        return DecodeBase64(entity.body);
    if (encoding == "quoted-printable")
        return DecodeQuotedPrintable(entity.body, false);
    return entity.body;
}

// Every part of a multipart body, in order.
std::vector<std::string_view> SplitMultipart(std::string_view body, const std::string &boundary)
{
    std::vector<std::string_view> parts;
    if (boundary.empty())
        return parts;
    const std::string dashes = "--" + boundary;
    std::size_t start = std::string_view::npos;
    std::size_t pos = 0;
    while (pos < body.size()) {
        const auto end = body.find('\n', pos);
        const std::size_t next = end == std::string_view::npos ? body.size() : end + 1;
        const std::string_view line = Trim(body.substr(pos, next - pos));
        if (line.starts_with(dashes)) {
            if (start != std::string_view::npos)
                parts.push_back(body.substr(start, pos - start));
            if (line.substr(dashes.size()).starts_with("--"))
                return parts;
            start = next;
        }
        pos = next;
    }
    if (start != std::string_view::npos && start < body.size())
        parts.push_back(body.substr(start));
    return parts;
}

struct Leaf
{
    ContentType type;
    std::string content;       // transfer encoding removed
    bool attachedMail = false; // message/rfc822 or text/rfc822-headers
};

void CollectLeaves(const Entity &entity, std::vector<Leaf> &out, int depth = 0)
{
    const ContentType type = ParseContentType(entity.Header("content-type"));
    if (type.type.starts_with("multipart/") && depth < 8) {
        for (std::string_view part : SplitMultipart(entity.body, type.Param("boundary")))
            CollectLeaves(ParseEntity(part), out, depth + 1);
        return;
    }
    Leaf leaf;
    leaf.type = type;
    leaf.content = DecodeTransfer(entity);
    leaf.attachedMail = type.type == "message/rfc822" || type.type == "text/rfc822-headers" ||
                        type.type == "message/rfc822-headers";
    out.push_back(std::move(leaf));
}

std::string ToLf(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

// ---- addresses and codes -----------------------------------------------------

bool IsLocalChar(unsigned char c)
{
    return std::isalnum(c) || std::string_view(".!#$%&'*+/=?^_`{|}~-").find(static_cast<char>(c)) !=
                                  std::string_view::npos;
}

bool IsDomainChar(unsigned char c)
{
    return std::isalnum(c) || c == '.' || c == '-';
}

// The address at or after from, and where it ends.
std::optional<std::pair<std::string, std::size_t>> NextAddress(std::string_view text,
                                                               std::size_t from = 0)
{
    for (auto at = text.find('@', from); at != std::string_view::npos;
         at = text.find('@', at + 1)) {
        std::size_t begin = at;
        while (begin > 0 && IsLocalChar(static_cast<unsigned char>(text[begin - 1])))
            --begin;
        std::size_t end = at + 1;
        while (end < text.size() && IsDomainChar(static_cast<unsigned char>(text[end])))
            ++end;
        std::string_view local = text.substr(begin, at - begin);
        std::string_view domain = text.substr(at + 1, end - at - 1);
        while (domain.ends_with('.') || domain.ends_with('-'))
            domain.remove_suffix(1);
        while (local.starts_with('.'))
            local.remove_prefix(1);
        if (local.starts_with("mailto:"))
            local.remove_prefix(7);
        if (local.empty() || domain.find('.') == std::string_view::npos || domain.starts_with('.'))
            continue;
        return std::make_pair(Lower(local) + "@" + Lower(domain), at + 1 + domain.size());
    }
    return std::nullopt;
}

bool IsDaemonAddress(std::string_view address)
{
    const std::string local = Lower(address.substr(0, address.find('@')));
    for (std::string_view daemon :
         {"mailer-daemon", "postmaster", "mail-daemon", "mailer_daemon", "mail-delivery-system"})
        if (local == daemon)
            return true;
    return false;
}

// The class of an enhanced status code (2, 4 or 5) in text, or 0: "5.1.1",
// qmail's "#5.1.1", or an SMTP reply code "550" / "450".
int StatusClass(std::string_view text)
{
    for (std::size_t i = 0; i + 4 < text.size(); ++i) {
        const char c = text[i];
        if ((c == '2' || c == '4' || c == '5') && text[i + 1] == '.' &&
            std::isdigit(static_cast<unsigned char>(text[i + 2])) &&
            (i == 0 || !std::isalnum(static_cast<unsigned char>(text[i - 1])))) {
            std::size_t j = i + 2;
            while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j])))
                ++j;
            if (j + 1 < text.size() && text[j] == '.' &&
                std::isdigit(static_cast<unsigned char>(text[j + 1])))
                return c - '0';
        }
    }
    for (std::size_t i = 0; i + 2 < text.size(); ++i) {
        const char c = text[i];
        if ((c == '4' || c == '5') && std::isdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isdigit(static_cast<unsigned char>(text[i + 2])) &&
            (i == 0 || !std::isalnum(static_cast<unsigned char>(text[i - 1]))) &&
            (i + 3 == text.size() || text[i + 3] == ' ' || text[i + 3] == '-'))
            return c - '0';
    }
    return 0;
}

bool SaysTemporary(std::string_view text)
{
    const std::string lower = Lower(text);
    for (std::string_view word :
         {"temporar", "try again", "deferred", "delayed", "still being retried", "will be retried",
          "not yet been delivered", "一時的", "再送を試み", "遅延"})
        if (lower.find(word) != std::string::npos)
            return true;
    return false;
}

// ---- recognising ----------------------------------------------------------------

// The field blocks of a message/delivery-status body (the per-message block
// first, then one per recipient).
std::vector<Entity> StatusBlocks(std::string_view body)
{
    std::vector<Entity> blocks;
    std::string text = ToLf(body);
    std::size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && text[pos] == '\n')
            ++pos;
        if (pos >= text.size())
            break;
        auto end = text.find("\n\n", pos);
        if (end == std::string::npos)
            end = text.size();
        Entity block = ParseEntity(std::string_view(text).substr(pos, end - pos));
        blocks.push_back(std::move(block));
        pos = end;
    }
    return blocks;
}

// The text after "smtp;" (or another type) of a diagnostic field.
std::string_view AfterType(std::string_view value)
{
    const auto semicolon = value.find(';');
    return Trim(semicolon == std::string_view::npos ? value : value.substr(semicolon + 1));
}

void AddFinding(RecognizedMail &mail, Finding finding)
{
    for (const Finding &known : mail.findings)
        if (known.address == finding.address)
            return;
    mail.findings.push_back(std::move(finding));
}

bool ReadDeliveryStatus(const std::vector<Leaf> &leaves, RecognizedMail &mail)
{
    bool found = false;
    for (const Leaf &leaf : leaves) {
        if (leaf.type.type != "message/delivery-status")
            continue;
        found = true;
        const std::vector<Entity> blocks = StatusBlocks(leaf.content);
        for (std::size_t i = 1; i < blocks.size(); ++i) {
            const Entity &block = blocks[i];
            const std::string action = Lower(Trim(block.Header("action").value_or("")));
            if (action != "failed" && action != "delayed")
                continue;
            std::string address;
            for (const char *field : {"original-recipient", "final-recipient"})
                if (address.empty())
                    address = FindAddress(AfterType(block.Header(field).value_or("")));
            if (address.empty())
                continue;
            const std::string status(Trim(block.Header("status").value_or("")));
            const std::string diagnostic(AfterType(block.Header("diagnostic-code").value_or("")));
            Finding finding;
            finding.address = address;
            finding.kind = action == "delayed" || StatusClass(status) == 4 ? FindingKind::Temporary
                                                                           : FindingKind::Permanent;
            finding.reason = OneLine(diagnostic.empty() ? status : diagnostic);
            AddFinding(mail, std::move(finding));
        }
    }
    return found;
}

// Where the quoted original mail starts in a plain-text bounce.
std::size_t OriginalStart(std::string_view text)
{
    std::size_t cut = text.size();
    const std::string lower = Lower(text);
    for (std::string_view marker :
         {"--- below this line is a copy of the message", "------ this is a copy of the message",
          "--- original message", "-----original message-----", "original message follows",
          "the original message was received", "--- 元のメッセージ", "-----元のメッセージ",
          "以下、元のメッセージ", "\nreceived: ", "\nreturn-path: "})
        cut = std::min(cut, lower.find(marker) == std::string::npos ? cut : lower.find(marker));
    return cut;
}

std::size_t Indent(std::string_view line)
{
    const auto first = line.find_first_not_of(" \t");
    return first == std::string_view::npos ? line.size() : first;
}

// Failed addresses of a plain-text bounce, each with the reason that follows
// it: "<addr>: reason" (Postfix, qmail), an address alone on its line with the
// reason on the lines below (Exim, qmail, Japanese providers).
void ReadTextBounce(const std::string &text, const std::vector<std::string> &skip,
                    RecognizedMail &mail)
{
    const std::string_view human = std::string_view(text).substr(0, OriginalStart(text));
    std::vector<std::string_view> lines;
    for (std::size_t pos = 0; pos < human.size();) {
        const auto end = human.find('\n', pos);
        lines.push_back(
            human.substr(pos, end == std::string_view::npos ? human.size() - pos : end - pos));
        pos = end == std::string_view::npos ? human.size() : end + 1;
    }
    const bool wholeTemporary = SaysTemporary(human) && StatusClass(human) != 5;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto found = NextAddress(lines[i]);
        if (!found)
            continue;
        const std::string &address = found->first;
        if (IsDaemonAddress(address) || std::find(skip.begin(), skip.end(), address) != skip.end())
            continue;
        // The rest of the line after the address, past '>' and ':'.
        std::string_view rest = lines[i].substr(found->second);
        while (!rest.empty() && (rest[0] == '>' || rest[0] == ':' || rest[0] == ' '))
            rest.remove_prefix(1);
        std::string reason(Trim(rest));
        // The lines below up to the next empty one, or the next one that
        // names an address and is not indented deeper (a recipient of its own).
        const std::size_t indent = Indent(lines[i]);
        for (std::size_t j = i + 1; j < lines.size(); ++j) {
            const std::string_view next = Trim(lines[j]);
            if (next.empty() || (NextAddress(lines[j]) && Indent(lines[j]) <= indent))
                break;
            reason += reason.empty() ? "" : " ";
            reason += next;
            i = j;
        }
        // A line that only mentions an address in a sentence and has nothing
        // below it is not a failed recipient.
        if (reason.empty() && Trim(lines[i]).size() > address.size() + 2)
            continue;
        const int status = StatusClass(reason);
        Finding finding;
        finding.address = address;
        finding.kind = status == 4 || (status == 0 && (SaysTemporary(reason) || wholeTemporary))
                           ? FindingKind::Temporary
                           : FindingKind::Permanent;
        finding.reason = OneLine(reason);
        AddFinding(mail, std::move(finding));
    }
}

bool LooksLikeBounce(const Entity &top, const std::string &subject, const std::string &sender)
{
    if (!sender.empty() && IsDaemonAddress(sender))
        return true;
    if (Trim(top.Header("return-path").value_or("x")) == "<>")
        return true;
    const std::string lower = Lower(subject);
    for (std::string_view word :
         {"undeliver", "delivery status notification", "failure notice", "returned mail",
          "mail delivery failed", "delivery failure", "delayed mail", "不達", "配信エラー",
          "配送エラー", "送信エラー", "配送不能", "宛先不明", "エラーメール", "配信できません",
          "送信できません", "配信に失敗"})
        if (lower.find(word) != std::string::npos)
            return true;
    return false;
}

bool IsAutoReply(const Entity &top, const std::string &subject)
{
    const std::string submitted = Lower(Trim(top.Header("auto-submitted").value_or("no")));
    if (submitted != "no")
        return true;
    if (top.Header("x-autoreply") || top.Header("x-autorespond"))
        return true;
    const std::string precedence = Lower(Trim(top.Header("precedence").value_or("")));
    if (precedence == "auto_reply")
        return true;
    const std::string lower = Lower(subject);
    for (std::string_view start : {"auto:", "automatic reply", "auto-reply", "autoreply",
                                   "out of office", "vacation", "自動応答", "自動返信", "不在"})
        if (lower.starts_with(start))
            return true;
    return false;
}

// "unsubscribe", "unsubscribe <address>", "配信停止", "配信停止 <address>":
// the address named, the sender when none is; nothing for other subjects.
std::optional<std::string> UnsubscribeAddress(const std::string &subject, const std::string &sender)
{
    const std::string text = TrimWide(subject);
    for (std::string_view word : {"unsubscribe", "配信停止"}) {
        if (Lower(text.substr(0, word.size())) != word)
            continue;
        const std::string rest = TrimWide(std::string_view(text).substr(word.size()));
        if (rest.empty())
            return sender.empty() ? std::nullopt : std::optional<std::string>(sender);
        if (text.size() > word.size() &&
            std::isalnum(static_cast<unsigned char>(text[word.size()])))
            continue; // "unsubscribed", not the word
        std::string_view bare = rest;
        if (bare.starts_with('<') && bare.ends_with('>'))
            bare = bare.substr(1, bare.size() - 2);
        const std::string address = FindAddress(bare);
        if (!address.empty() && address.size() == bare.size())
            return address;
    }
    return std::nullopt;
}

// The Message-ID of the quoted original: from an attached mail's headers,
// else from a "Message-ID:" line in the text.
std::string QuotedMessageId(const std::vector<Leaf> &leaves)
{
    for (int pass = 0; pass < 2; ++pass) {
        for (const Leaf &leaf : leaves) {
            if ((pass == 0) != leaf.attachedMail)
                continue;
            const std::string text = ToLf(leaf.content);
            const std::string lower = Lower(text);
            for (auto at = lower.find("message-id:"); at != std::string::npos;
                 at = lower.find("message-id:", at + 1)) {
                if (at != 0 && lower[at - 1] != '\n' && lower[at - 1] != ' ')
                    continue;
                const auto open = text.find('<', at);
                const auto close = text.find('>', open);
                const auto lineEnd = text.find('\n', at);
                if (open == std::string::npos || close == std::string::npos ||
                    (lineEnd != std::string::npos && close > lineEnd + 200))
                    continue;
                return text.substr(open, close - open + 1);
            }
        }
    }
    return {};
}

std::string ConvertWithIconv(std::string_view bytes, const char *from)
{
    iconv_t cd = iconv_open("UTF-8", from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::string(bytes);
    std::string out;
    std::string input(bytes);
    char *in = input.data();
    std::size_t inLeft = input.size();
    std::array<char, 4096> buffer;
    while (inLeft > 0) {
        char *outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        const std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer.data(), buffer.size() - outLeft);
        if (rc == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            // A byte that does not convert: shown as "?", and on.
            out += '?';
            ++in;
            --inLeft;
        }
    }
    char *outPtr = buffer.data();
    std::size_t outLeft = buffer.size();
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer.data(), buffer.size() - outLeft);
    iconv_close(cd);
    return out;
}

std::string LeafText(const Leaf &leaf)
{
    return ToLf(ToUtf8(leaf.content, leaf.type.Param("charset")));
}

} // namespace

std::string ToUtf8(std::string_view bytes, std::string_view charset)
{
    const std::string label = Lower(Trim(charset));
    if (label.empty() || label == "us-ascii" || label == "utf-8" || label == "utf8")
        return std::string(bytes);
    if (label == "shift_jis" || label == "shift-jis" || label == "x-sjis" || label == "sjis" ||
        label == "windows-31j" || label == "cp932")
        return ConvertWithIconv(bytes, "CP932");
    if (label == "iso-2022-jp")
        return ConvertWithIconv(bytes, "ISO-2022-JP-3");
    return ConvertWithIconv(bytes, label.c_str());
}

std::string DecodeHeaderText(std::string_view value)
{
    std::string out;
    std::size_t pos = 0;
    bool lastWasWord = false;
    std::string pendingSpace;
    while (pos < value.size()) {
        const auto start = value.find("=?", pos);
        std::size_t q1, q2, end;
        if (start == std::string_view::npos ||
            (q1 = value.find('?', start + 2)) == std::string_view::npos ||
            (q2 = value.find('?', q1 + 1)) == std::string_view::npos || q2 != q1 + 2 ||
            (end = value.find("?=", q2 + 1)) == std::string_view::npos) {
            out += pendingSpace;
            out += value.substr(pos);
            break;
        }
        const std::string_view between = value.substr(pos, start - pos);
        // White space between two encoded-words is not part of the text.
        if (!(lastWasWord && Trim(between).empty()))
            out += between;
        std::string charset(value.substr(start + 2, q1 - start - 2));
        if (const auto star = charset.find('*'); star != std::string::npos)
            charset.resize(star); // a language tag
        const char encoding =
            static_cast<char>(std::toupper(static_cast<unsigned char>(value[q1 + 1])));
        const std::string_view payload = value.substr(q2 + 1, end - q2 - 1);
        const std::string bytes =
            encoding == 'B' ? DecodeBase64(payload) : DecodeQuotedPrintable(payload, true);
        out += ToUtf8(bytes, charset);
        lastWasWord = true;
        pos = end + 2;
    }
    return out;
}

std::string FindAddress(std::string_view text)
{
    const auto found = NextAddress(text);
    return found ? found->first : std::string();
}

RecognizedMail RecognizeMail(std::string_view raw)
{
    const std::string text = ToLf(raw);
    const Entity top = ParseEntity(text);
    RecognizedMail mail;
    mail.sender = FindAddress(top.Header("from").value_or(""));
    const std::string subject = DecodeHeaderText(top.Header("subject").value_or(""));

    std::vector<Leaf> leaves;
    CollectLeaves(top, leaves);
    if (ReadDeliveryStatus(leaves, mail) || LooksLikeBounce(top, subject, mail.sender)) {
        if (mail.findings.empty()) {
            // The addresses of the bounce itself are not the failed ones.
            std::vector<std::string> skip{mail.sender};
            for (const char *field : {"to", "delivered-to", "x-original-to"})
                if (const auto value = top.Header(field))
                    skip.push_back(FindAddress(*value));
            for (const Leaf &leaf : leaves)
                if (leaf.type.type.starts_with("text/") && !leaf.attachedMail &&
                    leaf.type.type != "text/html") {
                    ReadTextBounce(LeafText(leaf), skip, mail);
                    break;
                }
        }
        if (!mail.findings.empty()) {
            mail.kind = MailKind::Bounce;
            mail.originalMessageId = QuotedMessageId(leaves);
            return mail;
        }
    }
    if (IsAutoReply(top, subject)) {
        mail.kind = MailKind::AutoReply;
        return mail;
    }
    if (const auto address = UnsubscribeAddress(subject, mail.sender)) {
        mail.kind = MailKind::Unsubscribe;
        mail.findings.push_back({*address, FindingKind::Unsubscribe,
                                 OneLine(subject.empty() ? std::string("unsubscribe") : subject)});
    }
    return mail;
}

} // namespace vostrel

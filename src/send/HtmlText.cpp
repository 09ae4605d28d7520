#include "send/HtmlText.h"

#include "core/SjisCodec.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace vostrel {
namespace {

bool IsLead(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

bool IsAlpha(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Lower(std::string_view text)
{
    std::string out(text);
    for (char &c : out)
        c = Lower(c);
    return out;
}

// Where needle (lower case) starts in text from `from` on, ignoring ASCII case.
std::size_t FindNoCase(std::string_view text, std::string_view needle, std::size_t from = 0)
{
    for (std::size_t i = from; i + needle.size() <= text.size(); ++i) {
        std::size_t k = 0;
        while (k < needle.size() && Lower(text[i + k]) == needle[k])
            ++k;
        if (k == needle.size())
            return i;
    }
    return std::string_view::npos;
}

struct Attribute
{
    std::string name;               // lower case
    std::size_t begin = 0, end = 0; // the raw value's place in the page
    bool quoted = false;
};

// One tag: the name in lower case, whether it closes, its attributes, and
// where it ends (after its '>').
struct Tag
{
    std::string name;
    bool closing = false;
    std::vector<Attribute> attributes;
    std::size_t end = 0;

    const Attribute *Find(std::string_view attribute) const
    {
        for (const Attribute &a : attributes)
            if (a.name == attribute)
                return &a;
        return nullptr;
    }
};

// The tag at html[at] == '<', or nothing when no tag starts there.
std::optional<Tag> ReadTag(std::string_view html, std::size_t at)
{
    std::size_t i = at + 1;
    Tag tag;
    if (i < html.size() && html[i] == '/') {
        tag.closing = true;
        ++i;
    }
    if (i >= html.size() || !IsAlpha(html[i]))
        return std::nullopt;
    while (i < html.size() && (IsAlpha(html[i]) || (html[i] >= '0' && html[i] <= '9')))
        tag.name += Lower(html[i++]);
    for (;;) {
        while (i < html.size() && (IsSpace(html[i]) || html[i] == '/'))
            ++i;
        if (i >= html.size()) {
            tag.end = html.size();
            return tag;
        }
        if (html[i] == '>') {
            tag.end = i + 1;
            return tag;
        }
        Attribute a;
        while (i < html.size() && !IsSpace(html[i]) && html[i] != '=' && html[i] != '>' &&
               html[i] != '/')
            a.name += Lower(html[i++]);
        while (i < html.size() && IsSpace(html[i]))
            ++i;
        if (i < html.size() && html[i] == '=') {
            ++i;
            while (i < html.size() && IsSpace(html[i]))
                ++i;
            if (i < html.size() && (html[i] == '"' || html[i] == '\'')) {
                const char quote = html[i++];
                a.quoted = true;
                a.begin = i;
                while (i < html.size() && html[i] != quote)
                    ++i;
                a.end = i;
                if (i < html.size())
                    ++i;
            } else {
                a.begin = i;
                while (i < html.size() && !IsSpace(html[i]) && html[i] != '>')
                    ++i;
                a.end = i;
            }
        } else {
            a.begin = a.end = i;
        }
        if (a.name.empty())
            ++i; // a stray character
        else
            tag.attributes.push_back(std::move(a));
    }
}

// The Shift_JIS form of a character; "?" when Shift_JIS has none.
std::string SjisOf(char32_t cp)
{
    if (cp == 0xA0)
        return " ";
    try {
        return Utf8ToSjis(CodePointToUtf8(cp), UserDefinedCharacters::Keep);
    } catch (const std::exception &) {
        return "?";
    }
}

struct NamedEntity
{
    std::string_view name;
    char32_t cp;
};
constexpr NamedEntity kEntities[] = {
    {"amp", U'&'},    {"lt", U'<'},    {"gt", U'>'},     {"quot", U'"'},  {"apos", U'\''},
    {"nbsp", 0xA0},   {"copy", U'©'},  {"reg", U'®'},    {"trade", U'™'}, {"yen", U'¥'},
    {"hellip", U'…'}, {"mdash", U'—'}, {"ndash", U'–'},  {"laquo", U'«'}, {"raquo", U'»'},
    {"middot", U'·'}, {"times", U'×'}, {"divide", U'÷'}, {"bull", U'•'},  {"lsquo", U'‘'},
    {"rsquo", U'’'},  {"ldquo", U'“'}, {"rdquo", U'”'},  {"euro", U'€'},  {"deg", U'°'},
    {"plusmn", U'±'}, {"sect", U'§'},  {"para", U'¶'},
};

// Text with its character references decoded.
std::string DecodeEntities(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (IsLead(c) && i + 1 < text.size()) {
            out.append(text, i, 2);
            i += 2;
            continue;
        }
        if (c != '&') {
            out += text[i++];
            continue;
        }
        const std::size_t semicolon = text.find(';', i);
        if (semicolon != std::string_view::npos && semicolon - i <= 10) {
            const std::string_view name = text.substr(i + 1, semicolon - i - 1);
            std::optional<char32_t> cp;
            if (name.size() > 1 && name[0] == '#') {
                const bool hex = name[1] == 'x' || name[1] == 'X';
                const std::string_view digits = name.substr(hex ? 2 : 1);
                char32_t value = 0;
                bool ok = !digits.empty();
                for (char d : digits) {
                    int v = d >= '0' && d <= '9'                        ? d - '0'
                            : hex && Lower(d) >= 'a' && Lower(d) <= 'f' ? Lower(d) - 'a' + 10
                                                                        : -1;
                    if (v < 0 || value > 0x10FFFF) {
                        ok = false;
                        break;
                    }
                    value = value * (hex ? 16 : 10) + static_cast<char32_t>(v);
                }
                if (ok && value > 0 && value <= 0x10FFFF)
                    cp = value;
            } else {
                for (const NamedEntity &e : kEntities)
                    if (e.name == name)
                        cp = e.cp;
            }
            if (cp) {
                out += SjisOf(*cp);
                i = semicolon + 1;
                continue;
            }
        }
        out += text[i++];
    }
    return out;
}

bool IsOneOf(const std::string &name, std::initializer_list<std::string_view> names)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The lines of the plain text as they come, before folding.
class PlainWriter
{
public:
    // Text outside <pre>: white space runs become one space.
    void Flowing(std::string_view text)
    {
        for (std::size_t i = 0; i < text.size();) {
            if (IsSpace(text[i])) {
                space_ = true;
                ++i;
                continue;
            }
            const std::size_t n = IsLead(static_cast<unsigned char>(text[i])) ? 2 : 1;
            Put(text.substr(i, n));
            i += n;
        }
    }

    // Text inside <pre>: kept as it is, line by line.
    void Preformatted(std::string_view text)
    {
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\r')
                continue;
            if (text[i] == '\n') {
                LineEnd();
                continue;
            }
            Start();
            line_ += text[i];
            AddToLink(text.substr(i, 1));
        }
    }

    // 1: the next text starts a new line; 2: after an empty line.
    void Break(int kind)
    {
        breaks_ = std::max(breaks_, kind);
        space_ = false;
    }

    // Ends the current line, even an empty one.
    void LineEnd()
    {
        Start();
        EndLine();
        space_ = false;
    }

    // Text that is not to be joined to what came before by a space.
    void Word(std::string_view text)
    {
        Put(text);
        space_ = false;
    }

    void StartLink(std::string href)
    {
        link_ = std::move(href);
        linkText_.clear();
    }

    void EndLink()
    {
        if (!link_)
            return;
        const std::string href = *link_;
        const std::string text = linkText_;
        link_.reset();
        const std::string lower = Lower(href);
        if (href.empty() || href[0] == '#' || lower.starts_with("javascript:") || text == href ||
            (lower.starts_with("mailto:") && text == href.substr(7)))
            return;
        if (text.empty()) {
            Put(href);
            return;
        }
        space_ = true;
        Put("(" + href + ")");
    }

    std::vector<std::string> Lines()
    {
        if (!line_.empty())
            EndLine();
        return std::move(lines_);
    }

private:
    void Start()
    {
        if (breaks_ > 0 && (!lines_.empty() || !line_.empty())) {
            EndLine();
            if (breaks_ > 1)
                lines_.emplace_back();
        }
        breaks_ = 0;
    }

    void Put(std::string_view text)
    {
        const bool atStart = breaks_ > 0 || line_.empty();
        Start();
        if (space_ && !atStart) {
            line_ += ' ';
            if (!linkText_.empty())
                AddToLink(" ");
        }
        space_ = false;
        line_ += text;
        AddToLink(text);
    }

    void AddToLink(std::string_view text)
    {
        if (link_)
            linkText_ += text;
    }

    void EndLine()
    {
        lines_.push_back(std::move(line_));
        line_.clear();
    }

    std::vector<std::string> lines_;
    std::string line_;
    int breaks_ = 0;
    bool space_ = false;
    std::optional<std::string> link_;
    std::string linkText_;
};

std::size_t Columns(std::string_view token)
{
    return token.size() == 2 && IsLead(static_cast<unsigned char>(token[0])) ? 2 : token.size();
}

// One line cut into lines of at most kPlainTextColumns where it can be.
void Fold(const std::string &line, std::vector<std::string> &out)
{
    std::size_t i = 0;
    std::string current;
    while (i < line.size() && line[i] == ' ')
        current += line[i++]; // indentation (from <pre>) is kept
    std::size_t width = current.size();
    const std::size_t indent = width;
    bool space = false;
    while (i < line.size()) {
        if (line[i] == ' ') {
            space = true;
            ++i;
            continue;
        }
        std::size_t n = 1;
        if (IsLead(static_cast<unsigned char>(line[i])))
            n = std::min<std::size_t>(2, line.size() - i);
        else if (static_cast<unsigned char>(line[i]) < 0x80)
            while (i + n < line.size() && line[i + n] != ' ' &&
                   static_cast<unsigned char>(line[i + n]) < 0x80)
                ++n;
        const std::string_view token(line.data() + i, n);
        i += n;
        const std::size_t w = Columns(token);
        if (current.size() > indent && width + (space ? 1 : 0) + w > kPlainTextColumns) {
            out.push_back(std::move(current));
            current.clear();
            width = 0;
            space = false;
        }
        if (space && width > 0) {
            current += ' ';
            ++width;
        }
        space = false;
        current += token;
        width += w;
    }
    out.push_back(std::move(current));
}

} // namespace

std::string HtmlToPlainText(std::string_view html)
{
    PlainWriter writer;
    int pre = 0;
    int cells = 0;
    for (std::size_t i = 0; i < html.size();) {
        if (html[i] != '<') {
            std::size_t next = html.find('<', i + 1);
            if (next == std::string_view::npos)
                next = html.size();
            const std::string text = DecodeEntities(html.substr(i, next - i));
            if (pre > 0)
                writer.Preformatted(text);
            else
                writer.Flowing(text);
            i = next;
            continue;
        }
        if (html.substr(i).starts_with("<!--")) {
            const std::size_t end = html.find("-->", i + 4);
            i = end == std::string_view::npos ? html.size() : end + 3;
            continue;
        }
        if (i + 1 < html.size() && (html[i + 1] == '!' || html[i + 1] == '?')) {
            const std::size_t end = html.find('>', i);
            i = end == std::string_view::npos ? html.size() : end + 1;
            continue;
        }
        const std::optional<Tag> tag = ReadTag(html, i);
        if (!tag) {
            writer.Flowing("<");
            ++i;
            continue;
        }
        i = tag->end;
        const std::string &name = tag->name;
        auto value = [&](std::string_view attribute) {
            const Attribute *a = tag->Find(attribute);
            return a ? DecodeEntities(html.substr(a->begin, a->end - a->begin)) : std::string();
        };
        if (!tag->closing && IsOneOf(name, {"head", "script", "style", "template", "title"})) {
            // Skipped with everything in it.
            const std::size_t end = FindNoCase(html, "</" + name, i);
            if (end == std::string_view::npos) {
                i = html.size();
            } else {
                const std::size_t close = html.find('>', end);
                i = close == std::string_view::npos ? html.size() : close + 1;
            }
            continue;
        }
        if (name == "br") {
            writer.LineEnd();
        } else if (name == "li" && !tag->closing) {
            writer.Break(1);
            static const std::string bullet = Utf8ToSjis("・");
            writer.Word(bullet);
        } else if (name == "a") {
            if (tag->closing)
                writer.EndLink();
            else if (tag->Find("href"))
                writer.StartLink(value("href"));
        } else if (name == "img" && !tag->closing) {
            const std::string alt = value("alt");
            if (!alt.empty())
                writer.Flowing(alt);
        } else if ((name == "td" || name == "th") && !tag->closing) {
            if (cells++ > 0)
                writer.Flowing(" ");
        } else if (name == "pre") {
            pre = tag->closing ? std::max(0, pre - 1) : pre + 1;
            writer.Break(1);
        } else if (IsOneOf(name, {"p", "h1", "h2", "h3", "h4", "h5", "h6"})) {
            writer.Break(2);
        } else if (IsOneOf(name, {"div",     "table",  "tr",         "ul",    "ol",      "dl",
                                  "dt",      "dd",     "blockquote", "hr",    "section", "article",
                                  "header",  "footer", "nav",        "aside", "address", "form",
                                  "center",  "figure", "figcaption", "main",  "body",    "li",
                                  "caption", "tbody",  "thead",      "tfoot"})) {
            writer.Break(1);
            if (name == "tr")
                cells = 0;
        }
    }

    std::vector<std::string> folded;
    for (const std::string &line : writer.Lines()) {
        std::string trimmed = line;
        while (!trimmed.empty() && trimmed.back() == ' ')
            trimmed.pop_back();
        Fold(trimmed, folded);
    }
    std::string out;
    bool empty = true; // the last line written was empty (or nothing is written)
    std::size_t pendingEmpty = 0;
    for (std::string &line : folded) {
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        if (line.empty()) {
            if (!empty)
                pendingEmpty = 1;
            continue;
        }
        if (!out.empty())
            out += "\r\n";
        if (pendingEmpty)
            out += "\r\n";
        pendingEmpty = 0;
        out += line;
        empty = false;
    }
    return out;
}

std::string DeclareHtmlCharset(std::string_view html, std::string_view charset)
{
    // The places to replace, in order.
    std::vector<std::pair<std::size_t, std::size_t>> values;
    std::optional<std::size_t> afterHead, afterHtml;
    for (std::size_t i = html.find('<'); i != std::string_view::npos; i = html.find('<', i + 1)) {
        if (html.substr(i).starts_with("<!--")) {
            const std::size_t end = html.find("-->", i + 4);
            if (end == std::string_view::npos)
                break;
            i = end;
            continue;
        }
        const std::optional<Tag> tag = ReadTag(html, i);
        if (!tag || tag->closing)
            continue;
        if (tag->name == "head" && !afterHead)
            afterHead = tag->end;
        if (tag->name == "html" && !afterHtml)
            afterHtml = tag->end;
        if (tag->name != "meta")
            continue;
        if (const Attribute *a = tag->Find("charset")) {
            values.emplace_back(a->begin, a->end);
            continue;
        }
        const Attribute *equiv = tag->Find("http-equiv");
        const Attribute *content = tag->Find("content");
        if (!equiv || !content ||
            Lower(html.substr(equiv->begin, equiv->end - equiv->begin)) != "content-type")
            continue;
        const std::string_view text = html.substr(content->begin, content->end - content->begin);
        const std::size_t at = FindNoCase(text, "charset=");
        if (at == std::string_view::npos)
            continue;
        std::size_t begin = at + 8, end = begin;
        while (end < text.size() && text[end] != ';' && !IsSpace(text[end]))
            ++end;
        values.emplace_back(content->begin + begin, content->begin + end);
    }
    std::string out;
    if (values.empty()) {
        const std::size_t at = afterHead ? *afterHead : afterHtml ? *afterHtml : 0;
        out.append(html.substr(0, at));
        out += "<meta charset=\"";
        out += charset;
        out += "\">";
        out.append(html.substr(at));
        return out;
    }
    std::size_t from = 0;
    for (const auto &[begin, end] : values) {
        out.append(html.substr(from, begin - from));
        out += charset;
        from = end;
    }
    out.append(html.substr(from));
    return out;
}

} // namespace vostrel

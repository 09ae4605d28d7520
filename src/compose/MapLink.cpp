#include "compose/MapLink.h"

#include "core/SjisCodec.h"

namespace vostrel {

const std::vector<std::string> &MapPrefectureItems()
{
    static const std::vector<std::string> items = [] {
        const char *const names[] = {
            "",       "北海道", "青森県", "岩手県", "宮城県", "秋田県", "山形県",   "福島県",
            "茨城県", "栃木県", "群馬県", "埼玉県", "千葉県", "東京都", "神奈川県", "新潟県",
            "富山県", "石川県", "福井県", "山梨県", "長野県", "岐阜県", "静岡県",   "愛知県",
            "三重県", "滋賀県", "京都府", "大阪府", "兵庫県", "奈良県", "和歌山県", "鳥取県",
            "島根県", "岡山県", "広島県", "山口県", "徳島県", "香川県", "愛媛県",   "高知県",
            "福岡県", "佐賀県", "長崎県", "熊本県", "大分県", "宮崎県", "鹿児島県", "沖縄県 "};
        std::vector<std::string> list;
        for (const char *name : names)
            list.push_back(Sjis(name));
        return list;
    }();
    return items;
}

const std::vector<std::string> &MapZoomItems()
{
    static const std::vector<std::string> items = [] {
        std::vector<std::string> list{""};
        for (int level = 0; level <= 20; ++level)
            list.push_back(std::to_string(level));
        return list;
    }();
    return items;
}

namespace {

bool StaysAsItIs(unsigned char c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return true;
    switch (c) {
    case '*':
    case '@':
    case '.':
    case '_':
    case '-':
    case '$':
    case '!':
    case '\'':
    case '(':
    case ')':
        return true;
    default:
        return false;
    }
}

} // namespace

std::string FormUrlEncode(std::string_view sjisText)
{
    static const char kHex[] = "0123456789ABCDEF";
    const std::string utf8 = SjisToUtf8(sjisText);
    std::string out;
    out.reserve(utf8.size() * 3);
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        if (StaysAsItIs(c)) {
            out += ch;
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
    return out;
}

bool IsEmptyAddress(const MapLinkRequest &request)
{
    return request.prefecture.empty() && request.city.empty() && request.rest.empty();
}

std::string BuildMapLink(const MapLinkRequest &request)
{
    std::string url(kMapServiceAddress);
    url += request.transit ? "?f=d" : "?f=q";
    url += "&hl=ja&geocode=&q=";
    url += FormUrlEncode(request.prefecture + request.city + request.rest);
    url += "&ie=UTF8";
    if (!request.zoom.empty())
        url += "&z=" + request.zoom;
    return url;
}

} // namespace vostrel

// The map link: the address of a map service page that shows a Japanese
// postal address, built as text (nothing is fetched).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vostrel {

// The service's page: https, its host and the path "/maps".
inline constexpr std::string_view kMapServiceAddress = "https://maps.google.co.jp/maps";

// The prefecture choices (Shift_JIS): an empty item, then the 47 prefectures
// from "北海道" to "沖縄県 " (the last with a trailing space).
const std::vector<std::string> &MapPrefectureItems();
// The zoom choices: an empty item, then "0" to "20".
const std::vector<std::string> &MapZoomItems();

// The address text (Shift_JIS) as UTF-8 bytes, each written as itself when
// it is a letter, a digit or one of * @ . _ - $ ! ' ( ), as "+" when it is a
// space, and as "%" + two upper-case hexadecimal digits otherwise.
std::string FormUrlEncode(std::string_view sjisText);

struct MapLinkRequest
{
    std::string prefecture; // Shift_JIS
    std::string city;       // Shift_JIS
    std::string rest;       // Shift_JIS: district, block number and the rest
    bool transit = false;   // show the service's public-transport guidance
    std::string zoom;       // "" or "0" to "20"
};

// True when prefecture, city and the rest are all empty: there is nothing
// to build a link from.
bool IsEmptyAddress(const MapLinkRequest &request);
// The URL: the service address, "?f=d" with transit or "?f=q" without,
// "&hl=ja&geocode=&q=", the encoded address (prefecture + city + rest,
// joined without a separator), "&ie=UTF8", and "&z=" + zoom when a zoom is
// chosen.
std::string BuildMapLink(const MapLinkRequest &request);

} // namespace vostrel

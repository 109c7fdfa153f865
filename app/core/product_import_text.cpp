#include "app/core/product_import_text.h"

#include <array>
#include <cstdio>
#include <map>

#include "dbf/calendar.h"
#include "dbf/char_tables.h"

namespace qm::catalog::import {

namespace {

// Windows-1252 at 0x80..0x9F; 0 where the code page has no character.
constexpr std::array<char32_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// One UTF-8 sequence at `at`: its length, or 0 when it is malformed
// (overlong forms, surrogates and values past U+10FFFF included).
std::size_t NextCodePoint(std::string_view s, std::size_t at, char32_t& c) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[at + i]); };
  const unsigned char lead = b(0);
  std::size_t length = lead < 0x80                   ? 1
                       : lead >= 0xC2 && lead < 0xE0 ? 2
                       : lead >= 0xE0 && lead < 0xF0 ? 3
                       : lead >= 0xF0 && lead < 0xF5 ? 4
                                                     : 0;
  if (length == 0 || at + length > s.size()) return 0;
  c = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((b(i) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (b(i) & 0x3F);
  }
  const bool overlong = (length == 3 && c < 0x800) || (length == 4 && c < 0x10000);
  if (overlong || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return 0;
  return length;
}

std::string Hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

// Code point -> code page 437 byte, for the upper half of the code page.
const std::map<char32_t, char>& Cp437Bytes() {
  static const std::map<char32_t, char> bytes = [] {
    std::map<char32_t, char> map;
    for (int b = 0x80; b <= 0xFF; ++b) {
      const std::string utf8 = dbf::Cp437ToUtf8(std::string(1, static_cast<char>(b)));
      char32_t c = 0;
      if (NextCodePoint(utf8, 0, c) == utf8.size()) map.emplace(c, static_cast<char>(b));
    }
    return map;
  }();
  return bytes;
}

}  // namespace

bool DecodeInput(std::string_view bytes, ImportEncoding encoding, std::string& utf8, std::string& why) {
  utf8.clear();
  if (encoding == ImportEncoding::kCp437) {
    utf8 = dbf::Cp437ToUtf8(bytes);  // every byte is a character there
    return true;
  }
  for (std::size_t at = 0; at < bytes.size();) {
    const unsigned char byte = static_cast<unsigned char>(bytes[at]);
    if (byte < 0x80) {
      utf8 += static_cast<char>(byte);
      ++at;
      continue;
    }
    if (encoding == ImportEncoding::kUtf8) {
      char32_t c = 0;
      const std::size_t length = NextCodePoint(bytes, at, c);
      if (length == 0) {
        why = "byte 0x" + Hex(byte, 2) + " after \"" + utf8 + "\" is not UTF-8";
        return false;
      }
      utf8.append(bytes.substr(at, length));
      at += length;
      continue;
    }
    char32_t c = byte;
    if (encoding == ImportEncoding::kCp1252 && byte < 0xA0) c = kCp1252High[byte - 0x80];
    if (c == 0) {
      why = "byte 0x" + Hex(byte, 2) + " is no character in cp1252";
      return false;
    }
    AppendUtf8(c, utf8);
    ++at;
  }
  return true;
}

bool ToCodePage437(std::string_view utf8, bool replace, std::string& cp437, std::size_t& replaced,
                   std::string& why) {
  cp437.clear();
  for (std::size_t at = 0; at < utf8.size();) {
    char32_t c = 0;
    const std::size_t length = NextCodePoint(utf8, at, c);
    if (length == 0) {
      why = "the text is not UTF-8";
      return false;
    }
    const auto found = Cp437Bytes().find(c);
    if (c < 0x80) {
      cp437 += static_cast<char>(c);
    } else if (found != Cp437Bytes().end()) {
      cp437 += found->second;
    } else if (replace) {
      cp437 += '?';
      ++replaced;
    } else {
      why = "\"" + std::string(utf8.substr(at, length)) + "\" (U+" + Hex(c, 4) +
            ") cannot be stored in the table's code page 437";
      return false;
    }
    at += length;
  }
  return true;
}

bool ParseImportDate(std::string_view text, int32_t& dayNumber, std::string& why) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  std::string groups[4];
  int count = 0;
  bool inGroup = false;
  for (char ch : text) {
    const bool digit = ch >= '0' && ch <= '9';
    if (digit && !inGroup) ++count;
    inGroup = digit;
    if (digit && count <= 3) groups[count - 1] += ch;
  }
  // The locale's order, learnt from how the engine shows 22 November 2033.
  const std::string shown = dbf::FormatDisplayDate(dbf::DayNumber(2033, 11, 22));
  const std::size_t year = shown.find("33") / 3, month = shown.find("11") / 3, day = shown.find("22") / 3;
  const char sep = shown.size() > 2 ? shown[2] : '/';
  std::string pattern[3];
  pattern[year] = "yyyy", pattern[month] = "mm", pattern[day] = "dd";
  const std::string locale = pattern[0] + sep + pattern[1] + sep + pattern[2];
  dayNumber = dbf::kNoDate;
  if (text.empty()) return true;
  if (count == 1 && groups[0].size() == 8 && groups[0].size() == text.size()) {
    dayNumber = dbf::ParseStoredDate(text);
  } else if (count == 3 && groups[0].size() == 4 && text.size() == 10 && text[4] == '-' && text[7] == '-') {
    dayNumber = dbf::DayNumber(std::stoi(groups[0]), std::stoi(groups[1]), std::stoi(groups[2]));
  } else if (count == 3 && groups[year].size() == 4 && groups[month].size() <= 2 && groups[day].size() <= 2) {
    dayNumber = dbf::DayNumber(std::stoi(groups[year]), std::stoi(groups[month]), std::stoi(groups[day]));
  } else {
    dayNumber = dbf::kInvalidDate;
  }
  if (dayNumber > 0) return true;
  why = "\"" + std::string(text) + "\" is not a date; write yyyy-mm-dd or " + locale + " (four-digit year)";
  return false;
}

std::string IsoDate(int32_t dayNumber) {
  int32_t year = 0, month = 0, day = 0;
  if (dayNumber <= 0 || !dbf::SplitDayNumber(dayNumber, year, month, day)) return {};
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", static_cast<int>(year), static_cast<int>(month),
                static_cast<int>(day));
  return text;
}

}  // namespace qm::catalog::import

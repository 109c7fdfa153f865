#include "dbf/char_tables.h"

#include <algorithm>
#include <array>
#include <utility>

namespace qm::dbf {
namespace {

// Unicode code points of bytes 0x80-0xFF.
constexpr char16_t kHighHalf[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// Code point -> byte for the high half, sorted by code point.
using ReverseTable = std::array<std::pair<char16_t, uint8_t>, 128>;
const ReverseTable& Reverse() {
  static const ReverseTable table = [] {
    ReverseTable t{};
    for (int i = 0; i < 128; ++i) t[i] = {kHighHalf[i], static_cast<uint8_t>(0x80 + i)};
    std::sort(t.begin(), t.end());
    return t;
  }();
  return table;
}

struct CaseTables {
  uint8_t upper[256];
  uint8_t lower[256];
};

const CaseTables& Cases() {
  static const CaseTables tables = [] {
    CaseTables t{};
    for (int i = 0; i < 256; ++i) t.upper[i] = t.lower[i] = static_cast<uint8_t>(i);
    for (int c = 'a'; c <= 'z'; ++c) {
      t.upper[c] = static_cast<uint8_t>(c - 32);
      t.lower[c - 32] = static_cast<uint8_t>(c);
    }
    constexpr uint8_t kUpper[][2] = {
        {0x81, 0x9A}, {0x82, 0x45}, {0x83, 0x41}, {0x84, 0x8E}, {0x85, 0x41},
        {0x86, 0x8F}, {0x87, 0x80}, {0x88, 0x45}, {0x89, 0x45}, {0x8A, 0x45},
        {0x8B, 0x49}, {0x8C, 0x49}, {0x8D, 0x49}, {0x91, 0x92}, {0x93, 0x4F},
        {0x94, 0x99}, {0x95, 0x4F}, {0x96, 0x55}, {0x97, 0x55}, {0x98, 0x59},
        {0xA0, 0x41}, {0xA1, 0x49}, {0xA2, 0x4F}, {0xA3, 0x55}, {0xA4, 0xA5}};
    for (const auto& pair : kUpper) t.upper[pair[0]] = pair[1];
    constexpr uint8_t kLower[][2] = {{0x80, 0x87}, {0x8E, 0x84}, {0x8F, 0x86}, {0x90, 0x82},
                                     {0x92, 0x91}, {0x99, 0x94}, {0x9A, 0x81}, {0xA5, 0xA4}};
    for (const auto& pair : kLower) t.lower[pair[0]] = pair[1];
    return t;
  }();
  return tables;
}

void AppendCodePoint(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

uint8_t ByteForCodePoint(uint32_t cp) {
  if (cp < 0x80) return static_cast<uint8_t>(cp);
  const ReverseTable& table = Reverse();
  auto it = std::lower_bound(table.begin(), table.end(), cp,
                             [](const auto& entry, uint32_t value) { return entry.first < value; });
  return (it != table.end() && it->first == cp) ? it->second : '?';
}

// Decodes one UTF-8 sequence at text[pos]; advances pos. Malformed: 0xFFFFFFFF.
uint32_t DecodeUtf8(std::string_view text, size_t& pos) {
  const auto lead = static_cast<uint8_t>(text[pos++]);
  if (lead < 0x80) return lead;
  int extra = lead >= 0xF0 && lead < 0xF5 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 ? 1 : -1;
  if (lead >= 0xF5) extra = -1;
  if (extra < 0) return 0xFFFFFFFFu;
  uint32_t cp = lead & (0x3F >> extra);
  for (int i = 0; i < extra; ++i) {
    if (pos >= text.size() || (static_cast<uint8_t>(text[pos]) & 0xC0) != 0x80) return 0xFFFFFFFFu;
    cp = (cp << 6) | (static_cast<uint8_t>(text[pos++]) & 0x3F);
  }
  const uint32_t minimum = extra == 1 ? 0x80 : extra == 2 ? 0x800 : 0x10000;
  return cp < minimum ? 0xFFFFFFFFu : cp;
}

}  // namespace

uint8_t UpperCase437(uint8_t c) { return Cases().upper[c]; }
uint8_t LowerCase437(uint8_t c) { return Cases().lower[c]; }

std::string UpperCase437(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(UpperCase437(static_cast<uint8_t>(c)));
  return out;
}

void AppendCp437AsUtf8(std::string_view text, std::string& out) {
  for (char c : text) {
    const auto byte = static_cast<uint8_t>(c);
    if (byte < 0x80)
      out += c;
    else
      AppendCodePoint(kHighHalf[byte - 0x80], out);
  }
}

std::string Cp437ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendCp437AsUtf8(text, out);
  return out;
}

std::string Utf8ToCp437(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    const uint32_t cp = DecodeUtf8(text, pos);
    out += static_cast<char>(cp == 0xFFFFFFFFu ? '?' : ByteForCodePoint(cp));
  }
  return out;
}

}  // namespace qm::dbf

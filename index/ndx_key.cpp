#include "index/ndx_key.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dbf/calendar.h"
#include "dbf/text_helpers.h"
#include "index/ndx_format.h"

namespace qm::index {

namespace {

bool ParseDigits(std::string_view s, int& out) {
  out = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    out = out * 10 + (c - '0');
  }
  return !s.empty();
}

using dbf::TrimRight;

}  // namespace

std::string OrderedFromDouble(double value) {
  if (value == 0) value = 0;  // -0 sorts with 0
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  bits = (bits >> 63) ? ~bits : bits | (uint64_t{1} << 63);
  std::string out(8, '\0');
  for (int i = 0; i < 8; ++i) out[i] = static_cast<char>(bits >> (56 - 8 * i));
  while (!out.empty() && out.back() == '\0') out.pop_back();
  return out;
}

double DoubleFromOrdered(std::string_view ordered) {
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) {
    uint64_t byte = i < static_cast<int>(ordered.size()) ? static_cast<uint8_t>(ordered[i]) : 0;
    bits |= byte << (56 - 8 * i);
  }
  bits = (bits >> 63) ? bits & ~(uint64_t{1} << 63) : ~bits;
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

double NumberFromKeyText(std::string_view text) {
  if (!text.empty() && text[0] == '~') return ndx::kBlankDateKey;
  std::string s(TrimRight(text));
  size_t start = s.find_first_not_of(' ');
  if (start == std::string::npos) return 0;
  char* end = nullptr;
  errno = 0;
  double value = std::strtod(s.c_str() + start, &end);
  return (*end != '\0' || errno == ERANGE) ? 0 : value;
}

std::string NdxDateKeyText(std::string_view text) {
  int32_t day = 0;
  if (text.size() >= 8) {
    day = dbf::ParseDateText(text.substr(0, 8));
  } else {
    int parsed;
    std::string_view digits = TrimRight(text);
    while (!digits.empty() && digits.front() == ' ') digits.remove_prefix(1);
    day = ParseDigits(digits, parsed) ? parsed : 0;
  }
  char buffer[40];
  if (day > 0) std::snprintf(buffer, sizeof buffer, "%8d", static_cast<int>(day));
  std::string key = day > 0 ? std::string(buffer) : std::string(8, ' ');
  if (key.back() == ' ') key.front() = '~';
  return key;
}

int CompareKeys(std::string_view a, std::string_view b, bool character, int* matched) {
  const uint8_t pad = character ? ' ' : 0;
  size_t n = std::max(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    uint8_t x = i < a.size() ? static_cast<uint8_t>(a[i]) : pad;
    uint8_t y = i < b.size() ? static_cast<uint8_t>(b[i]) : pad;
    if (x != y) {
      if (matched) *matched = static_cast<int>(i);
      return x < y ? -1 : 1;
    }
  }
  if (matched) *matched = static_cast<int>(n);
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::string StoredKey(std::string_view text, bool character) {
  if (character) return std::string(TrimRight(text));
  return OrderedFromDouble(NumberFromKeyText(text));
}

std::string SortTextFromStored(std::string_view stored, bool character) {
  if (character) return std::string(stored);
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (int i = 0; i < 8; ++i) {
    uint8_t byte = i < static_cast<int>(stored.size()) ? static_cast<uint8_t>(stored[i]) : 0;
    out += kHex[byte >> 4];
    out += kHex[byte & 15];
  }
  return out;
}

std::string StoredFromSortText(std::string_view sortText, bool character) {
  if (character) return std::string(sortText);
  std::string out;
  for (size_t i = 0; i + 1 < sortText.size(); i += 2) {
    auto nibble = [](char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
    out += static_cast<char>(nibble(sortText[i]) << 4 | nibble(sortText[i + 1]));
  }
  while (!out.empty() && out.back() == '\0') out.pop_back();
  return out;
}

}  // namespace qm::index

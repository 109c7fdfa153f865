#pragma once
// NDX key forms.
//
// In memory a character key is its text without trailing blanks; a numeric key
// (numeric and date expressions) is the double in an order-preserving byte form:
// big-endian bytes with the sign bit set for zero and positive numbers and every
// byte inverted for negative ones, trailing zero bytes dropped. Plain byte order of
// that form is numeric order, so one comparison serves both key kinds.

#include <cstdint>
#include <string>
#include <string_view>

namespace qm::index {

std::string OrderedFromDouble(double value);
double DoubleFromOrdered(std::string_view ordered);

// Numeric key text to its value: "~" first (a blank date) is 1e100, empty text 0,
// otherwise a decimal number; text that is not a number counts as 0.
double NumberFromKeyText(std::string_view text);

// A date key text of the NDX format: 8 characters, the day number right-aligned; a
// blank or invalid date gives 8 blanks with "~" in front. Input of 8 or more
// characters is read as yyyymmdd, shorter input as a day number already.
std::string NdxDateKeyText(std::string_view text);

// Compares two keys position by position over the longer length; a missing position
// is a blank in character keys and a zero byte in numeric ones. `matched` receives
// the count of equal leading positions. Equal positions of unequal lengths: shorter first.
int CompareKeys(std::string_view a, std::string_view b, bool character, int* matched = nullptr);

// The key text that the sort and the tree work with: character keys trimmed; numeric
// keys in ordered form. Numeric keys go through the sorter as 16 hex digits of the
// ordered form, so the build meets them in numeric order (negative numbers included).
std::string StoredKey(std::string_view text, bool character);
std::string SortTextFromStored(std::string_view stored, bool character);
std::string StoredFromSortText(std::string_view sortText, bool character);

}  // namespace qm::index

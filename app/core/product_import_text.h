#pragma once
// Text conversions of the product import (product_import.h): the input's
// encoding to UTF-8, UTF-8 to the table's code page 437 without silent loss,
// and the date texts the import accepts. Each returns false with a reason in
// plain words; the caller adds the row and field.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/core/product_import.h"

namespace qm::catalog::import {

// Bytes of the input in `encoding` to UTF-8. False (with `why`) for bytes that
// are not text in that encoding.
bool DecodeInput(std::string_view bytes, ImportEncoding encoding, std::string& utf8, std::string& why);

// UTF-8 to code page 437. A character the code page cannot hold becomes '?'
// and counts in `replaced` when `replace` is set; otherwise false with `why`
// naming the character and its code point.
bool ToCodePage437(std::string_view utf8, bool replace, std::string& cp437, std::size_t& replaced,
                   std::string& why);

// A date as the import reads it: blank (0), yyyy-mm-dd, yyyymmdd, or the
// locale's display order with a four-digit year. False with `why` otherwise.
bool ParseImportDate(std::string_view text, int32_t& dayNumber, std::string& why);

// yyyy-mm-dd for a valid day number, "" for none.
std::string IsoDate(int32_t dayNumber);

}  // namespace qm::catalog::import

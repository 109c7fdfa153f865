#pragma once
// The engine's character tables for code page 437, the code page of the
// table files, and the translation between it and UTF-8 (the windows, the
// settings and the generated pages). Bytes 0x00-0x7F translate as ASCII;
// a character that code page 437 cannot hold becomes '?', and so does each
// malformed UTF-8 sequence.

#include <cstdint>
#include <string>
#include <string_view>

namespace qm::dbf {

// Upper-case table used for field-name lookup: a-z and the accented small
// letters of code page 437 to capitals (several to their unaccented letter).
uint8_t UpperCase437(uint8_t c);
// Lower-case table of the key expressions: A-Z and the code page 437 capitals.
uint8_t LowerCase437(uint8_t c);
std::string UpperCase437(std::string_view text);

std::string Cp437ToUtf8(std::string_view text);
std::string Utf8ToCp437(std::string_view text);
// Appends the translation to out (no allocation when out has room).
void AppendCp437AsUtf8(std::string_view text, std::string& out);

}  // namespace qm::dbf

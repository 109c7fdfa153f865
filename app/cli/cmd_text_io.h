#pragma once
// Output formats of the dump: CSV rows (RFC 4180) and JSON string escaping.
// (The import reads CSV in app/core/product_import.cpp.)

#include <string>
#include <vector>

namespace qm::cli {

using CsvRow = std::vector<std::string>;

// One CSV field, quoted only when it holds a comma, a quote, CR or LF.
std::string CsvField(const std::string& text);
// A whole row with CR LF at the end, as RFC 4180 writes it.
std::string CsvLine(const CsvRow& row);

// A JSON string literal (with its quotes) for UTF-8 text.
std::string JsonString(const std::string& utf8);

}  // namespace qm::cli

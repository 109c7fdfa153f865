#pragma once
// Text formats of the command-line companion: CSV (RFC 4180) in and out, and
// JSON string escaping. Shared by the dump and import commands.

#include <istream>
#include <string>
#include <vector>

namespace qm::cli {

using CsvRow = std::vector<std::string>;

// Reads CSV rows: fields separated by commas, rows by LF or CR LF; a field in
// double quotes may hold commas, line breaks and doubled quotes. A UTF-8 byte
// order mark before the first row is skipped. Throws CliError naming the row
// for a quote that is never closed or text after a closing quote.
class CsvReader {
 public:
  explicit CsvReader(std::istream& in);
  // Next row; false at the end of the input. Blank lines are skipped.
  bool Next(CsvRow& row);
  // 1-based number of the row last returned (the header row is row 1).
  int RowNumber() const { return m_row; }

 private:
  void ReadField(std::string& field, bool& endOfRow);
  std::istream& m_in;
  int m_row = 0;
};

// One CSV field, quoted only when it holds a comma, a quote, CR or LF.
std::string CsvField(const std::string& text);
// A whole row with CR LF at the end, as RFC 4180 writes it.
std::string CsvLine(const CsvRow& row);

// A JSON string literal (with its quotes) for UTF-8 text.
std::string JsonString(const std::string& utf8);

}  // namespace qm::cli

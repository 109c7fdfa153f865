#include "app/core/product_import.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "app/core/plain_messages.h"
#include "app/core/product_import_text.h"
#include "dbf/calendar.h"
#include "dbf/char_tables.h"
#include "dbf/disk_file.h"
#include "dbf/errors.h"
#include "dbf/memo_format.h"
#include "dbf/table.h"

namespace qm::catalog {

namespace {

using CsvRow = std::vector<std::string>;

// CSV rows (RFC 4180) over the raw bytes: fields separated by commas, rows by
// LF or CR LF; a field in double quotes may hold commas, line breaks and
// doubled quotes. The delimiters are ASCII, so any of the import's encodings
// splits correctly before it is decoded.
class CsvReader {
 public:
  explicit CsvReader(std::string text) : m_text(std::move(text)) {
    if (m_text.rfind("\xEF\xBB\xBF", 0) == 0) m_at = 3;  // spreadsheets' byte order mark
  }

  // Next row; false at the end. Blank lines are skipped.
  bool Next(CsvRow& row) {
    for (;;) {
      row.clear();
      if (m_at >= m_text.size()) return false;
      ++m_row;
      bool endOfRow = false;
      while (!endOfRow) row.push_back(Field(endOfRow));
      if (row.size() > 1 || !row[0].empty()) return true;
    }
  }
  int RowNumber() const { return m_row; }  // the header is row 1

 private:
  int Get() { return m_at < m_text.size() ? static_cast<unsigned char>(m_text[m_at++]) : -1; }
  int Peek() const { return m_at < m_text.size() ? static_cast<unsigned char>(m_text[m_at]) : -1; }

  std::string Field(bool& endOfRow) {
    std::string field;
    int c = Get();
    if (c == '"') {
      for (;;) {
        c = Get();
        if (c < 0) throw ImportError("Row " + std::to_string(m_row) + ": quote never closed");
        if (c == '"' && Peek() != '"') break;
        if (c == '"') Get();
        field.push_back(static_cast<char>(c));
      }
      c = Get();
      if (c == '\r' && Peek() == '\n') c = Get();
      if (c != ',' && c != '\n' && c >= 0)
        throw ImportError("Row " + std::to_string(m_row) + ": text after a closing quote");
    } else {
      for (; c != ',' && c != '\n' && c >= 0; c = Get()) field.push_back(static_cast<char>(c));
      if (!field.empty() && field.back() == '\r' && c != ',') field.pop_back();
    }
    endOfRow = c != ',';
    return field;
  }

  std::string m_text;
  std::size_t m_at = 0;
  int m_row = 0;
};

struct Row {
  int number;                       // CSV row number, the header being row 1
  std::vector<std::string> values;  // UTF-8, in column order
};

std::string FileName(const std::string& path) {
  return std::filesystem::path(dbf::NormalizePath(path)).filename().string();
}

// Field number of every CSV column; refuses a column that names no field or
// names one twice.
std::vector<int32_t> MapColumns(const dbf::TbrTable& table, const CsvRow& header,
                                const std::string& tableName) {
  std::vector<int32_t> fields;
  for (const std::string& name : header) {
    const int32_t n = table.FindField(dbf::Utf8ToCp437(name));
    if (n == 0) throw ImportError("Row 1: no field \"" + name + "\" in " + tableName);
    if (std::find(fields.begin(), fields.end(), n) != fields.end())
      throw ImportError("Row 1: field \"" + name + "\" named twice");
    fields.push_back(n);
  }
  return fields;
}

class RowWriter {
 public:
  RowWriter(dbf::TbrTable& table, const std::vector<int32_t>& fields, const ImportOptions& options)
      : m_table(table), m_fields(fields), m_options(options) {}

  // Puts one row into the record image and keeps its memo texts; throws
  // ImportError naming row and field for a value that cannot be stored.
  void Put(const Row& row) {
    m_table.BlankRecord();
    m_memos.assign(m_fields.size(), std::string());
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
      const std::string where =
          "Row " + std::to_string(row.number) + ", field " + m_table.FieldName(m_fields[i]) + ": ";
      bool unmappable = false;
      const std::string why = PutValue(i, row.values[i], unmappable);
      if (why.empty()) continue;
      if (unmappable) throw ImportUnmappableError(where + why);
      throw ImportError(where + why);
    }
  }
  // Writes the memos of the row last put (before its record is appended).
  bool WriteMemos() {
    for (std::size_t i = 0; i < m_fields.size(); ++i)
      if (m_table.FieldType(m_fields[i]) == 'M' && !m_table.WriteMemo(m_fields[i], m_memos[i])) return false;
    return true;
  }
  std::size_t Replaced() const { return m_replaced; }

 private:
  // Puts one value; returns what is wrong with it, empty when it was stored.
  std::string PutValue(std::size_t i, const std::string& value, bool& unmappable) {
    const int32_t n = m_fields[i];
    const char type = m_table.FieldType(n);
    std::string why;
    if (type == 'D') {
      int32_t day = 0;
      if (import::ParseImportDate(value, day, why)) m_table.PutDate(n, day);
      return why;
    }
    if (type == 'L') {
      const std::string upper = dbf::UpperCase437(value);
      if (upper.size() > 1 || upper.find_first_not_of("TFYN? ") != std::string::npos)
        return "\"" + value + "\" is not a logical value; write T or F";
      m_table.FieldPut(n, upper);
      return {};
    }
    std::string bytes;
    if (!import::ToCodePage437(value, m_options.replaceUnmappable, bytes, m_replaced, why)) {
      unmappable = true;
      return why;
    }
    if (type == 'M') {
      m_memos[i] = bytes;
      if (bytes.size() > dbf::memo::kMaxMemoLength)
        return "memo longer than " + std::to_string(dbf::memo::kMaxMemoLength) + " bytes";
      // Checked with the whole file first, so such a row appends nothing.
      return m_table.MemoTextRefusal(n, bytes);
    }
    if (type != 'C' && type != 'N' && type != 'F')
      return std::string("fields of type ") + type + " cannot be imported";
    const std::string width = std::to_string(m_table.FieldLength(n));
    if (bytes.size() > m_table.FieldLength(n))
      return "\"" + value + "\" is longer than the field's " + width + " characters";
    try {
      if (m_table.PutText(n, bytes)) return {};
    } catch (const dbf::EEngineIoError&) {
      // The engine refused the number; the message below says why in plain words.
    }
    return "\"" + value + "\" is not a number that fits the field (" + width + " wide, " +
           std::to_string(m_table.FieldDecimals(n)) + " decimals)";
  }

  dbf::TbrTable& m_table;
  const std::vector<int32_t>& m_fields;
  const ImportOptions& m_options;
  std::vector<std::string> m_memos;
  std::size_t m_replaced = 0;
};

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ImportError("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every row of the file, decoded to UTF-8 and of the header's width.
std::vector<Row> ReadRows(const std::string& path, ImportEncoding encoding, CsvRow& header) {
  CsvReader reader(ReadWhole(path));
  if (!reader.Next(header)) throw ImportError(path + " is empty: a header row naming the fields is needed");
  std::vector<Row> rows;
  CsvRow csv = header;
  for (int number = 1;; number = reader.RowNumber()) {
    for (std::string& value : csv) {
      std::string utf8, why;
      if (!import::DecodeInput(value, encoding, utf8, why))
        throw ImportEncodingError("Row " + std::to_string(number) + ": " + why);
      value = utf8;
    }
    if (number == 1)
      header = csv;
    else
      rows.push_back({number, csv});
    if (!reader.Next(csv)) return rows;
    if (csv.size() != header.size())
      throw ImportError("Row " + std::to_string(reader.RowNumber()) + ": " +
                        CountOf(csv.size(), "value", "values") + ", the header names " +
                        std::to_string(header.size()));
  }
}

}  // namespace

bool ParseImportEncoding(const std::string& name, ImportEncoding& encoding) {
  std::string key = dbf::UpperCase437(name);
  key.erase(std::remove(key.begin(), key.end(), '-'), key.end());
  if (key == "UTF8")
    encoding = ImportEncoding::kUtf8;
  else if (key == "LATIN1" || key == "ISO88591")
    encoding = ImportEncoding::kLatin1;
  else if (key == "CP1252" || key == "WINDOWS1252")
    encoding = ImportEncoding::kCp1252;
  else if (key == "CP437")
    encoding = ImportEncoding::kCp437;
  else
    return false;
  return true;
}

ImportResult ImportProducts(const std::string& csvPath, const std::string& tablePath,
                            const ImportOptions& options) {
  dbf::TbrTable table(tablePath, dbf::kOpenSharedReadWrite);
  if (!table.Usable() || !table.OpenTable()) throw ImportError(FileName(tablePath) + " does not open");
  table.SetLockBeforeWrite(true);
  const std::string tableName = FileName(tablePath);

  CsvRow header;
  const std::vector<Row> rows = ReadRows(csvPath, options.encoding, header);
  const std::vector<int32_t> fields = MapColumns(table, header, tableName);
  RowWriter writer(table, fields, options);
  for (const Row& row : rows) writer.Put(row);  // all checked before any append
  // A memo column needs the memo file; a missing one is reported before any append.
  for (int32_t n : fields)
    if (table.FieldType(n) == 'M' && table.MemoFile() == nullptr)
      throw ImportError(tableName + " has no memo file for " + table.FieldName(n));

  ImportResult result;
  result.tableName = tableName;
  result.replacedCharacters = writer.Replaced();
  ImportOptions quiet = options;
  quiet.replaceUnmappable = true;  // the rows were checked; count replacements once
  RowWriter appender(table, fields, quiet);
  for (const Row& row : rows) {
    const std::string failed = "Row " + std::to_string(row.number) + ": not appended; " +
                               CountOf(result.appended, "row was", "rows were") + " appended before it";
    try {
      appender.Put(row);
      if (!appender.WriteMemos() || !table.AppendRecord()) {
        table.TakeBackUnwrittenMemos();
        throw ImportError(failed);
      }
    } catch (const dbf::EEngineIoError& e) {
      table.TakeBackUnwrittenMemos();  // the refused row leaves no memo behind
      throw ImportError(failed + ": " + PlainMessage(e));
    }
    ++result.appended;
  }
  table.CloseTable();
  return result;
}

std::string ExchangeText(dbf::TbrTable& table, int32_t n) {
  switch (table.FieldType(n)) {
    case 'M':
      return dbf::Cp437ToUtf8(table.MemoText(n));
    case 'D': {
      const int32_t day = dbf::ParseStoredDate(table.RawView(n));
      // A damaged date is shown as stored rather than lost.
      return day >= 0 ? import::IsoDate(day) : dbf::Cp437ToUtf8(table.RawText(n));
    }
    default:
      return dbf::Cp437ToUtf8(table.Text(n));
  }
}

}  // namespace qm::catalog

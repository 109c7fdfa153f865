#include "app/core/product_import.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <thread>
#include <vector>

#include "app/core/plain_messages.h"
#include "app/core/product_import_text.h"
#include "app/core/product_table.h"
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
  // Outside quotes a row ends at LF, CR LF or a CR alone (old Mac files): each is one '\n'.
  int EndOfLine(int c) {
    if (c != '\r') return c;
    if (Peek() == '\n') Get();
    return '\n';
  }

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
      c = EndOfLine(Get());
      if (c != ',' && c != '\n' && c >= 0)
        throw ImportError("Row " + std::to_string(m_row) + ": text after a closing quote");
    } else {
      for (c = EndOfLine(c); c != ',' && c != '\n' && c >= 0; c = EndOfLine(Get())) field.push_back(static_cast<char>(c));
    }
    endOfRow = c != ',';
    return field;
  }

  std::string m_text;
  std::size_t m_at = 0;
  int m_row = 0;
};

// A refused value as the message shows it: at most kShownCharacters characters.
std::string Quoted(const std::string& value) {
  constexpr std::size_t kShownCharacters = 60;
  std::size_t at = 0, characters = 0;
  while (at < value.size() && characters < kShownCharacters) {
    ++at;
    while (at < value.size() && (static_cast<unsigned char>(value[at]) & 0xC0) == 0x80) ++at;
    ++characters;
  }
  if (at >= value.size()) return "\"" + value + "\"";
  return "\"" + value.substr(0, at) + "...\" (" + std::to_string(value.size()) + " bytes)";
}

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
  // Over the current record instead of a blank one (an update) when `overRecord`.
  void Put(const Row& row, bool overRecord = false) {
    if (!overRecord) m_table.BlankRecord();
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
        return Quoted(value) + " is not a logical value; write T or F";
      m_table.FieldPut(n, value);  // as given: a dump of 'y' or '?' comes back as it was
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
    if (type != 'C' && bytes.find_first_not_of(' ') == std::string::npos) {
      m_table.FieldPut(n, "");  // a blank number stays blank, as a dump of one says
      return {};
    }
    if (bytes.size() > m_table.FieldLength(n))
      return Quoted(value) + " is longer than the field's " + width + " characters";
    try {
      if (m_table.PutText(n, bytes)) return {};
    } catch (const dbf::EEngineIoError&) {
      // The engine refused the number; the message below says why in plain words.
    }
    return Quoted(value) + " is not a number that fits the field (" + width + " wide, " +
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

namespace {

// What happens to each row once the keys are known.
enum class RowAction { kAppend, kUpdate, kSkip };

// The stored key of each row (its key column put through the row writer's
// checks, so code page and width are the table's), refused when two rows share
// one or, unless `existing` allows it, when a product of the table has it.
// `records` gets the record each kUpdate row changes. Runs under the header lock.
std::vector<RowAction> PlanRows(dbf::TbrTable& table, const std::vector<Row>& rows, RowWriter& writer,
                                ExistingKeys existing, std::vector<int32_t>& records) {
  const uint32_t offset = table.FieldOffset(1), width = table.FieldLength(1);
  auto keyOf = [&](const char* image) { return ProductKey(std::string_view(image + offset, width)); };
  std::map<std::string, int> inFile;  // key -> row number
  std::vector<std::string> keys;
  for (const Row& row : rows) {
    writer.Put(row);
    const std::string key = keyOf(table.RecordImage());
    const auto [earlier, fresh] = inFile.emplace(key, row.number);
    if (!fresh)
      throw ImportError("Row " + std::to_string(row.number) + ": the key " + Quoted(dbf::Cp437ToUtf8(key)) +
                        " is given again (row " + std::to_string(earlier->second) + " has it)");
    keys.push_back(key);
  }
  std::map<std::string, std::pair<int32_t, bool>> inTable;  // key -> record, deleted
  if (!table.ScanRecords([&](int32_t recNo, const char* image) {
        const std::string key = keyOf(image);
        if (inFile.count(key) != 0) inTable.emplace(key, std::make_pair(recNo, image[0] == '*'));
        return true;
      }))
    throw ImportError("the table could not be read; nothing was appended");
  std::vector<RowAction> actions;
  records.assign(rows.size(), 0);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto held = inTable.find(keys[i]);
    if (held == inTable.end()) {
      actions.push_back(RowAction::kAppend);
      continue;
    }
    const std::string where = "Row " + std::to_string(rows[i].number) + ": ";
    const std::string key = Quoted(dbf::Cp437ToUtf8(keys[i]));
    if (existing == ExistingKeys::kSkip) {
      actions.push_back(RowAction::kSkip);
    } else if (held->second.second) {
      throw ImportError(where + "a deleted product holds the key " + key + "; recall it or leave the row out");
    } else if (existing == ExistingKeys::kUpdate) {
      actions.push_back(RowAction::kUpdate);
      records[i] = held->second.first;
    } else {
      throw ImportError(where + "a product with the key " + key +
                        " exists already (--update changes it, --skip-existing leaves it)");
    }
  }
  return actions;
}

// Rows go in in file order, so the rows before a failed one are exactly those in.
std::string RowsWritten(const ImportResult& result) {
  std::string text = CountOf(result.appended, "row was", "rows were") + " appended before it";
  if (result.updated > 0) text += ", " + CountOf(result.updated, "product", "products") + " changed";
  if (result.skipped > 0) text += ", " + CountOf(result.skipped, "row", "rows") + " left out";
  return text + ", none after it";
}

}  // namespace

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
  // The keys are checked and rows written as one step under the header lock,
  // held for a short batch of rows at a time so that other writers get their
  // turn between. A batch after another program wrote checks its rows again.
  constexpr auto kBatchTime = std::chrono::milliseconds(100);
  const bool keyed = std::find(fields.begin(), fields.end(), 1) != fields.end();
  std::vector<int32_t> records(rows.size(), 0);
  std::vector<RowAction> actions(rows.size(), RowAction::kAppend);
  dbf::TbrTableFingerprint after;
  for (std::size_t i = 0; i < rows.size();) {
    dbf::TbrTable::HeaderLockScope keyLock(table);
    if (!keyLock.Held())
      throw ImportError("Row " + std::to_string(rows[i].number) + ": " + tableName +
                        " is locked by another program; " + RowsWritten(result) + ", try again");
    if (keyed && (i == 0 || table.Fingerprint() != after)) {
      const std::vector<Row> rest(rows.begin() + static_cast<std::ptrdiff_t>(i), rows.end());
      std::vector<int32_t> restRecords;
      std::vector<RowAction> restActions;
      try {
        restActions = PlanRows(table, rest, appender, options.existing, restRecords);
      } catch (const ImportError& e) {
        if (i == 0) throw;
        throw ImportError(std::string(e.what()) + " (its key came in meanwhile); " + RowsWritten(result));
      }
      std::copy(restActions.begin(), restActions.end(), actions.begin() + static_cast<std::ptrdiff_t>(i));
      std::copy(restRecords.begin(), restRecords.end(), records.begin() + static_cast<std::ptrdiff_t>(i));
    }
    const auto batchEnd = std::chrono::steady_clock::now() + kBatchTime;
    for (; i < rows.size() && std::chrono::steady_clock::now() < batchEnd; ++i) {
      const Row& row = rows[i];
      if (actions[i] == RowAction::kSkip) {
        ++result.skipped;
        continue;
      }
      const std::string failed = "Row " + std::to_string(row.number) + ": not appended; " + RowsWritten(result);
      const bool update = actions[i] == RowAction::kUpdate;
      try {
        if (update && !table.GoTo(records[i])) throw ImportError(failed);
        appender.Put(row, update);
        const bool written = appender.WriteMemos() && (update ? table.ReplaceRecord(records[i]) : table.AppendRecord());
        if (!written) {
          table.TakeBackUnwrittenMemos();
          throw ImportError(failed);
        }
      } catch (const dbf::EEngineIoError& e) {
        table.TakeBackUnwrittenMemos();  // the refused row leaves no memo behind
        throw ImportError(failed + ": " + PlainMessage(e));
      }
      ++(update ? result.updated : result.appended);
    }
    after = table.Fingerprint();
    keyLock.Release();
    // Other writers retry a refused lock every half millisecond: give them the turn.
    if (i < rows.size()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
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
    case 'L':
    case 'N':
    case 'F': {
      // As stored, not as shown: a blank number is no 0.00, a '?' or 'y' no F or T.
      const std::string_view raw = table.RawView(n);
      const size_t first = raw.find_first_not_of(' ');
      if (first == std::string_view::npos) return {};
      return dbf::Cp437ToUtf8(raw.substr(first, raw.find_last_not_of(' ') - first + 1));
    }
    default:
      return dbf::Cp437ToUtf8(table.Text(n));
  }
}

}  // namespace qm::catalog

// quillmart-cli import FILE.csv
//
// Appends the rows of a CSV file to catalog.dbf. The header row names the
// fields (case-insensitive); a column named like the memo field fills the
// memo. Every row is checked before anything is appended, so a bad file
// changes nothing. The table is opened shared with lock-before-write, as the
// windows open it: appends take the header and append locks and memo writes
// the memo lock, so several importers and the windows can append at once.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "cli_command.h"
#include "cmd_text_io.h"
#include "dbf/char_tables.h"
#include "dbf/disk_file.h"
#include "dbf/errors.h"
#include "dbf/memo_format.h"
#include "dbf/table.h"

namespace qm::cli {
namespace {

constexpr const char* kTableName = "catalog.dbf";

struct Row {
  int number;                       // CSV row number, the header being row 1
  std::vector<std::string> values;  // CP437, in column order
};

// Field number of every CSV column; refuses a column that names no field or
// names one twice.
std::vector<int32_t> MapColumns(const dbf::TbrTable& table, const CsvRow& header) {
  std::vector<int32_t> fields;
  for (const std::string& name : header) {
    const int32_t n = table.FindField(dbf::Utf8ToCp437(name));
    if (n == 0)
      throw CliError("Row 1, field \"" + name + "\": no such field in " + std::string(kTableName));
    for (int32_t seen : fields)
      if (seen == n) throw CliError("Row 1, field \"" + name + "\": named twice");
    fields.push_back(n);
  }
  return fields;
}

// Puts one row into the record image (memo texts are only checked here).
// Throws naming row and field for a value that does not fit.
void PutRow(dbf::TbrTable& table, const std::vector<int32_t>& fields, const Row& row) {
  table.BlankRecord();
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const int32_t n = fields[i];
    const std::string& value = row.values[i];
    const std::string where =
        "Row " + std::to_string(row.number) + ", field " + table.FieldName(n) + ": ";
    if (table.FieldType(n) == 'M') {
      if (value.size() > dbf::memo::kMaxMemoLength)
        throw CliError(where + "memo longer than " + std::to_string(dbf::memo::kMaxMemoLength) +
                       " bytes");
      continue;
    }
    if (value.size() > table.FieldLength(n))
      throw CliError(where + "value longer than " + std::to_string(table.FieldLength(n)) +
                     " characters");
    try {
      if (!table.PutText(n, value)) throw CliError(where + "value not accepted");
    } catch (const dbf::EEngineIoError& e) {
      throw CliError(where + e.what());
    }
  }
}

std::vector<Row> ReadRows(const std::string& path, const dbf::TbrTable& table,
                          std::vector<int32_t>& fields) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw CliError("Cannot read " + path);
  CsvReader reader(in);
  CsvRow header;
  if (!reader.Next(header))
    throw CliError(path + " is empty: a header row naming the fields is needed");
  fields = MapColumns(table, header);
  std::vector<Row> rows;
  for (CsvRow csv; reader.Next(csv);) {
    if (csv.size() != header.size())
      throw CliError("Row " + std::to_string(reader.RowNumber()) + ": " +
                     std::to_string(csv.size()) + " values, the header names " +
                     std::to_string(header.size()));
    for (std::string& value : csv) value = dbf::Utf8ToCp437(value);
    rows.push_back({reader.RowNumber(), std::move(csv)});
  }
  return rows;
}

int RunImport(const Args& args) {
  if (args.size() != 1 || args[0].rfind("--", 0) == 0)
    throw CliError("import takes one CSV file: import FILE.csv");
  dbf::TbrTable table(kTableName, dbf::kOpenSharedReadWrite);
  if (!table.Usable() || !table.OpenTable())
    throw CliError(std::string(kTableName) + " does not open");
  table.SetLockBeforeWrite(true);

  std::vector<int32_t> fields;
  const std::vector<Row> rows = ReadRows(args[0], table, fields);
  for (const Row& row : rows) PutRow(table, fields, row);  // all checked before any append
  // A memo column needs the memo file; a missing one is reported before any append.
  for (int32_t n : fields)
    if (table.FieldType(n) == 'M' && table.MemoFile() == nullptr)
      throw CliError(std::string(kTableName) + " has no memo file for " + table.FieldName(n));

  std::size_t appended = 0;
  for (const Row& row : rows) {
    const std::string failed = "Row " + std::to_string(row.number) + ": not appended; " +
                               std::to_string(appended) + " rows were appended before it";
    PutRow(table, fields, row);
    for (std::size_t i = 0; i < fields.size(); ++i)
      if (table.FieldType(fields[i]) == 'M' && !table.WriteMemo(fields[i], row.values[i]))
        throw CliError(failed);
    if (!table.AppendRecord()) throw CliError(failed);
    ++appended;
  }
  table.CloseTable();
  std::printf("%zu records appended to %s\n", rows.size(), kTableName);
  return 0;
}

}  // namespace

QM_CLI_COMMAND("import",
               "import FILE.csv                 append the rows of a CSV file to catalog.dbf",
               RunImport);

}  // namespace qm::cli

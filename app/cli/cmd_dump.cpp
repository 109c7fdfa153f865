// quillmart-cli dump [TABLE] [--json] [--deleted]
//
// Prints the records of a table (catalog.dbf by default) as CSV with a header
// row of the field names, or with --json as one object per line. Values are
// the field texts as the engine displays them (trailing blanks removed), a
// memo field gives its memo text; all text is translated from CP437 to UTF-8.
// Deleted records are skipped; with --deleted they are printed too, marked in
// an extra leading "_deleted" column (CSV: "*" or empty; JSON: true/false).
// With --index FILE.NDX the records come in that index's order.
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "cli_command.h"
#include "cmd_text_io.h"
#include "dbf/char_tables.h"
#include "dbf/disk_file.h"
#include "dbf/table.h"
#include "index/catalog_index.h"

namespace qm::cli {
namespace {

constexpr const char* kDeletedKey = "_deleted";

// Visits the records in the order they are printed; the table's record image
// holds the record during the call. Another order (an index) plugs in here.
using RecordVisit = std::function<void(dbf::TbrTable&)>;
void WalkInRecordOrder(dbf::TbrTable& table, const RecordVisit& visit) {
  for (bool ok = table.GoTo(dbf::kGoTop); ok; ok = table.GoTo(dbf::kGoNext)) visit(table);
}

std::vector<std::string> FieldTexts(dbf::TbrTable& table) {
  std::vector<std::string> values;
  for (int32_t n = 1; n <= table.FieldCount(); ++n) {
    const bool memo = table.FieldType(n) == 'M';
    values.push_back(dbf::Cp437ToUtf8(memo ? table.MemoText(n) : table.Text(n)));
  }
  return values;
}

class DumpPrinter {
 public:
  DumpPrinter(dbf::TbrTable& table, bool json, bool withDeleted)
      : m_json(json), m_withDeleted(withDeleted) {
    for (int32_t n = 1; n <= table.FieldCount(); ++n)
      m_names.push_back(dbf::Cp437ToUtf8(table.FieldName(n)));
  }

  void Header() {
    if (m_json) return;
    CsvRow row;
    if (m_withDeleted) row.push_back(kDeletedKey);
    row.insert(row.end(), m_names.begin(), m_names.end());
    Emit(CsvLine(row));
  }

  void Record(dbf::TbrTable& table) {
    if (table.Deleted() && !m_withDeleted) return;
    const std::vector<std::string> values = FieldTexts(table);
    Emit(m_json ? JsonLine(values, table.Deleted()) : CsvRecord(values, table.Deleted()));
  }

 private:
  std::string CsvRecord(const std::vector<std::string>& values, bool deleted) const {
    CsvRow row;
    if (m_withDeleted) row.push_back(deleted ? "*" : "");
    row.insert(row.end(), values.begin(), values.end());
    return CsvLine(row);
  }

  std::string JsonLine(const std::vector<std::string>& values, bool deleted) const {
    std::string line = "{";
    if (m_withDeleted) line += JsonString(kDeletedKey) + ":" + (deleted ? "true" : "false");
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (line.size() > 1) line += ',';
      line += JsonString(m_names[i]) + ":" + JsonString(values[i]);
    }
    return line + "}\n";
  }

  static void Emit(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

  bool m_json;
  bool m_withDeleted;
  std::vector<std::string> m_names;
};

int RunDump(const Args& input) {
  Args args = input;
  const bool json = TakeFlag(args, "--json");
  const bool withDeleted = TakeFlag(args, "--deleted");
  std::string indexFile;
  const bool indexed = TakeOption(args, "--index", indexFile);
  for (const std::string& arg : args)
    if (arg.rfind("--", 0) == 0) throw CliError("Unknown option for dump: " + arg);
  if (args.size() > 1)
    throw CliError("dump takes one table name, not " + std::to_string(args.size()));
  const std::string path = args.empty() ? "catalog.dbf" : args[0];

  dbf::TbrTable table(path, dbf::kOpenSharedReadOnly);
  if (!table.Usable() || !table.OpenTable()) throw CliError(path + " does not open as a table");
  table.SetReadAhead(true);
  DumpPrinter printer(table, json, withDeleted);
  printer.Header();
  if (indexed) {
    index::WalkInIndexOrder(path, indexFile, [&](dbf::TbrTable& t) { printer.Record(t); });
  } else {
    WalkInRecordOrder(table, [&](dbf::TbrTable& t) { printer.Record(t); });
  }
  std::fflush(stdout);
  return 0;
}

}  // namespace

QM_CLI_COMMAND(
    "dump",
    "dump [TABLE] [--json] [--deleted] [--index FILE.NDX]  print the records (CSV, or JSON lines)",
    RunDump);

}  // namespace qm::cli

// quillmart-cli dump [TABLE] [--json] [--deleted]
//
// Prints the records of a table (CATALOG.DBF by default) as CSV with a header
// row of the field names, or with --json as one object per line. Values are
// the exchange texts of app/core/product_import.h (dates as yyyy-mm-dd, memo
// fields their memo text, all text UTF-8), which import reads back.
// Deleted records are skipped; with --deleted they are printed too, marked in
// an extra leading "_deleted" column (CSV: "*" or empty; JSON: true/false).
// With --index FILE.NDX the records come in that index's order; the product
// table's CATALOG.NDX is rebuilt first when it does not describe the table.
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/core/plain_messages.h"
#include "app/core/product_import.h"
#include "app/core/product_table.h"
#include "cli_command.h"
#include "cmd_text_io.h"
#include "dbf/char_tables.h"
#include "dbf/disk_file.h"
#include "dbf/table.h"
#include "index/index_walk.h"

namespace qm::cli {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDeletedKey = "_deleted";

// Visits the records in the order they are printed; the table's record image
// holds the record during the call. Another order (an index) plugs in here.
using RecordVisit = std::function<void(dbf::TbrTable&)>;
void WalkInRecordOrder(dbf::TbrTable& table, const RecordVisit& visit) {
  for (bool ok = table.GoTo(dbf::kGoTop); ok; ok = table.GoTo(dbf::kGoNext)) visit(table);
}

std::vector<std::string> FieldTexts(dbf::TbrTable& table) {
  std::vector<std::string> values;
  for (int32_t n = 1; n <= table.FieldCount(); ++n) values.push_back(catalog::ExchangeText(table, n));
  return values;
}

class DumpPrinter {
 public:
  DumpPrinter(dbf::TbrTable& table, bool json, bool withDeleted)
      : m_json(json), m_withDeleted(withDeleted) {
    for (int32_t n = 1; n <= table.FieldCount(); ++n)
      m_names.push_back(dbf::Cp437ToUtf8(table.FieldName(n)));
  }

  // The header goes out with the first record, or at the end of a walk that
  // found none, so a walk that fails at its start prints nothing at all.
  void Header() {
    if (m_json || m_headerDone) return;
    m_headerDone = true;
    CsvRow row;
    if (m_withDeleted) row.push_back(kDeletedKey);
    row.insert(row.end(), m_names.begin(), m_names.end());
    Emit(CsvLine(row));
  }

  void Record(dbf::TbrTable& table) {
    if (table.Deleted() && !m_withDeleted) return;
    Header();
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

  // Held back while `m_holding` (a walk under a lock other programs wait for).
  void Emit(const std::string& text) {
    if (m_holding) m_held += text;
    else std::fwrite(text.data(), 1, text.size(), stdout);
  }

 public:
  void Hold() { m_holding = true; }
  void Release() {
    m_holding = false;
    Emit(m_held);
    m_held.clear();
  }

 private:

  bool m_json;
  bool m_withDeleted;
  bool m_headerDone = false;
  bool m_holding = false;
  std::string m_held;
  std::vector<std::string> m_names;
};

// The product table's own index is walked only when it describes the table:
// one another program wrote past, or one a writer left marked part way, is
// rebuilt first, as every writer of the product table does.
void BringProductIndexUpToDate(const std::string& tablePath, const std::string& indexFile) {
  const fs::path table = dbf::NormalizePath(tablePath);
  const fs::path index = dbf::NormalizePath(indexFile.find('/') == std::string::npos
                                                ? (table.parent_path() / indexFile).string()
                                                : indexFile);
  catalog::ProductTable products(table.parent_path().string(), table.filename().string());
  // A missing index is reported by the walk, as for any index named.
  std::error_code ec;
  if (dbf::UpperCase437(table.filename().string()) != catalog::kProductTableFile ||
      index != fs::path(products.IndexPath()) || !fs::exists(index, ec) || products.IndexIsCurrent())
    return;
  // The rebuild waits for the writers' record locks; under a steady stream of
  // writes it tries again, and a rebuild another process finished meanwhile serves.
  constexpr int kAttempts = 5;
  for (int attempt = 1;; ++attempt) {
    try {
      products.Open(catalog::ProductOrder::Key);
      return;
    } catch (const std::exception& e) {
      products.Close();
      if (products.IndexIsCurrent()) return;
      if (attempt < kAttempts) continue;
      throw CliError(indexFile + " does not describe " + table.filename().string() +
                     " as it stands and could not be rebuilt (" + catalog::PlainMessage(e) +
                     "); quillmart-cli reindex rebuilds it");
    }
  }
}

int RunDump(const Args& input) {
  Args args = input;
  const bool json = TakeFlag(args, "--json");
  const bool withDeleted = TakeFlag(args, "--deleted");
  std::string indexFile;
  const bool indexed = TakeOption(args, "--index", indexFile);
  const Args operands = Operands("dump", args);
  ExpectOperands("dump", operands, 0, 1);
  const std::string path = operands.empty() ? "CATALOG.DBF" : operands[0];

  dbf::TbrTable table(path, dbf::kOpenSharedReadOnly);
  if (!table.Usable() || !table.OpenTable()) throw CliError(path + " does not open as a table");
  table.SetReadAhead(true);
  DumpPrinter printer(table, json, withDeleted);
  if (indexed) {
    BringProductIndexUpToDate(path, indexFile);
    printer.Hold();
    index::WalkInIndexOrder(path, indexFile, [&](dbf::TbrTable& t) { printer.Record(t); });
    printer.Release();
  } else {
    WalkInRecordOrder(table, [&](dbf::TbrTable& t) { printer.Record(t); });
  }
  printer.Header();
  std::fflush(stdout);
  return 0;
}

}  // namespace

QM_CLI_COMMAND("dump", "dump [OPTION]... [TABLE]  print the records of CATALOG.DBF (or TABLE) as CSV",
               RunDump);
QM_CLI_HELP("dump",
            "Dates come out as yyyy-mm-dd, numbers and logicals as the table shows them, memo\n"
            "fields as their text, all in UTF-8: what import reads back.\n"
            "\nOptions:\n"
            "  --json               one JSON object per record instead of CSV\n"
            "  --deleted            also print deleted records, marked in a first column\n"
            "                       \"_deleted\"\n"
            "  --index=FILE.NDX     print the records in that index's order\n");

}  // namespace qm::cli

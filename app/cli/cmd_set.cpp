// quillmart-cli set KEY FIELD=VALUE [FIELD=VALUE ...] [--new]
//
// Edits the product with that key, found through CATALOG.NDX (rebuilt first
// when it is missing or older than the table), through the product dataset,
// so the record is locked and read fresh while it is changed and the index is
// kept current. --new appends a product with that key instead. SNOTES=@FILE
// takes the notes from a file. Every value is checked before anything is
// written: an unknown field, a value too long or not storable, a key that is
// missing (or, with --new, taken) changes nothing.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "app/core/product_key.h"
#include "app/core/product_table.h"
#include "cli_command.h"

namespace qm::cli {
namespace {

struct Assignment {
  index::TField* field;
  std::string value;
};

std::string FieldList(index::TBrambleDataSet& ds) {
  std::string names;
  for (int i = 0; i < ds.FieldCount(); ++i) names += (i ? ", " : "") + ds.Fields(i).FieldName();
  return names;
}

std::string MemoFromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw CliError("Cannot read the notes file " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<Assignment> ParseAssignments(const Args& words, catalog::ProductTable& table) {
  index::TBrambleDataSet& ds = table.DataSet();
  std::vector<Assignment> result;
  for (const std::string& word : words) {
    const size_t eq = word.find('=');
    if (eq == std::string::npos || eq == 0) throw CliError("set: expected FIELD=VALUE, not \"" + word + "\"");
    index::TField* field = ds.FindField(word.substr(0, eq));
    if (field == nullptr)
      throw CliError("Unknown field " + word.substr(0, eq) + "; the product table has " + FieldList(ds));
    std::string value = word.substr(eq + 1);
    if (field == table.MemoField() && !value.empty() && value[0] == '@') value = MemoFromFile(value.substr(1));
    catalog::CheckProductValue(*field, value);
    result.push_back({field, value});
  }
  return result;
}

// The product that holds `key`, deleted ones included; false when none does.
bool FindAnyProduct(catalog::ProductTable& table, const std::string& key, bool& deleted) {
  const bool found = table.FindAnyProduct(key);
  deleted = found && table.DataSet().CurrentRecordDeleted();
  table.DataSet().SetUseDeleted(false);
  return found;
}

void CheckKeyFree(catalog::ProductTable& table, const std::string& key) {
  bool deleted = false;
  if (!FindAnyProduct(table, key, deleted)) return;
  if (deleted) throw CliError("A deleted product holds the key " + key + "; recall it or choose another key");
  throw CliError("A product with the key " + key + " exists already");
}

int RunSet(const Args& input) {
  Args args = input;
  const bool append = TakeFlag(args, "--new");
  args = Operands("set", args);
  if (args.size() < 2) throw UsageError("set needs a KEY and at least one FIELD=VALUE");
  const std::string key = args[0];
  catalog::ProductTable table;
  table.Open(catalog::ProductOrder::Key);
  index::TBrambleDataSet& ds = table.DataSet();
  catalog::CheckProductValue(table.KeyField(), key);
  const std::vector<Assignment> assignments = ParseAssignments(Args(args.begin() + 1, args.end()), table);
  const std::string keyField = table.KeyField().FieldName();
  for (const Assignment& a : assignments) {
    if (a.field != &table.KeyField() || a.value == key) continue;
    catalog::CheckProductKey(a.value, keyField);
    CheckKeyFree(table, a.value);
  }
  if (append) {
    catalog::CheckProductKey(key, keyField);
    CheckKeyFree(table, key);
    ds.Append();
    table.KeyField().SetAsString(key);
  } else {
    if (!table.FindProduct(key)) {
      bool deleted = false;
      FindAnyProduct(table, key, deleted);
      throw CliError(deleted ? "The product " + key + " is deleted; recall it first"
                             : "No product has the key " + key);
    }
    ds.Edit();
  }
  for (const Assignment& a : assignments) a.field->SetAsString(a.value);
  ds.Post();
  std::printf("Product %s %s\n", key.c_str(), append ? "added" : "changed");
  return 0;
}

}  // namespace

QM_CLI_COMMAND("set", "set KEY FIELD=VALUE ... [--new]  change (or add) the product with that key", RunSet);

}  // namespace qm::cli

// quillmart-cli set KEY FIELD=VALUE [FIELD=VALUE ...] [--new]
//
// Edits the product with that key, found through CATALOG.NDX (rebuilt first
// when it does not describe the table), through the product dataset,
// so the record is locked and read fresh while it is changed and the index is
// kept current. --new appends a product with that key instead. SNOTES=@FILE
// takes the notes from a file. Every value is checked before anything is
// written: an unknown field, a value too long or not storable, a key that is
// missing (or, with --new or a rename, taken) changes nothing. Trailing blanks
// are no part of a key.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "app/core/product_key.h"
#include "app/core/product_table.h"
#include "cli_command.h"

namespace qm::cli {
namespace {

struct Assignment {
  dataset::TField* field;
  std::string value;
};

std::string FieldList(dataset::TBrambleDataSet& ds) {
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
  dataset::TBrambleDataSet& ds = table.DataSet();
  std::vector<Assignment> result;
  for (const std::string& word : words) {
    const size_t eq = word.find('=');
    if (eq == std::string::npos || eq == 0) throw CliError("set: expected FIELD=VALUE, not \"" + word + "\"");
    dataset::TField* field = ds.FindField(word.substr(0, eq));
    if (field == nullptr)
      throw CliError("Unknown field " + word.substr(0, eq) + "; the product table has " + FieldList(ds));
    std::string value = word.substr(eq + 1);
    if (field == table.MemoField() && !value.empty() && value[0] == '@') value = MemoFromFile(value.substr(1));
    if (field == &table.KeyField()) value = catalog::ProductKey(value);
    catalog::CheckProductValue(*field, value);
    result.push_back({field, value});
  }
  return result;
}

// Moves to the product `key` names, refusing in plain words when there is none.
void FindForEdit(catalog::ProductTable& table, const std::string& key) {
  if (table.FindProduct(key)) return;
  const bool deleted = table.FindAnyProduct(key) && table.DataSet().CurrentRecordDeleted();
  table.DataSet().SetUseDeleted(false);
  throw CliError(deleted ? "The product " + key + " is deleted; recall it first" : "No product has the key " + key);
}

// The key is checked under the post's lock (product_table.h); a product renamed,
// deleted or recalled between finding and locking it is looked for again, so
// the change lands on the product the key names now, or on none.
void Apply(catalog::ProductTable& table, const std::string& key, bool append, const std::vector<Assignment>& assignments) {
  dataset::TBrambleDataSet& ds = table.DataSet();
  constexpr int kFinds = 3;
  for (int attempt = 1;; ++attempt) {
    try {
      if (append) {
        ds.Append();
        table.KeyField().SetAsString(key);
      } else {
        FindForEdit(table, key);
        ds.Edit();
      }
      for (const Assignment& a : assignments) a.field->SetAsString(a.value);
      ds.Post();
      return;
    } catch (const catalog::ProductChangedError&) {
      if (ds.State() != dataset::TDataSetState::dsBrowse) ds.Cancel();
      if (attempt == kFinds) throw;
    } catch (...) {
      if (ds.State() != dataset::TDataSetState::dsBrowse) ds.Cancel();
      throw;
    }
  }
}

int RunSet(const Args& input) {
  Args args = input;
  const bool append = TakeFlag(args, "--new");
  args = Operands("set", args);
  if (args.size() < 2) throw UsageError("set needs a KEY and at least one FIELD=VALUE");
  const std::string key = catalog::ProductKey(args[0]);
  catalog::ProductTable table;
  table.Open(catalog::ProductOrder::Key);
  catalog::CheckProductValue(table.KeyField(), key);
  const std::vector<Assignment> assignments = ParseAssignments(Args(args.begin() + 1, args.end()), table);
  // A new key, or a key a rename gives, must make a page every build can write.
  const std::string keyField = table.KeyField().FieldName();
  for (const Assignment& a : assignments)
    if (a.field == &table.KeyField() && a.value != key) catalog::CheckProductKey(a.value, keyField);
  if (append) catalog::CheckProductKey(key, keyField);
  Apply(table, key, append, assignments);
  std::printf("Product %s %s\n", key.c_str(), append ? "added" : "changed");
  return 0;
}

}  // namespace

QM_CLI_COMMAND("set", "set KEY FIELD=VALUE ... [--new]  change (or add) the product with that key", RunSet);

}  // namespace qm::cli

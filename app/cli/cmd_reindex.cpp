// quillmart-cli reindex [TABLE]
//
// Rebuilds CATALOG.NDX over the first field of the table (CATALOG.DBF by default),
// unique and ascending, exactly as the product window does when it is shown, and
// prints how many keys the index holds.
#include <cstdio>
#include <filesystem>

#include "app/core/product_table.h"
#include "cli_command.h"
#include "cmd_progress_bar.h"

namespace qm::cli {
namespace {

int RunReindex(const Args& args) {
  const Args operands = Operands("reindex", args);
  ExpectOperands("reindex", operands, 0, 1);
  const std::filesystem::path path = operands.empty() ? catalog::kProductTableName : operands[0];
  catalog::ProductTable table(path.parent_path().string(), path.filename().string());
  // The build reports the record count first (code -1, phase 1), then each record read.
  TerminalProgressBar bar(stdout);
  table.DataSet().OnIndexProgress = [&bar](int code, int phase, int32_t value) {
    if (code == -1 && phase == 1) bar.Start(value);
    else if (code == 1 && phase == 1) bar.Show(value);
    else if (code == 0) bar.End();
  };
  table.Open(catalog::ProductOrder::Entry);
  table.EnsureIndex(catalog::IndexRebuild::Always);
  int keys = 0;
  index::TbrNdxTag* current = table.DataSet().Engine()->CurrentTag();
  if (current == nullptr) throw CliError(catalog::kProductIndexFile + std::string(" was not built over ") + path.string());
  index::TbrNdxTag& tag = *current;
  for (int32_t r = tag.Move(dbf::kGoTop); r != 0; r = tag.Move(dbf::kGoNext)) ++keys;
  std::printf("%s: %d keys on %s\n", catalog::kProductIndexFile, keys, table.KeyField().FieldName().c_str());
  return 0;
}

}  // namespace

QM_CLI_COMMAND("reindex", "reindex [TABLE]  rebuild CATALOG.NDX over the first field of CATALOG.DBF (or TABLE)",
               RunReindex);
QM_CLI_HELP("reindex",
            "The index is unique and ascending, as the product window builds it: a record that\n"
            "repeats an earlier key has no entry. Prints how many keys it holds.\n");

}  // namespace qm::cli

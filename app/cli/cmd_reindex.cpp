// quillmart-cli reindex [TABLE]
//
// Rebuilds CATALOG.NDX over the first field of the table (catalog.dbf by default),
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
  if (args.size() > 1) throw CliError("reindex takes one table name, not " + std::to_string(args.size()));
  const std::filesystem::path path = args.empty() ? catalog::kProductTableName : args[0];
  catalog::ProductTable table(path.parent_path().string(), path.filename().string());
  // The build reports the record count first (code -1, phase 1), then each record read.
  TerminalProgressBar bar(stdout);
  table.DataSet().OnIndexProgress = [&bar](int code, int phase, int32_t value) {
    if (code == -1 && phase == 1) bar.Start(value);
    else if (code == 1 && phase == 1) bar.Show(value);
    else if (code == 0) bar.End();
  };
  table.Open(catalog::ProductOrder::Entry);
  table.EnsureIndex(true);
  int keys = 0;
  index::TbrNdxTag& tag = *table.DataSet().Engine()->CurrentTag();
  for (int32_t r = tag.Move(dbf::kGoTop); r != 0; r = tag.Move(dbf::kGoNext)) ++keys;
  std::printf("%s: %d keys on %s\n", catalog::kProductIndexFile, keys, table.KeyField().FieldName().c_str());
  return 0;
}

}  // namespace

QM_CLI_COMMAND("reindex", "reindex [TABLE]              rebuild CATALOG.NDX over the first field (unique)",
               RunReindex);

}  // namespace qm::cli

// quillmart-cli recall KEY: removes the deletion mark of the product with that key.
#include <cstdio>

#include "app/core/product_table.h"
#include "cli_command.h"

namespace qm::cli {
namespace {

int RunRecall(const Args& args) {
  if (args.size() != 1) throw CliError("usage: recall KEY");
  catalog::ProductTable table;
  table.Open(catalog::ProductOrder::Key);
  index::TBrambleDataSet& ds = table.DataSet();
  if (!table.FindAnyProduct(args[0])) throw CliError("No product has the key " + args[0]);
  if (!ds.CurrentRecordDeleted()) {
    std::printf("Product %s is not deleted\n", args[0].c_str());
    return 0;
  }
  ds.Undelete();
  std::printf("Product %s recalled\n", args[0].c_str());
  return 0;
}

}  // namespace

QM_CLI_COMMAND("recall", "recall KEY                   bring back the deleted product with that key", RunRecall);

}  // namespace qm::cli

// quillmart-cli recall KEY: removes the deletion mark of the product with that key.
#include <cstdio>

#include "app/core/product_table.h"
#include "cli_command.h"

namespace qm::cli {
namespace {

int RunRecall(const Args& input) {
  const Args args = Operands("recall", input);
  ExpectOperands("recall", args, 1, 1);
  const std::string key = catalog::ProductKey(args[0]);
  catalog::ProductTable table;
  table.Open(catalog::ProductOrder::Key);
  dataset::TBrambleDataSet& ds = table.DataSet();
  // A product renamed or recalled between finding and locking it is looked for again.
  for (int attempt = 1;; ++attempt) {
    if (!table.FindAnyProduct(key)) throw CliError("No product has the key " + key);
    if (!ds.CurrentRecordDeleted()) {
      std::printf("Product %s is not deleted\n", key.c_str());
      return 0;
    }
    try {
      ds.Undelete();
      break;
    } catch (const catalog::ProductChangedError&) {
      if (attempt == 3) throw;
    }
  }
  std::printf("Product %s recalled\n", key.c_str());
  return 0;
}

}  // namespace

QM_CLI_COMMAND("recall", "recall KEY                   bring back the deleted product with that key", RunRecall);

}  // namespace qm::cli

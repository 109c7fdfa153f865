// quillmart-cli delete KEY: marks the product with that key deleted (found
// through CATALOG.NDX, as set finds it). The record stays in the file until the
// table is packed; recall brings it back.
#include <cstdio>

#include "app/core/product_table.h"
#include "cli_command.h"

namespace qm::cli {
namespace {

int RunDelete(const Args& input) {
  const Args args = Operands("delete", input);
  ExpectOperands("delete", args, 1, 1);
  const std::string key = catalog::ProductKey(args[0]);
  catalog::ProductTable table;
  table.Open(catalog::ProductOrder::Key);
  // A product renamed or deleted between finding and locking it is looked for again.
  for (int attempt = 1;; ++attempt) {
    if (!table.FindProduct(key)) throw CliError("No product has the key " + key);
    try {
      table.DataSet().Delete();
      break;
    } catch (const catalog::ProductChangedError&) {
      if (attempt == 3) throw;
    }
  }
  std::printf("Product %s deleted\n", key.c_str());
  return 0;
}

}  // namespace

QM_CLI_COMMAND("delete", "delete KEY                   mark the product with that key deleted", RunDelete);

}  // namespace qm::cli

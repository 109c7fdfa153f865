// quillmart-cli delete KEY: marks the product with that key deleted (found
// through CATALOG.NDX, as set finds it). The record stays in the file until the
// table is packed; recall brings it back.
#include <cstdio>

#include "app/core/product_table.h"
#include "cli_command.h"

namespace qm::cli {
namespace {

int RunDelete(const Args& args) {
  if (args.size() != 1) throw CliError("usage: delete KEY");
  catalog::ProductTable table;
  table.Open(catalog::ProductOrder::Key);
  if (!table.FindProduct(args[0])) throw CliError("No product has the key " + args[0]);
  table.DataSet().Delete();
  std::printf("Product %s deleted\n", args[0].c_str());
  return 0;
}

}  // namespace

QM_CLI_COMMAND("delete", "delete KEY                   mark the product with that key deleted", RunDelete);

}  // namespace qm::cli

// quillmart-cli import FILE.csv: appends the rows of a CSV file to the product
// table (app/core/product_import.h has the rules) and says how many went in.
#include <cstdio>

#include "app/core/plain_messages.h"
#include "app/core/product_import.h"
#include "cli_command.h"

namespace qm::cli {
namespace {

constexpr char kTableName[] = "catalog.dbf";  // found in any case; new tables are CATALOG.DBF

catalog::ImportOptions TakeImportOptions(Args& args) {
  catalog::ImportOptions options;
  options.replaceUnmappable = TakeFlag(args, "--replace-unmappable");
  const bool update = TakeFlag(args, "--update"), skip = TakeFlag(args, "--skip-existing");
  if (update && skip) throw UsageError("import: say --update or --skip-existing, not both");
  options.existing = update ? catalog::ExistingKeys::kUpdate
                     : skip ? catalog::ExistingKeys::kSkip
                            : catalog::ExistingKeys::kRefuse;
  std::string encoding;
  if (TakeOption(args, "--encoding", encoding) && !catalog::ParseImportEncoding(encoding, options.encoding))
    throw UsageError("import: no encoding \"" + encoding + "\"; say utf-8, latin1, cp1252 or cp437");
  return options;
}

int RunImport(const Args& input) {
  Args args = input;
  const catalog::ImportOptions options = TakeImportOptions(args);
  const Args operands = Operands("import", args);
  ExpectOperands("import", operands, 1, 1);
  catalog::ImportResult result;
  try {
    result = catalog::ImportProducts(operands[0], kTableName, options);
  } catch (const catalog::ImportUnmappableError& e) {
    throw CliError(std::string(e.what()) + "; nothing was appended (--replace-unmappable stores ? instead)");
  } catch (const catalog::ImportEncodingError& e) {
    throw CliError(std::string(e.what()) +
                   "; nothing was appended (name the file's encoding: --encoding latin1, cp1252 or cp437)");
  }
  std::string line =
      catalog::CountOf(result.appended, "record", "records") + " appended to " + result.tableName;
  if (result.updated > 0) line += "; " + catalog::CountOf(result.updated, "product", "products") + " changed";
  if (result.skipped > 0)
    line += "; " + catalog::CountOf(result.skipped, "row", "rows") + " left out (their keys exist)";
  if (result.replacedCharacters > 0)
    line += "; " + catalog::CountOf(result.replacedCharacters, "character", "characters") +
            " that code page 437 cannot hold stored as ?";
  std::printf("%s\n", line.c_str());
  return 0;
}

}  // namespace

QM_CLI_COMMAND("import", "import [OPTION]... FILE.csv  append the rows of a CSV file to CATALOG.DBF",
               RunImport);
QM_CLI_HELP("import",
            "The header row names the fields (any case); a column named like the memo field fills\n"
            "the memo. Every row is checked before any is appended: a refused file changes nothing.\n"
            "Dates: yyyy-mm-dd, yyyymmdd or the locale's order with a four-digit year.\n"
            "Logicals: T, F, Y, N or blank. A UTF-8 byte order mark, CR LF, LF and CR are all fine.\n"
            "Keys (the first field) are unique: two rows with one key refuse the file, and so\n"
            "does a row whose key a product has, unless --update or --skip-existing says.\n"
            "\nOptions:\n"
            "  --encoding=ENC       the file's encoding: utf-8 (the default), latin1, cp1252\n"
            "                       or cp437\n"
            "  --update             a row whose key a product has changes that product\n"
            "                       (else such a row refuses the file)\n"
            "  --skip-existing      a row whose key a product has is left out\n"
            "  --replace-unmappable\n"
            "                       store ? for a character code page 437 cannot hold,\n"
            "                       instead of refusing the file\n");

}  // namespace qm::cli

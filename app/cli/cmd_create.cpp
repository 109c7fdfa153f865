// quillmart-cli create [--force] NAME:WIDTH...
//
// What the setup dialog's Create New Database does: up to five character
// fields and the memo field "Snotes;M;10;0" last, a dBASE III table with its
// memo file, made by the engine's table creator after the field-list checks.
// An existing CATALOG.DBF is replaced only with --force, and its index is
// removed only once the new table stands, so a refused or failed creation
// loses nothing.
#include <cstdio>
#include <filesystem>

#include "app/core/product_table.h"
#include "cli_command.h"

namespace qm::cli {
namespace {

constexpr const char* kTableNameOnDisk = "CATALOG.DBF";  // the engine upper-cases new file names

// "NAME:WIDTH"; a width that is not a number is 0, which the field rules refuse.
catalog::ProductField FieldFromArgument(const std::string& arg) {
  const std::size_t colon = arg.rfind(':');
  catalog::ProductField field{arg.substr(0, colon), 0};
  if (colon == std::string::npos) return field;
  const std::string width = arg.substr(colon + 1);
  if (!width.empty() && width.size() < 6 && width.find_first_not_of("0123456789") == std::string::npos)
    field.width = std::stoi(width);
  return field;
}

int RunCreate(const Args& input) {
  Args args = input;
  const bool force = TakeFlag(args, "--force");
  args = Operands("create", args);
  if (args.size() > static_cast<std::size_t>(catalog::kMaxProductFields))
    throw UsageError("create takes at most five NAME:WIDTH fields, not " +
                     std::to_string(args.size()));
  std::vector<catalog::ProductField> fields;
  for (const std::string& arg : args) fields.push_back(FieldFromArgument(arg));
  catalog::CheckProductFields(fields);
  const std::string tablePath = dbf::NormalizePath(catalog::kProductTableName);
  if (std::filesystem::exists(tablePath) && !force)
    throw CliError(std::string(kTableNameOnDisk) + " exists in " +
                   std::filesystem::path(tablePath).parent_path().string() +
                   "; use --force to overwrite it (its records and memos are lost)");
  catalog::ProductTable::Create(fields, force);
  std::printf("%s has been created\n", kTableNameOnDisk);
  return 0;
}

}  // namespace

QM_CLI_COMMAND("create", "create [--force] NAME:WIDTH...  make an empty CATALOG.DBF (up to 5 fields)",
               RunCreate);
QM_CLI_HELP("create",
            "Character fields NAME:WIDTH (width 1 to 255, the key at most 100), the first one the product key; the\n"
            "memo field SNOTES comes last. Also writes the memo file CATALOG.DBT.\n"
            "\nOptions:\n"
            "  --force              replace an existing CATALOG.DBF (its records and memos are\n"
            "                       lost) and remove its CATALOG.NDX\n");

}  // namespace qm::cli

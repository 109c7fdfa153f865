// quillmart-cli create NAME:WIDTH ... [--force]
//
// What the setup dialog's Create New Database does: up to five character
// fields and the memo field "Snotes;M;10;0" last, a dBASE III table with its
// memo file, made by the engine's table creator after the field-list checks.
// An existing catalog.dbf is replaced only with --force, and its index is
// removed only once the new table stands, so a refused or failed creation
// loses nothing.
#include <cstdio>
#include <filesystem>

#include "app/core/product_table.h"
#include "cli_command.h"

namespace qm::cli {
namespace {

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
  std::vector<catalog::ProductField> fields;
  for (const std::string& arg : args) {
    if (arg.rfind("--", 0) == 0) throw CliError("Unknown option for create: " + arg);
    fields.push_back(FieldFromArgument(arg));
  }
  catalog::CheckProductFields(fields);
  if (std::filesystem::exists(dbf::NormalizePath(catalog::kProductTableName)) && !force)
    throw CliError(std::string(catalog::kProductTableName) +
                   " exists; use --force to overwrite it (its records and memos are lost)");
  catalog::ProductTable::Create(fields, force);
  std::printf("%s has been created\n", catalog::kProductTableName);
  return 0;
}

}  // namespace

QM_CLI_COMMAND("create",
               "create NAME:WIDTH ... [--force]  make an empty catalog.dbf (at most 5 fields)",
               RunCreate);

}  // namespace qm::cli

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

#include "cli_command.h"
#include "dbf/disk_file.h"
#include "dbf/table.h"
#include "dbf/table_creator.h"

namespace qm::cli {
namespace {

constexpr const char* kTableName = "catalog.dbf";
constexpr const char* kTableNameOnDisk = "CATALOG.DBF";  // the engine upper-cases new file names
constexpr const char* kIndexName = "CATALOG.NDX";
constexpr const char* kMemoFieldLine = "Snotes;M;10;0";
constexpr std::size_t kMaxUserFields = 5;

// "NAME:WIDTH" -> "NAME;C;WIDTH;0", as the dialog builds it from a row.
std::string FieldLineFromArgument(const std::string& arg) {
  const std::size_t colon = arg.rfind(':');
  if (colon == std::string::npos) return arg + ";C;;0";
  return arg.substr(0, colon) + ";C;" + arg.substr(colon + 1) + ";0";
}

std::vector<dbf::TbrFieldDef> CheckedFields(const Args& fields) {
  std::vector<std::string> lines;
  for (const std::string& arg : fields) lines.push_back(FieldLineFromArgument(arg));
  lines.push_back(kMemoFieldLine);
  std::vector<dbf::TbrFieldDef> defs;
  std::size_t bad = 0;
  if (!dbf::ParseFieldList(lines, defs, bad))
    throw CliError(std::string(dbf::kFieldListInvalid) + ": \"" +
                   (bad < fields.size() ? fields[bad] : lines[bad]) + "\"");
  for (std::size_t i = 0; i < fields.size(); ++i) {
    // The header keeps a width in one byte; a character field needs one at least.
    if (defs[i].length < 1 || defs[i].length > 255)
      throw CliError(std::string(dbf::kFieldListInvalid) + ": \"" + fields[i] +
                     "\" (width 1 to 255)");
  }
  return defs;
}

int RunCreate(const Args& input) {
  Args args = input;
  const bool force = TakeFlag(args, "--force");
  args = Operands("create", args);
  if (args.size() > kMaxUserFields)
    throw UsageError("create takes at most five NAME:WIDTH fields, not " +
                     std::to_string(args.size()));
  const std::vector<dbf::TbrFieldDef> defs = CheckedFields(args);

  const std::string tablePath = dbf::NormalizePath(kTableName);
  if (std::filesystem::exists(tablePath) && !force)
    throw CliError(std::string(kTableNameOnDisk) + " exists in " +
                   std::filesystem::path(tablePath).parent_path().string() +
                   "; use --force to overwrite it (its records and memos are lost)");

  {
    dbf::TbrTableCreator creator(kTableName, dbf::TbrDBFTypes::DBaseIII);
    for (const dbf::TbrFieldDef& def : defs)
      creator.AddField(def.name, def.type, def.length, def.decimals);
    if (!creator.Create()) throw CliError(std::string(kTableNameOnDisk) + " was not created");
  }
  // The old key index describes records that are gone.
  std::error_code ignored;
  std::filesystem::remove(dbf::NormalizePath(kIndexName), ignored);

  dbf::TbrTable check(kTableName, dbf::kOpenSharedReadWrite);
  if (!check.Usable() || !check.OpenTable())
    throw CliError(std::string(kTableNameOnDisk) + " was written but does not open");
  std::printf("%s has been created\n", kTableNameOnDisk);
  return 0;
}

}  // namespace

QM_CLI_COMMAND("create", "create [--force] NAME:WIDTH...  make an empty CATALOG.DBF (up to 5 fields)",
               RunCreate);
QM_CLI_HELP("create",
            "Character fields NAME:WIDTH (width 1 to 255), the first one the product key; the\n"
            "memo field SNOTES comes last. Also writes the memo file CATALOG.DBT.\n"
            "\nOptions:\n"
            "  --force              replace an existing CATALOG.DBF (its records and memos are\n"
            "                       lost) and remove its CATALOG.NDX\n");

}  // namespace qm::cli

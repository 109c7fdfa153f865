#include "app/gui/new_catalog_table.h"

#include <filesystem>

#include "dbf/disk_file.h"
#include "dbf/table.h"
#include "dbf/table_creator.h"

namespace qm::gui {

namespace {

constexpr char kIndexName[] = "CATALOG.NDX";
constexpr char kMemoFieldLine[] = "Snotes;M;10;0";
constexpr int kMaxWidth = 255;  // the header keeps a character field's width in one byte

[[noreturn]] void Refuse(const QString& why) {
  throw NewTableError(std::string(dbf::kFieldListInvalid) + ": " + why.toStdString());
}

// dBASE field names: an ASCII letter, then letters, digits and underscores.
bool IsFieldName(const QString& name) {
  for (qsizetype i = 0; i < name.size(); ++i) {
    const char16_t c = name[i].unicode();
    const bool letter = (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
    const bool digit = c >= u'0' && c <= u'9';
    if (!(letter || (i > 0 && (digit || c == u'_')))) return false;
  }
  return !name.isEmpty();
}

void CheckRow(const NewFieldRow& row) {
  if (!IsFieldName(row.name))
    Refuse(QStringLiteral("\"%1\" is not a field name (letters, digits and _, starting with a letter)")
               .arg(row.name));
  bool ok = false;
  const int width = row.width.toInt(&ok);
  if (!ok || width < 1 || width > kMaxWidth)
    Refuse(QStringLiteral("field \"%1\" needs a width of 1 to %2, not \"%3\"")
               .arg(row.name)
               .arg(kMaxWidth)
               .arg(row.width));
}

// Blanks typed around a name or a width are not part of it.
NewFieldRow Trimmed(const NewFieldRow& row) { return {row.name.trimmed(), row.width.trimmed()}; }

std::vector<dbf::TbrFieldDef> CheckedFields(const std::array<NewFieldRow, kNewFieldRows>& rows) {
  for (const NewFieldRow& row : rows)
    if (!Trimmed(row).name.isEmpty()) CheckRow(Trimmed(row));
  // Every line parses now; what the list check can still find is a name given twice.
  const std::vector<std::string> lines = NewFieldLines(rows);
  std::vector<dbf::TbrFieldDef> defs;
  std::size_t bad = 0;
  if (!dbf::ParseFieldList(lines, defs, bad)) {
    const std::string line = bad < lines.size() ? lines[bad] : std::string();
    Refuse(QStringLiteral("\"%1\" names a field twice").arg(QString::fromStdString(line.substr(0, line.find(';')))));
  }
  return defs;
}

}  // namespace

std::vector<std::string> NewFieldLines(const std::array<NewFieldRow, kNewFieldRows>& rows) {
  std::vector<std::string> lines;
  for (const NewFieldRow& typed : rows) {
    const NewFieldRow row = Trimmed(typed);
    if (!row.name.isEmpty()) lines.push_back((row.name + ";C;" + row.width + ";0").toStdString());
  }
  lines.push_back(kMemoFieldLine);
  return lines;
}

bool CreateNewCatalogTable(const std::array<NewFieldRow, kNewFieldRows>& rows,
                           const std::function<bool()>& confirmOverwrite,
                           const std::function<void()>& releaseTable) {
  const std::vector<dbf::TbrFieldDef> defs = CheckedFields(rows);
  // Asked before anything is removed: a declined question keeps the old table,
  // its memo file and its index exactly as they were.
  if (std::filesystem::exists(dbf::NormalizePath(kNewTableName)) && !confirmOverwrite()) return false;
  if (releaseTable) releaseTable();
  {
    dbf::TbrTableCreator creator(kNewTableName, dbf::TbrDBFTypes::DBaseIII);
    for (const dbf::TbrFieldDef& def : defs) creator.AddField(def.name, def.type, def.length, def.decimals);
    if (!creator.Create()) throw NewTableError(std::string(kNewTableName) + " was not created");
  }
  // The old key index describes records that are gone; its memo file was replaced.
  std::error_code ignored;
  std::filesystem::remove(dbf::NormalizePath(kIndexName), ignored);
  dbf::TbrTable check(kNewTableName, dbf::kOpenSharedReadWrite);
  if (!check.Usable() || !check.OpenTable())
    throw NewTableError(std::string(kNewTableName) + " was written but does not open");
  check.CloseTable();
  return true;
}

}  // namespace qm::gui

#include "app/gui/new_catalog_table.h"

#include <filesystem>

#include "app/core/product_table.h"
#include "dbf/disk_file.h"
#include "dbf/table_creator.h"

namespace qm::gui {

namespace {

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

// A row as typed becomes a field; the product table's own rules follow.
catalog::ProductField CheckedRow(const NewFieldRow& row) {
  if (!IsFieldName(row.name))
    Refuse(QStringLiteral("\"%1\" is not a field name (letters, digits and _, starting with a letter)")
               .arg(row.name));
  bool ok = false;
  const int width = row.width.toInt(&ok);
  if (!ok || width < 1 || width > catalog::kMaxFieldWidth)
    Refuse(QStringLiteral("field \"%1\" needs a width of 1 to %2, not \"%3\"")
               .arg(row.name)
               .arg(catalog::kMaxFieldWidth)
               .arg(row.width));
  return {row.name.toStdString(), width};
}

// Blanks typed around a name or a width are not part of it.
NewFieldRow Trimmed(const NewFieldRow& row) { return {row.name.trimmed(), row.width.trimmed()}; }

std::vector<catalog::ProductField> CheckedFields(const std::array<NewFieldRow, kNewFieldRows>& rows) {
  std::vector<catalog::ProductField> fields;
  for (const NewFieldRow& row : rows)
    if (!Trimmed(row).name.isEmpty()) fields.push_back(CheckedRow(Trimmed(row)));
  try {
    catalog::CheckProductFields(fields);  // names given twice, key width, SNOTES
  } catch (const catalog::ProductTableError& e) {
    throw NewTableError(e.what());
  }
  return fields;
}

}  // namespace

std::vector<std::string> NewFieldLines(const std::array<NewFieldRow, kNewFieldRows>& rows) {
  std::vector<std::string> lines;
  for (const NewFieldRow& typed : rows) {
    const NewFieldRow row = Trimmed(typed);
    if (!row.name.isEmpty()) lines.push_back((row.name + ";C;" + row.width + ";0").toStdString());
  }
  lines.push_back(catalog::kProductMemoFieldLine);
  return lines;
}

bool CreateNewCatalogTable(const std::array<NewFieldRow, kNewFieldRows>& rows,
                           const std::function<bool()>& confirmOverwrite,
                           const std::function<void()>& releaseTable) {
  const std::vector<catalog::ProductField> fields = CheckedFields(rows);
  // Asked before anything is removed: a declined question keeps the old table,
  // its memo file and its index exactly as they were.
  if (std::filesystem::exists(dbf::NormalizePath(catalog::kProductTableName)) && !confirmOverwrite()) return false;
  if (releaseTable) releaseTable();
  catalog::ProductTable::Create(fields, true);
  // Opened once, as the product window will open it.
  catalog::ProductTable check;
  check.Open(catalog::ProductOrder::Entry, true);
  check.Close();
  return true;
}

}  // namespace qm::gui

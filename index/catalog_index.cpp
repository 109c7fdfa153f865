#include "index/catalog_index.h"

namespace qm::index {

bool RebuildCatalogIndex(TbrIndexTable& table) {
  if (table.FieldCount() < 1) return false;
  if (!table.BuildIndex(kCatalogIndexFile, "", table.FieldName(1), "", 0, 0)) return false;
  if (table.OpenIndexList(kCatalogIndexFile, kCatalogTag) != 0) return false;
  table.GoTo(dbf::kGoTop);
  return table.CurrentTag() != nullptr;
}

void WalkInIndexOrder(const std::string& tablePath, const std::string& indexName,
                      const std::function<void(dbf::TbrTable&)>& visit) {
  TbrIndexTable table(tablePath, dbf::kOpenSharedReadOnly);
  if (!table.OpenTable()) throw TbrIndexWalkError(tablePath + " does not open as a table");
  table.SetUseDeleted(true);
  if (table.OpenIndexList("\"" + indexName + "\"", "") != 0)
    throw TbrIndexWalkError(indexName + " does not open as an index of " + tablePath);
  table.SelectTag(table.TagByNumber(1)->File().TagName(), false);
  for (bool ok = table.GoTo(dbf::kGoTop); ok; ok = table.GoTo(dbf::kGoNext)) visit(table);
}

}  // namespace qm::index

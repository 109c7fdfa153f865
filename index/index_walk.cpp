#include "index/index_walk.h"

namespace qm::index {

// The walk reads under a shared lock of the index files: writers keep them
// locked while they change records and keys and while a rebuild copies a new
// tree over the file, so the walk waits for them (each attempt retries for the
// engine's retry period) and then sees one whole, sorted index and the records
// it lists as they were written with it. A mark still set under that lock was
// left by a writer that stopped part way: that index is not walked.
void WalkInIndexOrder(const std::string& tablePath, const std::string& indexName,
                      const std::function<void(dbf::TbrTable&)>& visit, bool walkMarked) {
  TbrIndexTable table(tablePath, dbf::kOpenSharedReadOnly);
  if (!table.OpenTable()) throw TbrIndexWalkError(tablePath + " does not open as a table");
  table.SetUseDeleted(true);
  if (table.OpenIndexList("\"" + indexName + "\"", "") != 0)
    throw TbrIndexWalkError(indexName + " does not open as an index of " + tablePath);
  constexpr int kAttempts = 5;
  bool locked = false;
  for (int attempt = 0; attempt < kAttempts && !locked; ++attempt) {
    dbf::TbrSuppressErrors quiet(table);
    locked = table.LockIndexes();
  }
  if (!locked)
    throw TbrIndexWalkError(indexName + " stayed locked by another program (a rebuild or a write under way); try again");
  TbrIndexTable::IndexLockScope unlock(table);
  TbrNdxTag& tag = *table.TagByNumber(1);
  if (!tag.Reload()) throw TbrIndexWalkError(indexName + " does not open as an index of " + tablePath);
  if (tag.File().ChangeMarked() && !walkMarked)
    throw TbrIndexWalkError(indexName + " was left part way through a change by a program that stopped; rebuild it "
                            "(quillmart-cli reindex rebuilds CATALOG.NDX)");
  table.SelectTag(tag.File().TagName(), false);
  for (bool ok = table.GoTo(dbf::kGoTop); ok; ok = table.GoTo(dbf::kGoNext)) visit(table);
}

}  // namespace qm::index

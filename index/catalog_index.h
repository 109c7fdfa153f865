#pragma once
// The program's own index: CATALOG.NDX over the first field of the product table,
// unique and ascending, tag "CATALOG". The product window rebuilds it each time it
// is shown; the command-line companion does the same for reindex, dump --index and
// build --key-order.

#include <functional>
#include <stdexcept>
#include <string>

#include "index/index_table.h"

namespace qm::index {

inline constexpr char kCatalogIndexFile[] = "CATALOG.NDX";
inline constexpr char kCatalogTag[] = "CATALOG";

// Rebuilds CATALOG.NDX beside the table over its first field (each key value once,
// from the first record that carries it), makes it the table's only open index and
// moves to the first record in key order. Failures were reported through the
// table's error operation; the result tells whether the index is in use.
bool RebuildCatalogIndex(TbrIndexTable& table);

// A table or index that the walk could not open, when the engine's error
// operation did not raise already.
class TbrIndexWalkError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Opens `tablePath` read-only with `indexName` as its order and calls `visit` for
// every record in that order, deleted ones included (the caller filters), all
// under a shared lock of the index: writers wait meanwhile, so `visit` should
// keep what it is given rather than wait on anything. An index that carries the
// mark of a change left unfinished is refused (TbrIndexWalkError). Engine
// failures arrive as the engine's errors (dbf::EEngineIoError); a table or index that
// does not open without one raises TbrIndexWalkError.
// `walkMarked` walks a marked index too (tools that look at what a stopped writer left).
void WalkInIndexOrder(const std::string& tablePath, const std::string& indexName,
                      const std::function<void(dbf::TbrTable&)>& visit, bool walkMarked = false);

}  // namespace qm::index

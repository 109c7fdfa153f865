#pragma once
// Reading a table in the order of one of its index files while other programs
// may be writing it: the command-line companion's dump --index and the tools
// that check what a stopped writer left behind.

#include <functional>
#include <stdexcept>
#include <string>

#include "index/index_table.h"

namespace qm::index {

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

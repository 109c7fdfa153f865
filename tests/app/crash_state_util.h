#pragma once
// What a killed quillmart-cli left behind, as Quillmart's own engine reads it:
// the product table record by record with its memos, the header count against
// the file's length, CATALOG.NDX walked in key order, the generated pages and
// any file that is none of these. Used by the crash consistency test and its
// full-size run (bench/run-kill.sh).

#include <sys/types.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace qm::catalog::test {

struct Product {
  std::string code, name, notes;  // as stored, trailing blanks of the fields removed
  bool deleted = false;
  bool operator==(const Product&) const = default;
};
using Products = std::vector<Product>;

// How the header's record count relates to the file's length.
enum class CountState {
  Exact,      // header + count records (+ end-of-file marker)
  OnePast,    // one whole record written behind the count, the count not yet updated
  Wrong       // anything else
};

// The engine takes the record count from the file's length, as dbfread does
// (it reads up to the end-of-file marker); python3-dbf takes the header's count.
struct TableState {
  std::string error;  // empty when the table opened and every record and memo read
  Products records;
  int32_t headerCount = 0;
  CountState count = CountState::Wrong;
};

struct IndexEntry {
  std::string key;  // the key field of the record the entry points at
  int32_t recNo = 0;
  bool operator==(const IndexEntry&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const IndexEntry& e) { return out << e.key << "@" << e.recNo; }

struct IndexState {
  std::string error;  // empty when CATALOG.NDX walked clean
  std::vector<IndexEntry> entries;
  bool current = false;  // Quillmart takes it as current (holds the table's print, no change mark)
  bool marked = false;   // a writer's change mark is in the header
};

// Reads CATALOG.DBF of `dir` with the engine, deleted records included.
TableState ReadTableState(const std::string& dir);
// Walks CATALOG.NDX of `dir` in key order with the engine.
IndexState ReadIndexState(const std::string& dir);
// The entries a complete unique index holds: the first live record of each key.
std::vector<IndexEntry> ExpectedIndex(const Products& records);
// Faults of the generated files: a page without its closing lines, a link of
// catalog.htm or a line of upload.txt naming a missing file.
std::vector<std::string> PageFaults(const std::string& dir);
// Files of `dir` that are neither table files, pages nor upload.txt.
std::vector<std::string> StrayFiles(const std::string& dir);

// A program (argv[0], a full path) started in `dir`, output to `log`;
// SIGKILLed after `killAfterUs` microseconds unless that is negative.
struct RunOutcome {
  bool killed = false;  // the kill found it still running
  int status = -1;      // exit status when it ended by itself
  double ms = 0;        // wall time from start to end
};
RunOutcome RunKilled(const std::vector<std::string>& argv, const std::string& dir,
                        const std::string& log, long killAfterUs);

// The line interop_peer.py check expects for one record, and the line
// walk_ndx.pl prints for one index entry.
std::string PeerLine(const Product& p);
std::string WalkLine(const IndexEntry& e);

}  // namespace qm::catalog::test

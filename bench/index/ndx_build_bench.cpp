// qm_index_bench make DIR COUNT   writes DIR/BENCH.DBF (one C 8 field KEY) with COUNT
//                                 distinct keys in shuffled order, and DIR/keys.txt
// qm_index_bench build DIR        builds DIR/BENCH.NDX, unique, over KEY and prints
//                                 the build time and the sorter's bound
// qm_index_bench verify DIR       walks DIR/BENCH.NDX: one key per record
// qm_index_bench appends DIR COUNT repeated|distinct
//                                 appends COUNT records to DIR/APPEND.DBF (one C 8 field)
//                                 with a non-unique index attached, all with one key or
//                                 each with its own, and prints the time
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "index/cpl_format.h"
#include "index/index_table.h"

namespace {

constexpr uint64_t kKeySpace = 208827064576ull;  // 26^8 eight-letter keys
constexpr uint64_t kScramble = 2654435761ull;    // odd and not a multiple of 13: a bijection

std::string KeyOf(uint64_t i) {
  uint64_t v = (i * kScramble + 12345) % kKeySpace;
  std::string key(8, 'A');
  for (int p = 7; p >= 0; --p, v /= 26) key[p] = static_cast<char>('A' + v % 26);
  return key;
}

int Make(const std::string& dir, long count) {
  std::string header(32, '\0');
  header[0] = 0x03;
  header[1] = 126;
  header[2] = 12;
  header[3] = 8;
  for (int i = 0; i < 4; ++i) header[4 + i] = static_cast<char>(count >> (8 * i));
  header[8] = 65;  // header length: 32 + one descriptor + terminator
  header[10] = 9;  // record length: deletion flag + 8
  std::string field(32, '\0');
  field.replace(0, 3, "KEY");
  field[11] = 'C';
  field[16] = 8;
  std::ofstream table(dir + "/BENCH.DBF", std::ios::binary);
  std::ofstream keys(dir + "/keys.txt");
  table << header << field << '\r';
  for (long i = 0; i < count; ++i) {
    std::string key = KeyOf(static_cast<uint64_t>(i));
    table << ' ' << key;
    keys << key << '\n';
  }
  table << '\x1A';
  return table && keys ? 0 : 1;
}

int Build(const std::string& dir) {
  auto start = std::chrono::steady_clock::now();
  qm::index::TbrIndexTable table(dir + "/BENCH.DBF", qm::dbf::kOpenSharedReadWrite);
  if (!table.OpenTable() || !table.BuildIndex(dir + "/BENCH.NDX", "", "KEY", "", 0, 0)) return 1;
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("quillmart build %.3f s, sorter nodes at most %d KB\n", seconds,
              qm::index::cpl::kMaxNodeBlocks * 16);
  return 0;
}

long CountKeys(qm::index::TbrNdxTag& tag) {
  long keys = 0;
  for (int32_t r = tag.Move(qm::dbf::kGoTop); r != 0; r = tag.Move(qm::dbf::kGoNext)) ++keys;
  return keys;
}

// Walks the built index: every record's key once.
int Verify(const std::string& dir) {
  qm::index::TbrIndexTable table(dir + "/BENCH.DBF", qm::dbf::kOpenSharedReadWrite);
  if (!table.OpenTable() || table.OpenIndexList(dir + "/BENCH.NDX", "BENCH") != 0) return 1;
  long keys = CountKeys(*table.CurrentTag());
  std::printf("%ld keys in BENCH.NDX\n", keys);
  return keys == table.RecordCount() ? 0 : 1;
}

int Appends(const std::string& dir, long count, bool repeated) {
  std::string path = dir + "/APPEND.DBF";
  if (Make(dir, 0) != 0 || std::rename((dir + "/BENCH.DBF").c_str(), path.c_str()) != 0) return 1;
  qm::index::TbrIndexTable table(path, qm::dbf::kOpenSharedReadWrite);
  if (!table.OpenTable() || !table.BuildIndex(dir + "/APPEND.NDX", "", "KEY", "", 1, 0) ||
      table.OpenIndexList(dir + "/APPEND.NDX", "APPEND") != 0)
    return 1;
  auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < count; ++i) {
    table.BlankRecord();
    table.FieldPut(1, repeated ? std::string("SAMEKEY") : KeyOf(static_cast<uint64_t>(i)));
    if (!table.AppendRecord()) return 1;
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.3f\n", seconds);
  return CountKeys(*table.CurrentTag()) == count ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string command = argc > 2 ? argv[1] : "";
  if (command == "appends" && argc == 5)
    return Appends(argv[2], std::atol(argv[3]), std::string(argv[4]) == "repeated");
  if (command == "make" && argc == 4) return Make(argv[2], std::atol(argv[3]));
  if (command == "build" && argc == 3) return Build(argv[2]);
  if (command == "verify" && argc == 3) return Verify(argv[2]);
  std::fprintf(stderr,
               "usage: qm_index_bench make DIR COUNT | build DIR | verify DIR | appends DIR COUNT repeated|distinct\n");
  return 2;
}

// Two processes appending to one shared table with memos at the same time:
// two "quillmart-cli import" runs of 5,000 rows each. The header lock, the
// record count re-read under it and the memo lock must keep every record and
// memo whole and apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "dbf/dbf_format.h"
#include "dbf/memo_file.h"
#include "dbf/table.h"
#include "dbf_test_util.h"
#include "process_run_util.h"

namespace qm::dbf {
namespace {

constexpr int kRowsPerProcess = 5000;

std::string Code(char process, int row) {
  char code[9];
  std::snprintf(code, sizeof code, "%c%05d", process, row);
  return code;
}

// Memo lengths from empty to three blocks, so moves past block ends and
// multi-block memos interleave between the two writers.
std::string MemoFor(const std::string& code, int row) {
  std::string memo = code;
  const int length = (row * 97) % 1400;
  while (static_cast<int>(memo.size()) < length) memo += " text of " + code;
  return row % 50 == 0 ? std::string() : memo.substr(0, std::max<std::size_t>(length, code.size()));
}

std::string CsvFor(char process) {
  std::string csv = "CODE,NAME,SNOTES\n";
  for (int row = 1; row <= kRowsPerProcess; ++row) {
    const std::string code = Code(process, row);
    csv += code + ",writer " + process + " row " + std::to_string(row) + "," + MemoFor(code, row) +
           "\n";
  }
  return csv;
}

// Runs the two imports once, checks everything they wrote, and returns how often the
// writer changes in record order (at least 2 when both really wrote at the same time).
int RunTwoImportsAndCheck() {
  test::ScratchDir dir;
  if (test::RunCli({"create", "CODE:8", "NAME:30"}, dir.Path()).status != 0) {
    ADD_FAILURE() << "create failed";
    return -1;
  }
  test::WriteFileBytes(dir.File("a.csv"), CsvFor('A'));
  test::WriteFileBytes(dir.File("b.csv"), CsvFor('B'));
  {
    test::RunningProcess a({QM_CLI, "import", "a.csv"}, dir.Path());
    test::RunningProcess b({QM_CLI, "import", "b.csv"}, dir.Path());
    const test::ProcessResult ra = a.Wait();
    const test::ProcessResult rb = b.Wait();
    EXPECT_EQ(ra.status, 0) << ra.err;
    EXPECT_EQ(rb.status, 0) << rb.err;
    if (ra.status != 0 || rb.status != 0) return -1;
  }

  const std::string bytes = test::ReadFileBytes(dir.File("CATALOG.DBF"));
  const auto* header = reinterpret_cast<const uint8_t*>(bytes.data());
  const uint32_t headerLength = layout::GetU16(header + 8);
  const uint32_t recordLength = layout::GetU16(header + 10);
  EXPECT_EQ(layout::GetU32(header + 4), 2u * kRowsPerProcess);
  EXPECT_EQ(bytes.size(), headerLength + 2u * kRowsPerProcess * recordLength + 1);
  EXPECT_EQ(bytes.back(), '\x1A');

  TbrTable table(dir.File("CATALOG.DBF"), kOpenSharedReadOnly);
  EXPECT_TRUE(table.OpenTable());
  EXPECT_EQ(table.RecordCount(), 2 * kRowsPerProcess);
  std::map<char, int> lastRow;
  int switches = 0;  // writer changes in record order: proof that both wrote at once
  char lastWriter = 0;
  std::map<uint32_t, uint32_t> memoBlocks;  // start -> blocks taken
  for (bool ok = table.GoTo(kGoTop); ok; ok = table.GoTo(kGoNext)) {
    const std::string code = table.Text(1);
    EXPECT_EQ(code.size(), 6u) << "record " << table.RecNo();
    if (code.size() != 6u) return -1;
    const int row = std::stoi(code.substr(1));
    switches += lastWriter != 0 && lastWriter != code[0];
    lastWriter = code[0];
    EXPECT_EQ(row, lastRow[code[0]] + 1) << code;  // each writer's rows, in order, none lost
    lastRow[code[0]] = row;
    EXPECT_EQ(table.Text(2), "writer " + code.substr(0, 1) + " row " + std::to_string(row));
    const std::string memo = table.MemoText(3);
    EXPECT_EQ(memo, MemoFor(code, row)) << code;
    if (!memo.empty()) memoBlocks[table.MemoBlock(3)] = (memo.size() + 2 + 511) / 512;
  }
  EXPECT_EQ(lastRow['A'], kRowsPerProcess);
  EXPECT_EQ(lastRow['B'], kRowsPerProcess);
  uint32_t end = 0;
  for (const auto& [start, blocks] : memoBlocks) {
    EXPECT_GE(start, end) << "memos overlap at block " << start;
    end = start + blocks;
  }
  return switches;
}

TEST(Concurrency, TwoImportProcessesAppendTenThousandRecordsWithMemos) {
  // On a loaded machine one import may finish before the other starts; every run is
  // checked in full, and a few tries make sure at least one really interleaved.
  int switches = 0;
  for (int attempt = 0; attempt < 4 && switches < 2 && !HasFailure(); ++attempt)
    switches = RunTwoImportsAndCheck();
  EXPECT_GE(switches, 2) << "the two imports never ran at the same time";
}

}  // namespace
}  // namespace qm::dbf

// Interop with independent DBF programs (python3-dbf, python3-dbfread): what
// the engine writes they read identically, and what they write the
// companion's dump reads identically.
#include <gtest/gtest.h>

#include <cstdio>

#include "dbf/char_tables.h"
#include "dbf/table.h"
#include "dbf/table_creator.h"
#include "dbf_test_util.h"
#include "process_run_util.h"

namespace qm::dbf {
namespace {

struct Row {
  bool deleted;
  std::string code, name, notes;  // code page 437
};

std::string Hex(const std::string& text) {
  std::string out;
  char digits[3];
  for (unsigned char c : text) {
    std::snprintf(digits, sizeof digits, "%02x", c);
    out += digits;
  }
  return out;
}

// The expected file of interop_peer.py check: flag, then hex UTF-8 per field.
std::string ExpectedLines(const std::vector<Row>& rows) {
  std::string lines;
  for (const Row& r : rows)
    lines += std::string(r.deleted ? "*" : "-") + "\t" + Hex(Cp437ToUtf8(r.code)) + "\t" +
             Hex(Cp437ToUtf8(r.name)) + "\t" + Hex(Cp437ToUtf8(r.notes)) + "\n";
  return lines;
}

void Put(TbrTable& table, const Row& row) {
  table.FieldPut(1, row.code);
  table.FieldPut(2, row.name);
  ASSERT_TRUE(table.WriteMemo(3, row.notes));
}

// Creates a table in the dialect, appends the rows, then works it over the
// way the windows do: replace with a grown memo (moved), a shrunk memo (in
// place), a memo emptied, and deletions.
std::vector<Row> WriteThroughEngine(const std::string& path, TbrDBFTypes dialect) {
  {
    TbrTableCreator creator(path, dialect);
    creator.AddField("CODE", 'C', 8, 0);
    creator.AddField("NAME", 'C', 30, 0);
    creator.AddField("SNOTES", 'M', 10, 0);
    EXPECT_TRUE(creator.Create());
  }
  std::vector<Row> rows = {
      {false, "E-1", "Caf\x82 cr\x8Ame", "short memo"},
      {false, "E-2", "Z\x81rich", std::string(600, '\x81')},
      {false, "E-3", "No memo", ""},
      {false, "E-4", "Se\xA4or \x9C", "line one\r\nline two, \"quoted\""},
      {false, "E-5", "To delete", "deleted memo"},
  };
  TbrTable table(path, kOpenSharedReadWrite);
  EXPECT_TRUE(table.OpenTable());
  table.SetLockBeforeWrite(true);
  for (const Row& row : rows) {
    table.BlankRecord();
    Put(table, row);
    EXPECT_TRUE(table.AppendRecord());
  }
  rows[0].notes = std::string(1500, 'G') + " grown past its block";
  rows[1].notes = "shrunk";
  rows[3].notes = "";
  rows[2].name = "Replaced \x94";
  for (int n : {1, 2, 3, 4}) {
    EXPECT_TRUE(table.GoTo(n));
    Put(table, rows[n - 1]);
    EXPECT_TRUE(table.ReplaceRecord(n));
  }
  EXPECT_TRUE(table.GoTo(5) && table.MarkDeleted());
  rows[4].deleted = true;
  table.CloseTable();
  return rows;
}

class InteropEngineWrites : public ::testing::TestWithParam<TbrDBFTypes> {};

TEST_P(InteropEngineWrites, PeersReadTheSameRecordsAndMemos) {
  test::ScratchDir dir;
  const std::vector<Row> rows = WriteThroughEngine(dir.File("ENGINE.DBF"), GetParam());
  TbrTable table(dir.File("ENGINE.DBF"), kOpenSharedReadOnly);
  ASSERT_TRUE(table.OpenTable());
  ASSERT_EQ(table.RecordCount(), 5);
  for (int n = 1; n <= 5; ++n) {
    ASSERT_TRUE(table.GoTo(n));
    EXPECT_EQ(table.Deleted(), rows[n - 1].deleted);
    EXPECT_EQ(table.Text(2), rows[n - 1].name);
    EXPECT_EQ(table.MemoText(3), rows[n - 1].notes) << n;
  }
  test::WriteFileBytes(dir.File("expected.txt"), ExpectedLines(rows));
  std::vector<std::string> args{"check", "ENGINE.DBF", "expected.txt"};
  if (GetParam() == TbrDBFTypes::DBaseIV) args.push_back("--dbfread-only");
  const test::ProcessResult r = test::RunPeerScript("interop_peer.py", args, dir.Path());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
}

INSTANTIATE_TEST_SUITE_P(Dialects, InteropEngineWrites,
                         ::testing::Values(TbrDBFTypes::DBaseIII, TbrDBFTypes::DBaseIV,
                                           TbrDBFTypes::FoxPro2));

TEST(InteropPeerWrites, DumpReadsThePeersTableIdentically) {
  test::ScratchDir dir;
  test::ProcessResult r = test::RunPeerScript("interop_peer.py", {"write", dir.Path()}, dir.Path());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::vector<std::pair<std::string, std::vector<std::string>>> formats = {
      {"csv", {}},
      {"json", {"--json"}},
      {"csv-deleted", {"--deleted"}},
      {"json-deleted", {"--json", "--deleted"}}};
  for (const auto& [format, flags] : formats) {
    std::vector<std::string> args{"dump", "peers.dbf"};
    args.insert(args.end(), flags.begin(), flags.end());
    r = test::RunCli(args, dir.Path());
    ASSERT_EQ(r.status, 0) << r.err;
    test::WriteFileBytes(dir.File("dump." + format), r.out);
    r = test::RunPeerScript("interop_peer.py",
                            {"check-dump", "PEERS.DBF", format, "dump." + format}, dir.Path());
    EXPECT_EQ(r.status, 0) << format << "\n" << r.out << r.err;
  }
}

// python3-dbf writes Visual FoxPro tables with memo fields and an .FPT but
// the memo flag clear; blank records must keep binary memo pointers at zero.
TEST(InteropPeerWrites, VisualFoxTableWithMemosBothWays) {
  test::ScratchDir dir;
  test::ProcessResult r = test::RunPeerScript("interop_peer.py", {"vfp-write", dir.Path()}, dir.Path());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  {
    TbrTable table(dir.File("VFP.DBF"), kOpenSharedReadWrite);
    ASSERT_TRUE(table.OpenTable());
    ASSERT_TRUE(table.GoTo(1));
    EXPECT_EQ(table.MemoText("NOTES"), "memo written by python3-dbf");
    table.BlankRecord();
    table.FieldPut(1, "E-1");
    ASSERT_TRUE(table.AppendRecord());
    table.BlankRecord();
    table.FieldPut(1, "E-2");
    ASSERT_TRUE(table.WriteMemo("NOTES", "memo written by the engine"));
    ASSERT_TRUE(table.AppendRecord());
  }
  r = test::RunPeerScript("interop_peer.py", {"vfp-read", "VFP.DBF"}, dir.Path());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string rows =
      "V-1|memo written by python3-dbf\nV-2|\nE-1|\nE-2|memo written by the engine\n";
  EXPECT_EQ(r.out, rows + "--\n" + rows);
}

}  // namespace
}  // namespace qm::dbf

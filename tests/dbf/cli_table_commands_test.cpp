// The companion's table commands as a user runs them: create, import, dump.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>

#include "dbf/table.h"
#include "dbf_test_util.h"
#include "process_run_util.h"

namespace qm::dbf {
namespace {

using test::ReadFileBytes;
using test::RunCli;
using test::WriteFileBytes;

const std::string kData = std::string(QM_TEST_DATA) + "/dbf-memo/";
const std::string kDemoCsv = std::string(QM_SOURCE_DIR) + "/demo/products.csv";

class CliTable : public ::testing::Test {
 protected:
  void CreateDemo() {
    ASSERT_EQ(
        RunCli({"create", "CODE:8", "NAME:30", "PRICE:10", "COLOUR:12", "STOCK:6"}, Dir()).status,
        0);
    ASSERT_EQ(RunCli({"import", kDemoCsv}, Dir()).status, 0);
  }
  const std::string& Dir() const { return m_dir.Path(); }
  std::string File(const std::string& name) const { return m_dir.File(name); }
  // A failing command: exit status 1, one line on stderr holding the words.
  void ExpectFailure(const test::ProcessResult& r, const std::string& words) {
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(words), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
  }
  void WriteCsv(const std::string& text) { WriteFileBytes(File("in.csv"), text); }

  test::ScratchDir m_dir;
};

TEST_F(CliTable, CreateMakesTheCatalogTableWithItsMemoFieldLast) {
  const test::ProcessResult r = RunCli({"create", "keyname:8", "Title:30"}, Dir());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "CATALOG.DBF has been created\n");
  EXPECT_EQ(ReadFileBytes(File("CATALOG.DBF"))[0], '\x83');
  EXPECT_EQ(ReadFileBytes(File("CATALOG.DBT")).size(), 513u);
  EXPECT_EQ(RunCli({"dump"}, Dir()).out, "KEYNAME,TITLE,SNOTES\r\n");
}

TEST_F(CliTable, ExistingCatalogIsReplacedOnlyWithForce) {
  CreateDemo();
  WriteFileBytes(File("CATALOG.NDX"), "old index");
  const std::string table = ReadFileBytes(File("CATALOG.DBF"));
  const std::string memo = ReadFileBytes(File("CATALOG.DBT"));
  ExpectFailure(RunCli({"create", "CODE:8"}, Dir()), "--force");
  EXPECT_EQ(ReadFileBytes(File("CATALOG.DBF")), table);
  EXPECT_EQ(ReadFileBytes(File("CATALOG.DBT")), memo);
  EXPECT_TRUE(std::filesystem::exists(File("CATALOG.NDX")));
  ASSERT_EQ(RunCli({"create", "CODE:8", "--force"}, Dir()).status, 0);
  EXPECT_EQ(ReadFileBytes(File("CATALOG.DBT")).size(), 513u);
  EXPECT_FALSE(std::filesystem::exists(File("CATALOG.NDX")));
  EXPECT_EQ(RunCli({"dump"}, Dir()).out, "CODE,SNOTES\r\n");
}

TEST_F(CliTable, InvalidFieldListsChangeNothing) {
  CreateDemo();
  WriteFileBytes(File("CATALOG.NDX"), "old index");
  const std::string table = ReadFileBytes(File("CATALOG.DBF"));
  const std::vector<std::vector<std::string>> lists = {
      {"CODE:8", "code:9"},  // names repeat in upper case
      {"CODE:x"},            // width not a number
      {"CODE"},              // no width
      {"Snotes:10"},         // the memo field's name
      {"CODE:0"},            // a field needs a width
      {"CODE:256"},          // wider than a descriptor holds
  };
  for (std::vector<std::string> args : lists) {
    args.insert(args.begin(), "create");
    args.push_back("--force");
    ExpectFailure(RunCli(args, Dir()), "Field list is invalid");
  }
  // Names other programs cannot use are refused as typed, never cut or stored.
  for (const char* arg : {"1CODE:8", "MY CODE:8", "MY-CODE:8", "Description_long:8", "Pr\xC3\xADs:8"})
    ExpectFailure(RunCli({"create", arg, "--force"}, Dir()),
                  "\"" + std::string(arg).substr(0, std::string(arg).rfind(':')) + "\"");
  const test::ProcessResult six =
      RunCli({"create", "A:1", "B:1", "C:1", "D:1", "E:1", "F:1", "--force"}, Dir());
  EXPECT_EQ(six.status, 2);  // a wrong command line
  EXPECT_NE(six.err.find("five"), std::string::npos) << six.err;
  EXPECT_EQ(ReadFileBytes(File("CATALOG.DBF")), table);
  EXPECT_TRUE(std::filesystem::exists(File("CATALOG.NDX")));
}

TEST_F(CliTable, DemoImportDumpsAsItsGoldenFiles) {
  CreateDemo();
  EXPECT_EQ(RunCli({"dump"}, Dir()).out, ReadFileBytes(kData + "products.dump.csv"));
  EXPECT_EQ(RunCli({"dump", "catalog.dbf", "--json"}, Dir()).out,
            ReadFileBytes(kData + "products.dump.jsonl"));
}

TEST_F(CliTable, ImportChecksEveryRowBeforeAppendingAny) {
  CreateDemo();
  const std::string table = ReadFileBytes(File("CATALOG.DBF"));
  const std::string memo = ReadFileBytes(File("CATALOG.DBT"));
  WriteCsv("code,Snotes\nN-1,fine\nN-2,fine too\nN-3-TOO-LONG,x\n");
  ExpectFailure(RunCli({"import", "in.csv"}, Dir()), "Row 4, field CODE");
  WriteCsv("CODE,WEIGHT\nN-1,3\n");
  ExpectFailure(RunCli({"import", "in.csv"}, Dir()), "WEIGHT");
  WriteCsv("CODE,NAME\nN-1,\"never closed\n");
  ExpectFailure(RunCli({"import", "in.csv"}, Dir()), "quote");
  WriteCsv("CODE,NAME\nN-1\n");
  ExpectFailure(RunCli({"import", "in.csv"}, Dir()), "Row 2");
  ExpectFailure(RunCli({"import", "missing.csv"}, Dir()), "missing.csv");
  EXPECT_EQ(ReadFileBytes(File("CATALOG.DBF")), table);
  EXPECT_EQ(ReadFileBytes(File("CATALOG.DBT")), memo);
  std::filesystem::remove(File("CATALOG.DBT"));  // rows without memo come first
  WriteCsv("CODE,SNOTES\nN-1,\nN-2,a memo\n");
  ExpectFailure(RunCli({"import", "in.csv"}, Dir()), "6101");
  EXPECT_EQ(ReadFileBytes(File("CATALOG.DBF")), table);
}

TEST_F(CliTable, ImportTranslatesToCodePage437AndFillsTheMemo) {
  ASSERT_EQ(RunCli({"create", "CODE:4", "NAME:5"}, Dir()).status, 0);
  WriteCsv(
      "\xEF\xBB\xBFname,CODE,snotes\r\n\xC3\xA9t\xC3\xA9,A1,\"na\xC3\xAFve\r\n\xE2\x82\xAC\"\r\n");
  ASSERT_EQ(RunCli({"import", "--replace-unmappable", "in.csv"}, Dir()).status, 0);
  TbrTable table(File("CATALOG.DBF"), kOpenSharedReadOnly);
  ASSERT_TRUE(table.OpenTable() && table.GoTo(kGoTop));
  EXPECT_EQ(table.RawText(2), "\x82t\x82  ");     // é in code page 437
  EXPECT_EQ(table.MemoText(3), "na\x8Bve\r\n?");  // no euro sign in code page 437
}

TEST_F(CliTable, DumpSkipsDeletedRecordsUnlessAsked) {
  CreateDemo();
  {
    TbrTable table(File("CATALOG.DBF"), kOpenSharedReadWrite);
    ASSERT_TRUE(table.OpenTable() && table.GoTo(2));
    ASSERT_TRUE(table.MarkDeleted());
  }
  const std::string csv = RunCli({"dump"}, Dir()).out;
  EXPECT_EQ(csv.find("QM-1002"), std::string::npos);
  EXPECT_NE(csv.find("QM-1003"), std::string::npos);
  const std::string all = RunCli({"dump", "--deleted"}, Dir()).out;
  EXPECT_EQ(all.substr(0, 44), "_deleted,CODE,NAME,PRICE,COLOUR,STOCK,SNOTES");
  EXPECT_NE(all.find("\r\n*,QM-1002,"), std::string::npos);
  EXPECT_NE(all.find("\r\n,QM-1003,"), std::string::npos);
  const std::string json = RunCli({"dump", "--json", "--deleted"}, Dir()).out;
  EXPECT_NE(json.find("{\"_deleted\":true,\"CODE\":\"QM-1002\""), std::string::npos);
}

// A table open in another program while "create --force" replaces it: the
// old handle must never write its layout into the new files.
TEST_F(CliTable, CreateOverATableOpenElsewhereKeepsTheNewTableWhole) {
  CreateDemo();
  TbrTable old(File("CATALOG.DBF"), kOpenSharedReadWrite);
  ASSERT_TRUE(old.OpenTable());
  ASSERT_TRUE(old.GoTo(1));
  ASSERT_EQ(RunCli({"create", "CODE:8", "NAME:30", "--force"}, Dir()).status, 0);
  const std::string table = ReadFileBytes(File("CATALOG.DBF"));
  const std::string memo = ReadFileBytes(File("CATALOG.DBT"));
  test::ReportRecorder reports;
  old.FieldPut(1, "OLD-1");
  EXPECT_FALSE(old.WriteMemo("SNOTES", "a memo for the old layout"));
  EXPECT_FALSE(old.AppendRecord());
  EXPECT_FALSE(old.ReplaceRecord(1));
  ASSERT_EQ(reports.Reports().size(), 3u);
  for (const test::Report& report : reports.Reports()) {
    EXPECT_EQ(report.code, code::kNotATable);
    EXPECT_NE(report.text.find("(replaced by another program since it was opened"),
              std::string::npos)
        << report.text;
  }
  EXPECT_EQ(ReadFileBytes(File("CATALOG.DBF")), table);
  EXPECT_EQ(ReadFileBytes(File("CATALOG.DBT")), memo);

  // Rebuilt in place with another record length: refused the same way.
  TbrTable fresh(File("CATALOG.DBF"), kOpenSharedReadWrite);
  ASSERT_TRUE(fresh.OpenTable());
  std::string rebuilt = table;
  rebuilt[10] = static_cast<char>(rebuilt[10] + 5);
  std::filesystem::resize_file(File("CATALOG.DBF"), 0);  // same file, new content
  {
    std::FILE* f = std::fopen(File("CATALOG.DBF").c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fwrite(rebuilt.data(), 1, rebuilt.size(), f);
    std::fclose(f);
  }
  reports.Clear();
  fresh.BlankRecord();
  EXPECT_FALSE(fresh.AppendRecord());
  ASSERT_EQ(reports.Reports().size(), 1u);
  EXPECT_NE(reports.Reports()[0].text.find("changed in its layout"), std::string::npos);
  EXPECT_EQ(ReadFileBytes(File("CATALOG.DBF")), rebuilt);
}

TEST_F(CliTable, DumpRefusesWhatIsNotATable) {
  // No product table: the message, then the next step on a line of its own.
  const test::ProcessResult missing = RunCli({"dump"}, Dir());
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("CATALOG.DBF"), std::string::npos) << missing.err;
  EXPECT_NE(missing.err.find("\nquillmart-cli: next step: "), std::string::npos) << missing.err;
  // A damaged table the user named is no reason to create the product table.
  WriteFileBytes(File("NOTES.DBF"), std::string(40, '\x04'));
  ExpectFailure(RunCli({"dump", "notes.dbf"}, Dir()), "1001");
  const test::ProcessResult usage = RunCli({"dump", "--xml"}, Dir());
  EXPECT_EQ(usage.status, 2);
  EXPECT_NE(usage.err.find("--xml"), std::string::npos) << usage.err;
}

// The product table of the catalog tests as python3-dbf wrote it: its last memo
// (D400's, empty) is not padded to a whole block.
class CliHostileFiles : public CliTable {
 protected:
  void SetUp() override {
    std::filesystem::copy_file(std::string(QM_TEST_DATA) + "/catalog/catalog.dbf", File("CATALOG.DBF"));
    std::filesystem::copy_file(std::string(QM_TEST_DATA) + "/catalog/catalog.dbt", File("CATALOG.DBT"));
  }
  void PatchMemo(std::size_t at, const std::string& bytes) {
    std::string memo = ReadFileBytes(File("CATALOG.DBT"));
    memo.replace(at, bytes.size(), bytes);
    WriteFileBytes(File("CATALOG.DBT"), memo);
  }
  // Every product as dump --deleted shows it, by key.
  std::map<std::string, std::string> Products() {
    const test::ProcessResult r = RunCli({"dump", "--deleted", "--json"}, Dir());
    EXPECT_EQ(r.status, 0) << r.err;
    std::map<std::string, std::string> rows;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) rows[line.substr(line.find("\"CODE\":\"") + 8, 4)] = line;
    return rows;
  }
  void ExpectOnlyChanged(const std::map<std::string, std::string>& before, const std::string& key,
                         const std::string& notes) {
    const std::map<std::string, std::string> after = Products();
    ASSERT_EQ(after.size(), before.size());
    for (const auto& [code, row] : before) {
      if (code == key) EXPECT_NE(after.at(code).find("\"SNOTES\":\"" + notes + "\""), std::string::npos) << after.at(code);
      else EXPECT_EQ(after.at(code), row) << "the notes of " << code << " changed";
    }
  }
};

TEST_F(CliHostileFiles, FreeSpaceWordsOfTheMemoFileAreNotTrusted) {
  const std::map<std::string, std::string> before = Products();
  ASSERT_EQ(before.size(), 4u);
  // Next free block 4 names D400's unpadded memo: the new notes go after it.
  PatchMemo(0, std::string("\x04\0\0\0", 4));
  const std::string rope(600, 'r');
  ASSERT_EQ(RunCli({"set", "A100", "SNOTES=" + rope}, Dir()).status, 0);
  ExpectOnlyChanged(before, "A100", rope);
  // Garbage that would make a 1 TB sparse file: the notes go at the end.
  const std::map<std::string, std::string> middle = Products();
  const std::size_t size = ReadFileBytes(File("CATALOG.DBT")).size();
  PatchMemo(0, "\xFF\xFF\xFF\x7F");
  ASSERT_EQ(RunCli({"set", "C300", "SNOTES=cafe"}, Dir()).status, 0);
  ExpectOnlyChanged(middle, "C300", "cafe");
  EXPECT_LE(ReadFileBytes(File("CATALOG.DBT")).size(), size + 2 * 512);
}

TEST_F(CliHostileFiles, MemoFileCutShortIsReportedAndNeverWrittenOver) {
  // C300's and D400's notes start past the end of the file.
  std::string memo = ReadFileBytes(File("CATALOG.DBT"));
  memo.resize(1100);
  WriteFileBytes(File("CATALOG.DBT"), memo);
  const std::string table = ReadFileBytes(File("CATALOG.DBF"));
  ExpectFailure(RunCli({"set", "A100", "SNOTES=" + std::string(600, 'n')}, Dir()), "is cut short");
  ExpectFailure(RunCli({"set", "N500", "NAME=New", "SNOTES=new", "--new"}, Dir()), "is cut short");
  EXPECT_EQ(ReadFileBytes(File("CATALOG.DBT")), memo) << "a refused set left memo blocks behind";
  EXPECT_EQ(ReadFileBytes(File("CATALOG.DBF")), table);
  WriteCsv("CODE,NAME,SNOTES\nN600,Import,imported notes\n");
  ExpectFailure(RunCli({"import", File("in.csv")}, Dir()), "is cut short");
  EXPECT_EQ(ReadFileBytes(File("CATALOG.DBT")), memo) << "a refused import left memo blocks behind";
  ExpectFailure(RunCli({"dump"}, Dir()), "is cut short");
  // Clearing the lost notes repairs the table; then writes go on.
  ASSERT_EQ(RunCli({"set", "C300", "SNOTES="}, Dir()).status, 0);
  ASSERT_EQ(RunCli({"set", "D400", "SNOTES="}, Dir()).status, 0);
  ASSERT_EQ(RunCli({"set", "A100", "SNOTES=after the repair"}, Dir()).status, 0);
  const test::ProcessResult dump = RunCli({"dump", "--deleted"}, Dir());
  EXPECT_NE(dump.out.find("A100,Rope,12.50,after the repair"), std::string::npos) << dump.out;
  EXPECT_NE(dump.out.find("B200,Net,40.00,gone"), std::string::npos) << dump.out;
}

TEST_F(CliHostileFiles, KeyFieldOfWidthZeroIsRefusedInPlainWords) {
  ASSERT_EQ(RunCli({"reindex"}, Dir()).status, 0);  // CATALOG.NDX exists
  std::string table = ReadFileBytes(File("CATALOG.DBF"));
  table[32 + 16] = 0;  // the first descriptor's width
  WriteFileBytes(File("CATALOG.DBF"), table);
  for (const std::vector<std::string>& command :
       {std::vector<std::string>{"reindex"}, {"dump"}, {"set", "A100", "NAME=x"}}) {
    const test::ProcessResult r = RunCli(command, Dir());
    ExpectFailure(r, "field CODE has width 0");
    EXPECT_EQ(r.err.find("Bramble Error 1"), r.err.find("Bramble Error 1001")) << r.err;
  }
  EXPECT_EQ(ReadFileBytes(File("CATALOG.DBF")), table);
}

}  // namespace
}  // namespace qm::dbf

// Table creation: the files a new table consists of, byte for byte, and the
// checks of a field list.
#include "dbf/table_creator.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>

#include "dbf/dbf_format.h"
#include "dbf_test_util.h"

namespace qm::dbf {
namespace {

using test::ReadFileBytes;

const uint8_t* U8(const std::string& s, std::size_t at = 0) {
  return reinterpret_cast<const uint8_t*>(s.data()) + at;
}

TEST(TableCreator, CatalogTableWithMemoIsWhatDbase3Expects) {
  test::ScratchDir dir;
  TbrTableCreator creator(" \"" + dir.File("catalog.dbf") + "\" ", TbrDBFTypes::DBaseIII);
  creator.AddField("Code", 'C', 10, 0);
  creator.AddField("Name", 'c', 30, 0);
  creator.AddField("Snotes", 'M', 4, 2);
  ASSERT_TRUE(creator.Create());
  EXPECT_EQ(creator.Path(), dir.File("CATALOG.DBF"));
  const std::string table = ReadFileBytes(dir.File("CATALOG.DBF"));
  ASSERT_EQ(table.size(), 130u);
  EXPECT_EQ(U8(table)[0], 0x83);
  const std::time_t now = std::time(nullptr);
  std::tm today{};
  localtime_r(&now, &today);
  EXPECT_EQ(U8(table)[1], today.tm_year % 100);
  EXPECT_EQ(U8(table)[2], today.tm_mon + 1);
  EXPECT_EQ(U8(table)[3], today.tm_mday);
  EXPECT_EQ(layout::GetU32(U8(table, 4)), 0u);
  EXPECT_EQ(layout::GetU16(U8(table, 8)), 129u);
  EXPECT_EQ(layout::GetU16(U8(table, 10)), 51u);
  EXPECT_EQ(table.substr(12, 20), std::string(20, '\0'));
  EXPECT_EQ(table.substr(32, 11), std::string("CODE\0\0\0\0\0\0\0", 11));
  EXPECT_EQ(table[32 + 32 + 11], 'C');
  const std::string snotes = table.substr(96, 32);
  EXPECT_EQ(snotes.substr(0, 12), std::string("SNOTES\0\0\0\0\0M", 12));
  EXPECT_EQ(U8(snotes)[16], 10);
  EXPECT_EQ(U8(snotes)[17], 0);
  EXPECT_EQ(snotes.substr(18), std::string(14, '\0'));
  EXPECT_EQ(table.substr(128), "\x0D\x1A");
  const std::string memo = ReadFileBytes(dir.File("CATALOG.DBT"));
  ASSERT_EQ(memo.size(), 513u);
  EXPECT_EQ(layout::GetU32(U8(memo)), 1u);
  EXPECT_EQ(memo.substr(8, 8), std::string("CATALOG\0", 8));
  EXPECT_EQ(memo[512], '\x1A');
}

TEST(TableCreator, WithoutMemoFieldNoMemoFileIsTouched) {
  test::ScratchDir dir;
  test::WriteFileBytes(dir.File("PLAIN.DBT"), "keep me");
  TbrTableCreator creator(dir.File("plain.dbf"), TbrDBFTypes::DBaseIII);
  creator.AddField("A", 'C', 10, 0);
  creator.AddField("B", 'C', 30, 0);
  ASSERT_TRUE(creator.Create());
  EXPECT_EQ(U8(ReadFileBytes(dir.File("PLAIN.DBF")))[0], 0x03);
  EXPECT_EQ(ReadFileBytes(dir.File("PLAIN.DBT")), "keep me");
}

TEST(TableCreator, NamesTypesAndLengthsAreNormalised) {
  test::ScratchDir dir;
  TbrTableCreator creator(dir.File("n.dbf"), TbrDBFTypes::DBaseIII);
  creator.AddField("Description_long", 'C', 20, 0);
  creator.AddField("When", 'd', 10, 2);
  creator.AddField("Flag", 'L', 5, 0);
  creator.AddField("", 'C', 10, 0);  // adds nothing
  EXPECT_EQ(creator.FieldCount(), 3);
  EXPECT_EQ(creator.RecordLength(), 1u + 20u + 8u + 1u);
  ASSERT_TRUE(creator.Create());
  const std::string t = ReadFileBytes(dir.File("N.DBF"));
  EXPECT_EQ(t.substr(32, 11), std::string("DESCRIPTIO\0", 11));
  EXPECT_EQ(t[64 + 11], 'D');
  EXPECT_EQ(U8(t)[64 + 16], 8);
  EXPECT_EQ(U8(t)[64 + 17], 0);
}

TEST(TableCreator, OtherDialectsWriteTheirMemoHeaders) {
  test::ScratchDir dir;
  TbrTableCreator db4(dir.File("four.dbf"), TbrDBFTypes::DBaseIV);
  db4.AddField("M", 'M', 10, 0);
  ASSERT_TRUE(db4.Create());
  EXPECT_EQ(U8(ReadFileBytes(dir.File("FOUR.DBF")))[0], 0x8B);
  EXPECT_EQ(ReadFileBytes(dir.File("FOUR.DBT")),
            std::string("\x01\0\0\0\0\0\0\0FOUR\0\0\0\0\0\0\x02\x01\x00\x02\0\0", 24));
  TbrTableCreator fox(dir.File("fox.dbf"), TbrDBFTypes::FoxPro2);
  fox.AddField("G", 'G', 4, 0);
  ASSERT_TRUE(fox.Create());
  EXPECT_EQ(U8(ReadFileBytes(dir.File("FOX.DBF")))[0], 0xF5);
  const std::string fpt = ReadFileBytes(dir.File("FOX.FPT"));
  ASSERT_EQ(fpt.size(), 512u);
  EXPECT_EQ(fpt.substr(0, 8), std::string("\0\0\0\x08\0\0\0\x40", 8));
  EXPECT_EQ(fpt.substr(8), std::string(504, '\0'));
}

TEST(TableCreator, ReplacesAClosedTableButNotAnOpenOne) {
  test::ScratchDir dir;
  test::WriteFileBytes(dir.File("CATALOG.DBF"), "old table");
  test::WriteFileBytes(dir.File("CATALOG.DBT"), std::string(5000, 'm'));
  {
    TbrTableCreator creator(dir.File("catalog.dbf"), TbrDBFTypes::DBaseIII);
    creator.AddField("SNOTES", 'M', 10, 0);
    ASSERT_TRUE(creator.Create());
  }
  EXPECT_EQ(ReadFileBytes(dir.File("CATALOG.DBT")).size(), 513u);
  TbrDiskFile open(dir.File("CATALOG.DBF"), kOpenSharedReadWrite);
  ASSERT_TRUE(open.Open());
  const std::string before = ReadFileBytes(dir.File("CATALOG.DBF"));
  test::ReportRecorder reports;
  TbrTableCreator again(dir.File("catalog.dbf"), TbrDBFTypes::DBaseIII);
  again.AddField("X", 'C', 5, 0);
  EXPECT_FALSE(again.Create());
  ASSERT_EQ(reports.Reports().size(), 1u);
  EXPECT_EQ(reports.Reports()[0].code, code::kFileAlreadyOpen);
  EXPECT_EQ(reports.Reports()[0].subCode, subcode::kCreate);
  EXPECT_EQ(ReadFileBytes(dir.File("CATALOG.DBF")), before);
}

TEST(TableCreator, LengthAboveOneByteIsRefusedBeforeWriting) {
  test::ScratchDir dir;
  test::ReportRecorder reports;
  TbrTableCreator creator(dir.File("wide.dbf"), TbrDBFTypes::DBaseIII);
  creator.AddField("OK", 'C', 10, 0);
  creator.AddField("TOOWIDE", 'C', 300, 0);
  EXPECT_FALSE(creator.Create());
  ASSERT_EQ(reports.Reports().size(), 1u);
  EXPECT_EQ(reports.Reports()[0].code, code::kFieldType);
  EXPECT_EQ(reports.Reports()[0].text, "TOOWIDE");
  EXPECT_FALSE(std::filesystem::exists(dir.File("WIDE.DBF")));
}

TEST(TableCreator, CreatorDestroyedUnusedStillCreates) {
  test::ScratchDir dir;
  { TbrTableCreator creator(dir.File("lazy.dbf"), TbrDBFTypes::DBaseIII); }
  EXPECT_EQ(ReadFileBytes(dir.File("LAZY.DBF")).size(), 34u);
}

TEST(FieldList, ChecksOfTheFieldLines) {
  std::vector<TbrFieldDef> defs;
  std::size_t bad = 0;
  ASSERT_TRUE(ParseFieldList({"keyname;C;8;0", "Price;N;10;2  ", "Snotes;M;10;0"}, defs, bad));
  EXPECT_EQ(defs[1].name, "Price");
  EXPECT_EQ(defs[1].length, 10);
  EXPECT_EQ(defs[1].decimals, 2);
  EXPECT_EQ(defs[2].type, 'M');
  const std::vector<std::pair<std::vector<std::string>, std::size_t>> invalid = {
      {{}, 0},
      {{"A;C;5;0", "B;CC;5;0"}, 1},  // two-letter type
      {{"A;C;5;"}, 0},               // nothing after the third ';'
      {{"Name;C;5;0", "NAME;C;9;0"}, 1},
      {{"A;C;x5;0"}, 0},
      {{";C;5;0"}, 0},
      {{"A;C;5"}, 0},
  };
  for (std::size_t i = 0; i < invalid.size(); ++i) {
    EXPECT_FALSE(ParseFieldList(invalid[i].first, defs, bad)) << i;
    EXPECT_EQ(bad, invalid[i].second) << i;
  }
  ASSERT_TRUE(ParseFieldList({"A;C;5;1234"}, defs, bad));  // decimals from three characters
  EXPECT_EQ(defs[0].decimals, 123);
  ASSERT_TRUE(ParseFieldList({"Descr_10;C;5;0", "A1_b2_C3_d;C;5;0"}, defs, bad));
  EXPECT_EQ(defs[1].name, "A1_b2_C3_d");
  // Only names every other program reads back unchanged; none is cut.
  for (const char* name : {"Description_long", "1CODE", "_CODE", "MY CODE", "MY-CODE", "Pr\xC3\xADs"}) {
    EXPECT_FALSE(ParseFieldList({"A;C;5;0", std::string(name) + ";C;5;0"}, defs, bad)) << name;
    EXPECT_EQ(bad, 1u) << name;
    EXPECT_NE(FieldNameProblem(name), "") << name;
  }
  EXPECT_EQ(FieldNameProblem("Description_long"), "a field name has at most 10 characters");
}

}  // namespace
}  // namespace qm::dbf

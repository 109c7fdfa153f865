#include <gtest/gtest.h>

#include "dbf/errors.h"

#include "index/ndx_format.h"
#include "index/ndx_key.h"
#include "index/ndx_page.h"
#include "table_fixture_util.h"

namespace qm::index {
namespace {

using test::TableFixture;
using Order = std::vector<int32_t>;

uint32_t U32(const std::string& bytes, size_t at) {
  return GetU32(reinterpret_cast<const uint8_t*>(bytes.data()) + at);
}

class NdxFile : public TableFixture {
 protected:
  void Build(const std::string& expression, bool unique) {
    ASSERT_TRUE(m_table->BuildIndex("T", "", expression, "", unique ? 0 : 1, 0));
    ASSERT_EQ(m_table->OpenIndexList("T.NDX", "T"), 0);
  }
};

TEST_F(NdxFile, EmptyTableGivesHeaderAndOneEmptyPage) {
  Create({{"NAME", 'C', 10}});
  Build("name", true);
  std::string bytes = test::ReadFile(m_dir.File("T.NDX"));
  ASSERT_EQ(bytes.size(), 1024u);
  EXPECT_EQ(U32(bytes, 0), 1u);  // root
  EXPECT_EQ(U32(bytes, 4), 2u);  // next free block
  EXPECT_EQ(bytes.substr(512), std::string(512, '\0'));
  EXPECT_EQ(Walk(), Order{});
  EXPECT_TRUE(m_table->Bof() && m_table->Eof());
}

TEST_F(NdxFile, TwentySixKeysBuildTwoLeavesUnderARootOfCountOne) {
  Create({{"NAME", 'C', 10}});
  for (int i = 26; i >= 1; --i) Append({"K" + std::to_string(100 + i)});
  Build("NAME", true);
  std::string bytes = test::ReadFile(m_dir.File("T.NDX"));
  EXPECT_EQ(bytes[12], 10);  // key length
  EXPECT_EQ(bytes[14], 25);  // keys per page
  EXPECT_EQ(bytes[18], 20);  // entry size
  EXPECT_EQ(bytes[23], 1);   // unique
  EXPECT_EQ(bytes.substr(24, 5), std::string("NAME\0", 5));
  size_t root = U32(bytes, 0) * 512;
  EXPECT_EQ(U32(bytes, root), 1u);
  size_t first = U32(bytes, root + 4) * 512;
  size_t second = U32(bytes, root + 4 + 20) * 512;
  EXPECT_EQ(U32(bytes, first), 25u);
  EXPECT_EQ(U32(bytes, second), 1u);
  EXPECT_EQ(bytes.substr(root + 12, 10), "K125      ");  // separator: last key of leaf 1
  Order expected;
  for (int r = 26; r >= 1; --r) expected.push_back(r);
  EXPECT_EQ(Walk(), expected);
  EXPECT_EQ(WalkBack(), expected);
}

TEST_F(NdxFile, NegativeNumbersSortBelowZeroAndBlankDatesLast) {
  Create({{"PRICE", 'N', 8, 2}, {"SHIPPED", 'D', 8}});
  for (auto v : {"-5", "12.5", "-10", "0", "3", "-0.25"}) Append({v});
  Build("PRICE", false);
  EXPECT_EQ(Walk(), (Order{3, 1, 6, 4, 5, 2}));
  Append({"-7.5"});  // maintained insert lands between -10 and -5
  EXPECT_EQ(Walk(), (Order{3, 7, 1, 6, 4, 5, 2}));
  EXPECT_LT(OrderedFromDouble(-1e-300), OrderedFromDouble(0));
  EXPECT_EQ(DoubleFromOrdered(OrderedFromDouble(-7.5)), -7.5);

  ASSERT_TRUE(m_table->BuildIndex("D", "", "SHIPPED", "", 1, 0));
  ASSERT_EQ(m_table->OpenIndexList("D", "D"), 0);
  for (int r = 1; r <= 7; ++r) {
    const char* dates[] = {"20050307", "        ", "19991231", "20050306", "", "20000229", "18000101"};
    Replace(r, {"0", dates[r - 1]});
  }
  EXPECT_EQ(Walk(), (Order{7, 3, 6, 4, 1, 2, 5}));
  EXPECT_EQ(NdxDateKeyText("20000229"), " 2451604");
  EXPECT_EQ(NdxDateKeyText(""), "~       ");
}

TEST_F(NdxFile, UniqueIndexKeepsTheFirstRecordOfAKey) {
  Create({{"NAME", 'C', 6}});
  for (auto v : {"PEAR", "APPLE", "PEAR  ", "FIG"}) Append({v});
  Build("NAME", true);
  EXPECT_EQ(Walk(), (Order{2, 4, 1}));
  Append({"APPLE"});
  Append({"KIWI"});
  EXPECT_EQ(Walk(), (Order{2, 4, 6, 1}));
  EXPECT_EQ(m_table->RecordCount(), 6);
  m_table->SelectTag("", false);
  EXPECT_EQ(Walk(), (Order{1, 2, 3, 4, 5, 6}));
}

TEST_F(NdxFile, ReplaceMovesAnEntryOnlyWhenItsKeyChanged) {
  Create({{"NAME", 'C', 6}, {"QTY", 'N', 4}});
  for (auto v : {"B", "C", "A"}) Append({v, "1"});
  Build("NAME", false);
  std::string before = test::ReadFile(m_dir.File("T.NDX"));
  Replace(2, {"C", "99"});
  EXPECT_EQ(test::ReadFile(m_dir.File("T.NDX")), before);
  Replace(2, {"0", "99"});
  EXPECT_EQ(Walk(), (Order{2, 3, 1}));
}

TEST_F(NdxFile, MovesSkipDeletedRecordsAndStopAtTheEnds) {
  Create({{"NAME", 'C', 6}});
  for (auto v : {"D", "B", "C", "A"}) Append({v});
  ASSERT_TRUE(m_table->dbf::TbrTable::GoTo(3));
  ASSERT_TRUE(m_table->MarkDeleted());
  EXPECT_EQ(Walk(), (Order{1, 2, 4}));
  Build("NAME", false);
  EXPECT_EQ(Walk(), (Order{4, 2, 1}));
  EXPECT_FALSE(m_table->GoTo(dbf::kGoNext));
  EXPECT_TRUE(m_table->Eof());
  EXPECT_EQ(m_table->RecNo(), 1);  // the last record in key order
  EXPECT_EQ(m_table->SelectTag("NOSUCH", false), -1);
  EXPECT_EQ(Walk(), (Order{1, 2, 4}));
}

TEST_F(NdxFile, BuildOverOnlyDeletedRecordsGivesAnEmptyRoot) {
  Create({{"NAME", 'C', 6}});
  Append({"A"});
  ASSERT_TRUE(m_table->MarkDeleted());
  Build("NAME", true);
  EXPECT_EQ(test::ReadFile(m_dir.File("T.NDX")).size(), 1024u);
  EXPECT_EQ(Walk(), Order{});
}

TEST_F(NdxFile, FindKeyExactPartialAndNear) {
  Create({{"NAME", 'C', 8}});
  for (auto v : {"PLUM", "APPLE", "PEAR"}) Append({v});
  Build("NAME", true);
  EXPECT_TRUE(m_table->FindKey("PE"));
  EXPECT_EQ(m_table->RecNo(), 3);
  m_table->SetExactMatch(true);
  EXPECT_FALSE(m_table->FindKey("PE"));
  EXPECT_TRUE(m_table->Eof());
  m_table->SetStayNear(true);
  EXPECT_FALSE(m_table->FindKey("B"));
  EXPECT_EQ(m_table->RecNo(), 3);
  EXPECT_TRUE(m_table->FindKey("PLUM"));
  EXPECT_EQ(m_table->RecNo(), 1);
}

TEST_F(NdxFile, IndexFileNamesKindsAndZap) {
  Create({{"NAME", 'C', 6}});
  for (auto v : {"B", "A"}) Append({v});
  Build("NAME", true);
  EXPECT_EQ(m_table->OpenIndexFile("t"), 1);  // already attached, under any spelling
  auto code = [](auto&& call) {
    try {
      call();
    } catch (const dbf::EEngineIoError& error) {
      return std::to_string(error.Code()) + "/" + std::to_string(error.SubCode());
    }
    return std::string("none");
  };
  EXPECT_EQ(code([&] { m_table->OpenIndexFile("T.NTX"); }), "2/-7");
  EXPECT_EQ(code([&] { m_table->OpenIndexFile("MISSING"); }), "2/-7");
  EXPECT_EQ(code([&] { m_table->BuildIndex("T.CDX", "", "NAME", "", 0, 0); }), "5117/5114");
  ASSERT_EQ(m_table->OpenIndexList("\"T.NDX\"", "t"), 0);
  EXPECT_EQ(m_table->CurrentTagName(), "T");
  ASSERT_TRUE(m_table->EmptyIndexes());
  std::string bytes = test::ReadFile(m_dir.File("T.NDX"));
  EXPECT_EQ(bytes.size(), 1024u);
  EXPECT_EQ(U32(bytes, 0), 1u);
  EXPECT_EQ(U32(bytes, 4), 2u);
  EXPECT_EQ(test::WalkTag(*m_table->CurrentTag()).size(), 0u);
  Append({"C"});
  EXPECT_EQ(Walk(), Order{3});
}

// NDX readers compare keys blank-padded to the key length, so a byte below the blank
// (a tab) sorts before the key's end: the build orders keys so, and exact find-key,
// maintenance and Perl XBase agree with it.
TEST_F(NdxFile, KeysWithAByteBelowTheBlankFoundAsBuilt) {
  Create({{"NAME", 'C', 6}});
  for (auto v : {"A!", "A", "A\tB", "A B", "A\x01"}) Append({v});
  Build("NAME", true);
  EXPECT_EQ(Walk(), (Order{5, 3, 2, 4, 1}));
  m_table->SetExactMatch(true);
  for (int32_t r = 1; r <= 5; ++r) {
    ASSERT_TRUE(m_table->dbf::TbrTable::GoTo(r));
    std::string key = m_table->RawText(1);
    EXPECT_TRUE(m_table->FindKey(key)) << "record " << r;
    EXPECT_EQ(m_table->RecNo(), r);
  }
  Append({"A\t"});
  EXPECT_EQ(Walk(), (Order{5, 6, 3, 2, 4, 1}));
  auto perl = test::PerlWalk({m_dir.File("T.NDX")}).front();
  EXPECT_EQ(test::FirstDifference(perl, test::WalkTag(*m_table->CurrentTag())), "");
}

// NDX keys stop at 100 bytes. A build that fails leaves no file behind and an index
// that was there as it was, work file removed.
TEST_F(NdxFile, TooWideKeyRefusedAndAFailedBuildKeepsTheIndex) {
  EXPECT_EQ(kMaxNdxKeyLength, 100);
  Create({{"NAME", 'C', 10}, {"CODE", 'C', 120}});
  Append({"PEAR", "X"});
  Append({"APPLE", "Y"});
  Build("NAME", true);
  std::string before = test::ReadFile(m_dir.File("T.NDX"));
  for (const char* name : {"T", "WIDE"}) {
    try {
      m_table->BuildIndex(name, "", "CODE", "", 0, 0);
      ADD_FAILURE() << "a 120-byte key was built into " << name;
    } catch (const dbf::EEngineIoError& error) {
      EXPECT_NE(std::string(error.what()).find("120 characters wide"), std::string::npos) << error.what();
      EXPECT_NE(std::string(error.what()).find("at most 100"), std::string::npos) << error.what();
    }
  }
  EXPECT_EQ(test::ReadFile(m_dir.File("T.NDX")), before);
  EXPECT_EQ(test::RunCommand("ls"), "T.DBF\nT.NDX\n");
  ASSERT_EQ(m_table->OpenIndexList("T", "T"), 0);
  EXPECT_EQ(Walk(), (Order{2, 1}));
}

}  // namespace
}  // namespace qm::index

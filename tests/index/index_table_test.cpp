#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "dbf/errors.h"
#include "table_fixture_util.h"

namespace qm::index {
namespace {

class IndexTable : public test::TableFixture {
 protected:
  int Search(const std::string& value, int options, int32_t field = 0, int32_t after = 0) {
    m_table->SetSearchOptions(options);
    m_field = field;
    m_recNo = after;
    return m_table->SequentialSearch(value, m_field, 0, m_recNo);
  }
  int32_t m_field = 0;
  int32_t m_recNo = 0;
};

TEST_F(IndexTable, SequentialSearchUnderTheOptionsWord) {
  Create({{"NAME", 'C', 10}, {"QTY", 'N', 6, 2}, {"DUE", 'D', 8}, {"OK", 'L', 1}});
  Append({"Lamp", "1.5", "20050307", "T"});
  Append({"Desk lamp", "42", "", "F"});
  Append({"LAMPSHADE", "0", "19991231", "T"});
  EXPECT_EQ(Search("lamp", 1 | 32), 1);  // case-insensitive, at the start
  EXPECT_EQ(m_recNo, 1);
  EXPECT_EQ(Search("lamp", 1 | 32, 1, 1), 1);  // the search starts after record 1
  EXPECT_EQ(m_recNo, 3);
  EXPECT_EQ(Search("lamp", 0), 6);  // anywhere, must reach the end of the text
  EXPECT_EQ(m_recNo, 2);
  EXPECT_EQ(Search("Lamp", 2), 1);  // whole field
  EXPECT_EQ(Search("Lam", 2), 0);
  EXPECT_EQ(Search("*SHADE", 4), 5);
  EXPECT_EQ(Search("L?MP*", 4), 1);
  EXPECT_EQ(m_recNo, 3);  // wildcards are case-sensitive: record 3 is the first "L?MP"
  EXPECT_EQ(Search("42.000", 0), 1);
  EXPECT_EQ(m_field, 2);
  EXPECT_EQ(Search("12/31/1999", 0), 1);
  EXPECT_EQ(m_field, 3);
  EXPECT_EQ(Search("y", 0, 4), 1);  // logical only when searched by field
  EXPECT_EQ(Search("nowhere", 1), 0);
  EXPECT_EQ(m_table->RecNo(), 1);  // back where the table stood
}

TEST_F(IndexTable, RefusedIndexLockStopsTheAppend) {
  Create({{"NAME", 'C', 10}});
  Append({"A"});
  ASSERT_TRUE(m_table->BuildIndex("T", "", "NAME", "", 0, 0));
  ASSERT_EQ(m_table->OpenIndexList("T", "T"), 0);
  // Another program holds the index file's lock region.
  int other = ::open(m_dir.File("T.NDX").c_str(), O_RDWR);
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_start = 0x40000000;
  lock.l_len = 0x3FFFFFFF;
  ASSERT_EQ(::fcntl(other, F_OFD_SETLK, &lock), 0);
  m_table->BlankRecord();
  m_table->FieldPut(1, "B");
  try {
    m_table->AppendRecord();
    ADD_FAILURE() << "append went through a refused index lock";
  } catch (const dbf::EEngineIoError& error) {
    EXPECT_EQ(error.Code(), 33);
    EXPECT_EQ(error.SubCode(), 2222);
    EXPECT_NE(std::string(error.what()).find("T.NDX"), std::string::npos);
  }
  ::close(other);
  EXPECT_EQ(m_table->RecordCount(), 1);
  Append({"C"});
  EXPECT_EQ(Walk(), (std::vector<int32_t>{1, 2}));
}

TEST_F(IndexTable, ClipperProtocolLocksIndexesForAFindOnly) {
  Create({{"NAME", 'C', 10}});
  Append({"A"});
  ASSERT_TRUE(m_table->BuildIndex("T", "", "NAME", "", 0, 0));
  m_table->SetTableLockingProtocol(2);
  ASSERT_EQ(m_table->OpenIndexList("T", "T"), 0);
  EXPECT_TRUE(m_table->FindKey("A"));
  int other = ::open(m_dir.File("T.NDX").c_str(), O_RDWR);
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_start = 1000000000;
  lock.l_len = 1000000000;
  EXPECT_EQ(::fcntl(other, F_OFD_SETLK, &lock), 0);  // released at the end of the find
  ::close(other);
}

// Two table objects on one table and index (two datasets, or two processes): the
// second sees the first one's 400 appends through its find-key, top and bottom
// although the tree grew past the file length it last knew.
TEST_F(IndexTable, SecondTableObjectFindsAndWalksWhatTheFirstAppended) {
  Create({{"NAME", 'C', 10}});
  Append({"K0000"});
  ASSERT_TRUE(m_table->BuildIndex("T", "", "NAME", "", 0, 0));
  ASSERT_EQ(m_table->OpenIndexList("T", "T"), 0);
  TbrIndexTable other(m_dir.File("T.DBF"), dbf::kOpenSharedReadWrite);
  ASSERT_TRUE(other.OpenTable());
  ASSERT_EQ(other.OpenIndexList("T", "T"), 0);
  EXPECT_TRUE(other.FindKey("K0000"));
  for (int i = 400; i >= 1; --i) Append({"K" + std::to_string(1000 + i)});
  EXPECT_TRUE(other.FindKey("K1200"));
  EXPECT_EQ(other.RecNo(), 202);
  ASSERT_TRUE(other.GoTo(dbf::kGoBottom));
  EXPECT_EQ(other.RecNo(), 2);
  std::vector<int32_t> order;
  for (bool ok = other.GoTo(dbf::kGoTop); ok; ok = other.GoTo(dbf::kGoNext)) order.push_back(other.RecNo());
  EXPECT_EQ(order, Walk());
  EXPECT_EQ(order.size(), 401u);
}

// A unique index's duplicate has no entry; when the key it shares has left the
// index too, next and prior from it continue at its key's place without a skip.
TEST_F(IndexTable, NextAndPriorFromARecordWithoutAnEntry) {
  Create({{"NAME", 'C', 10}});
  for (const char* name : {"APPLE", "BANANA", "BANANA", "CHERRY", "DATE"}) Append({name});
  ASSERT_TRUE(m_table->BuildIndex("T", "", "NAME", "", 0, 0));
  ASSERT_EQ(m_table->OpenIndexList("T", "T"), 0);
  Replace(2, {"BLUE"});  // record 3 keeps BANANA, which no entry holds any more
  ASSERT_TRUE(m_table->GoTo(3));
  ASSERT_TRUE(m_table->GoTo(dbf::kGoNext));
  EXPECT_EQ(m_table->RecNo(), 2);  // BLUE
  ASSERT_TRUE(m_table->GoTo(3));
  ASSERT_TRUE(m_table->GoTo(dbf::kGoPrior));
  EXPECT_EQ(m_table->RecNo(), 1);  // APPLE
  ASSERT_TRUE(m_table->GoTo(2));
  ASSERT_TRUE(m_table->GoTo(dbf::kGoNext));
  EXPECT_EQ(m_table->RecNo(), 4);  // CHERRY
}

// Order options 7 and 8 upper-case character keys: the file says so in its key
// expression, so a later open maintains and finds keys as the build made them.
TEST_F(IndexTable, UpperCasedOrderSurvivesReopening) {
  Create({{"NAME", 'C', 10}});
  for (const char* name : {"pear", "Apple", "fig"}) Append({name});
  ASSERT_TRUE(m_table->BuildIndex("T", "", "NAME", "", 1, 7));
  ASSERT_EQ(m_table->OpenIndexList("T", "T"), 0);
  EXPECT_EQ(m_table->CurrentTag()->File().Expression(), "UPPER(NAME)");
  Append({"banana"});
  Append({"Cherry"});
  std::vector<int32_t> maintained = Walk();
  EXPECT_EQ(maintained, (std::vector<int32_t>{2, 4, 5, 3, 1}));
  m_table->SetExactMatch(true);
  EXPECT_TRUE(m_table->FindKey("BANANA"));
  EXPECT_EQ(m_table->RecNo(), 4);
  ASSERT_TRUE(m_table->Reindex());
  EXPECT_EQ(Walk(), maintained);
}

}  // namespace
}  // namespace qm::index

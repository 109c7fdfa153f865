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

}  // namespace
}  // namespace qm::index

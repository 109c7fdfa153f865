// The table opened afresh through the engine, on a table written by
// python3-dbf: order of entry, deleted records skipped, CP437 text and memo.
#include "app/core/engine_record_source.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace qm::catalog {
namespace {

class EngineRecordSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const QString name : {"catalog.dbf", "catalog.dbt"})
      ASSERT_TRUE(QFile::copy(QM_TEST_DATA "/catalog/" + name, dir.filePath(name)));
  }
  QStringList Walk(EngineRecordSource& source, int position) {
    QStringList out;
    for (source.First(); !source.Eof(); source.Next()) out << source.FieldText(position);
    return out;
  }
  QTemporaryDir dir;
};

TEST_F(EngineRecordSourceTest, OrderOfEntryWithoutDeletedRecords) {
  EngineRecordSource source(dir.filePath("catalog.dbf"));
  source.Open();
  EXPECT_EQ(source.FieldCount(), 4);
  EXPECT_EQ(Walk(source, 1), QStringList({"A100", "C300", "D400"}));
  EXPECT_EQ(Walk(source, 2), QStringList({"Rope", "Café crème", "Hook"}));
  source.First();
  EXPECT_EQ(source.MemoText(), "Strong rope.");
  source.Next();
  EXPECT_EQ(source.MemoText(), "First line\r\nSecond line");
  EXPECT_EQ(source.FieldText(4), source.MemoText()) << "the memo counts as the last field position";
  source.Next();
  EXPECT_EQ(source.MemoText(), "");
  source.Next();
  EXPECT_TRUE(source.Eof());
}

TEST_F(EngineRecordSourceTest, PositionBeyondFieldsIsAnError) {
  EngineRecordSource source(dir.filePath("catalog.dbf"));
  source.First();
  EXPECT_THROW(source.FieldText(5), RecordSourceError);
  EXPECT_THROW(source.FieldText(0), RecordSourceError);
}

TEST_F(EngineRecordSourceTest, MissingAndDamagedTables) {
  EngineRecordSource missing(dir.filePath("none.dbf"));
  try {
    missing.Open();
    FAIL();
  } catch (const RecordSourceError& e) {
    EXPECT_EQ(QString::fromUtf8(e.what()), "Cannot find file " + dir.filePath("none.dbf"));
  }
  QFile junk(dir.filePath("junk.dbf"));
  ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
  junk.write("this is not a table at all, only words in a file");
  junk.close();
  EngineRecordSource damaged(dir.filePath("junk.dbf"));
  try {
    damaged.Open();
    FAIL();
  } catch (const RecordSourceError& e) {
    EXPECT_TRUE(QString::fromUtf8(e.what()).startsWith("Error getting " + dir.filePath("junk.dbf"))) << e.what();
  }
}

}  // namespace
}  // namespace qm::catalog

// quillmart-cli build and settings, run as processes in a scratch folder with
// a private settings store.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "record_source_util.h"

namespace {

using qm::catalog::test::ReadFile;

class CliTest : public ::testing::Test {
 protected:
  using Result = qm::catalog::test::CliResult;
  Result Run(const QStringList& args) { return qm::catalog::test::RunCli(work.path(), config.path(), args); }
  void CopyFixture() {
    for (const QString name : {"catalog.dbf", "catalog.dbt"})
      ASSERT_TRUE(QFile::copy(QM_TEST_DATA "/catalog/" + name, work.filePath(name)));
  }
  QTemporaryDir work, config;
};

TEST_F(CliTest, SettingsRoundTripMultiLineValues) {
  EXPECT_EQ(Run({"settings", "set", "Web Page Setup", "pageparagraph", "One\r\nTwo"}).status, 0);
  const Result got = Run({"settings", "get", "Web Page Setup", "pageparagraph"});
  EXPECT_EQ(got.out, "One\r\nTwo\n");
  EXPECT_EQ(Run({"settings", "list"}).out, "[Web Page Setup]\npageparagraph=One\\r\\nTwo\n");
  const Result absent = Run({"settings", "get", "Web Page Setup", "pagetitle"});
  EXPECT_EQ(absent.status, 1);
  EXPECT_TRUE(absent.err.contains("pagetitle"));
}

TEST_F(CliTest, BuildWithStackedPagesPrintsBothNotices) {
  CopyFixture();
  Run({"settings", "set", "Stacked Pages", "usestackedpages", "1"});
  Run({"settings", "set", "Database", "Columns", "4"});
  const Result r = Run({"build"});
  EXPECT_EQ(r.status, 0) << r.err.toStdString();
  EXPECT_EQ(r.out, "catalog.htm created\nStacked Pages Created\n");  // no bar when not on a terminal
  EXPECT_EQ(ReadFile(work.filePath("upload.txt")), "catalog.htm\r\nA100.htm\r\nC300.htm\r\nD400.htm\r\n");
  EXPECT_TRUE(ReadFile(work.filePath("C300.htm")).contains("<P>First line\r\nSecond line\r\n</TD></TABLE>\r\n"));
  EXPECT_TRUE(ReadFile(work.filePath("catalog.htm")).contains("<A HREF=\"C300.htm\">C300</A>"));
}

TEST_F(CliTest, BuildFailuresExitWithTheErrorText) {
  Result r = Run({"build"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.startsWith("Cannot find file ")) << r.err.toStdString();
  CopyFixture();
  Run({"settings", "set", "Database", "Columns", "5"});
  r = Run({"build"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.contains("Field index out of range")) << r.err.toStdString();
  EXPECT_EQ(r.out, "");
}

}  // namespace

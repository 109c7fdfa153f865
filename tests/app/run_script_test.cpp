// ./run.sh as a new user runs it, without a display, in a fresh copy of the
// sources: once after a first run that failed half-way, then twice more. It
// reuses this build (QM_BUILD_DIR) instead of installing and building again.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "cli_run_util.h"

namespace {

using qm::catalog::test::CliResult;
using qm::catalog::test::CliScratch;

TEST(RunScript, RunsAgainAndAgainAlsoAfterAFailedFirstRun) {
  CliScratch cli;
  const QString copy = cli.Path("copy");
  CliResult r = cli.Shell("mkdir copy && cd '" QM_SOURCE_DIR
                          "' && tar --exclude=./.git --exclude='./build*' "
                          "--exclude='./demo-work*' -cf - . | tar -xf - -C '" +
                          copy + "'");
  ASSERT_EQ(r.status, 0) << r.err.toStdString();
  const QString run = "cd copy && QM_BUILD_DIR='" + CliScratch::BuildDir() + "' ./run.sh";

  QFile::rename(copy + "/demo/products.csv", copy + "/demo/products.keep");
  cli.Write("copy/demo/products.csv", "CODE,NAME\nX1,\xE2\x82\xAC\n");  // refused by the import
  r = cli.Shell(run);
  EXPECT_NE(r.status, 0);
  EXPECT_FALSE(QFile::exists(copy + "/demo-work/CATALOG.DBF")) << "a failed run leaves no half demo";
  EXPECT_TRUE(QDir(copy).entryList({"demo-work.new.*"}, QDir::Dirs).isEmpty());
  QFile::remove(copy + "/demo/products.csv");
  QFile::rename(copy + "/demo/products.keep", copy + "/demo/products.csv");

  r = cli.Shell(run);
  ASSERT_EQ(r.status, 0) << r.out.toStdString() << r.err.toStdString();
  EXPECT_TRUE(r.out.contains("12 records appended to CATALOG.DBF"));
  const QByteArray table = cli.Read("copy/demo-work/CATALOG.DBF");
  r = cli.Shell(run);
  ASSERT_EQ(r.status, 0) << r.out.toStdString() << r.err.toStdString();
  EXPECT_TRUE(r.out.contains("Using the demo table already in ")) << r.out.toStdString();
  EXPECT_EQ(cli.Read("copy/demo-work/CATALOG.DBF"), table) << "the demo is made only while missing";
  EXPECT_TRUE(cli.Read("copy/demo-work/catalog.htm").contains("Lumenfold Demo Shop"));
  EXPECT_TRUE(QFile::exists(cli.ConfigPath("Quillmart.ini")));
}

}  // namespace

// What quillmart-cli says when something is wrong: plain words naming the
// file first, the engine's report after, the same for every command.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "cli_run_util.h"

namespace {

using qm::catalog::test::CliResult;
using qm::catalog::test::CliScratch;

// In an empty folder every command says what is missing, then what to do first.
TEST(CliMessages, MissingTableReadsTheSameFromEveryCommandWithTheNextStep) {
  CliScratch cli;
  cli.Write("in.csv", "CODE\nA1\n");
  const QByteArray expected = "quillmart-cli: no product table in " +
                              QDir(cli.Path()).canonicalPath().toUtf8() +
                              " (CATALOG.DBF not found; Bramble Error 2, SubCode 1204)\n"
                              "quillmart-cli: next step: create the product table here, for example with "
                              "quillmart-cli create CODE:8 NAME:30 PRICE:10 (quillmart-cli help create tells more), "
                              "or name the folder that holds it with -C FOLDER\n";
  for (const QStringList& args :
       {QStringList{"dump"}, QStringList{"reindex"}, QStringList{"import", "in.csv"}, QStringList{"build"},
        QStringList{"dump", "--index", "CATALOG.NDX"}, QStringList{"-C", cli.Path(), "set", "A1", "CODE=A2"}}) {
    const CliResult r = cli.Run(args);
    EXPECT_EQ(r.status, 1) << args.join(' ').toStdString();
    EXPECT_EQ(r.err, expected) << args.join(' ').toStdString();
    EXPECT_EQ(r.out, "") << args.join(' ').toStdString();
  }
  EXPECT_FALSE(QFile::exists(cli.Path("catalog.htm"))) << "no half page for a missing table";
  const CliResult upload = cli.Run({"upload"});
  EXPECT_EQ(upload.status, 1);
  EXPECT_EQ(upload.err, "quillmart-cli: File not found: upload.txt\n"
                        "quillmart-cli: next step: run quillmart-cli build first; it writes upload.txt when "
                        "stacked pages are on (quillmart-cli settings set \"Stacked Pages\" usestackedpages 1)\n");
  // The next step the message gives works: create, then build, leave nothing missing.
  ASSERT_EQ(cli.Run({"create", "CODE:8", "NAME:30", "PRICE:10"}).status, 0);
  ASSERT_EQ(cli.Run({"settings", "set", "Stacked Pages", "usestackedpages", "1"}).status, 0);
  const CliResult build = cli.Run({"build"});
  EXPECT_EQ(build.status, 0) << build.err.toStdString();
  EXPECT_EQ(cli.Read("upload.txt"), "catalog.htm\r\n");
}

TEST(CliMessages, DumpByAMissingIndexPrintsNoHeaderFirst) {
  CliScratch cli;
  ASSERT_EQ(cli.Run({"create", "CODE:6"}).status, 0);
  const CliResult r = cli.Run({"dump", "--index", "CATALOG.NDX"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(r.err.startsWith("quillmart-cli: no index CATALOG.NDX in ")) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains("(not found; Bramble Error 2, SubCode ")) << r.err.toStdString();
  EXPECT_EQ(cli.Run({"dump"}).out, "CODE,SNOTES\r\n") << "an empty table still has its header";
}

TEST(CliMessages, DamagedTableAndExistingTableAreNamed) {
  CliScratch cli;
  cli.Write("CATALOG.DBF", QByteArray(40, '\x04'));
  const CliResult damaged = cli.Run({"dump"});
  EXPECT_EQ(damaged.status, 1);
  EXPECT_TRUE(
      damaged.err.contains("CATALOG.DBF is not a dBASE table, or its header is damaged (Bramble Error 1001"))
      << damaged.err.toStdString();
  EXPECT_EQ(damaged.err.count('\n'), 1) << "a table that is there gets no next step: " << damaged.err.toStdString();
  const CliResult exists = cli.Run({"create", "CODE:6"});
  EXPECT_EQ(exists.status, 1);
  EXPECT_TRUE(exists.err.startsWith("quillmart-cli: CATALOG.DBF exists in ")) << exists.err.toStdString();
  EXPECT_TRUE(exists.err.contains("--force"));
}

TEST(CliMessages, CountsAreGrammatical) {
  CliScratch cli;
  ASSERT_EQ(cli.Run({"create", "CODE:6"}).status, 0);
  cli.Write("one.csv", "CODE\nA1\n");
  cli.Write("two.csv", "CODE\nB1\nB2\n");
  cli.Write("none.csv", "CODE\n");
  EXPECT_EQ(cli.Run({"import", "one.csv"}).out, "1 record appended to CATALOG.DBF\n");
  EXPECT_EQ(cli.Run({"import", "two.csv"}).out, "2 records appended to CATALOG.DBF\n");
  EXPECT_EQ(cli.Run({"import", "none.csv"}).out, "0 records appended to CATALOG.DBF\n");
  cli.Write("euro.csv",
            "CODE\n\xE2\x82\xAC"
            "1\n");
  EXPECT_EQ(cli.Run({"import", "--replace-unmappable", "euro.csv"}).out,
            "1 record appended to CATALOG.DBF; 1 character that code page 437 cannot hold stored as ?\n");
}

// A table written by someone else names a field with terminal controls in
// it (ESC [2J clears the screen, U+009B and a lone 0x9B byte are CSI): a
// message that lists the fields writes them out instead of obeying them.
TEST(CliMessages, ControlCharactersOfAHostileFieldNameAreWrittenOut) {
  CliScratch cli;
  for (const char* name : {"CATALOG.DBF", "CATALOG.DBT"}) {
    QFile file(QStringLiteral(QM_TEST_DATA "/hostile/field-name-escape/") + name);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    cli.Write(name, file.readAll());
  }
  const CliResult r = cli.Run({"set", "A1", "NOSUCH=1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quillmart-cli: Unknown field NOSUCH; the product table has CODE, P\\x1B[2J\\u009B\\x9BX, SNOTES\n");
}

}  // namespace

// quillmart-cli import and dump with the texts users really have: characters
// code page 437 cannot hold, other encodings, byte order marks, both line
// ends, dates of three centuries; and a dump that imports back unchanged.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>

#include "cli_run_util.h"

namespace {

using qm::catalog::test::CliResult;
using qm::catalog::test::CliScratch;

const QString kPeer = QM_SOURCE_DIR "/tests/app/exchange_peer.py";

class CliImport : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(cli.Run({"create", "CODE:6", "NAME:12"}).status, 0); }
  // Imports `csv`; a refusal must leave the table and memo file as they were.
  CliResult Import(const QByteArray& csv, const QStringList& options = {}) {
    cli.Write("in.csv", csv);
    const QByteArray before = TableFiles();
    const CliResult r = cli.Run(QStringList{"import"} + options + QStringList{"in.csv"});
    if (r.status != 0) {
      EXPECT_EQ(TableFiles(), before) << "a refused import appended something";
    }
    return r;
  }
  QByteArray Dump() { return cli.Run({"dump"}).out; }
  // Ours are upper-case, the peer's lower-case.
  QByteArray TableFiles() const {
    return cli.Read("CATALOG.DBF") + cli.Read("CATALOG.DBT") + cli.Read("catalog.dbf") +
           cli.Read("catalog.dbt");
  }
  CliScratch cli;
};

TEST_F(CliImport, CharactersCodePage437CannotHoldAreRefusedByRowFieldAndCharacter) {
  CliResult r = Import("CODE,NAME\nA1,fine\nA2,5 \xE2\x82\xAC\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "quillmart-cli: Row 3, field NAME: \"\xE2\x82\xAC\" (U+20AC) cannot be stored in the table's "
            "code page 437; nothing was appended (--replace-unmappable stores ? instead)\n");
  r = Import("CODE,SNOTES\nA1,smile \xF0\x9F\x98\x80\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.contains("Row 2, field SNOTES: \"\xF0\x9F\x98\x80\" (U+1F600)")) << r.err.toStdString();
  r = Import("CODE,NAME,SNOTES\nA1,5 \xE2\x82\xAC,\xF0\x9F\x98\x80 and \xC5\x81\n", {"--replace-unmappable"});
  EXPECT_EQ(r.out,
            "1 record appended to CATALOG.DBF; 3 characters that code page 437 cannot hold stored as ?\n");
  EXPECT_EQ(Dump(), "CODE,NAME,SNOTES\r\nA1,5 ?,? and ?\r\n");
  // A dBASE III memo ends at its first 0x1A: such a text would come back cut.
  r = Import("CODE,SNOTES\nB1,fine\nB2,cut \x1A here\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.contains("Row 3, field SNOTES")) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains("0x1A")) << r.err.toStdString();
}

TEST_F(CliImport, BytesThatAreNotUtf8NeedTheirEncodingNamed) {
  const QByteArray latin1 = "CODE,NAME\nA1,Caf\xE9\n";
  CliResult r = Import(latin1);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.startsWith("quillmart-cli: Row 2: byte 0xE9 after \"Caf\" is not UTF-8"))
      << r.err.toStdString();
  EXPECT_TRUE(r.err.contains("--encoding latin1, cp1252 or cp437"));
  EXPECT_EQ(Import(latin1, {"--encoding=latin1"}).status, 0);
  EXPECT_EQ(Import("CODE,NAME\nA2,\x93"
                   "Caf\xE9\x94\n",
                   {"--encoding", "cp1252"})
                .status,
            1)  // curly quotes: not in 437
      << "cp1252's quotes still have to fit code page 437";
  EXPECT_EQ(Import("CODE,NAME\nA2,Caf\xE9\n", {"--encoding", "cp1252"}).status, 0);
  EXPECT_EQ(Import("CODE,NAME\nA3,Caf\x82 \xB3\n", {"--encoding", "cp437"}).status, 0);
  EXPECT_EQ(Dump(),
            "CODE,NAME,SNOTES\r\nA1,Caf\xC3\xA9,\r\nA2,Caf\xC3\xA9,\r\nA3,Caf\xC3\xA9 \xE2\x94\x82,\r\n");
}

TEST_F(CliImport, ByteOrderMarkAndBothLineEnds) {
  EXPECT_EQ(Import("\xEF\xBB\xBF"
                   "code,name\r\nA1,one\r\nA2,\"two\r\nlines\"\r\n")
                .status,
            0);
  EXPECT_EQ(Import("CODE,NAME\nA3,three\nA4,four").status, 0);  // no final line end
  EXPECT_EQ(Dump(), "CODE,NAME,SNOTES\r\nA1,one,\r\nA2,\"two\r\nlines\",\r\nA3,three,\r\nA4,four,\r\n");
}

TEST_F(CliImport, DatesAreIsoOrTheLocaleWithFourDigitYears) {
  // The companion creates character fields only: the peer makes a table with the other kinds.
  QFile::remove(cli.Path("CATALOG.DBF"));
  QFile::remove(cli.Path("CATALOG.DBT"));
  ASSERT_EQ(QProcess::execute("/usr/bin/python3", {kPeer, "make", cli.Path()}), 0);
  const QByteArray header = "CODE,BORN,PRICE,QTY,ACTIVE,NOTES\n";
  EXPECT_EQ(
      Import(header + "A1,1899-12-31,1,1,T,\nA2,12/31/1999,2,2,F,\nA3,20990102,3,3,y,\nA4,,4,4,,\n").status,
      0);
  const QByteArray dumped = Dump();
  EXPECT_TRUE(dumped.contains("A1,1899-12-31,1.00,1,T,")) << dumped.toStdString();
  EXPECT_TRUE(dumped.contains("A2,1999-12-31,2.00,2,F,"));
  EXPECT_TRUE(dumped.contains("A3,2099-01-02,3.00,3,y,")) << "logicals as stored";
  EXPECT_TRUE(dumped.contains("A4,,4.00,4,,"));
  cli.Write("again.csv", header + "A5,,5,5,N,\n");
  EXPECT_TRUE(cli.Run({"import", "again.csv"}).out.endsWith(" appended to catalog.dbf\n"))
      << "the peer's name on disk";
  // Another locale, another order; ISO is read everywhere.
  cli.Write("de.csv", header + "D1,31.12.1999,1,1,T,\nD2,2000-01-01,1,1,T,\n");
  EXPECT_EQ(cli.Shell("LC_ALL=de_DE.UTF-8 " QM_CLI " import de.csv").status, 0);
  EXPECT_TRUE(Dump().contains("D1,1999-12-31,"));
  CliResult r = Import(header + "B1,12/31/99,1,1,T,\n");  // which century?
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.contains("Row 2, field BORN: \"12/31/99\" is not a date; write yyyy-mm-dd or mm/dd/yyyy"))
      << r.err.toStdString();
  EXPECT_TRUE(Import(header + "B1,1999-02-30,1,1,T,\n").err.contains("not a date"));
  EXPECT_TRUE(Import(header + "B1,,abc,1,T,\n").err.contains("field PRICE: \"abc\" is not a number"));
  EXPECT_TRUE(Import(header + "B1,,1,1,maybe,\n").err.contains("field ACTIVE: \"maybe\" is not a logical"));
}

TEST_F(CliImport, DumpImportRoundTripKeepsEveryField) {
  QDir(cli.Path()).mkdir("from");
  QDir(cli.Path()).mkdir("to");
  ASSERT_EQ(QProcess::execute("/usr/bin/python3", {kPeer, "make", cli.Path("from"), "full"}), 0);
  ASSERT_EQ(QProcess::execute("/usr/bin/python3", {kPeer, "make", cli.Path("to")}), 0);
  const CliResult dump = cli.Run({"-C", "from", "dump"});
  ASSERT_EQ(dump.status, 0) << dump.err.toStdString();
  EXPECT_TRUE(dump.out.contains("1899-12-31") && dump.out.contains("1999-12-31") &&
              dump.out.contains("2099-01-02"));
  cli.Write("dump.csv", dump.out);
  const CliResult import = cli.Run({"-C", "to", "import", "../dump.csv"});
  ASSERT_EQ(import.status, 0) << import.err.toStdString();
  EXPECT_EQ(QProcess::execute("/usr/bin/python3", {kPeer, "compare", cli.Path("from"), cli.Path("to")}), 0);
  EXPECT_EQ(cli.Run({"-C", "to", "dump"}).out, dump.out);
}

}  // namespace

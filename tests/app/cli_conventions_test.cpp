// quillmart-cli's command-line conventions as a shell user meets them: help
// and version everywhere, option forms, -C DIR, "--", exit statuses, the man
// page and bash completion that come with an install.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSet>

#include "cli_run_util.h"

namespace {

using qm::catalog::test::CliResult;
using qm::catalog::test::CliScratch;

const QStringList kCommands = {"build", "create", "dump", "import", "reindex", "settings", "upload"};

void ExpectUsageError(const CliResult& r, const char* words) {
  EXPECT_EQ(r.status, 2) << r.err.toStdString();
  EXPECT_TRUE(r.err.startsWith("quillmart-cli: ")) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(words)) << r.err.toStdString();
  EXPECT_TRUE(r.out.isEmpty());
}

TEST(CliConventions, HelpAndVersionEverywhere) {
  CliScratch cli;
  const CliResult help = cli.Run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.out.startsWith("Usage: quillmart-cli [OPTION]... COMMAND [ARG]...\n"));
  for (const QStringList& args : {QStringList{"-h"}, QStringList{"help"}})
    EXPECT_EQ(cli.Run(args).out, help.out);
  for (const QString& c : kCommands) {
    EXPECT_TRUE(help.out.contains("\n  " + c.toUtf8() + " ")) << c.toStdString();
    // The command's help, never the command: reindex must not look for a table "--help".
    const CliResult own = cli.Run({c, "--help"});
    EXPECT_EQ(own.status, 0) << c.toStdString() << own.err.toStdString();
    EXPECT_TRUE(own.out.startsWith("Usage: quillmart-cli " + c.toUtf8())) << own.out.toStdString();
    EXPECT_EQ(cli.Run({"help", c}).out, own.out);
    EXPECT_EQ(cli.Run({c, "-h"}).out, own.out);
  }
  EXPECT_TRUE(cli.Run({"help", "create"}).out.contains("--force"));
  EXPECT_TRUE(QDir(cli.Path()).entryList(QDir::Files).isEmpty()) << "help must not touch files";
  const CliResult version = cli.Run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(version.out.startsWith("quillmart-cli (Quillmart) "));
  EXPECT_EQ(cli.Run({"-V"}).out, version.out);
  EXPECT_EQ(cli.Run({"dump", "--version"}).out, version.out);
}

TEST(CliConventions, CommandSummariesStartInOneColumn) {
  const QByteArray help = CliScratch().Run({"--help"}).out;
  const QByteArray commands = help.mid(help.indexOf("Commands:\n") + 10);
  QSet<qsizetype> columns;
  for (const QByteArray& line : commands.left(commands.indexOf("\n\n")).split('\n')) {
    qsizetype at = line.startsWith("   ") ? 0 : line.indexOf("  ", 2);  // continuation or gap
    if (at < 0) continue;  // a long synopsis; its summary is on the next line
    while (at < line.size() && line[at] == ' ') ++at;
    columns.insert(at);
  }
  EXPECT_EQ(columns.size(), 1) << help.toStdString();
}

TEST(CliConventions, WrongCommandLinesExitTwoWithAPrefixedMessage) {
  CliScratch cli;
  ExpectUsageError(cli.Run({}), "no command");
  ExpectUsageError(cli.Run({"dupm"}), "unknown command \"dupm\"");
  ExpectUsageError(cli.Run({"--frobnicate"}), "--frobnicate");
  ExpectUsageError(cli.Run({"dump", "--xml"}), "--xml");
  ExpectUsageError(cli.Run({"dump", "--index"}), "--index needs a value");
  ExpectUsageError(cli.Run({"dump", "a.dbf", "b.dbf"}), "b.dbf");
  ExpectUsageError(cli.Run({"import"}), "missing");
  ExpectUsageError(cli.Run({"import", "--encoding=ebcdic", "x.csv"}), "ebcdic");
  ExpectUsageError(cli.Run({"help", "nosuch"}), "nosuch");
  ExpectUsageError(cli.Run({"settings", "frob"}), "frob");
  const CliResult failure = cli.Run({"dump"});  // a failure, not a usage error
  EXPECT_EQ(failure.status, 1);
  EXPECT_TRUE(failure.err.startsWith("quillmart-cli: ")) << failure.err.toStdString();
}

TEST(CliConventions, OptionValuesEitherFormAndDoubleDashEndsOptions) {
  CliScratch cli;
  ASSERT_EQ(cli.Run({"create", "CODE:6"}).status, 0);
  cli.Write("in.csv", "CODE\nB2\nA1\n");
  ASSERT_EQ(cli.Run({"import", "--encoding", "utf-8", "in.csv"}).status, 0);
  ASSERT_EQ(cli.Run({"reindex"}).status, 0);
  const CliResult spaced = cli.Run({"dump", "--index", "CATALOG.NDX"});
  EXPECT_EQ(spaced.out, "CODE,SNOTES\r\nA1,\r\nB2,\r\n");
  EXPECT_EQ(cli.Run({"dump", "--index=CATALOG.NDX"}).out, spaced.out);
  // After "--" a word that looks like an option is an operand: here a table name.
  const CliResult dashed = cli.Run({"dump", "--", "--json"});
  EXPECT_EQ(dashed.status, 1);
  EXPECT_TRUE(dashed.err.contains("--JSON")) << dashed.err.toStdString();
  cli.Write("-dash.csv", "CODE\nC3\n");
  EXPECT_EQ(cli.Run({"import", "--", "-dash.csv"}).out, "1 record appended to CATALOG.DBF\n");
}

TEST(CliConventions, DirectoryOptionNamesTheCatalogFolder) {
  CliScratch cli;
  QDir(cli.Path()).mkdir("shop");
  ASSERT_EQ(cli.Run({"-C", "shop", "create", "CODE:6"}).status, 0);
  EXPECT_TRUE(QFile::exists(cli.Path("shop/CATALOG.DBF")));
  const QByteArray header = "CODE,SNOTES\r\n";
  EXPECT_EQ(cli.Run({"--directory", "shop", "dump"}).out, header);
  EXPECT_EQ(cli.Run({"--directory=shop", "dump"}).out, header);
  EXPECT_EQ(cli.Run({"dump", "-C", "shop"}).out, header);
  EXPECT_EQ(cli.Run({"-Cshop", "dump"}).out, header);
  const CliResult missing = cli.Run({"-C", "nowhere", "dump"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "quillmart-cli: cannot work in nowhere: No such file or directory\n");
}

TEST(CliConventions, InstallBringsManPageAndWorkingCompletion) {
  CliScratch cli;
  const CliResult install = cli.Shell("cmake --install '" + CliScratch::BuildDir() + "' --prefix '" +
                                      cli.Path("prefix") + "' >/dev/null");
  ASSERT_EQ(install.status, 0) << install.err.toStdString();
  QFile man(cli.Path("prefix/share/man/man1/quillmart-cli.1"));
  ASSERT_TRUE(man.open(QIODevice::ReadOnly));
  const QByteArray page = man.readAll();
  EXPECT_TRUE(page.startsWith(".TH QUILLMART-CLI 1"));
  for (const QString& c : kCommands) EXPECT_TRUE(page.contains("\n.B " + c.toUtf8())) << c.toStdString();
  EXPECT_TRUE(page.contains("\\-\\-replace\\-unmappable"));
  const QString completion = cli.Path("prefix/share/bash-completion/completions/quillmart-cli");
  const QString prog = cli.Path("prefix/bin/quillmart-cli");
  const auto complete = [&](const QString& words) {
    return cli
        .Shell("source '" + completion + "'; COMP_WORDS=('" + prog + "' " + words +
               "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _quillmart_cli; echo ${COMPREPLY[*]}")
        .out.trimmed();
  };
  EXPECT_EQ(complete("du"), "dump");
  EXPECT_EQ(complete("dump --j"), "--json");
  EXPECT_EQ(complete("import --r"), "--replace-unmappable");
  EXPECT_EQ(complete("settings l"), "list");
  EXPECT_EQ(complete("--ver"), "--version");
}

}  // namespace

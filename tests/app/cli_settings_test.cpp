// quillmart-cli settings: only the setup's settings, each with a value of its
// kind; the password kept out of listings; a store others can read reported.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>

#include "app/core/settings_store.h"
#include "cli_run_util.h"

namespace {

using qm::catalog::test::CliResult;
using qm::catalog::test::CliScratch;

TEST(CliSettings, UnknownNamesAndUnsuitableValuesAreRefusedWithTheValidOnes) {
  CliScratch cli;
  CliResult r = cli.Run({"settings", "set", "Databse", "Colums", "3"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(
      r.err.startsWith("quillmart-cli: no settings section \"Databse\"; the sections are: Company Info, "
                       "Web Page Setup, Table Setup, Site Setup, Stacked Pages, Database, Main Window\n"))
      << r.err.toStdString();
  r = cli.Run({"settings", "set", "Database", "Colums", "3"});
  EXPECT_TRUE(
      r.err.contains("no setting \"Colums\" in section Database; its settings are: Field1, Field2, "
                     "Field3, Field4, Field5, Columns"))
      << r.err.toStdString();
  EXPECT_TRUE(cli.Run({"settings", "set", "Site Setup", "password", "x"}).err.contains("remote password"));
  EXPECT_EQ(cli.Run({"settings", "set", "Company Info", "#Name", "x"}).status, 2);
  EXPECT_TRUE(cli.Run({"settings", "set", "Database", "Columns", "abc"})
                  .err.contains("Database Columns takes whole number 0 to 5, not \"abc\""));
  for (const char* bad : {"6", "-1", "0x3", ""})
    EXPECT_EQ(cli.Run({"settings", "set", "Database", "Columns", bad}).status, 2) << bad;
  EXPECT_TRUE(cli.Run({"settings", "set", "Stacked Pages", "usestackedpages", "yes"})
                  .err.contains("0 (off) or 1 (on)"));
  EXPECT_TRUE(cli.Run({"settings", "set", "Company Info", "Name", "two\nlines"}).err.contains("one line of text, not \"two\\nlines\""));
  // A refused password is not shown, not even on the refusing line.
  r = cli.Run({"settings", "set", "Site Setup", "remote password", "se\ncret"});
  EXPECT_TRUE(r.err.contains("one line of text, not \"********\"")) << r.err.toStdString();
  EXPECT_FALSE(r.err.contains("cret")) << r.err.toStdString();
  EXPECT_TRUE(cli.Run({"settings", "set", "Web Page Setup", "pageparagraph", QString(256, 'x')})
                  .err.contains("at most 255 characters"));
  // A colour goes into the pages' markup as it stands: a name or #RGB/#RRGGBB only.
  for (const char* bad : {"red\" onload=\"x", "light blue", "#12345", "#GGHHII"})
    EXPECT_TRUE(cli.Run({"settings", "set", "Table Setup", "tablecellbkcolor", bad})
                    .err.contains("a colour name (a word such as navy), #RGB or #RRGGBB"))
        << bad;
  EXPECT_TRUE(cli.Run({"settings", "get", "Company Info", "Nmae"}).err.contains("its settings are: Name,"));
  EXPECT_FALSE(QFile::exists(cli.ConfigPath("Quillmart.ini"))) << "nothing refused may be stored";
  EXPECT_EQ(cli.Run({"settings", "set", "Database", "Columns", "5"}).status, 0);
  EXPECT_EQ(cli.Run({"settings", "set", "Web Page Setup", "pageparagraph", "a\r\nb"}).status, 0);
  for (const char* good : {"navy", "#FFF", "#1a2B3c", ""})
    EXPECT_EQ(cli.Run({"settings", "set", "Table Setup", "tablecellbkcolor", good}).status, 0) << good;
}

TEST(CliSettings, ListMasksThePasswordUnlessAsked) {
  CliScratch cli;
  ASSERT_EQ(cli.Run({"settings", "set", "Site Setup", "remote password", "s3cret"}).status, 0);
  ASSERT_EQ(cli.Run({"settings", "set", "Site Setup", "user name", "me"}).status, 0);
  EXPECT_EQ(cli.Run({"settings", "list"}).out, "[Site Setup]\nremote password=********\nuser name=me\n");
  EXPECT_EQ(cli.Run({"settings", "list", "--show-password"}).out,
            "[Site Setup]\nremote password=s3cret\nuser name=me\n");
  EXPECT_EQ(cli.Run({"settings", "get", "Site Setup", "remote password"}).out, "s3cret\n");
}

TEST(CliSettings, StoreOthersCanReadGetsAWarning) {
  CliScratch cli;
  ASSERT_EQ(cli.Run({"settings", "set", "Company Info", "Name", "Shop"}).err, "");
  ASSERT_EQ(::chmod(QFile::encodeName(cli.ConfigPath("Quillmart.ini")).constData(), 0644), 0);
  const CliResult r = cli.Run({"settings", "get", "Company Info", "Name"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Shop\n");
  EXPECT_TRUE(r.err.startsWith("quillmart-cli: warning: ")) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains("can be read by others (mode 0644)"));
  EXPECT_EQ(cli.Run({"dump"}).err.count("warning"), 0) << "only commands that read the settings warn";
}

TEST(CliSettings, StoreThatCannotBeWrittenIsNamed) {
  CliScratch cli;
  QDir().mkpath(cli.ConfigPath("Quillmart.ini"));  // a folder in the store's place
  const CliResult r = cli.Run({"settings", "set", "Company Info", "Name", "Shop"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quillmart-cli: cannot write the settings store " +
                       QFile::encodeName(cli.ConfigPath("Quillmart.ini")) +
                       " (Failed to set data for 'Name')\n");
}

TEST(CliSettings, SettingsPageListsEverySetting) {
  QFile readme(QM_SOURCE_DIR "/docs/settings.md");
  ASSERT_TRUE(readme.open(QIODevice::ReadOnly));
  const QByteArray text = readme.readAll();
  for (const qm::catalog::SettingInfo& s : qm::catalog::KnownSettings())
    EXPECT_TRUE(text.contains(QByteArray("| ") + s.section + " | `" + s.ident + "` |"))
        << s.section << " " << s.ident;
}

}  // namespace

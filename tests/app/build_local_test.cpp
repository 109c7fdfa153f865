// Build Local over an in-memory record source: golden pages and the edge cases
// of the listing page, the stacked pages and the upload list.
#include "app/core/build_local.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/core/locale_dates.h"
#include "app/core/stacked_pages.h"
#include "app/core/text_file_writer.h"
#include "record_source_util.h"

namespace qm::catalog {
namespace {

using test::MaskDate;
using test::MemoryRecordSource;
using test::ReadFile;
using test::RecordingObserver;

CatalogSettings Harbour() {
  CatalogSettings s;
  s.name = "Harbour & Sons";
  s.address = "12 Quay St";
  s.city = "Port Elm";
  s.prov = "NS";
  s.pcode = "B0J 1A0";
  s.tel = "902-555-0100";
  s.email = "sales@harbour.example";
  s.pageTitle = "Harbour Catalog";
  s.pageColor = "White";
  s.pageFontColor = "Navy";
  s.pageHeading = "Our <I>Products</I>";
  s.pageParagraph = "Fresh stock weekly.\nCall for prices.";
  s.tableHeadingFontColor = "White";
  s.tableHeadingBkColor = "Teal";
  s.tableCellFontColor = "Black";
  s.tableCellBkColor = "Silver";
  s.fieldHeadings = {"Code", "Item", "Price", "", ""};
  s.columns = 3;
  s.useStackedPages = true;
  return s;
}

MemoryRecordSource HarbourRecords() {
  return MemoryRecordSource({{"A100", "Rope", "12.50", "Strong rope.\r\nTwo lines"},
                             {"B200", "Net", "40.00", ""},
                             {"Café", "Crème", "1.00", "<P>html"}},
                            4, 3);
}

class BuildLocalTest : public ::testing::Test {
 protected:
  BuildResult Build(const CatalogSettings& s, RecordSource& source) {
    return BuildLocal(s, source, observer, {QDir(dir.path()), [] { return QStringLiteral("08/12/2026"); }});
  }
  QByteArray Page(const QString& name) const { return ReadFile(dir.filePath(name)); }
  QByteArray Golden(const QString& name) const { return ReadFile(QM_TEST_DATA "/catalog/golden/" + name); }
  // The lines of a page between its header block and its footer block.
  QList<QByteArray> Body(const QString& name) const {
    QList<QByteArray> lines = Page(name).split('\n');
    lines.removeLast();  // after the final CR LF
    return lines.mid(14, lines.size() - 18);
  }

  QTemporaryDir dir;
  RecordingObserver observer;
};

TEST_F(BuildLocalTest, GoldenCatalogStackedPageAndUploadList) {
  MemoryRecordSource source = HarbourRecords();
  const BuildResult r = Build(Harbour(), source);
  EXPECT_EQ(r.recordCount, 3);
  EXPECT_EQ(MaskDate(Page("catalog.htm")), Golden("catalog.htm"));
  EXPECT_EQ(MaskDate(Page("A100.htm")), Golden("A100.htm"));
  EXPECT_EQ(Page("upload.txt"), Golden("upload.txt"));
  EXPECT_TRUE(QFile::exists(dir.filePath("Café.htm")));
  EXPECT_EQ(observer.events, QStringList({"catalog", "start 3", "step 1", "step 2", "step 3", "stacked"}));
  EXPECT_TRUE(Page("B200.htm").contains("Last Update ... 08/12/2026  -->\r\n"));
}

TEST_F(BuildLocalTest, StackedPagesOffWritesOnlyCatalogAndKeepsUploadList) {
  QFile old(dir.filePath("upload.txt"));
  ASSERT_TRUE(old.open(QIODevice::WriteOnly));
  old.write("catalog.htm\r\nold.htm\r\n");
  old.close();
  CatalogSettings s = Harbour();
  s.useStackedPages = false;
  MemoryRecordSource source = HarbourRecords();
  Build(s, source);
  EXPECT_EQ(Page("upload.txt"), "catalog.htm\r\nold.htm\r\n");
  EXPECT_FALSE(QFile::exists(dir.filePath("A100.htm")));
  EXPECT_TRUE(Page("catalog.htm").contains("<TR>\r\n<TD bgcolor=\"Silver\"><font color=\"Black\">A100</font></TD>\r\n"));
  EXPECT_EQ(observer.events, QStringList({"catalog"}));
}

TEST_F(BuildLocalTest, ColumnCountZeroGivesEmptyRowsAndMemoOnlyPages) {
  CatalogSettings s = Harbour();
  s.columns = 0;
  MemoryRecordSource source = HarbourRecords();
  EXPECT_EQ(Build(s, source).recordCount, 3);
  EXPECT_TRUE(Page("catalog.htm").contains("<TR>\r\n</TR>\r\n<TR>\r\n</TR>\r\n<TR>\r\n</TR>\r\n<TR>\r\n</TR>\r\n</TABLE>"));
  const QList<QByteArray> body = Body("A100.htm");
  EXPECT_EQ(body.mid(3, 2), QList<QByteArray>({"<P>Strong rope.\r", "Two lines\r"}));
}

TEST_F(BuildLocalTest, ColumnCountAboveFieldsStopsWithFieldError) {
  CatalogSettings s = Harbour();
  s.columns = 5;
  MemoryRecordSource source = HarbourRecords();
  EXPECT_THROW(Build(s, source), RecordSourceError);
  EXPECT_EQ(observer.events, QStringList());
  EXPECT_FALSE(QFile::exists(dir.filePath("upload.txt")));
}

TEST_F(BuildLocalTest, MemoColumnCountsAsLastFieldPosition) {
  CatalogSettings s = Harbour();
  s.columns = 4;
  s.useStackedPages = false;
  MemoryRecordSource source = HarbourRecords();
  Build(s, source);
  EXPECT_TRUE(Page("catalog.htm").contains("<font color=\"Black\">Strong rope.\r\nTwo lines</font>"));
}

TEST_F(BuildLocalTest, EmptyTableStillCompletesBothSteps) {
  MemoryRecordSource source({}, 4, 3);
  EXPECT_EQ(Build(Harbour(), source).recordCount, 0);
  EXPECT_EQ(Page("upload.txt"), "catalog.htm\r\n");
  EXPECT_TRUE(Page("catalog.htm").contains("</TR>\r\n</TABLE>"));
  EXPECT_EQ(observer.events, QStringList({"catalog", "start 0", "stacked"}));
}

TEST_F(BuildLocalTest, DuplicateAndEmptyKeys) {
  MemoryRecordSource source({{"A1", "first", "", "one"}, {"B2", "other", "", ""}, {"A1", "second", "", "two"}}, 4, 3);
  // A key twice (another program wrote it): published once, from its first product.
  EXPECT_EQ(Build(Harbour(), source).repeatedKeys, QStringList({"A1"}));
  EXPECT_EQ(Page("upload.txt"), "catalog.htm\r\nA1.htm\r\nB2.htm\r\n");
  EXPECT_TRUE(Page("A1.htm").contains("<P>one\r\n"));
  EXPECT_EQ(Page("catalog.htm").count("A1.htm"), 1);
  // An empty key would make the hidden page ".htm" behind an invisible link:
  // refused in plain words, and the catalog that stood stays.
  const QByteArray before = Page("catalog.htm");
  MemoryRecordSource blank({{"A1", "first", "", "one"}, {"", "blank", "", ""}}, 4, 2);
  try {
    Build(Harbour(), blank);
    ADD_FAILURE() << "a product with an empty key was published";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("key"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(QFile::exists(dir.filePath(".htm")));
  EXPECT_EQ(Page("catalog.htm"), before);
}

// Pages are written to a work file and renamed into place: a build that stops
// leaves the catalog a browser or server already has, and no work file.
TEST_F(BuildLocalTest, MissingTableKeepsThePreviousCatalogAndStops) {
  MemoryRecordSource good = HarbourRecords();
  Build(Harbour(), good);
  const QByteArray before = Page("catalog.htm");
  MemoryRecordSource source = HarbourRecords();
  source.failOpen = true;
  EXPECT_THROW(Build(Harbour(), source), RecordSourceError);
  EXPECT_EQ(Page("catalog.htm"), before);
  EXPECT_EQ(QDir(dir.path()).entryList({"*.tmp"}, QDir::Files), QStringList());
}

// A FIFO named like a page would block an open for writing forever; a hard
// link would carry the new page into the other name. Both are replaced whole.
TEST_F(BuildLocalTest, FifoOrHardLinkNamedLikeAPageIsReplacedNotWrittenThrough) {
  const QByteArray listing = QFile::encodeName(dir.filePath("catalog.htm"));
  ASSERT_EQ(::mkfifo(listing.constData(), 0644), 0);
  MemoryRecordSource first = HarbourRecords();
  Build(Harbour(), first);
  struct stat st {};
  ASSERT_EQ(::lstat(listing.constData(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  const QByteArray built = Page("catalog.htm");
  const QByteArray other = QFile::encodeName(dir.filePath("elsewhere.htm"));
  ASSERT_EQ(::link(listing.constData(), other.constData()), 0);
  MemoryRecordSource second({{"Z9", "new"}}, 2, 1);
  CatalogSettings s = Harbour();
  s.columns = 2;
  Build(s, second);
  EXPECT_EQ(ReadFile(dir.filePath("elsewhere.htm")), built);
  EXPECT_NE(Page("catalog.htm"), built);
}

TEST_F(BuildLocalTest, MissingMemoFieldStopsAtFirstPage) {
  MemoryRecordSource source({{"A1", "x"}, {"B2", "y"}}, 2, -1);
  CatalogSettings s = Harbour();
  s.columns = 2;
  try {
    Build(s, source);
    FAIL();
  } catch (const RecordSourceError& e) {
    EXPECT_STREQ(e.what(), "CATALOG: Field 'SNOTES' not found");
  }
  EXPECT_EQ(observer.events, QStringList({"catalog", "start 2", "aborted"}));
  EXPECT_FALSE(QFile::exists(dir.filePath("B2.htm")));
}

// Refused before anything is written: a key naming a file outside, or a page
// that would replace catalog.htm, help.htm or upload.txt on a server that
// ignores case.
TEST_F(BuildLocalTest, KeyNamingAFileOutsideOrAReservedPageIsRefusedByName) {
  for (const QString key : {"../evil", "sub/x", "a\\b", "..", ".", "two\r\nlines", "Catalog", "HELP"}) {
    MemoryRecordSource source({{"ok", "", "", ""}, {key, "", "", ""}}, 4, 3);
    try {
      Build(Harbour(), source);
      ADD_FAILURE() << "accepted " << key.toStdString();
    } catch (const PageNameError& e) {
      EXPECT_TRUE(QString::fromUtf8(e.what()).contains("\"" + key.left(3))) << e.what();
    }
    EXPECT_EQ(Page("upload.txt"), "<missing>");
    EXPECT_EQ(Page("catalog.htm"), "<missing>");
  }
  QDir parent(dir.path());
  parent.cdUp();
  EXPECT_FALSE(QFile::exists(parent.filePath("evil.htm")));
}

// Link targets are percent-encoded; the file keeps the key as its name and
// the cell shows the key as typed (field text is never escaped).
TEST_F(BuildLocalTest, LinksToKeysWithUrlCharactersArePercentEncoded) {
  MemoryRecordSource source({{"50% off #1?", "", "", ""}}, 4, 3);
  Build(Harbour(), source);
  EXPECT_TRUE(Page("catalog.htm").contains("<A HREF=\"50%25%20off%20%231%3F.htm\">50% off #1?</A>"));
  EXPECT_TRUE(QFile::exists(dir.filePath("50% off #1?.htm")));
  EXPECT_TRUE(Page("catalog.htm").contains("CONTENT=\"text/html; charset=utf-8\">\r\n"));
}

TEST_F(BuildLocalTest, PageThatIsALinkIsNotFollowed) {
  QTemporaryDir outside;
  const QString target = outside.filePath("victim.txt");
  QFile victim(target);
  ASSERT_TRUE(victim.open(QIODevice::WriteOnly));
  victim.write("keep me");
  victim.close();
  ASSERT_TRUE(QFile::link(target, dir.filePath("B200.htm")));
  MemoryRecordSource source = HarbourRecords();
  try {
    Build(Harbour(), source);
    FAIL();
  } catch (const FileIoError& e) {
    EXPECT_STREQ(e.what(), "File is a symbolic link: B200.htm");
  }
  EXPECT_EQ(ReadFile(target), "keep me");
}

TEST_F(BuildLocalTest, UnwritablePageNamesTheFile) {
  QDir(dir.path()).mkdir("B200.htm");  // a folder where the page should go
  MemoryRecordSource source = HarbourRecords();
  try {
    Build(Harbour(), source);
    FAIL();
  } catch (const FileIoError& e) {
    EXPECT_STREQ(e.what(), "File access denied: B200.htm");
  }
  EXPECT_EQ(observer.events.last(), "aborted");
  // The new catalog.htm would link a page that is not there: it is not put in place,
  // and its work file is gone.
  EXPECT_EQ(Page("catalog.htm"), "<missing>");
  EXPECT_EQ(QDir(dir.path()).entryList({"*.tmp"}, QDir::Files), QStringList());
}

// Work files of a build killed part way: those of a process that is gone are
// removed; names this very process could pick (a killed process had its id
// before) are skipped, never a reason to fail.
TEST_F(BuildLocalTest, WorkFilesLeftByKilledBuildsAreRemovedOrSkipped) {
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  const QString dead = QStringLiteral("A100.htm.qm%1-7.tmp").arg(gone);
  QFile(dir.filePath(dead)).open(QIODevice::WriteOnly);
  QStringList ours;
  for (int n = 0; n < 300; ++n)
    for (const char* name : {"catalog.htm", "upload.txt", "A100.htm"})
      ours << QStringLiteral("%1.qm%2-%3.tmp").arg(QLatin1String(name)).arg(getpid()).arg(n);
  for (const QString& name : ours) QFile(dir.filePath(name)).open(QIODevice::WriteOnly);
  MemoryRecordSource source = HarbourRecords();
  Build(Harbour(), source);
  EXPECT_TRUE(Page("A100.htm").endsWith("</HTML>\r\n"));
  EXPECT_FALSE(QFile::exists(dir.filePath(dead)));
  EXPECT_EQ(QDir(dir.path()).entryList({"*.tmp"}, QDir::Files).size(), ours.size());
}

TEST_F(BuildLocalTest, SameDayRebuildIsIdentical) {
  MemoryRecordSource source = HarbourRecords();
  Build(Harbour(), source);
  const QByteArray first = Page("catalog.htm") + Page("A100.htm");
  Build(Harbour(), source);
  EXPECT_EQ(Page("catalog.htm") + Page("A100.htm"), first);
}

TEST_F(BuildLocalTest, EmptySettingsKeepCompanyBlockShape) {
  CatalogSettings s;
  s.columns = 1;
  MemoryRecordSource source({{"K"}}, 1, -1);
  Build(s, source);
  const QByteArray page = Page("catalog.htm");
  EXPECT_TRUE(page.contains("\r\n<B></B><BR>\r\n<BR>\r\n, ,   <BR>\r\nTelephone: <BR>\r\n<A HREF=\"mailto:\"></A>\r\n"));
  EXPECT_TRUE(page.contains("<BODY BGCOLOR=\"\" TEXT=\"\" >\r\n"));
  EXPECT_TRUE(page.contains("\r\n \r\n\r\n \r\n<P><CENTER>\r\n"));  // empty paragraph line
}

TEST(PageBlocks, DefaultDateIsLocaleShortDate) {
  EXPECT_EQ(ShortDateToday(), QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat));
  EXPECT_EQ(DateSeparatorOf("dd.MM.yyyy"), '.');
  EXPECT_EQ(DateSeparatorOf("yyyy-MM-dd"), '-');
  EXPECT_EQ(DateSeparatorOf("Md"), '/');
}

}  // namespace
}  // namespace qm::catalog

#include "app/core/settings_store.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

using qm::catalog::CatalogSettings;
using qm::catalog::SettingsError;
using qm::catalog::SettingsStore;
using qm::catalog::SiteSettings;

namespace {

class SettingsStoreTest : public ::testing::Test {
 protected:
  QString Path() const { return m_dir.path() + "/conf/Quillmart.ini"; }
  void WriteRaw(const QByteArray& bytes) {
    SettingsStore(Path()).WriteString("x", "y", "z");  // makes the folder
    QFile f(Path());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
  }
  QTemporaryDir m_dir;
};

TEST_F(SettingsStoreTest, AbsentStoreGivesDefaults) {
  SettingsStore store(Path());
  EXPECT_EQ(store.ReadString("Company Info", "Name", "dflt"), "dflt");
  EXPECT_EQ(store.ReadInteger("Database", "Columns", 4), 4);
  EXPECT_TRUE(store.ReadBool("Stacked Pages", "usestackedpages", true));
  EXPECT_FALSE(QFile::exists(Path())) << "reading must not create the store";
}

TEST_F(SettingsStoreTest, MultiLineAndBackslashValuesRoundTrip) {
  const QString paragraph = "Line one\r\nLine two\\n not a break\nC:\\temp\\\r";
  SettingsStore(Path()).WriteString("Web Page Setup", "pageparagraph", paragraph);
  SettingsStore(Path()).WriteString("Site Setup", "remote address", "ftp.example.com");
  SettingsStore again(Path());
  EXPECT_EQ(again.ReadString("Web Page Setup", "pageparagraph", {}), paragraph);
  EXPECT_EQ(again.ReadString("Site Setup", "remote address", {}), "ftp.example.com");
}

TEST_F(SettingsStoreTest, EmptyValueIsStoredNotDeleted) {
  SettingsStore(Path()).WriteString("Database", "Field1", "");
  EXPECT_EQ(SettingsStore(Path()).ReadString("Database", "Field1", "dflt"), "");
}

TEST_F(SettingsStoreTest, FileIsPrivateAndReplacedWhole) {
  SettingsStore store(Path());
  store.WriteString("Site Setup", "remote password", "secret");
  store.WriteString("Site Setup", "user name", "me");
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(Path()).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  QFile f(Path());
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), "[Site Setup]\nremote password=secret\nuser name=me\n");
}

TEST_F(SettingsStoreTest, IntegerAndBooleanTexts) {
  WriteRaw("[D]\nhex=0x1F\nHEX=0XffFFffFF\nletters=abc\nneg=-12\nhuge=99999999999\n"
           "two=2\nzero=0\nbare0x=0x\nspaced= 7\n");
  SettingsStore store(Path());
  EXPECT_EQ(store.ReadInteger("D", "hex", 0), 31);
  EXPECT_EQ(store.ReadInteger("D", "HEX", 0), -1);
  EXPECT_EQ(store.ReadInteger("D", "letters", 5), 5);
  EXPECT_EQ(store.ReadInteger("D", "neg", 0), -12);
  EXPECT_EQ(store.ReadInteger("D", "huge", 3), 3);
  EXPECT_EQ(store.ReadInteger("D", "bare0x", 9), 9);
  EXPECT_EQ(store.ReadInteger("D", "spaced", 9), 9);
  EXPECT_TRUE(store.ReadBool("D", "two", false));
  EXPECT_FALSE(store.ReadBool("D", "zero", true));
  EXPECT_FALSE(store.ReadBool("D", "letters", false));
  EXPECT_TRUE(store.ReadBool("D", "letters", true));
}

TEST_F(SettingsStoreTest, HandWrittenFileWithCrLfAndBlanksInIdents) {
  WriteRaw("; comment\r\n[Site Setup]\r\nremote directory=onlinecatalog/\r\nuser name=a=b\r\n");
  SettingsStore store(Path());
  EXPECT_EQ(store.ReadString("Site Setup", "remote directory", {}), "onlinecatalog/");
  EXPECT_EQ(store.ReadString("Site Setup", "user name", {}), "a=b");
}

TEST_F(SettingsStoreTest, UnwritableFolderNamesSectionOrIdent) {
  QFile::remove(Path());
  QFile blocker(m_dir.path() + "/conf");
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));  // a file where the folder should be
  SettingsStore store(m_dir.path() + "/conf/sub/Quillmart.ini");
  try {
    store.WriteString("Company Info", "Name", "x");
    FAIL() << "write into a file's place must fail";
  } catch (const SettingsError& e) {
    EXPECT_STREQ(e.what(), "Failed to create key Company Info");
  }
  QDir().mkpath(m_dir.path() + "/dir/Quillmart.ini");  // a folder in the store's place
  SettingsStore blocked(m_dir.path() + "/dir/Quillmart.ini");
  try {
    blocked.WriteString("Company Info", "Tel", "1");
    FAIL() << "write over a folder must fail";
  } catch (const SettingsError& e) {
    EXPECT_STREQ(e.what(), "Failed to set data for 'Tel'");
  }
}

TEST_F(SettingsStoreTest, TypedCatalogSettingsDefaultsAndValues) {
  {
    const CatalogSettings none = CatalogSettings::Read(SettingsStore(Path()));
    EXPECT_FALSE(none.useStackedPages);
    EXPECT_EQ(none.ColumnCount(), qm::catalog::kDefaultColumns);
  }
  SettingsStore store(Path());
  store.WriteInteger("Database", "Columns", 9);
  store.WriteString("Database", "Field3", "Price");
  store.WriteBool("Stacked Pages", "usestackedpages", true);
  SiteSettings{"ftp.example.com", "me", "onlinecatalog/", "pw"}.Write(store);
  const CatalogSettings s = CatalogSettings::Read(SettingsStore(Path()));
  EXPECT_EQ(s.ColumnCount(), 5);
  EXPECT_EQ(s.fieldHeadings[2], "Price");
  EXPECT_TRUE(s.useStackedPages);
  EXPECT_EQ(SiteSettings::Read(SettingsStore(Path())).remoteDirectory, "onlinecatalog/");
}

}  // namespace

namespace {

TEST_F(SettingsStoreTest, RewriteKeepsCommentsUnknownLinesAndForeignBytes) {
  const QByteArray original =
      "; written by hand\r\n[Company Info]\r\nName=Old\r\n# Tel=disabled\r\nnot a value line\r\n"
      "Address=Rue de la Paix \xE9t\xE9\r\n\r\n[Own Tool]\nkey=\xFF\xFE raw\n";
  WriteRaw(original);
  SettingsStore store(Path());
  store.WriteString("Company Info", "Name", "New");
  store.WriteString("Company Info", "City", "Port Elm");
  store.WriteString("Database", "Columns", "3");
  QFile f(Path());
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(),
            "; written by hand\r\n[Company Info]\r\nName=New\r\n# Tel=disabled\r\nnot a value line\r\n"
            "Address=Rue de la Paix \xE9t\xE9\r\nCity=Port Elm\n\r\n[Own Tool]\nkey=\xFF\xFE raw\n"
            "\n[Database]\nColumns=3\n");
  EXPECT_THROW(store.WriteString("Company Info", "#Tel", "1"), SettingsError);  // reads as a comment
  EXPECT_THROW(store.WriteString("Company Info", "[x", "1"), SettingsError);
}

TEST_F(SettingsStoreTest, SymlinkedStoreIsWrittenThroughToItsTarget) {
  QDir().mkpath(m_dir.path() + "/dotfiles");
  QDir().mkpath(m_dir.path() + "/conf");
  const QString target = m_dir.path() + "/dotfiles/Quillmart.ini";
  ASSERT_TRUE(QFile::link(target, Path()));  // dangling until the first write
  SettingsStore(Path()).WriteString("Company Info", "Name", "Shop");
  SettingsStore(Path()).WriteString("Company Info", "Tel", "1");
  EXPECT_TRUE(QFileInfo(Path()).isSymLink());
  EXPECT_EQ(SettingsStore(target).ReadString("Company Info", "Tel", {}), "1");
  EXPECT_EQ(SettingsStore(Path()).ReadString("Company Info", "Name", {}), "Shop");
}

TEST_F(SettingsStoreTest, StoreOthersCanReadIsReported) {
  SettingsStore store(Path());
  EXPECT_EQ(store.ExposureWarning(), "") << "no store yet";
  store.WriteString("Site Setup", "remote password", "pw");
  EXPECT_EQ(store.ExposureWarning(), "");
  ASSERT_EQ(::chmod(QFile::encodeName(Path()).constData(), 0644), 0);
  const std::string warning = SettingsStore(Path()).ExposureWarning();
  EXPECT_NE(warning.find("can be read by others (mode 0644)"), std::string::npos) << warning;
  EXPECT_NE(warning.find("chmod 600"), std::string::npos);
  ASSERT_EQ(::chmod(QFile::encodeName(Path()).constData(), 0600), 0);
  if (::geteuid() == 0 && ::chown(QFile::encodeName(Path()).constData(), 65534, 65534) == 0) {
    EXPECT_NE(SettingsStore(Path()).ExposureWarning().find("belongs to another user (uid 65534)"),
              std::string::npos);
  }
}

}  // namespace

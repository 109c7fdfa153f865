// Publishing a 20-product catalog to real FTP servers on loopback, the pages
// over up to four sessions at once, then publishing it again with one page
// changed: pyftpdlib (an account without
// the rename right, a server refusing one page), pure-ftpd (renames off, TLS
// for everyone), proftpd with its TLS module (explicit and implicit) and
// vsftpd with TLS on, each in its default settings otherwise. Afterwards the
// site is exactly the catalog of the working folder, or, after a refused
// page, the old listing with every page it links to.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <fstream>

#include "app/core/upload_command.h"
#include "ftp_daemons_util.h"
#include "ftp_servers_util.h"

namespace qm::catalog {
namespace {

using net::test::TestCertificate;

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// catalog.htm linking to P01.htm ... P20.htm, and upload.txt naming them all.
class Catalog {
 public:
  Catalog() { Build("price 10"); }
  // Every page says `text`; page `changed` (1-based) says `changedText`.
  void Build(const std::string& text, int changed = 0, const std::string& changedText = {}, int products = 20) {
    std::string list = "catalog.htm\r\n", catalog = "<HTML><BODY><TABLE>\r\n";
    for (int i = 1; i <= products; ++i) {
      const std::string name = QString::asprintf("P%02d.htm", i).toStdString();
      Write(name, "<HTML><BODY>Product " + std::to_string(i) + ": " + (i == changed ? changedText : text) +
                      "</BODY></HTML>\r\n");
      list += name + "\r\n";
      catalog += "<TR><TD><A HREF=\"" + name + "\">Product " + std::to_string(i) + "</A></TD></TR>\r\n";
    }
    Write("catalog.htm", catalog + "</TABLE></BODY></HTML>\r\n");
    Write("upload.txt", list);
  }
  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(work.filePath(QString::fromStdString(name)).toStdString(), std::ios::binary) << bytes;
  }
  QStringList Files() const {
    QStringList names = QString::fromLatin1(ReadAll(work.filePath("upload.txt"))).split("\r\n", Qt::SkipEmptyParts);
    names.sort();
    return names;
  }
  QTemporaryDir work;
};

// The remote folder holds exactly the catalog's files, byte for byte.
void ExpectSiteIsCatalog(const QString& remote, const Catalog& catalog) {
  QStringList there = QDir(remote).entryList(QDir::Files);
  there.sort();
  EXPECT_EQ(there, catalog.Files());
  for (const QString& name : catalog.Files())
    EXPECT_EQ(ReadAll(remote + "/" + name), ReadAll(catalog.work.filePath(name))) << name.toStdString();
}

// The live listing links only to pages that are there.
void ExpectEveryLinkResolves(const QString& remote) {
  const QString listing = QString::fromLatin1(ReadAll(remote + "/catalog.htm"));
  ASSERT_NE(listing, "<missing>");
  static const QRegularExpression link(QStringLiteral("HREF=\"([^\"]+)\""));
  int links = 0;
  for (const QRegularExpressionMatch& match : link.globalMatch(listing)) {
    ++links;
    EXPECT_TRUE(QFile::exists(remote + "/" + match.captured(1))) << match.captured(1).toStdString();
  }
  EXPECT_EQ(links, 20);
}

UploadOptions Options(const Catalog& catalog, int port) {
  UploadOptions options;
  options.workDir = QDir(catalog.work.path());
  options.port = QString::number(port);
  options.timeoutSeconds = 15;  // pure-ftpd and proftpd fork per session: slow on a loaded machine
  options.retryWaitsMs = {};
  options.connections = 4;  // the default of the setup: pages go over several sessions at once
  return options;
}

// The summary names every file once.
void ExpectEachFileOnce(const UploadResult& result, size_t count) {
  QStringList names;
  for (const UploadedFile& file : result.files) names << file.localName;
  EXPECT_EQ(static_cast<size_t>(names.size()), count) << names.join(' ').toStdString();
  names.removeDuplicates();
  EXPECT_EQ(static_cast<size_t>(names.size()), count) << names.join(' ').toStdString();
}

// The commands of the server's log that change the site, in the order it took them.
QStringList SiteChanges(const QString& log) {
  QStringList changes;
  for (const QByteArray& line : ReadAll(log).split('\n'))
    if (line.startsWith("STOR") || line.startsWith("RNTO") || line.startsWith("DELE")) changes << QString::fromLatin1(line);
  return changes;
}

// Publishes, changes one page, publishes again: the site is the new catalog,
// and only the changed page went the second time.
void PublishChangeAndPublish(Catalog& catalog, const SiteSettings& site, const UploadOptions& options,
                             const QString& remote) {
  UploadObserver quiet;
  const UploadResult first = UploadCatalog(site, quiet, options);
  ASSERT_TRUE(first.AllUploaded()) << first.FailureText().toStdString() << first.NoticeLines().join('\n').toStdString();
  ExpectSiteIsCatalog(remote, catalog);
  catalog.Build("price 10", 7, "price 12");
  const UploadResult second = UploadCatalog(site, quiet, options);
  ASSERT_TRUE(second.AllUploaded()) << second.FailureText().toStdString();
  ASSERT_EQ(second.files.size(), 1u);
  EXPECT_EQ(second.files[0].localName, "P07.htm");
  EXPECT_EQ(second.unchangedCount, 20);
  ExpectSiteIsCatalog(remote, catalog);
}

TEST(PublishOnRealServers, PyftpdlibAccountWithoutRenameRightStoresInPlaceAndKeepsTheSite) {
  Catalog catalog;
  net::test::PyFtpServer server({"--perm", "elradmwMT"});  // no f: RNFR is refused
  ASSERT_TRUE(server.Started());
  const QString remote = QString::fromStdString(server.Root()) + "/shop";
  const SiteSettings site{"127.0.0.1", "user", "shop/", "secret"};
  UploadOptions options = Options(catalog, server.Port());
  PublishChangeAndPublish(catalog, site, options, remote);

  options.sendAll = true;
  UploadObserver quiet;
  const UploadResult again = UploadCatalog(site, quiet, options);
  EXPECT_TRUE(again.AllUploaded()) << again.FailureText().toStdString();
  EXPECT_EQ(again.storedInPlace.size(), 21);
  EXPECT_TRUE(again.NoticeLines().join('\n').contains("does not allow renaming")) << again.NoticeLines().join('\n').toStdString();
  ExpectSiteIsCatalog(remote, catalog);  // nothing deleted, no temporary file left
}

// A server that takes two sessions of a client and answers a third with 421:
// the upload goes over two, and the order the site depends on holds across
// them: catalog.htm is stored after every page is in place, the page of a
// gone product deleted after the new listing is in place. Pages new on the
// site go up without the rename, which only protects a live copy. (60 pages:
// enough to be worth extra log-ins on any machine.)
TEST(PublishOnRealServers, ConnectionLimitIsUsedAsOfferedAndTheListingStillGoesLast) {
  Catalog catalog;
  catalog.Build("price 10", 0, {}, 60);
  QTemporaryDir control;
  const QString log = control.filePath("log");
  net::test::PyFtpServer server({"--max-connections", "2", "--log", log});
  ASSERT_TRUE(server.Started());
  const QString remote = QString::fromStdString(server.Root()) + "/shop";
  const SiteSettings site{"127.0.0.1", "user", "shop/", "secret"};
  const UploadOptions options = Options(catalog, server.Port());
  UploadObserver quiet;
  const UploadResult first = UploadCatalog(site, quiet, options);
  ASSERT_TRUE(first.AllUploaded()) << first.FailureText().toStdString();
  EXPECT_EQ(first.connectionsUsed, 2);
  EXPECT_EQ(first.connectionsAsked, 4);
  EXPECT_TRUE(first.NoticeLines().join('\n').contains("The server took 2 of 4 connections"))
      << first.NoticeLines().join('\n').toStdString();
  ExpectEachFileOnce(first, 61);
  ExpectSiteIsCatalog(remote, catalog);
  // Pages new on the site go straight under their names, the listing never.
  const QStringList created = SiteChanges(log);
  EXPECT_TRUE(created.contains("STOR shop/P01.htm")) << created.join('\n').toStdString();
  EXPECT_EQ(created.filter("RNTO").join('\n'), "RNTO shop/catalog.htm");
  EXPECT_EQ(created.last(), "RNTO shop/catalog.htm");

  QFile::remove(log);
  catalog.Build("price 11", 0, {}, 59);  // every page changes, product 60 is gone
  const UploadResult second = UploadCatalog(site, quiet, options);
  ASSERT_TRUE(second.AllUploaded()) << second.FailureText().toStdString();
  ExpectEachFileOnce(second, 61);
  ExpectSiteIsCatalog(remote, catalog);
  const QStringList changes = SiteChanges(log);
  const qsizetype listing = changes.indexOf("STOR shop/catalog.htm.qmpart");
  ASSERT_GE(listing, 0) << changes.join('\n').toStdString();
  for (int i = 1; i <= 59; ++i) {
    const qsizetype placed = changes.indexOf(QString::asprintf("RNTO shop/P%02d.htm", i));
    EXPECT_GE(placed, 0) << i;
    EXPECT_LT(placed, listing) << i;
  }
  EXPECT_EQ(changes.indexOf("RNTO shop/catalog.htm"), listing + 1);
  EXPECT_EQ(changes.indexOf("DELE shop/P60.htm"), listing + 2);
  EXPECT_EQ(changes.size(), listing + 3);
}

// A page the server keeps short (new on the site, so checked by one listing
// after the pages), refused (550) or refused for a full disk (552): the
// listing is held back, and every page it links to stays.
TEST(PublishOnRealServers, ShortRefusedOrFullDiskPageKeepsTheOldListingWithAllItsPages) {
  Catalog catalog;
  QTemporaryDir control;
  const QString refuse = control.filePath("refuse"), cut = control.filePath("cut");
  net::test::PyFtpServer server({"--refuse-list", refuse, "--cut-list", cut});
  ASSERT_TRUE(server.Started());
  const QString remote = QString::fromStdString(server.Root()) + "/shop";
  const SiteSettings site{"127.0.0.1", "user", "shop/", "secret"};
  const UploadOptions options = Options(catalog, server.Port());
  UploadObserver quiet;
  {
    QFile list(cut);
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write("P05.htm");
  }
  const UploadResult shortPage = UploadCatalog(site, quiet, options);
  EXPECT_TRUE(shortPage.listingHeldBack);
  EXPECT_EQ(shortPage.FailureText().toStdString(),
            "P05.htm: Could not store shop/P05.htm: the server holds 23 of its 47 bytes\n"
            "catalog.htm: held back: a page before it did not go up");
  ExpectEachFileOnce(shortPage, 21);
  EXPECT_FALSE(QFile::exists(remote + "/P05.htm"));
  EXPECT_FALSE(QFile::exists(remote + "/catalog.htm"));
  QFile::remove(cut);
  ASSERT_TRUE(UploadCatalog(site, quiet, options).AllUploaded());
  ExpectSiteIsCatalog(remote, catalog);
  const QByteArray oldListing = ReadAll(remote + "/catalog.htm");
  for (const char* refusal : {"P07.htm 550", "P07.htm 552"}) {
    QFile list(refuse);
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write(refusal);
    list.close();
    // Every page changes and one product is gone: the new listing must not
    // go up over a missing page, nor the gone product's page go away.
    catalog.Build(std::string("price ") + refusal, 0, {}, 19);
    const UploadResult result = UploadCatalog(site, quiet, options);
    EXPECT_FALSE(result.AllUploaded());
    EXPECT_TRUE(result.listingHeldBack);
    EXPECT_EQ(ReadAll(remote + "/catalog.htm"), oldListing);
    EXPECT_TRUE(QFile::exists(remote + "/P20.htm"));
    ExpectEveryLinkResolves(remote);
    EXPECT_TRUE(result.FailureText().contains("P07.htm: Could not store shop/P07.htm: " + QString(refusal).mid(8)))
        << result.FailureText().toStdString();
    ExpectEachFileOnce(result, 21);  // 19 pages, the listing held back, the deletion kept
  }
  QFile::remove(refuse);
  const UploadResult healed = UploadCatalog(site, quiet, options);
  EXPECT_TRUE(healed.AllUploaded()) << healed.FailureText().toStdString();
  EXPECT_FALSE(QFile::exists(remote + "/P20.htm"));
  ExpectSiteIsCatalog(remote, catalog);
}

TEST(PublishOnRealServers, PureFtpdWithoutRenamesAndWithTlsForEveryone) {
  TestCertificate certificate;
  for (const QStringList& args : {QStringList{"-G"}, QStringList{"-Y", "2"}}) {
    net::test::PureFtpDaemon server(&certificate, args);
    if (!server.Started()) GTEST_SKIP() << "pure-ftpd cannot be started here (it needs root for its accounts)";
    Catalog catalog;
    const SiteSettings site{"127.0.0.1", server.User(), "shop/", "secret"};
    UploadOptions options = Options(catalog, server.Port());
    options.trustedFingerprint = QString::fromStdString(certificate.fingerprint);
    if (args.contains("-Y")) options.tlsMode = "required";
    PublishChangeAndPublish(catalog, site, options, server.Root() + "/shop");
    // The window's "Test connection" over TLS lists the directory at once.
    const SiteCheck check = CheckSite(site, options);
    EXPECT_TRUE(check.ok) << check.lines.join('\n').toStdString();
  }
}

TEST(PublishOnRealServers, ProftpdWithTlsExplicitAndImplicit) {
  TestCertificate certificate;
  for (const bool implicit : {false, true}) {
    net::test::ProFtpDaemon server(certificate, implicit);
    if (!server.Started()) GTEST_SKIP() << "proftpd cannot be had or started here: " << server.Output();
    Catalog catalog;
    const QString address = QString(implicit ? "ftps://127.0.0.1:%1" : "127.0.0.1:%1").arg(server.Port());
    const SiteSettings site{address, server.User(), "shop/", "secret"};
    UploadOptions options = Options(catalog, server.Port());
    options.trustedFingerprint = QString::fromStdString(certificate.fingerprint);
    options.tlsMode = "required";
    PublishChangeAndPublish(catalog, site, options, server.Root() + "/shop");
  }
}

TEST(PublishOnRealServers, VsftpdWithTls) {
  TestCertificate certificate;
  net::test::VsFtpDaemon server(certificate);
  if (!server.Started()) GTEST_SKIP() << "vsftpd cannot be had or started here: " << server.Output();
  Catalog catalog;
  const SiteSettings site{"127.0.0.1", server.User(), "shop/", "any"};
  UploadOptions options = Options(catalog, server.Port());
  options.trustedFingerprint = QString::fromStdString(certificate.fingerprint);
  options.tlsMode = "required";
  PublishChangeAndPublish(catalog, site, options, server.Root() + "/shop");
  const SiteCheck check = CheckSite(site, options);
  EXPECT_TRUE(check.ok) << check.lines.join('\n').toStdString();
}

}  // namespace
}  // namespace qm::catalog

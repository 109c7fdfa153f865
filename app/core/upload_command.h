#pragma once
// Upload Catalog: the files named in upload.txt go to the FTP site of the
// setup, each under "remote directory" + its name, over one session. Shared
// by the main window and quillmart-cli upload.
//
// The site is never left damaged and nothing is sent in vain:
//  - names of upload.txt that leave the working folder are refused before
//    anything is sent;
//  - only new or changed files go up (the site's manifest, upload_manifest.h),
//    unless every file is asked for; the server's listing of the remote
//    directory is read once, and a file missing there or of another size goes
//    again whatever the manifest says (someone else changed the site);
//  - catalog.htm goes last, and only when every page before it went up:
//    otherwise the listing online stays the old one, whose pages are all
//    still there. Pages Quillmart put there whose products are gone are
//    deleted only after the new listing is in place;
//  - every file is stored under a temporary name and renamed into place
//    (stored in place where the server cannot rename: the summary says so); a
//    missing remote directory is created; a lost session is reconnected and
//    the files not yet confirmed go again (net/ftp_publisher.h);
//  - the pages go over up to `connections` sessions at once, catalog.htm and
//    the deletions over the first one afterwards (upload_sending.h);
//  - no file is tried after a failed log-in, and one message says why;
//  - a cancel stops after the file being sent, with the same care for the
//    listing.
// The outcome is reported file by file with the server's reply; the final
// notice only when everything went up.

#include <QDir>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

#include "app/core/settings_store.h"

namespace qm::catalog {

inline constexpr char kConnectPrompt[] = "Connect to the Net, then click OK";
inline constexpr char kCatalogUploadedMessage[] = " Catalog has been uploaded ";

// "Site Setup" idents of the data connection: the user's choice, and the mode
// that worked last time on a site ("host port N: mode").
inline constexpr char kConnectionModeIdent[] = "connection mode";
inline constexpr char kModeThatWorkedIdent[] = "mode that worked";
// "Site Setup" idents of encryption: "required", "if offered" (default) or
// "plain"; and the SHA-256 fingerprint of a self-signed certificate the user trusts.
inline constexpr char kTlsIdent[] = "TLS";
inline constexpr char kTrustedCertificateIdent[] = "trusted certificate";
// "Site Setup" ident of where passive data connections go: "control" (the
// host of the control connection, default) or "server" (the address a PASV
// reply names, for a server behind NAT that names its outside address).
inline constexpr char kPassiveAddressIdent[] = "passive address";
// "Site Setup" ident of how many sessions send pages at once (1 to
// kMostConnections; absent or out of range: kDefaultConnections).
inline constexpr char kConnectionsIdent[] = "connections";
inline constexpr int kDefaultConnections = 4;
inline constexpr int kMostConnections = 16;

struct UploadedFile {
  QString localName;   // as listed in upload.txt
  QString remoteName;  // "remote directory" + localName, glued as they are
  bool uploaded = false;  // sent (or, for a deletion, deleted)
  QString reply;       // the server's reply (or the local failure) for this file
  bool deletion = false;  // a page Quillmart had put there whose product is gone
};

struct UploadResult {
  bool connected = false;
  QString connectReply;  // the log-in's last reply, or why it failed, in plain words
  std::vector<UploadedFile> files;  // sends first, then deletions, in the order done
  int unchangedCount = 0;           // files left out as the site already has them
  QStringList retried;              // what went again after a reconnection, with why
  QStringList warnings;             // e.g. that the password went in clear
  QString workingMode;              // data connection mode that worked, if any
  // Files stored under their real name because the server cannot rename.
  QStringList storedInPlace;
  bool listingHeldBack = false;     // catalog.htm was not sent: a page before it failed
  bool cancelled = false;           // the user stopped the upload
  int connectionsUsed = 0;          // sessions that sent pages
  int connectionsAsked = 0;         // sessions the pages would have taken (fewer used: the server refused more)

  // Connected and every file went up (and every deletion was made).
  bool AllUploaded() const;
  // What went wrong, one line each: the failed connection (then no file went
  // up), or "name: reply" for each file that did not go up, at most maxFiles
  // of them (0: all) and then a line counting the rest. Empty when AllUploaded().
  QString FailureText(int maxFiles = 0) const;
  // One line on what went again after lost sessions; empty when nothing did.
  QString RetriedText() const;
  // One line naming the files stored in place (storedInPlace not empty).
  QString StoredInPlaceText() const;
  // Lines on what the user should know beyond the files' outcome: the
  // listing held back, files stored in place, a cancel, sessions the
  // server refused, the warnings.
  QStringList NoticeLines() const;
};

// What the caller shows while the upload runs: the window asks before it
// connects and steps its progress bar; the command line prints a line per file.
class UploadObserver {
 public:
  virtual ~UploadObserver() = default;
  virtual void BeforeConnect() {}
  virtual void FilesStarted(int fileCount) {}  // progress range 0..fileCount, step 1
  virtual void FileDone(int filesDone, const UploadedFile& file) {}
  // Within a file: bytes of `localName` sent so far, of `size`.
  virtual void FileProgress(const QString& localName, qint64 sent, qint64 size) {}
  // Every file was tried; the session is still open (it is closed afterwards).
  virtual void FilesFinished(const UploadResult& result) {}
};

struct UploadOptions {
  QDir workDir;           // where upload.txt, the listed files and the manifests are
  QString port = "ftp";   // control port unless the remote address names one
  int timeoutSeconds = 15;
  bool sendAll = false;   // every listed file, changed or not
  bool dryRun = false;    // only tell what would be sent and deleted
  QString connectionMode;  // "automatic" (also when empty), "passive" or "active"
  QString modeThatWorked;  // as stored under kModeThatWorkedIdent
  std::vector<int> retryWaitsMs = {1000, 2000, 4000};  // reconnections after a lost session
  QString tlsMode;             // "required", "if offered" (also when empty) or "plain"
  QString trustedFingerprint;  // stored with the site when given to the store-reading calls
  QString passiveAddress;      // "control" (also when empty) or "server", as kPassiveAddressIdent
  // Sessions sending pages at once, 1 to kMostConnections; 0: the setup's
  // kConnectionsIdent (calls that take the site as given: one).
  int connections = 0;
  // Asked between files (and while connecting): true stops the upload after
  // the file being sent; the listing is then held back like after a failure.
  std::function<bool()> cancelRequested;
};

// Reads upload.txt (FileIoError when it cannot be read; UploadListError for a
// name outside the working folder: nothing is sent), then runs the session.
UploadResult UploadCatalog(const SiteSettings& site, UploadObserver& observer,
                           const UploadOptions& options = {});
// The same, with the "Site Setup" values of the user's store; stores the
// data connection mode that worked.
UploadResult UploadCatalog(UploadObserver& observer, const UploadOptions& options = {});

class UploadListError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The file names of an upload list, in order, empty lines left out.
std::vector<QString> ReadUploadList(const QString& path);
// Throws UploadListError when `name` of upload.txt does not name a file
// directly inside workDir (a path, "..", or a link leading out).
void CheckUploadName(const QDir& workDir, const QString& name);

// "Test connection": connects, logs in, tries the data connection modes,
// looks at the remote directory. Each line says what was found in plain words.
struct SiteCheck {
  bool ok = false;
  QStringList lines;
  QString workingMode;  // stored like kModeThatWorkedIdent's value when ok
  QString fingerprint;  // of the server's certificate, when TLS was tried
  bool untrustedCertificate = false;  // the server's certificate could not be verified
};
SiteCheck CheckSite(const SiteSettings& site, const UploadOptions& options = {});
// The same with the user's store; stores the mode that worked.
SiteCheck CheckSite(const UploadOptions& options = {});
// The setup dialog's check of the values typed but not yet saved: what
// `options` leaves empty comes from the store; stores the mode that worked,
// and the trusted fingerprint when `options` names one.
SiteCheck CheckTypedSite(const SiteSettings& typed, const UploadOptions& options);

}  // namespace qm::catalog

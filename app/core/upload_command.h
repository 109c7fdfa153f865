#pragma once
// Upload Catalog: every file named in upload.txt goes to the FTP site of the
// setup, in list order, each under "remote directory" + its name, over one
// session (Connect, one Put per file, Quit). Shared by the main window and
// quillmart-cli upload.
//
// Unlike a bare run of the FTP calls, the outcome is reported: each file's
// result with the server's reply, and the final notice only when every file
// went up. Empty lines of upload.txt name no file and are skipped. Files go up
// as image (TYPE I), byte for byte as stored here.

#include <QDir>
#include <QString>
#include <vector>

#include "app/core/settings_store.h"

namespace qm::catalog {

inline constexpr char kUploadListName[] = "upload.txt";
inline constexpr char kConnectPrompt[] = "Connect to the Net, then click OK";
inline constexpr char kCatalogUploadedMessage[] = " Catalog has been uploaded ";

struct UploadedFile {
  QString localName;   // as listed in upload.txt
  QString remoteName;  // "remote directory" + localName, glued as they are
  bool uploaded = false;
  QString reply;       // the server's reply (or the local failure) for this file
};

struct UploadResult {
  bool connected = false;
  QString connectReply;  // the log-in's last reply, or why it failed
  std::vector<UploadedFile> files;

  // Connected and every listed file went up.
  bool AllUploaded() const;
  // What went wrong, one line each: the failed connection (then no file went
  // up), or "name: reply" for each file that did not go up, at most maxFiles
  // of them (0: all) and then a line counting the rest. Empty when AllUploaded().
  QString FailureText(int maxFiles = 0) const;
};

// What the caller shows while the upload runs: the window asks before it
// connects and steps its progress bar; the command line prints a line per file.
class UploadObserver {
 public:
  virtual ~UploadObserver() = default;
  virtual void BeforeConnect() {}
  virtual void FilesStarted(int fileCount) {}  // progress range 0..fileCount, step 1
  virtual void FileDone(int filesDone, const UploadedFile& file) {}
  // Every file was tried; the session is still open (it is closed afterwards).
  virtual void FilesFinished(const UploadResult& result) {}
};

struct UploadOptions {
  QDir workDir;           // where upload.txt and the listed files are
  QString port = "ftp";   // control port, a number or a service name
  int timeoutSeconds = 15;
};

// Reads upload.txt (FileIoError when it cannot be read: nothing is sent), then
// runs the session with the given site values.
UploadResult UploadCatalog(const SiteSettings& site, UploadObserver& observer,
                           const UploadOptions& options = {});
// The same, reading the "Site Setup" values from the user's store.
UploadResult UploadCatalog(UploadObserver& observer, const UploadOptions& options = {});

// The file names of an upload list, in order, empty lines left out.
std::vector<QString> ReadUploadList(const QString& path);

}  // namespace qm::catalog

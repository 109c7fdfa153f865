#pragma once
// TFtpPublisher: puts files on a web host over one FTP session, the way a
// site must never be damaged:
//  - a file goes up under a temporary name beside its place and is renamed
//    into place, so an interrupted upload leaves the good copy; a failed
//    transfer removes its temporary file while the connection allows. The
//    live file is deleted only where the server took the new copy's RNFR and
//    refused the RNTO over the old one; a server (or account) that cannot
//    rename at all gets the file stored under its real name (StoredInPlace());
//    the server's size of the temporary file must match before the rename
//    (where it has SIZE);
//  - the data connection mode is chosen per site (automatic: EPSV, PASV, then
//    PORT, the one that worked last time first);
//  - the session is encrypted when the server offers TLS (or must be, by the
//    site's setting), the certificate checked;
//  - a lost session (421, a dropped connection, no progress for the time-out)
//    is reconnected with growing waits and the operation runs again, three
//    times at most between two successes for the whole upload, so a server
//    that stalls every file ends the upload in a bounded time.
// Failures are told in plain words with the server's reply (Problem()).

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "net/ftp_site_address.h"
#include "net/ftp_sync_client.h"

namespace qm::net {

enum TFtpModeChoice { ftpModeAutomatic, ftpModePassive, ftpModeActive };

struct TFtpPublishSite {
  TFtpSiteAddress Address;
  std::string UserName;
  std::string PassWord;
  TFtpModeChoice ModeChoice = ftpModeAutomatic;
  std::optional<TFtpDataMode> RememberedMode;  // automatic mode tries it first
  TFtpTlsMode TlsMode = ftpTlsIfOffered;
  std::string TrustedFingerprint;  // a self-signed certificate the user trusts
  bool PassiveAddressFromServer = false;  // follow a PASV reply's address (NAT); else the control peer's
  int TimeoutSeconds = 15;
  std::vector<int> RetryWaitsMs = {1000, 2000, 4000};  // one reconnection per entry
  // Asked while connecting and checking: true gives up at once. A transfer
  // under way is never cut by it; callers look between files.
  std::function<bool()> CancelRequested;
};

class TFtpPublisher {
 public:
  explicit TFtpPublisher(TFtpPublishSite site);

  // Connects, logs in and switches to binary; false with Problem() set.
  bool Open();
  // Creates the directory part of `remoteDir` ("a/b/" or "/www/a/") level by
  // level where it is missing. Empty: nothing to do.
  bool MakeDirectories(const std::string& remoteDir);
  bool Store(const std::string& localPath, const std::string& remoteName);
  // A file the site does not have yet (by its listing): there is no live copy
  // to protect, so it goes straight under its name (three round trips less).
  // Its size is not asked here: the caller confirms it (one listing for many
  // files, or ConfirmSize) before sending anything that links to it. A
  // failed copy is removed.
  bool StoreNew(const std::string& localPath, const std::string& remoteName);
  // Bytes handed to the server by the last store.
  long long BytesSent() const { return m_client.TransferCount; }
  // Whether the server holds `sent` bytes under remoteName (a server without
  // SIZE is taken at its word); otherwise Problem() says what it holds.
  bool ConfirmSize(const std::string& remoteName, long long sent);
  bool Delete(const std::string& remoteName);
  // Name -> size of the files in `remoteDir` ("a/b/" or "": the login
  // directory) by one LIST; false with Problem() set when it cannot be read.
  bool ListSizes(const std::string& remoteDir, std::map<std::string, long long>& sizes);
  // Tries each data connection mode of the choice once and keeps the first
  // that can open a data connection (a directory listing of the login
  // directory, discarded); false when none can.
  bool FindWorkingMode();
  void Close();

  bool IsOpen() const { return m_open; }
  // Logged in and the session not lost: another operation can go over it.
  bool SessionUsable() const { return m_open && !SessionLost(); }
  bool Encrypted() const { return m_client.TlsActive(); }
  const std::string& Problem() const { return m_problem; }
  std::optional<TFtpDataMode> WorkingMode() const { return m_workingMode; }
  // What went again after a reconnection, each "name (why)".
  const std::vector<std::string>& Retried() const { return m_retried; }
  // Files stored under their real name because the server refused to rename.
  const std::vector<std::string>& StoredInPlace() const { return m_storedInPlace; }
  // Bytes of the current file sent so far, reported once per block.
  std::function<void(long long bytesSent)> OnBytesSent;
  TFtpClient& Client() { return m_client; }

 private:
  bool Login();
  std::string ConnectProblem() const;
  std::string Reply() const;
  bool SessionLost() const;
  bool WithRecovery(const std::string& what, const std::function<bool()>& operation);
  std::string GaveUpText() const;
  bool RunWithModes(const std::function<bool()>& transfer);
  bool StoreOnce(const std::string& localPath, const std::string& remoteName);
  bool Transfer(const std::string& localPath, const std::string& storedName, const std::string& remoteName);
  bool StoreInPlace(const std::string& localPath, const std::string& remoteName);
  bool StoredWhole(const std::string& temp, const std::string& remoteName, long long sent);
  bool Rename(const std::string& from, const std::string& to);
  bool ReadListing(const std::string& remoteDir, const std::string& localPath);
  void DeleteQuietly(const std::string& remoteName);
  std::vector<TFtpDataMode> Candidates() const;

  TFtpPublishSite m_site;
  TFtpClient m_client;
  bool m_open = false;
  bool m_welcomed = false;
  std::string m_problem;
  std::optional<TFtpDataMode> m_workingMode;
  size_t m_candidate = 0;
  std::vector<std::string> m_retried;
  std::vector<std::string> m_storedInPlace;
  bool m_cannotRename = false;  // RNFR was refused once: this server stores in place
  std::string m_temporaryName;  // the temporary file being stored, if any
  size_t m_reconnections = 0;  // made since the last operation that succeeded
  qint64 m_firstLossMs = 0;    // when the first of them began
};

}  // namespace qm::net

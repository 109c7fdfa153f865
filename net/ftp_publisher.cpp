#include "net/ftp_publisher.h"

#include <QScopeGuard>
#include <QTemporaryFile>
#include <cctype>
#include <utility>

#include "net/ftp_listing.h"
#include "net/message_pump.h"
#include "net/socket_errors.h"

namespace qm::net {

namespace {

constexpr char kTempSuffix[] = ".qmpart";  // same directory, so the rename stays on one file system

std::string LowerFirst(std::string text) {
  if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

std::string Seconds(int count) { return std::to_string(count) + (count == 1 ? " second" : " seconds"); }

// Waits while the event loop keeps running (the window repaints meanwhile).
void PumpFor(int ms) {
  const qint64 until = TickCountMs() + ms;
  while (TickCountMs() < until) PumpMessagesOnce(until);
}

// LIST takes the directory without its closing slash ("a/b/" -> "a/b", "/"
// stays "/"); empty: the login directory ("", or a prefix glued to names).
std::string ListedDirectory(const std::string& remoteDir) {
  const size_t slash = remoteDir.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? "/" : remoteDir.substr(0, slash);
}

}  // namespace

TFtpPublisher::TFtpPublisher(TFtpPublishSite site) : m_site(std::move(site)) {
  m_client.HostName = m_site.Address.Host;
  m_client.Port = std::to_string(m_site.Address.Port);
  m_client.UserName = m_site.UserName;
  m_client.PassWord = m_site.PassWord;
  m_client.Timeout = m_site.TimeoutSeconds;
  m_client.TlsMode = m_site.TlsMode;
  m_client.ImplicitTls = m_site.Address.ImplicitTls;
  m_client.TrustedFingerprint = m_site.TrustedFingerprint;
  m_client.PassiveAddressFromServer = m_site.PassiveAddressFromServer;
  m_client.SetShareMode(ftpShareExclusive);
  m_client.OnSessionConnected = [this](TCustomFtpClient&, int) { m_welcomed = true; };
  m_client.OnProgress = [this](TCustomFtpClient& client, int count, bool&) {
    if (OnBytesSent && client.RequestType() == frqStor) OnBytesSent(count);
  };
  const std::vector<TFtpDataMode> modes = Candidates();
  m_client.DataMode = modes.front();
}

std::vector<TFtpDataMode> TFtpPublisher::Candidates() const {
  if (m_site.ModeChoice == ftpModeActive) return {ftpDataActive};
  if (m_site.ModeChoice == ftpModePassive) return {ftpDataPassive};
  std::vector<TFtpDataMode> modes;
  if (m_site.RememberedMode) modes.push_back(*m_site.RememberedMode);
  for (TFtpDataMode mode : {ftpDataExtendedPassive, ftpDataPassive, ftpDataActive})
    if (!m_site.RememberedMode || mode != *m_site.RememberedMode) modes.push_back(mode);
  return modes;
}

std::string TFtpPublisher::Reply() const {
  if (m_client.TimedOut()) return "no progress for " + Seconds(m_site.TimeoutSeconds);
  return m_client.ErrorMessage().empty() ? m_client.LastReply : m_client.ErrorMessage();
}

std::string TFtpPublisher::ConnectProblem() const {
  const std::string where = m_site.Address.Describe();
  const int code = m_client.FailureCode;
  if (m_client.ErrorMessage() == kCancelledReply) return "Cancelled: the connection to " + where + " was given up";
  if (code >= 10000) return "Could not connect to " + where + ": " + LowerFirst(SocketErrorText(code));
  if (m_client.TimedOut())
    return m_welcomed ? where + " did not answer the log-in within " + std::to_string(m_site.TimeoutSeconds) + " seconds"
                      : "Could not connect to " + where + ": no answer within " +
                            std::to_string(m_site.TimeoutSeconds) + " seconds";
  const std::string reply = Reply();
  if (m_client.TlsFailure() != tlsNoFailure)
    return "Could not connect securely to " + where + ": " + reply;
  // Only a reply with a refusing code is the server's refusal; a first line
  // without one (another protocol's banner, a line too long to be a reply)
  // was refused by us.
  if (!m_welcomed)
    return ParseReplyLine(reply).Code >= 400 ? where + " refused the session: " + reply
                                             : where + " does not answer as an FTP server: " + reply;
  if (m_client.CurrentStep() == ftpAuth)
    return where + " does not offer TLS, which the site setup requires: " + reply;
  if (m_client.ErrorMessage() == "no password set")
    return "Could not log in to " + m_site.Address.Host + " as " + m_site.UserName +
           ": the server asks for a password and the site setup has none (no password set)";
  return "Could not log in to " + m_site.Address.Host + " as " + m_site.UserName + ": " + Reply();
}

bool TFtpPublisher::Login() {
  m_open = false;
  m_welcomed = false;
  // A line break would end the command early, so the client never sends it:
  // say which setting holds one (never its value) before connecting at all.
  for (const auto& [what, value] : {std::pair{"user name", &m_site.UserName}, {"password", &m_site.PassWord}}) {
    if (value->find_first_of("\r\n") == std::string::npos) continue;
    m_problem = "Could not log in to " + m_site.Address.Host + ": the " + what +
                " of the site setup holds a line break, which FTP cannot send";
    return false;
  }
  if (m_client.State() != fcsReady || m_client.Connected()) m_client.Abort();
  m_client.CancelRequested = m_site.CancelRequested;
  const bool connected = m_client.Connect();
  m_client.CancelRequested = nullptr;
  if (!connected) {
    m_problem = ConnectProblem();
    m_client.Abort();  // a failed log-in ends the session: nothing may be sent on it
    return false;
  }
  m_client.SetBinary(true);  // pages go up byte for byte, whatever the server's default
  if (!m_client.TypeSet() && SessionLost()) {
    m_problem = "Lost the session with " + m_site.Address.Describe() + ": " + Reply();
    return false;
  }
  m_open = true;
  return true;
}

bool TFtpPublisher::Open() { return Login(); }

bool TFtpPublisher::SessionLost() const {
  return !m_client.Connected() || m_client.ReplyCode == 421 || m_client.FailureCode == 421;
}

// The reconnections are counted from the last success, not per operation:
// a server that stalls or drops every transfer costs at most one round of
// them for the whole upload, after which the remaining files are not tried.
bool TFtpPublisher::WithRecovery(const std::string& what, const std::function<bool()>& operation) {
  const auto succeeded = [this] {
    m_reconnections = 0;
    return true;
  };
  bool tried = false;
  if (m_open && m_client.Connected()) {
    tried = true;
    if (operation()) return succeeded();
  }
  while (!m_open || SessionLost()) {
    if (m_reconnections == m_site.RetryWaitsMs.size()) {
      if (!tried) m_problem = "Not tried: " + GaveUpText();
      return false;
    }
    if (m_reconnections == 0) m_firstLossMs = TickCountMs();
    const std::string why = m_problem;
    PumpFor(m_site.RetryWaitsMs[m_reconnections++]);
    if (!Login()) continue;
    m_retried.push_back(what + " (" + why + ")");
    tried = true;
    if (operation()) return succeeded();
  }
  return false;
}

std::string TFtpPublisher::GaveUpText() const {
  return "the session with " + m_site.Address.Describe() + " was lost again after " +
         std::to_string(m_reconnections) + " reconnections in " +
         Seconds(static_cast<int>((TickCountMs() - m_firstLossMs + 999) / 1000)) + "; Quillmart gave up";
}

bool TFtpPublisher::RunWithModes(const std::function<bool()>& transfer) {
  const std::vector<TFtpDataMode> modes = Candidates();
  for (;;) {
    m_client.DataMode = modes[std::min(m_candidate, modes.size() - 1)];
    if (transfer()) {
      m_workingMode = m_client.DataMode;
      return true;
    }
    if (m_client.DataTlsNotResumed() && !m_client.TlsUpTo12 && !SessionLost()) {
      // The server refused a data connection that could not resume the
      // session: TLS 1.3 tickets ran out. TLS 1.2 sessions resume any number
      // of times; the session starts again with it.
      m_client.Display("! The data connection could not resume the TLS session: going on with TLS 1.2");
      m_client.TlsUpTo12 = true;
      if (!Login()) return false;
      // The refused STOR may have left an empty temporary file, which servers
      // that do not let a file be overwritten would keep refusing.
      if (!m_temporaryName.empty()) DeleteQuietly(m_temporaryName);
      continue;
    }
    // Only a data connection that could not be opened asks for the next
    // mode; once one mode has worked on this site it stays.
    const bool modeFailed = m_client.CurrentStep() == ftpPort || m_client.ReplyCode == 425;
    if (!modeFailed || SessionLost() || m_workingMode || m_candidate + 1 >= modes.size()) return false;
    m_client.Display("! " + std::string(FtpDataModeName(m_client.DataMode)) + " mode failed: " + Reply());
    ++m_candidate;
  }
}

bool TFtpPublisher::Rename(const std::string& from, const std::string& to) {
  m_client.HostFileName = from;
  m_client.LocalFileName = to;
  return m_client.RenameFile();
}

void TFtpPublisher::DeleteQuietly(const std::string& remoteName) {
  if (SessionLost()) return;
  const std::string problem = m_problem;
  m_client.HostFileName = remoteName;
  m_client.Dele();
  m_problem = problem;
}

bool TFtpPublisher::Transfer(const std::string& localPath, const std::string& storedName,
                             const std::string& remoteName) {
  const bool stored = RunWithModes([&] {
    m_client.LocalFileName = localPath;
    m_client.HostFileName = storedName;
    return m_client.Put();
  });
  if (!stored) m_problem = "Could not store " + remoteName + ": " + Reply();
  return stored;
}

bool TFtpPublisher::StoreInPlace(const std::string& localPath, const std::string& remoteName) {
  if (!Transfer(localPath, remoteName, remoteName)) return false;
  if (m_storedInPlace.empty() || m_storedInPlace.back() != remoteName) m_storedInPlace.push_back(remoteName);
  return true;
}

bool TFtpPublisher::StoreOnce(const std::string& localPath, const std::string& remoteName) {
  if (m_cannotRename) return StoreInPlace(localPath, remoteName);
  const std::string temp = remoteName + kTempSuffix;
  m_temporaryName = temp;
  const auto forget = qScopeGuard([this] { m_temporaryName.clear(); });
  if (!Transfer(localPath, temp, remoteName)) {
    DeleteQuietly(temp);
    return false;
  }
  if (!StoredWhole(temp, remoteName, m_client.TransferCount)) return false;
  if (Rename(temp, remoteName)) return true;
  if (SessionLost()) {
    m_problem = "Could not put " + remoteName + " in place: " + Reply();
    return false;
  }
  if (m_client.CurrentStep() == ftpRnfr) {
    // The server (or this account) cannot rename at all: the live file stays
    // untouched, the new copy goes over it under its real name.
    m_client.Display("! " + remoteName + ": the server refused to rename (" + Reply() + "); storing in place");
    m_cannotRename = true;
    DeleteQuietly(temp);
    return StoreInPlace(localPath, remoteName);
  }
  // The new copy can be renamed, only not over the old one: some servers
  // want the place free first.
  m_client.HostFileName = remoteName;
  m_client.Dele();
  if (!SessionLost() && Rename(temp, remoteName)) return true;
  if (!SessionLost()) {
    // The old copy is gone and the new one will not move: the site must not
    // stay without the file.
    DeleteQuietly(temp);
    return StoreInPlace(localPath, remoteName);
  }
  m_problem = "Could not put " + remoteName + " in place: " + Reply();
  return false;
}

// A data connection reset by the server after our last byte left can look
// complete to us; the server's own size of the temporary file tells. A
// server without SIZE (or one that refuses it) is taken at its word.
bool TFtpPublisher::StoredWhole(const std::string& temp, const std::string& remoteName, long long sent) {
  m_client.HostFileName = temp;
  if (!m_client.Size()) {
    if (!SessionLost()) return true;
    m_problem = "Lost the session while checking the size of " + remoteName + ": " + Reply();
    return false;
  }
  if (m_client.RemoteFileSize == sent) return true;
  m_problem = "Could not store " + remoteName + ": the server holds " + std::to_string(m_client.RemoteFileSize) +
              " of its " + std::to_string(sent) + " bytes";
  DeleteQuietly(temp);
  return false;
}

bool TFtpPublisher::Store(const std::string& localPath, const std::string& remoteName) {
  return WithRecovery(remoteName, [&] { return StoreOnce(localPath, remoteName); });
}

bool TFtpPublisher::StoreNew(const std::string& localPath, const std::string& remoteName) {
  return WithRecovery(remoteName, [&] {
    // What a refused transfer leaves under the name is ours to remove (a
    // server that does not let files be overwritten would refuse the retry).
    m_temporaryName = remoteName;
    const auto forget = qScopeGuard([this] { m_temporaryName.clear(); });
    if (Transfer(localPath, remoteName, remoteName)) return true;
    DeleteQuietly(remoteName);
    return false;
  });
}

bool TFtpPublisher::ConfirmSize(const std::string& remoteName, long long sent) {
  return WithRecovery(remoteName, [&] { return StoredWhole(remoteName, remoteName, sent); });
}

bool TFtpPublisher::Delete(const std::string& remoteName) {
  return WithRecovery(remoteName, [&] {
    m_client.HostFileName = remoteName;
    if (m_client.Dele()) return true;
    m_problem = "Could not delete " + remoteName + ": " + Reply();
    return false;
  });
}

bool TFtpPublisher::MakeDirectories(const std::string& remoteDir) {
  const size_t end = remoteDir.rfind('/');
  if (end == std::string::npos || end == 0) return true;  // the login directory, or "/"
  const std::string dir = remoteDir.substr(0, end);
  return WithRecovery(dir + "/", [&] {
    if (!m_client.Pwd()) {
      m_problem = "Could not read the current remote directory: " + Reply();
      return false;
    }
    const std::string home = m_client.ReplyDirectory;
    m_client.HostDirName = dir;
    if (m_client.Cwd()) {
      m_client.HostDirName = home;
      return m_client.Cwd();
    }
    for (size_t slash = dir.find('/', 1); !SessionLost(); slash = dir.find('/', slash + 1)) {
      m_client.HostFileName = dir.substr(0, slash);  // one level more each time; failures of existing levels are fine
      m_client.Mkd();
      if (slash == std::string::npos) break;
    }
    m_client.HostDirName = dir;
    if (!SessionLost() && m_client.Cwd()) {
      m_client.HostDirName = home;
      return m_client.Cwd();
    }
    m_problem = "Could not create the remote directory " + dir + ": " + Reply();
    return false;
  });
}

bool TFtpPublisher::ReadListing(const std::string& remoteDir, const std::string& localPath) {
  const bool listed = RunWithModes([&] {
    m_client.LocalFileName = localPath;
    m_client.HostFileName = ListedDirectory(remoteDir);
    return m_client.Dir();
  });
  if (!listed) m_problem = "Could not list the remote directory: " + Reply();
  return listed;
}

bool TFtpPublisher::ListSizes(const std::string& remoteDir, std::map<std::string, long long>& sizes) {
  QTemporaryFile listing;
  if (!listing.open()) {
    m_problem = "Could not create a temporary file for the directory listing";
    return false;
  }
  const std::string path = listing.fileName().toStdString();
  if (!WithRecovery("directory listing", [&] { return ReadListing(remoteDir, path); })) return false;
  listing.seek(0);
  sizes = ParseListing(listing.readAll().toStdString());
  return true;
}

bool TFtpPublisher::FindWorkingMode() {
  QTemporaryFile listing;  // the listing itself is not looked at
  if (!listing.open()) {
    m_problem = "Could not create a temporary file for the directory listing";
    return false;
  }
  m_client.CancelRequested = m_site.CancelRequested;
  const auto stopAsking = qScopeGuard([this] { m_client.CancelRequested = nullptr; });
  return WithRecovery("connection check", [&] {
    const bool listed = RunWithModes([&] {
      m_client.LocalFileName = listing.fileName().toStdString();
      m_client.HostFileName.clear();
      return m_client.Dir();
    });
    if (!listed) m_problem = "No data connection could be opened to " + m_site.Address.Describe() + ": " + Reply();
    return listed;
  });
}

void TFtpPublisher::Close() {
  if (m_client.Connected()) m_client.Quit();
  m_open = false;
}

}  // namespace qm::net

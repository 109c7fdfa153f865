#include "app/core/upload_command.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <optional>

#include "app/core/catalog_page.h"
#include "app/core/stacked_pages.h"
#include "app/core/text_file_writer.h"
#include "app/core/upload_manifest.h"
#include "app/core/upload_sending.h"
#include "net/ftp_publisher.h"
#include "net/message_pump.h"

namespace qm::catalog {

namespace {

constexpr char kSiteSection[] = "Site Setup";

std::string Bytes(const QString& text) { return text.toStdString(); }
QString Text(const std::string& bytes) { return QString::fromStdString(bytes); }

}  // namespace

bool UploadResult::AllUploaded() const {
  if (!connected) return false;
  for (const UploadedFile& file : files)
    if (!file.uploaded) return false;
  return true;
}

QString UploadResult::FailureText(int maxFiles) const {
  if (!connected) return connectReply;
  QStringList lines;
  int failed = 0;
  for (const UploadedFile& file : files) {
    if (file.uploaded) continue;
    if (maxFiles <= 0 || failed < maxFiles) lines << file.localName + QStringLiteral(": ") + file.reply;
    ++failed;
  }
  if (maxFiles > 0 && failed > maxFiles) lines << QStringLiteral("... and %1 more").arg(failed - maxFiles);
  return lines.join('\n');
}

QStringList UploadResult::NoticeLines() const {
  QStringList lines;
  if (listingHeldBack)
    lines << QStringLiteral("catalog.htm was held back, so the listing online is still the old one and every "
                            "page it links to is still there.");
  if (cancelled && connected) lines << QStringLiteral("The upload was cancelled; the files after it were not sent.");
  if (!storedInPlace.isEmpty()) lines << StoredInPlaceText();
  if (connectionsUsed < connectionsAsked)
    lines << QStringLiteral("The server took %1 of %2 connections at once; the pages went over those.")
                 .arg(connectionsUsed).arg(connectionsAsked);
  if (!retried.isEmpty()) lines << RetriedText();
  lines << warnings;
  return lines;
}

QString UploadResult::StoredInPlaceText() const {
  return QStringLiteral("The server does not allow renaming: stored directly under their names (not through a "
                        "temporary copy): %1").arg(storedInPlace.join(QStringLiteral(", ")));
}

QString UploadResult::RetriedText() const {
  if (retried.isEmpty()) return {};
  return QStringLiteral("The connection was lost and made again; sent again: ") + retried.join(QStringLiteral(", "));
}

std::vector<QString> ReadUploadList(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    const int error = file.error() == QFileDevice::OpenError && !file.exists() ? ENOENT : EACCES;
    throw FileIoError(error, QString::fromLatin1(kUploadListName));
  }
  std::vector<QString> names;
  while (!file.atEnd()) {
    const QString name = QString::fromUtf8(file.readLine()).remove('\r').remove('\n');
    if (!name.isEmpty()) names.push_back(name);  // an empty line names no file
  }
  return names;
}

void CheckUploadName(const QDir& workDir, const QString& name) {
  const auto refuse = [&name] {
    throw UploadListError(QStringLiteral("upload.txt names \"%1\", which is not a file of the working folder: "
                                         "nothing was sent").arg(name).toStdString());
  };
  if (name.contains(u'/') || name.contains(u'\\') || name == QStringLiteral(".") || name == QStringLiteral(".."))
    refuse();
  // A plain name is a file of the folder; only a link may still lead out of it.
  const QFileInfo info(workDir.filePath(name));
  if (!info.isSymLink()) return;
  const QString folder = QFileInfo(workDir.path()).canonicalFilePath();
  if (info.exists() && QFileInfo(info.canonicalFilePath()).dir().canonicalPath() != folder) refuse();
}

namespace {

QString RemoteBaseName(const QString& remoteName) { return remoteName.mid(remoteName.lastIndexOf(u'/') + 1); }

// `remote`: the server's listing of the remote directory (name -> size), when
// it could be read: a file the manifest calls unchanged goes again when the
// listing misses it or gives it another size. An unchanged file's line is
// renewed (its time becomes known once it has settled). A page missing from
// the listing is new on the site; an empty listing where Quillmart put files
// before says only that the listing could not be understood.
UploadPlan MakePlan(const std::vector<QString>& names, UploadManifest& manifest, const UploadOptions& options,
                    const QString& remoteDirectory, const std::map<std::string, long long>* remote) {
  UploadPlan plan;
  const bool absenceMeansNew = remote && (!remote->empty() || manifest.Entries().empty());
  for (const QString& name : names) {
    if (plan.local.count(name)) continue;  // listed twice: sent once
    const auto old = manifest.Entries().find(name);
    const bool known = old != manifest.Entries().end();
    ManifestEntry entry;
    try {
      entry = UploadManifest::Describe(options.workDir.filePath(name), known ? &old->second : nullptr);
    } catch (const FileIoError&) {
      entry.hash = "unreadable";  // goes on the list; its send fails and says why
    }
    plan.local[name] = entry;
    bool unchanged = !options.sendAll && known && old->second.hash == entry.hash;
    const std::string remoteName = Bytes(RemoteBaseName(remoteDirectory + name));
    const bool onSite = remote && remote->count(remoteName) > 0;
    if (unchanged && remote) unchanged = onSite && remote->at(remoteName) == entry.size;
    if (unchanged) {
      ++plan.unchanged;
      manifest.Set(name, entry);
      continue;
    }
    if (name.compare(QLatin1String(kCatalogPageName), Qt::CaseInsensitive) == 0) {
      plan.catalog = name;
      continue;
    }
    plan.pages.push_back(name);
    if (absenceMeansNew && !onSite) plan.newOnSite.insert(name);
  }
  for (const auto& [name, entry] : manifest.Entries())
    if (!plan.local.count(name)) plan.deletes.push_back(name);
  return plan;
}

// Manifest lines naming anything but a file of the working folder were not
// written by Quillmart: they are dropped, never acted on (a planted
// "../../index.html" would otherwise be deleted on the server).
int DropForeignNames(UploadManifest& manifest, const QDir& workDir) {
  std::vector<QString> foreign;
  for (const auto& [name, entry] : manifest.Entries()) {
    try {
      CheckUploadName(workDir, name);
    } catch (const UploadListError&) {
      foreign.push_back(name);
    }
  }
  for (const QString& name : foreign) manifest.Remove(name);
  return static_cast<int>(foreign.size());
}

net::TFtpPublishSite PublishSite(const SiteSettings& site, const UploadOptions& options, const net::TFtpSiteAddress& address) {
  net::TFtpPublishSite publish;
  publish.Address = address;
  publish.UserName = Bytes(site.userName);
  publish.PassWord = Bytes(site.remotePassword);
  publish.TimeoutSeconds = options.timeoutSeconds;
  publish.RetryWaitsMs = options.retryWaitsMs;
  publish.CancelRequested = options.cancelRequested;
  const QString choice = options.connectionMode.trimmed().toLower();
  publish.ModeChoice = choice == QLatin1String("passive") ? net::ftpModePassive
                       : choice == QLatin1String("active") ? net::ftpModeActive
                                                           : net::ftpModeAutomatic;
  const QString tls = options.tlsMode.trimmed().toLower();
  publish.TlsMode = tls == QLatin1String("required") ? net::ftpTlsRequired
                    : tls == QLatin1String("plain")  ? net::ftpTlsPlain
                                                     : net::ftpTlsIfOffered;
  publish.TrustedFingerprint = Bytes(options.trustedFingerprint);
  publish.PassiveAddressFromServer = options.passiveAddress.trimmed().toLower() == QLatin1String("server");
  const QString prefix = Text(address.Describe()) + QStringLiteral(": ");
  if (options.modeThatWorked.startsWith(prefix)) {
    const QString mode = options.modeThatWorked.mid(prefix.size());
    for (net::TFtpDataMode m : {net::ftpDataExtendedPassive, net::ftpDataPassive, net::ftpDataActive})
      if (mode == QLatin1String(net::FtpDataModeName(m))) publish.RememberedMode = m;
  }
  return publish;
}

int DefaultPort(const UploadOptions& options) {
  bool numeric = false;
  const int port = options.port.toInt(&numeric);
  return numeric ? port : 21;  // "ftp", the service name of the program's client
}

net::TFtpSiteAddress SiteAddress(const SiteSettings& site, const UploadOptions& options) {
  try {
    return net::ParseSiteAddress(Bytes(site.remoteAddress), DefaultPort(options));
  } catch (const std::invalid_argument& e) {
    throw UploadListError(e.what());
  }
}

// Only after a password really went unencrypted: a session refused before
// the password (a certificate refused, no TLS where required, no answer)
// sent none.
QString ClearPasswordWarning(const net::TFtpSiteAddress& address, net::TFtpPublisher& publisher) {
  if (!publisher.Client().PasswordSentInClear()) return {};
  return QStringLiteral("The password went to %1 in clear: the server offers no encryption (TLS).").arg(Text(address.Host));
}

QString WorkingModeText(const net::TFtpSiteAddress& address, const net::TFtpPublisher& publisher) {
  if (!publisher.WorkingMode()) return {};
  return Text(address.Describe()) + QStringLiteral(": ") + QLatin1String(net::FtpDataModeName(*publisher.WorkingMode()));
}

// The extra sessions of a parallel upload make no reconnections of their
// own: one that is lost hands its page to the sessions still there.
// They start with the data connection mode the first session found.
net::TFtpPublishSite ExtraSessionSite(net::TFtpPublishSite site, const net::TFtpPublisher& first) {
  site.RetryWaitsMs.clear();
  if (first.WorkingMode()) site.RememberedMode = first.WorkingMode();
  return site;
}

// Opens the session; false with result.connectReply saying why.
bool OpenSite(net::TFtpPublisher& publisher, const net::TFtpSiteAddress& address, UploadObserver& observer,
              UploadResult& result) {
  observer.BeforeConnect();
  result.connected = publisher.Open();
  if (const QString warning = ClearPasswordWarning(address, publisher); !warning.isEmpty()) result.warnings << warning;
  result.connectReply = result.connected ? Text(publisher.Client().LastReply) : Text(publisher.Problem());
  if (!result.connected && publisher.Client().ErrorMessage() == net::kCancelledReply) {
    result.cancelled = true;
    result.connectReply = QStringLiteral("The upload was cancelled before anything was sent.");
  }
  return result.connected;
}

// Reads the remote directory's listing (name -> size) before making the
// directory: where it exists, the usual case, that costs no round trip. A
// listing refused or empty (a new site, or a server that lists a missing
// directory as empty) has the directory made level by level and read again.
// False when it cannot be read (a warning says so); a session lost for good
// meanwhile ends the upload (result.connected false).
bool ReadRemoteDirectory(net::TFtpPublisher& publisher, const SiteSettings& site,
                         std::map<std::string, long long>& remote, UploadResult& result) {
  const std::string dir = Bytes(site.remoteDirectory);
  bool listed = publisher.ListSizes(dir, remote);
  if (listed && !remote.empty()) return true;
  if (!publisher.MakeDirectories(dir) && !publisher.IsOpen()) {
    result.connected = false;
    result.connectReply = Text(publisher.Problem());
    return false;
  }
  if (!listed) listed = publisher.ListSizes(dir, remote);
  if (!listed)
    result.warnings << QStringLiteral("The remote directory could not be listed (%1): every file was sent.")
                           .arg(Text(publisher.Problem()));
  return listed;
}

UploadResult RunSession(const std::vector<QString>& names, const SiteSettings& setup, UploadObserver& observer,
                        const UploadOptions& options) {
  for (const QString& name : names) CheckUploadName(options.workDir, name);
  const net::TFtpSiteAddress address = SiteAddress(setup, options);
  SiteSettings site = setup;  // an ftp:// address may carry the directory ("ftp://host/www/")
  if (site.remoteDirectory.isEmpty()) site.remoteDirectory = Text(address.Path);
  UploadManifest manifest(options.workDir, Text(address.Host), address.Port, site.userName, site.remoteDirectory);
  UploadResult result;
  if (const int foreign = DropForeignNames(manifest, options.workDir); foreign > 0)
    result.warnings << QStringLiteral("%1 names in %2 were not files of the working folder and were ignored.")
                           .arg(foreign).arg(QFileInfo(manifest.Path()).fileName());
  if (options.dryRun) {
    const UploadPlan plan = MakePlan(names, manifest, options, site.remoteDirectory, nullptr);
    result.connected = true;
    result.unchangedCount = plan.unchanged;
    for (const QString& name : plan.pages) result.files.push_back({name, site.remoteDirectory + name, true, {}, false});
    if (plan.catalog) result.files.push_back({*plan.catalog, site.remoteDirectory + *plan.catalog, true, {}, false});
    for (const QString& name : plan.deletes) result.files.push_back({name, site.remoteDirectory + name, true, {}, true});
    return result;
  }
  const net::TFtpPublishSite publishSite = PublishSite(site, options, address);
  net::TFtpPublisher publisher(publishSite);
  const qint64 loginStart = net::TickCountMs();
  if (!OpenSite(publisher, address, observer, result)) {
    observer.FilesFinished(result);  // nothing is tried after a failed log-in; the one message says why
    return result;
  }
  const qint64 loginMs = net::TickCountMs() - loginStart;
  std::map<std::string, long long> remote;
  const bool listed = ReadRemoteDirectory(publisher, site, remote, result);
  if (!result.connected) {
    observer.FilesFinished(result);
    return result;
  }
  UploadOptions sendAll = options;
  sendAll.sendAll = options.sendAll || !listed;
  const UploadPlan plan = MakePlan(names, manifest, sendAll, site.remoteDirectory, listed ? &remote : nullptr);
  result.unchangedCount = plan.unchanged;
  try {
    SendPlan(publisher, {options.connections, ExtraSessionSite(publishSite, publisher), loginMs}, plan, manifest, site,
             options, observer, result);
  } catch (...) {
    manifest.Save();  // what was confirmed stays known, however the run ends
    throw;
  }
  manifest.Save();
  for (const std::string& what : publisher.Retried()) result.retried << Text(what);
  for (const std::string& name : publisher.StoredInPlace()) result.storedInPlace << Text(name);
  result.workingMode = WorkingModeText(address, publisher);
  observer.FilesFinished(result);
  publisher.Close();
  return result;
}

int ReadConnections(const SettingsStore& store) {
  const int stored = store.ReadInteger(kSiteSection, kConnectionsIdent, kDefaultConnections);
  return stored >= 1 && stored <= kMostConnections ? stored : kDefaultConnections;
}

SiteSettings ReadSiteAndStoreTrust(UploadOptions& options) {
  SettingsStore store;
  if (options.connectionMode.isEmpty())
    options.connectionMode = store.ReadString(kSiteSection, kConnectionModeIdent, QStringLiteral("automatic"));
  if (options.modeThatWorked.isEmpty()) options.modeThatWorked = store.ReadString(kSiteSection, kModeThatWorkedIdent, {});
  if (options.tlsMode.isEmpty()) options.tlsMode = store.ReadString(kSiteSection, kTlsIdent, QStringLiteral("if offered"));
  if (options.connections <= 0) options.connections = ReadConnections(store);
  if (options.passiveAddress.isEmpty())
    options.passiveAddress = store.ReadString(kSiteSection, kPassiveAddressIdent, QStringLiteral("control"));
  if (!options.trustedFingerprint.isEmpty())
    store.WriteString(kSiteSection, kTrustedCertificateIdent, options.trustedFingerprint);
  else
    options.trustedFingerprint = store.ReadString(kSiteSection, kTrustedCertificateIdent, {});
  return SiteSettings::Read(store);
}

void StoreWorkingMode(const UploadOptions& options, const QString& workingMode) {
  if (workingMode.isEmpty() || workingMode == options.modeThatWorked) return;
  SettingsStore store;
  store.WriteString(kSiteSection, kModeThatWorkedIdent, workingMode);
}

}  // namespace

UploadResult UploadCatalog(const SiteSettings& site, UploadObserver& observer, const UploadOptions& options) {
  return RunSession(ReadUploadList(options.workDir.filePath(kUploadListName)), site, observer, options);
}

UploadResult UploadCatalog(UploadObserver& observer, const UploadOptions& options) {
  // The list first: without one nothing else happens, the store is not even read.
  const std::vector<QString> names = ReadUploadList(options.workDir.filePath(kUploadListName));
  UploadOptions withSite = options;
  const SiteSettings site = ReadSiteAndStoreTrust(withSite);
  const UploadResult result = RunSession(names, site, observer, withSite);
  StoreWorkingMode(withSite, result.workingMode);
  return result;
}

SiteCheck CheckSite(const SiteSettings& site, const UploadOptions& options) {
  SiteCheck check;
  const net::TFtpSiteAddress address = SiteAddress(site, options);
  net::TFtpPublisher publisher(PublishSite(site, options, address));
  const bool opened = publisher.Open();
  check.fingerprint = Text(publisher.Client().ServerFingerprint);
  if (!opened) {
    check.lines << Text(publisher.Problem());
    check.untrustedCertificate = publisher.Client().TlsFailure() == net::tlsCertificateUntrusted;
    if (check.untrustedCertificate)
      check.lines << QStringLiteral("If this is your server's own certificate, trust it with: "
                                    "quillmart-cli upload --check --trust-fingerprint %1").arg(check.fingerprint);
    return check;
  }
  check.lines << QStringLiteral("Connected to %1 and logged in as %2%3.")
                     .arg(Text(address.Describe()), site.userName,
                          publisher.Encrypted() ? QStringLiteral(" over TLS") : QString());
  if (const QString warning = ClearPasswordWarning(address, publisher); !warning.isEmpty()) check.lines << warning;
  if (!publisher.FindWorkingMode()) {
    check.lines << Text(publisher.Problem());
    publisher.Close();
    return check;
  }
  check.workingMode = WorkingModeText(address, publisher);
  check.lines << QStringLiteral("Data connections work in %1 mode.")
                     .arg(QLatin1String(net::FtpDataModeName(*publisher.WorkingMode())));
  const QString dir = site.remoteDirectory.left(site.remoteDirectory.lastIndexOf(u'/'));
  if (!dir.isEmpty()) {
    net::TFtpClient& client = publisher.Client();
    client.Pwd();
    const std::string home = client.ReplyDirectory;
    client.HostDirName = Bytes(dir);
    if (client.Cwd()) {
      check.lines << QStringLiteral("The remote directory %1 exists.").arg(dir);
      client.HostDirName = home;
      client.Cwd();
    } else {
      check.lines << QStringLiteral("The remote directory %1 does not exist yet; the upload creates it (%2).")
                         .arg(dir, Text(client.ErrorMessage()));
    }
  }
  publisher.Close();
  check.ok = true;
  return check;
}

SiteCheck CheckSite(const UploadOptions& options) {
  return CheckTypedSite(SiteSettings::Read(SettingsStore()), options);
}

SiteCheck CheckTypedSite(const SiteSettings& typed, const UploadOptions& options) {
  UploadOptions withStore = options;
  ReadSiteAndStoreTrust(withStore);  // the stored site itself gives way to the typed one
  const SiteCheck check = CheckSite(typed, withStore);
  if (check.ok) StoreWorkingMode(withStore, check.workingMode);
  return check;
}

}  // namespace qm::catalog

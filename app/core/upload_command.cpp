#include "app/core/upload_command.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <optional>

#include "app/core/catalog_page.h"
#include "app/core/stacked_pages.h"
#include "app/core/text_file_writer.h"
#include "app/core/upload_manifest.h"
#include "net/ftp_publisher.h"

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

struct Plan {
  std::vector<QString> sends;    // pages first, catalog.htm last
  std::vector<QString> deletes;  // pages Quillmart put there that upload.txt no longer lists
  std::map<QString, ManifestEntry> local;
  int unchanged = 0;
};

QString LocalPath(const UploadOptions& options, const QString& name) {
  // In the current directory the bare name, as the user knows it from upload.txt.
  return options.workDir.path() == QLatin1String(".") ? name : options.workDir.filePath(name);
}

Plan MakePlan(const std::vector<QString>& names, const UploadManifest& manifest, const UploadOptions& options) {
  Plan plan;
  std::optional<QString> catalog;
  for (const QString& name : names) {
    if (plan.local.count(name)) continue;  // listed twice: sent once
    ManifestEntry entry;
    try {
      entry = UploadManifest::Describe(options.workDir.filePath(name));
    } catch (const FileIoError&) {
      entry.hash = "unreadable";  // goes on the list; its send fails and says why
    }
    plan.local[name] = entry;
    const auto old = manifest.Entries().find(name);
    if (!options.sendAll && old != manifest.Entries().end() && old->second.hash == entry.hash) {
      ++plan.unchanged;
      continue;
    }
    if (name.compare(QLatin1String(kCatalogPageName), Qt::CaseInsensitive) == 0) catalog = name;
    else plan.sends.push_back(name);
  }
  if (catalog) plan.sends.push_back(*catalog);
  for (const auto& [name, entry] : manifest.Entries())
    if (!plan.local.count(name)) plan.deletes.push_back(name);
  return plan;
}

net::TFtpPublishSite PublishSite(const SiteSettings& site, const UploadOptions& options, const net::TFtpSiteAddress& address) {
  net::TFtpPublishSite publish;
  publish.Address = address;
  publish.UserName = Bytes(site.userName);
  publish.PassWord = Bytes(site.remotePassword);
  publish.TimeoutSeconds = options.timeoutSeconds;
  publish.RetryWaitsMs = options.retryWaitsMs;
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

QString ClearPasswordWarning(const SiteSettings& site, const net::TFtpSiteAddress& address,
                             const net::TFtpPublisher& publisher) {
  if (site.remotePassword.isEmpty() || publisher.Encrypted()) return {};
  return QStringLiteral("The password went to %1 in clear: the server offers no encryption (TLS).").arg(Text(address.Host));
}

QString WorkingModeText(const net::TFtpSiteAddress& address, const net::TFtpPublisher& publisher) {
  if (!publisher.WorkingMode()) return {};
  return Text(address.Describe()) + QStringLiteral(": ") + QLatin1String(net::FtpDataModeName(*publisher.WorkingMode()));
}

void SendFiles(net::TFtpPublisher& publisher, const Plan& plan, UploadManifest& manifest, const SiteSettings& site,
               const UploadOptions& options, UploadObserver& observer, UploadResult& result) {
  const int total = static_cast<int>(plan.sends.size() + plan.deletes.size());
  observer.FilesStarted(total);
  for (const QString& name : plan.sends) {
    UploadedFile file{name, site.remoteDirectory + name, false, {}, false};
    file.uploaded = publisher.IsOpen() && publisher.Store(Bytes(LocalPath(options, name)), Bytes(file.remoteName));
    file.reply = file.uploaded ? Text(publisher.Client().LastReply) : Text(publisher.Problem());
    if (file.uploaded) manifest.Set(name, plan.local.at(name));
    result.files.push_back(file);
    observer.FileDone(static_cast<int>(result.files.size()), file);
  }
  for (const QString& name : plan.deletes) {
    UploadedFile file{name, site.remoteDirectory + name, false, {}, true};
    file.uploaded = publisher.IsOpen() && publisher.Delete(Bytes(file.remoteName));
    file.reply = file.uploaded ? Text(publisher.Client().LastReply) : Text(publisher.Problem());
    // Already gone from the server: nothing of ours is left there to delete.
    if (file.uploaded || publisher.Client().ReplyCode == 550) manifest.Remove(name);
    result.files.push_back(file);
    observer.FileDone(static_cast<int>(result.files.size()), file);
  }
}

UploadResult RunSession(const std::vector<QString>& names, const SiteSettings& setup, UploadObserver& observer,
                        const UploadOptions& options) {
  for (const QString& name : names) CheckUploadName(options.workDir, name);
  const net::TFtpSiteAddress address = SiteAddress(setup, options);
  SiteSettings site = setup;  // an ftp:// address may carry the directory ("ftp://host/www/")
  if (site.remoteDirectory.isEmpty()) site.remoteDirectory = Text(address.Path);
  UploadManifest manifest(options.workDir, Text(address.Host), address.Port, site.remoteDirectory);
  const Plan plan = MakePlan(names, manifest, options);
  UploadResult result;
  result.unchangedCount = plan.unchanged;
  if (options.dryRun) {
    result.connected = true;
    for (const QString& name : plan.sends) result.files.push_back({name, site.remoteDirectory + name, true, {}, false});
    for (const QString& name : plan.deletes) result.files.push_back({name, site.remoteDirectory + name, true, {}, true});
    return result;
  }
  net::TFtpPublisher publisher(PublishSite(site, options, address));
  observer.BeforeConnect();
  result.connected = publisher.Open();
  result.warning = ClearPasswordWarning(site, address, publisher);
  result.connectReply = result.connected ? Text(publisher.Client().LastReply) : Text(publisher.Problem());
  if (result.connected && !publisher.MakeDirectories(Bytes(site.remoteDirectory)) && !publisher.IsOpen()) {
    result.connected = false;
    result.connectReply = Text(publisher.Problem());
  }
  if (!result.connected) {  // nothing is tried after a failed log-in; the one message says why
    observer.FilesFinished(result);
    return result;
  }
  try {
    SendFiles(publisher, plan, manifest, site, options, observer, result);
  } catch (...) {
    manifest.Save();  // what was confirmed stays known, however the run ends
    throw;
  }
  manifest.Save();
  for (const std::string& what : publisher.Retried()) result.retried << Text(what);
  result.workingMode = WorkingModeText(address, publisher);
  observer.FilesFinished(result);
  publisher.Close();
  return result;
}

SiteSettings ReadSite(UploadOptions& options) {
  SettingsStore store;
  if (options.connectionMode.isEmpty())
    options.connectionMode = store.ReadString(kSiteSection, kConnectionModeIdent, QStringLiteral("automatic"));
  if (options.modeThatWorked.isEmpty()) options.modeThatWorked = store.ReadString(kSiteSection, kModeThatWorkedIdent, {});
  if (options.tlsMode.isEmpty()) options.tlsMode = store.ReadString(kSiteSection, kTlsIdent, QStringLiteral("if offered"));
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
  const SiteSettings site = ReadSite(withSite);
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
    check.untrustedCertificate = publisher.Problem().find("could not be verified") != std::string::npos;
    if (check.untrustedCertificate)
      check.lines << QStringLiteral("If this is your server's own certificate, trust it with: "
                                    "quillmart-cli upload --check --trust-fingerprint %1").arg(check.fingerprint);
    return check;
  }
  check.lines << QStringLiteral("Connected to %1 and logged in as %2%3.")
                     .arg(Text(address.Describe()), site.userName,
                          publisher.Encrypted() ? QStringLiteral(" over TLS") : QString());
  if (const QString warning = ClearPasswordWarning(site, address, publisher); !warning.isEmpty()) check.lines << warning;
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
  ReadSite(withStore);  // the stored site itself gives way to the typed one
  const SiteCheck check = CheckSite(typed, withStore);
  if (check.ok) StoreWorkingMode(withStore, check.workingMode);
  return check;
}

}  // namespace qm::catalog

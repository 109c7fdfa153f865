#include "app/core/upload_command.h"

#include <QFile>
#include <cerrno>

#include "app/core/text_file_writer.h"
#include "net/ftp_sync_client.h"

namespace qm::catalog {

namespace {

std::string Bytes(const QString& text) { return text.toStdString(); }

// The reply that tells why the client's last call failed.
QString FailureReply(const net::TFtpClient& client) {
  const std::string& text = client.ErrorMessage().empty() ? client.LastReply : client.ErrorMessage();
  return QString::fromStdString(text);
}

}  // namespace

bool UploadResult::AllUploaded() const {
  if (!connected) return false;
  for (const UploadedFile& file : files)
    if (!file.uploaded) return false;
  return true;
}

QString UploadResult::FailureText(int maxFiles) const {
  if (!connected) return QStringLiteral("Connect failed: ") + connectReply;
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

namespace {

// Stores one listed file; the client is logged in.
void PutFile(net::TFtpClient& client, UploadedFile& file, const UploadOptions& options) {
  // In the current directory the bare name, as the user knows it from upload.txt.
  const bool here = options.workDir.path() == QLatin1String(".");
  client.LocalFileName = Bytes(here ? file.localName : options.workDir.filePath(file.localName));
  client.HostFileName = Bytes(file.remoteName);
  file.uploaded = client.Put();
  file.reply = file.uploaded ? QString::fromStdString(client.LastReply) : FailureReply(client);
}

UploadResult RunSession(const std::vector<QString>& names, const SiteSettings& site,
                        UploadObserver& observer, const UploadOptions& options) {
  net::TFtpClient client;
  client.Timeout = options.timeoutSeconds;
  client.Port = Bytes(options.port);
  client.HostName = Bytes(site.remoteAddress);
  client.UserName = Bytes(site.userName);
  client.HostDirName = Bytes(site.remoteDirectory);
  client.PassWord = Bytes(site.remotePassword);
  client.SetShareMode(net::ftpShareExclusive);

  observer.BeforeConnect();
  UploadResult result;
  result.connected = client.Connect();
  result.connectReply = result.connected ? QString::fromStdString(client.LastReply) : FailureReply(client);
  if (result.connected) {
    client.SetBinary(true);  // pages go up byte for byte, whatever the server's default
    client.TypeSet();
  }
  observer.FilesStarted(static_cast<int>(names.size()));
  for (const QString& name : names) {
    UploadedFile file{name, site.remoteDirectory + name, false, {}};
    if (client.Connected())
      PutFile(client, file, options);
    else
      file.reply = QStringLiteral("not connected to the server");
    result.files.push_back(file);
    observer.FileDone(static_cast<int>(result.files.size()), file);
  }
  observer.FilesFinished(result);
  if (client.Connected()) client.Quit();
  return result;
}

}  // namespace

UploadResult UploadCatalog(const SiteSettings& site, UploadObserver& observer, const UploadOptions& options) {
  return RunSession(ReadUploadList(options.workDir.filePath(kUploadListName)), site, observer, options);
}

UploadResult UploadCatalog(UploadObserver& observer, const UploadOptions& options) {
  // The list first: without one nothing else happens, the store is not even read.
  const std::vector<QString> names = ReadUploadList(options.workDir.filePath(kUploadListName));
  SiteSettings site;
  {
    SettingsStore store;
    site = SiteSettings::Read(store);
  }
  return RunSession(names, site, observer, options);
}

}  // namespace qm::catalog

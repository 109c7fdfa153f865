#include "app/core/upload_manifest.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>

#include "app/core/text_file_writer.h"

namespace qm::catalog {

namespace {

constexpr char kDateLineStart[] = "Last Update ... ";
constexpr int kHeaderLinesScanned = 3;  // the date sits in the header's comment

int ErrnoOf(const QFileDevice& file) { return file.error() == QFileDevice::OpenError && !QFileInfo::exists(file.fileName()) ? ENOENT : EIO; }

}  // namespace

UploadManifest::UploadManifest(const QDir& workDir, const QString& host, int port, const QString& remoteDirectory) {
  m_title = QStringLiteral("# Quillmart upload manifest: %1 port %2, directory \"%3\"").arg(host).arg(port).arg(remoteDirectory);
  const QByteArray site = QCryptographicHash::hash(m_title.toUtf8(), QCryptographicHash::Sha256).toHex().left(12);
  m_path = workDir.filePath(QStringLiteral("upload-manifest-") + QString::fromLatin1(site) + QStringLiteral(".txt"));
  QFile file(m_path);
  if (!file.open(QIODevice::ReadOnly)) return;
  m_exists = true;
  while (!file.atEnd()) {
    const QList<QByteArray> parts = file.readLine().trimmed().split('\t');
    if (parts.size() != 3 || parts[0].startsWith('#')) continue;  // a damaged line only costs a resend
    m_entries[QString::fromUtf8(parts[0])] = ManifestEntry{parts[1].toLongLong(), parts[2]};
  }
}

void UploadManifest::Save() const {
  QSaveFile file(m_path);
  if (!file.open(QIODevice::WriteOnly)) throw FileIoError(ErrnoOf(file), QFileInfo(m_path).fileName());
  file.write(m_title.toUtf8() + "\n");
  for (const auto& [name, entry] : m_entries)
    file.write(name.toUtf8() + '\t' + QByteArray::number(entry.size) + '\t' + entry.hash + '\n');
  if (!file.commit()) throw FileIoError(EIO, QFileInfo(m_path).fileName());
}

ManifestEntry UploadManifest::Describe(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) throw FileIoError(ErrnoOf(file), QFileInfo(path).fileName());
  QCryptographicHash hash(QCryptographicHash::Sha256);
  ManifestEntry entry;
  for (int line = 0; !file.atEnd(); ++line) {
    const QByteArray bytes = line < kHeaderLinesScanned ? file.readLine() : file.read(1 << 16);
    entry.size += bytes.size();
    if (line < kHeaderLinesScanned && bytes.startsWith(kDateLineStart)) continue;
    hash.addData(bytes);
  }
  entry.hash = hash.result().toHex();
  return entry;
}

}  // namespace qm::catalog

#include "app/core/upload_manifest.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "app/core/text_file_writer.h"
#include "net/local_file.h"

namespace qm::catalog {

namespace {

constexpr char kDateLineStart[] = "Last Update ... ";
constexpr int kHeaderLinesScanned = 3;  // the date sits in the header's comment

// Hashes what comes before the build-date line among the first lines of
// `chunk` and returns what follows it (the whole chunk when there is none).
QByteArrayView HashAroundDateLine(QByteArrayView chunk, QCryptographicHash& hash) {
  qsizetype start = 0;
  for (int line = 0; line < kHeaderLinesScanned && start < chunk.size(); ++line) {
    qsizetype end = chunk.indexOf('\n', start);
    end = end < 0 ? chunk.size() : end + 1;
    if (chunk.sliced(start, end - start).startsWith(kDateLineStart)) {
      hash.addData(chunk.first(start));
      return chunk.sliced(end);
    }
    start = end;
  }
  return chunk;
}

}  // namespace

UploadManifest::UploadManifest(const QDir& workDir, const QString& host, int port, const QString& userName,
                               const QString& remoteDirectory) {
  m_title = QStringLiteral("# Quillmart upload manifest: %1 port %2, user \"%3\", directory \"%4\"")
                .arg(host).arg(port).arg(userName, remoteDirectory);
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
  // Through the one work-file way (a new file of an unguessable name, never
  // a link, renamed into place), so a reader never sees half a manifest and a
  // neighbour's planted link is never written through. No flush to the disk:
  // a manifest lost in a crash only costs a full resend.
  TextFileWriter file(m_path, QFileInfo(m_path).fileName());
  file.WriteLine(m_title);
  for (const auto& [name, entry] : m_entries)
    file.WriteLine(name + u'\t' + QString::number(entry.size) + u'\t' + QString::fromLatin1(entry.hash));
  file.Close();
}

ManifestEntry UploadManifest::Describe(const QString& path) {
  // Plain system calls: thousands of pages are looked at on every upload.
  const int fd = net::TLocalFile::OpenRegularForRead(QFile::encodeName(path).toStdString());  // never a FIFO
  if (fd < 0) throw FileIoError(errno, QFileInfo(path).fileName());
  QCryptographicHash hash(QCryptographicHash::Sha256);
  ManifestEntry entry;
  std::vector<char> buffer(1 << 16);
  ssize_t n;
  for (bool first = true; (n = ::read(fd, buffer.data(), buffer.size())) > 0; first = false) {
    entry.size += n;
    QByteArrayView chunk(buffer.data(), n);
    if (first) chunk = HashAroundDateLine(chunk, hash);
    hash.addData(chunk);
  }
  ::close(fd);
  if (n < 0) throw FileIoError(EIO, QFileInfo(path).fileName());
  entry.hash = hash.result().toHex();
  return entry;
}

}  // namespace qm::catalog

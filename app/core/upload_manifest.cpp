#include "app/core/upload_manifest.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <ctime>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>

#include "app/core/text_file_writer.h"
#include "dbf/disk_io.h"
#include "dbf/scope_exit.h"

namespace qm::catalog {

namespace {

constexpr char kDateLineStart[] = "Last Update ... ";
constexpr int kHeaderLinesScanned = 3;  // the date sits in the header's comment
constexpr size_t kReadBlock = 1 << 16;
// A modification time this close to the moment the file was read may be
// shared by a later rewrite (file system clocks step by milliseconds, some
// by seconds): such a time is not kept.
constexpr qint64 kSettledNs = 2'000'000'000;

using TDigest = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

// Feeds what comes before the build-date line among the first lines of
// `chunk` to the digest and returns what follows it (the whole chunk when
// there is none).
QByteArrayView HashAroundDateLine(QByteArrayView chunk, EVP_MD_CTX* digest) {
  qsizetype start = 0;
  for (int line = 0; line < kHeaderLinesScanned && start < chunk.size(); ++line) {
    qsizetype end = chunk.indexOf('\n', start);
    end = end < 0 ? chunk.size() : end + 1;
    if (chunk.sliced(start, end - start).startsWith(kDateLineStart)) {
      EVP_DigestUpdate(digest, chunk.data(), static_cast<size_t>(start));
      return chunk.sliced(end);
    }
    start = end;
  }
  return chunk;
}

qint64 ModifiedNs(const struct stat& info) { return qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec; }

qint64 NowNs() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// The whole file through the disk seam; false with errno set.
bool ReadWhole(const QByteArray& path, QByteArray& bytes) {
  const int fd = dbf::Disk().Open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0);
  if (fd < 0) return false;
  const dbf::TbrScopeExit close([fd] { dbf::Disk().Close(fd); });
  std::vector<char> block(kReadBlock);
  for (off_t at = 0;;) {
    const ssize_t n = dbf::Disk().ReadAt(fd, block.data(), block.size(), at);
    if (n < 0) return false;
    if (n == 0) return true;
    bytes.append(block.data(), n);
    at += n;
  }
}

// Opens a local file for reading only if it is a regular one: a FIFO named
// like a page would block the open until someone writes to it. Never blocks.
int OpenRegular(const QString& path, struct stat& info) {
  const int fd = dbf::Disk().Open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0);
  if (fd < 0) return -1;
  if (dbf::Disk().StatHandle(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    const int error = S_ISDIR(info.st_mode) ? EISDIR : ENXIO;
    dbf::Disk().Close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

}  // namespace

UploadManifest::UploadManifest(const QDir& workDir, const QString& host, int port, const QString& userName,
                               const QString& remoteDirectory) {
  m_title = QStringLiteral("# Quillmart upload manifest: %1 port %2, user \"%3\", directory \"%4\"")
                .arg(host).arg(port).arg(userName, remoteDirectory);
  const QByteArray site = QCryptographicHash::hash(m_title.toUtf8(), QCryptographicHash::Sha256).toHex().left(12);
  m_path = workDir.filePath(QStringLiteral("upload-manifest-") + QString::fromLatin1(site) + QStringLiteral(".txt"));
  QByteArray bytes;
  if (!ReadWhole(QFile::encodeName(m_path), bytes)) return;  // none yet (or unreadable): everything goes
  m_exists = true;
  for (const QByteArray& line : bytes.split('\n')) {
    const QList<QByteArray> parts = line.trimmed().split('\t');
    // A damaged line only costs a resend; a line without a time (an older
    // manifest) only a reading of the file.
    if ((parts.size() != 3 && parts.size() != 4) || parts[0].startsWith('#')) continue;
    bool timed = parts.size() == 4;
    const qint64 modified = timed ? parts[3].toLongLong(&timed) : -1;
    m_entries[QString::fromUtf8(parts[0])] = ManifestEntry{parts[1].toLongLong(), parts[2], timed ? modified : -1};
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
    file.WriteLine(name + u'\t' + QString::number(entry.size) + u'\t' + QString::fromLatin1(entry.hash) + u'\t' +
                   QString::number(entry.modifiedNs));
  file.Close();
}

ManifestEntry UploadManifest::Describe(const QString& path, const ManifestEntry* known) {
  struct stat info{};
  // The quick check needs no open: one stat per page of a large catalog.
  if (known && known->modifiedNs >= 0 && dbf::Disk().StatPath(QFile::encodeName(path).constData(), &info) == 0 &&
      S_ISREG(info.st_mode) && ModifiedNs(info) == known->modifiedNs && info.st_size == known->size)
    return *known;
  const int fd = OpenRegular(path, info);
  if (fd < 0) throw FileIoError(errno, QFileInfo(path).fileName());
  const dbf::TbrScopeExit close([fd] { dbf::Disk().Close(fd); });
  ManifestEntry entry;
  entry.modifiedNs = ModifiedNs(info);
  if (entry.modifiedNs > NowNs() - kSettledNs) entry.modifiedNs = -1;
  const TDigest digest(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (!digest || EVP_DigestInit_ex(digest.get(), EVP_sha256(), nullptr) != 1) throw FileIoError(ENOMEM, QFileInfo(path).fileName());
  std::vector<char> buffer(kReadBlock);
  ssize_t n;
  for (bool first = true; (n = dbf::Disk().ReadAt(fd, buffer.data(), buffer.size(), entry.size)) > 0; first = false) {
    entry.size += n;
    QByteArrayView chunk(buffer.data(), n);
    if (first) chunk = HashAroundDateLine(chunk, digest.get());
    EVP_DigestUpdate(digest.get(), chunk.data(), static_cast<size_t>(chunk.size()));
  }
  if (n < 0) throw FileIoError(EIO, QFileInfo(path).fileName());
  unsigned char sum[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(digest.get(), sum, &length);
  entry.hash = QByteArray(reinterpret_cast<const char*>(sum), static_cast<qsizetype>(length)).toHex();
  return entry;
}

}  // namespace qm::catalog

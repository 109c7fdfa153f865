#include "app/core/text_file_writer.h"

#include "dbf/disk_io.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm::catalog {

namespace {
constexpr qsizetype kBufferSize = 64 * 1024;
}

QString FileIoError::Message(int errnoValue) {
  switch (errnoValue) {
    case ENOENT:
    case ENOTDIR:
      return QStringLiteral("File not found");
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return QStringLiteral("File access denied");
    case ENOSPC:
    case EDQUOT:
      return QStringLiteral("Disk full");
    case ELOOP:
      return QStringLiteral("File is a symbolic link");
    case ENAMETOOLONG:
    case EINVAL:
      return QStringLiteral("Invalid file name");
    default:
      return QStringLiteral("I/O error %1").arg(errnoValue);
  }
}

FileIoError::FileIoError(int errnoValue, const QString& fileName)
    : std::runtime_error((Message(errnoValue) + QStringLiteral(": ") + fileName).toStdString()) {}

int CreateWorkFile(const QByteArray& path, mode_t mode, QByteArray& workPath) {
  std::string work;
  const int fd = dbf::CreateWorkFile(path.toStdString(), mode, work);
  workPath = QByteArray::fromStdString(work);
  return fd;
}

TextFileWriter::TextFileWriter(const QString& path, const QString& displayName)
    : m_path(QFile::encodeName(path)), m_name(displayName) {
  // Never through a symbolic link: a link named like a page would let a build write
  // outside the working directory. Anything else named like the file (a FIFO, a
  // hard link, a file a browser is reading) is replaced whole by the rename at Close.
  struct stat st {};
  if (::lstat(m_path.constData(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) throw FileIoError(ELOOP, m_name);
    if (S_ISDIR(st.st_mode)) throw FileIoError(EISDIR, m_name);
  }
  m_fd = CreateWorkFile(m_path, 0644, m_workPath);
  if (m_fd < 0) throw FileIoError(errno, m_name);
  m_buffer.reserve(kBufferSize);
}

int TextFileWriter::RemoveLeftWorkFiles(const QString& directory) {
  return dbf::RemoveLeftWorkFiles(QFile::encodeName(directory).toStdString());
}

TextFileWriter::~TextFileWriter() {
  if (m_fd < 0 && !m_finished) return;
  // A command stopped by an error leaves the file as it was before: the work
  // file goes, nothing half-written takes the file's place.
  if (m_fd >= 0) dbf::Disk().Close(m_fd);
  dbf::Disk().Remove(m_workPath.constData());
}

void TextFileWriter::WriteLine(QStringView text) {
  m_buffer += text.toUtf8();
  m_buffer += "\r\n";
  if (m_buffer.size() >= kBufferSize) Flush();
}

void TextFileWriter::WriteText(QStringView text) {
  qsizetype start = 0;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] != u'\r' && text[i] != u'\n') continue;
    WriteLine(text.mid(start, i - start));
    if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    start = i + 1;
  }
  WriteLine(text.mid(start));
}

void TextFileWriter::Flush() {
  if (!dbf::AppendAll(m_fd, m_buffer.constData(), static_cast<size_t>(m_buffer.size())))
    throw FileIoError(errno, m_name);
  m_buffer.clear();
}

void TextFileWriter::Finish() {
  if (m_fd < 0) return;
  Flush();  // on failure the destructor removes the work file
  const int fd = m_fd;
  m_fd = -1;
  m_finished = true;  // from here the destructor removes the closed work file
  if (dbf::Disk().Close(fd) != 0 && errno != EINTR) throw FileIoError(errno, m_name);
}

void TextFileWriter::Place() {
  if (!m_finished) return;
  if (dbf::Disk().Rename(m_workPath.constData(), m_path.constData()) != 0) throw FileIoError(errno, m_name);
  m_finished = false;
}

}  // namespace qm::catalog

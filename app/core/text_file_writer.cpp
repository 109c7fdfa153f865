#include "app/core/text_file_writer.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
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

TextFileWriter::TextFileWriter(const QString& path, const QString& displayName) : m_name(displayName) {
  // Never through a symbolic link: a link named like a page would let a build write
  // outside the working directory.
  do {
    m_fd = ::open(QFile::encodeName(path).constData(),
                  O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  } while (m_fd < 0 && errno == EINTR);
  if (m_fd < 0) throw FileIoError(errno, m_name);
  m_buffer.reserve(kBufferSize);
}

TextFileWriter::~TextFileWriter() {
  if (m_fd < 0) return;
  // A command stopped by an error keeps what it wrote so far; a second
  // failure here has nobody left to report to.
  try {
    Flush();
  } catch (const FileIoError&) {
  }
  ::close(m_fd);
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
  const char* p = m_buffer.constData();
  qsizetype left = m_buffer.size();
  while (left > 0) {
    const ssize_t n = ::write(m_fd, p, static_cast<size_t>(left));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw FileIoError(errno, m_name);
    if (n == 0) throw FileIoError(ENOSPC, m_name);
    p += n;
    left -= n;
  }
  m_buffer.clear();
}

void TextFileWriter::Close() {
  if (m_fd < 0) return;
  Flush();
  const int fd = m_fd;
  m_fd = -1;
  if (::close(fd) != 0 && errno != EINTR) throw FileIoError(errno, m_name);
}

}  // namespace qm::catalog

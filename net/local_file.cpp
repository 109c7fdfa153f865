#include "net/local_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace qm::net {

bool TLocalFile::Lock(int shareFlag) {
  int operation = 0;
  if (shareFlag == kShareExclusive || shareFlag == kShareDenyRead) operation = LOCK_EX;
  if (shareFlag == kShareDenyWrite) operation = LOCK_SH;
  if (operation == 0 || flock(m_fd, operation | LOCK_NB) == 0) return true;
  Close();
  return false;
}

bool TLocalFile::OpenForRead(const std::string& name, int shareFlag, long long offset) {
  Close();
  m_fd = OpenRegularForRead(name);
  if (m_fd < 0) return false;
  if (!Lock(shareFlag)) return false;
  if (offset > 0 && lseek(m_fd, offset, SEEK_SET) < 0) {
    Close();
    return false;
  }
  return true;
}

bool TLocalFile::OpenForWrite(const std::string& name, int shareFlag, bool truncate, long long offset) {
  Close();
  m_fd = ::open(name.c_str(), O_WRONLY | O_CLOEXEC | (truncate ? O_CREAT : 0), 0644);
  if (m_fd < 0 || !Lock(shareFlag)) return Close(), false;
  // Empty the file only once the lock is held, so a refused open destroys nothing.
  if (truncate && ftruncate(m_fd, 0) != 0) return Close(), false;
  if (offset > 0 && lseek(m_fd, offset, SEEK_SET) < 0) return Close(), false;
  return true;
}

int TLocalFile::Read(char* buffer, int size) {
  for (;;) {
    const ssize_t n = ::read(m_fd, buffer, size);
    if (n >= 0 || errno != EINTR) return static_cast<int>(n);
  }
}

bool TLocalFile::Write(const char* buffer, int size) {
  while (size > 0) {
    const ssize_t n = ::write(m_fd, buffer, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    buffer += n;
    size -= static_cast<int>(n);
  }
  return true;
}

void TLocalFile::Close() {
  if (m_fd != -1) ::close(m_fd);
  m_fd = -1;
}

int TLocalFile::OpenRegularForRead(const std::string& name) {
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return -1;
  struct stat info{};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    const int error = S_ISDIR(info.st_mode) ? EISDIR : ENXIO;
    ::close(fd);
    errno = error;
    return -1;
  }
  // Reads of a regular file never wait on O_NONBLOCK; dropped all the same,
  // so the handle behaves as any other.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

long long TLocalFile::SizeOf(const std::string& name) {
  struct stat info{};
  return stat(name.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

}  // namespace qm::net

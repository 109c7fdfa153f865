#include "dbf/disk_io.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

namespace qm::dbf {
namespace {

DiskIo& SystemDisk() {
  static DiskIo system;
  return system;
}

std::atomic<DiskIo*>& Installed() {
  static std::atomic<DiskIo*> installed{&SystemDisk()};
  return installed;
}

}  // namespace

int DiskIo::Open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int DiskIo::Close(int fd) { return ::close(fd); }
ssize_t DiskIo::ReadAt(int fd, void* buffer, size_t length, off_t offset) {
  return ::pread(fd, buffer, length, offset);
}
ssize_t DiskIo::WriteAt(int fd, const void* buffer, size_t length, off_t offset) {
  return ::pwrite(fd, buffer, length, offset);
}
ssize_t DiskIo::Append(int fd, const void* buffer, size_t length) {
  return ::write(fd, buffer, length);
}
int DiskIo::Truncate(int fd, off_t length) { return ::ftruncate(fd, length); }
int DiskIo::Sync(int fd) { return ::fsync(fd); }
int DiskIo::StatHandle(int fd, struct stat* info) { return ::fstat(fd, info); }
int DiskIo::StatPath(const char* path, struct stat* info) { return ::stat(path, info); }
int DiskIo::ChangeMode(int fd, mode_t mode) { return ::fchmod(fd, mode); }
int DiskIo::LockControl(int fd, int command, struct flock* request) {
  return ::fcntl(fd, command, request);
}
int DiskIo::Rename(const char* from, const char* to) { return std::rename(from, to); }
int DiskIo::Remove(const char* path) { return ::unlink(path); }

DiskIo& Disk() { return *Installed().load(); }

DiskIo* InstallDiskIo(DiskIo* io) { return Installed().exchange(io ? io : &SystemDisk()); }

bool AppendAll(int fd, const void* bytes, size_t length) {
  const auto* p = static_cast<const char*>(bytes);
  while (length > 0) {
    const ssize_t n = Disk().Append(fd, p, length);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    p += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace qm::dbf

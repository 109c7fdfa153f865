#include "dbf/disk_io.h"

#include <dirent.h>
#include <signal.h>
#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "dbf/text_helpers.h"

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

uint64_t UnguessableNumber() {
  uint64_t value = 0;
  if (::getrandom(&value, sizeof value, 0) == static_cast<ssize_t>(sizeof value)) return value;
  // No random source (a very old kernel): the clock's nanoseconds, mixed, are
  // at least not known in advance.
  static std::atomic<uint64_t> serial{0};
  value = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
          (serial.fetch_add(1) * 0x9E3779B97F4A7C15ull) ^ (static_cast<uint64_t>(::getpid()) << 32);
  return value * 0xBF58476D1CE4E5B9ull;
}

int CreateExclusive(const std::string& path, mode_t mode) {
  int fd;
  do {
    fd = Disk().Open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

int CreateWorkFile(const std::string& path, mode_t mode, std::string& workPath) {
  int fd = -1;
  // A taken name (improbable with 64 random bits) gets another.
  for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
    workPath = path + ".qm" + std::to_string(::getpid()) + "-" + std::to_string(UnguessableNumber()) + ".tmp";
    fd = CreateExclusive(workPath, mode);
    if (fd < 0 && errno != EEXIST) break;
  }
  return fd;
}

namespace {

// The process id in a work file name "<target>.qm<pid>-<digits>.tmp"; 0 for
// any other name. Letters compare ignoring case: the engine upper-cases the
// names of the files it creates (an index rebuild's work file among them).
pid_t WorkFileProcess(const std::string& fileName, const std::string& targetName) {
  const std::string name = UpperAscii(fileName);
  const std::size_t mark = name.rfind(".QM");
  const std::size_t dash = name.rfind('-');
  const std::string tail = ".TMP";
  if (mark == std::string::npos || mark == 0 || dash == std::string::npos || dash < mark ||
      name.size() < tail.size() || name.compare(name.size() - tail.size(), tail.size(), tail) != 0)
    return 0;
  if (!targetName.empty() && name.compare(0, mark, UpperAscii(targetName)) != 0) return 0;
  const std::string pid = name.substr(mark + 3, dash - mark - 3);
  const std::string number = name.substr(dash + 1, name.size() - tail.size() - dash - 1);
  auto digits = [](const std::string& s) {
    return !s.empty() && s.size() <= 20 && s.find_first_not_of("0123456789") == std::string::npos;
  };
  if (!digits(pid) || !digits(number) || pid.size() > 9) return 0;
  return static_cast<pid_t>(std::atol(pid.c_str()));
}

}  // namespace

int RemoveLeftWorkFiles(const std::string& directory, const std::string& targetName) {
  const std::string dir = directory.empty() ? "." : directory;
  DIR* listing = ::opendir(dir.c_str());
  if (listing == nullptr) return 0;
  int removed = 0;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    const pid_t pid = WorkFileProcess(name, targetName);
    // Only a process that no longer exists: a writer running beside this one keeps its files.
    if (pid <= 0 || ::kill(pid, 0) == 0 || errno != ESRCH) continue;
    struct stat info {};
    const std::string path = dir + "/" + name;
    if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && Disk().Remove(path.c_str()) == 0)
      ++removed;
  }
  ::closedir(listing);
  return removed;
}

}  // namespace qm::dbf

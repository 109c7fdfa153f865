#pragma once
// A disk that fails on purpose, for the tests: it passes every call on to the
// operating system except one chosen write (or sync) to one chosen file, which
// fails the way a real disk fails at the worst moment. Installed while it
// lives.

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <map>
#include <mutex>
#include <string>

#include "dbf/disk_io.h"

namespace qm::dbf::test {

enum class DiskFault {
  kNoSpace,    // the write stores nothing: ENOSPC
  kIoError,    // the write stores nothing: EIO
  kShortWrite  // half the bytes go in, then the next write of that file finds no space
};

inline const char* FaultName(DiskFault fault) {
  switch (fault) {
    case DiskFault::kNoSpace: return "no space";
    case DiskFault::kIoError: return "I/O error";
    case DiskFault::kShortWrite: return "short write";
  }
  return "?";
}

constexpr DiskFault kEveryDiskFault[] = {DiskFault::kNoSpace, DiskFault::kIoError,
                                         DiskFault::kShortWrite};

class FaultyDisk : public DiskIo {
 public:
  // Fails the nth (from 1) write to a file whose name (not its folder's) contains `fileName`
  // (ignoring case); nth 0 fails nothing and only counts those writes.
  FaultyDisk(std::string fileName, int nth, DiskFault fault)
      : m_name(Upper(std::move(fileName))), m_nth(nth), m_fault(fault) {
    m_previous = InstallDiskIo(this);
  }
  ~FaultyDisk() override { InstallDiskIo(m_previous == this ? nullptr : m_previous); }
  FaultyDisk(const FaultyDisk&) = delete;
  FaultyDisk& operator=(const FaultyDisk&) = delete;

  int Writes() const { return m_writes; }
  bool Fired() const { return m_fired; }

  int Open(const char* path, int flags, mode_t mode) override {
    const int fd = DiskIo::Open(path, flags, mode);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (fd >= 0) m_watched[fd] = Upper(BaseName(path)).find(m_name) != std::string::npos;
    return fd;
  }
  int Close(int fd) override {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_watched.erase(fd);
    }
    return DiskIo::Close(fd);
  }
  ssize_t WriteAt(int fd, const void* buffer, size_t length, off_t offset) override {
    const int fault = Strike(fd, length);
    if (fault > 0) return Fail(fault);
    if (fault < 0) return DiskIo::WriteAt(fd, buffer, length / 2, offset);
    return DiskIo::WriteAt(fd, buffer, length, offset);
  }
  ssize_t Append(int fd, const void* buffer, size_t length) override {
    const int fault = Strike(fd, length);
    if (fault > 0) return Fail(fault);
    if (fault < 0) return DiskIo::Append(fd, buffer, length / 2);
    return DiskIo::Append(fd, buffer, length);
  }

 private:
  static std::string Upper(std::string text) {
    for (char& c : text)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return text;
  }
  static std::string BaseName(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
  }
  // Whether a handle opened before this disk was installed is the chosen file's.
  bool Watched(int fd) const {
    char link[PATH_MAX] = {};
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = ::readlink(proc.c_str(), link, sizeof link - 1);
    return n > 0 && Upper(BaseName(std::string(link, static_cast<size_t>(n)))).find(m_name) != std::string::npos;
  }
  static ssize_t Fail(int error) {
    errno = error;
    return -1;
  }
  // 0: write normally; an errno: fail with it; -1: write half.
  int Strike(int fd, size_t length) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_watched.find(fd);
    if (it == m_watched.end()) it = m_watched.emplace(fd, Watched(fd)).first;  // opened before
    if (!it->second) return 0;
    if (m_shortPending) {
      m_shortPending = false;
      return ENOSPC;
    }
    if (++m_writes != m_nth) return 0;
    m_fired = true;
    switch (m_fault) {
      case DiskFault::kNoSpace: return ENOSPC;
      case DiskFault::kIoError: return EIO;
      case DiskFault::kShortWrite:
        if (length < 2) return ENOSPC;
        m_shortPending = true;
        return -1;
    }
    return 0;
  }

  std::string m_name;
  int m_nth;
  DiskFault m_fault;
  DiskIo* m_previous = nullptr;
  std::mutex m_mutex;
  std::map<int, bool> m_watched;  // open handles: whether they are the chosen file's
  int m_writes = 0;
  bool m_fired = false;
  bool m_shortPending = false;
};

}  // namespace qm::dbf::test

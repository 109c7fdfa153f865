#pragma once
// The local file of an FTP transfer, opened with the client's share flag.
// Linux has no share modes: the denying flags take an advisory whole-file lock
// (flock), so two transfers, or another program that locks, cannot meet on one file.

#include <string>

namespace qm::net {

class TLocalFile {
 public:
  // Share flags as the open mode stores them.
  static constexpr int kShareCompat = 0, kShareExclusive = 16, kShareDenyWrite = 32,
                       kShareDenyRead = 48, kShareDenyNone = 64;

  TLocalFile() = default;
  TLocalFile(const TLocalFile&) = delete;
  TLocalFile& operator=(const TLocalFile&) = delete;
  ~TLocalFile() { Close(); }

  bool OpenForRead(const std::string& name, int shareFlag, long long offset);
  // truncate: create or empty the file; otherwise it must exist.
  bool OpenForWrite(const std::string& name, int shareFlag, bool truncate, long long offset);
  bool IsOpen() const { return m_fd != -1; }
  int Read(char* buffer, int size);               // bytes read, -1 on error
  bool Write(const char* buffer, int size);
  void Close();

  // Size of a file, -1 when it cannot be examined.
  static long long SizeOf(const std::string& name);
  // Opens `name` for reading only if it is a regular file: a FIFO named like
  // a page would block the open until someone writes to it, a device or a
  // folder is no page to send. The open never blocks; the handle, or -1 with
  // errno set (ENXIO for a file that is not a regular one).
  static int OpenRegularForRead(const std::string& name);

 private:
  bool Lock(int shareFlag);
  int m_fd = -1;
};

}  // namespace qm::net

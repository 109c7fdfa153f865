#pragma once
// The operating-system calls under every file Quillmart keeps: the table,
// memo and index files, the sort work files, the table creator's new files,
// the generated pages and the settings store. Production code calls them
// through Disk(); a test installs its own DiskIo to make the disk fail (no
// space, an I/O error, a write that stops short) at a chosen call, the way a
// real disk does at the worst moment.
//
// Every method behaves as the system call it stands for: -1 (or a short
// count) with errno set on failure.
//
// Thread-safety: Disk() and InstallDiskIo() may be called from any thread; a
// DiskIo is installed before the work it watches starts and stays alive
// until it is uninstalled.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace qm::dbf {

class DiskIo {
 public:
  virtual ~DiskIo() = default;

  virtual int Open(const char* path, int flags, mode_t mode);
  virtual int Close(int fd);
  virtual ssize_t ReadAt(int fd, void* buffer, size_t length, off_t offset);
  virtual ssize_t WriteAt(int fd, const void* buffer, size_t length, off_t offset);
  // Writes at the file's position (files written front to back).
  virtual ssize_t Append(int fd, const void* buffer, size_t length);
  virtual int Truncate(int fd, off_t length);
  virtual int Sync(int fd);
  virtual int StatHandle(int fd, struct stat* info);
  virtual int StatPath(const char* path, struct stat* info);
  virtual int ChangeMode(int fd, mode_t mode);
  // Byte-range locks of the open file (open-file-description locks).
  virtual int LockControl(int fd, int command, struct flock* request);
  virtual int Rename(const char* from, const char* to);
  virtual int Remove(const char* path);
};

// The installed calls (the operating system's unless a test installed others).
DiskIo& Disk();
// Installs io (nullptr: the operating system's again) and returns the one it replaces.
DiskIo* InstallDiskIo(DiskIo* io);

// Writes all of bytes at the file's position, going on after a short write;
// false with errno set when a call fails (a call that writes nothing is ENOSPC).
bool AppendAll(int fd, const void* bytes, size_t length);

// ---- work files ----
// Every work file Quillmart makes beside the files it keeps (index rebuilds,
// new tables, pages, the settings store) and the sort files are made here, the
// one way: created exclusively, so that nothing planted under the name (a
// symbolic link above all) is followed or overwritten, and named with a number
// from the system's random source, so that no neighbour in a shared folder can
// plant anything under the name in advance.

// A number nobody can guess in advance.
uint64_t UnguessableNumber();
// Creates the file at path, which must not exist (no link is followed), open
// for reading and writing; its handle, or -1 with errno set (EEXIST: taken).
int CreateExclusive(const std::string& path, mode_t mode);
// Creates a new work file beside `path`, named "<path>.qm<pid>-<n>.tmp" with
// an unguessable n; its handle (read-write), or -1 with errno set. workPath
// gets the name.
int CreateWorkFile(const std::string& path, mode_t mode, std::string& workPath);
// Removes from `directory` the work files ("<name>.qm<pid>-<n>.tmp") whose
// process no longer exists (killed before it could remove them); with a
// target, only those of that file. Returns how many went.
int RemoveLeftWorkFiles(const std::string& directory, const std::string& targetName = {});

}  // namespace qm::dbf

#pragma once
// The disk file object: every file access of the table engine goes through it.
// Tables, memo files, index files and the table creator derive from it.
//
// Open modes are one byte in the original platform's convention: access in
// bits 0-2 (0 read only, 1 write only, 2 read-write), sharing in bits 4-6.
// Locking is active when the mode is above 8 (any sharing bit set); there are
// no share modes on Linux, so the sharing bits only switch locking on.
//
// Byte-range locks are open-file-description locks (F_OFD_SETLK): like the
// original platform's locks they belong to the open file, so two opens of one
// file conflict even inside one process, while objects that share a handle
// (same path, see Open) share their locks. A refused lock is code 33.
//
// Open-mode locks: with locking active, a shared open holds a read lock on
// one byte past the 32-bit range of every protocol (no record, header or memo
// lock ever touches it), and an exclusive open (sharing bits 0x10: modes 18
// and 16) holds the whole file, so each sees the other: an open that meets
// such a lock of another open is refused with code 32 and the text
// "<path> (in use by another program)". While an object holds the whole file
// its own region locks need no operating-system call.
//
// Every operating-system call is made while holding the process-wide engine
// mutex. Lock attempts refused by another open, and transient I/O errors, are
// retried for the retry period (2 s, so 2 to 3 s in all), calling the message
// pump between attempts.
//
// Thread-safety: one object is used by one thread at a time.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "dbf/errors.h"
#include "dbf/lock_regions.h"

namespace qm::dbf {

// Open-mode bytes the program uses.
constexpr uint8_t kOpenSharedReadWrite = 66;     // deny none, read-write
constexpr uint8_t kOpenSharedReadOnly = 64;      // deny none, read only
constexpr uint8_t kOpenExclusiveReadWrite = 18;  // exclusive, read-write
constexpr uint8_t kOpenExclusiveReadOnly = 16;   // exclusive, read only
constexpr uint8_t kOpenCreate = 2;               // read-write, no sharing bits: no locking


// The process-wide engine mutex; recursive because an open probes a lock.
std::recursive_mutex& EngineMutex();

// Called between retry attempts. The application installs one that dispatches
// its pending events (and ends the program on a quit request); the engine's
// default does nothing. An empty function restores the default.
using MessagePump = std::function<void()>;
MessagePump SetMessagePump(MessagePump pump);

// Operating-system errno to the engine's code (the original platform's
// numbering: ENOENT 2, EACCES 5, EAGAIN on a lock 33, ...). Unknown values pass through.
int32_t OsErrorCode(int err);

// Path normalisation: made absolute against the current directory and
// lexically cleaned; the directory part stays as given. The file name is the
// exact one when it exists, else the one entry of that directory that matches
// ignoring case, else the name upper-cased (the name a new file gets).
std::string NormalizePath(const std::string& path);

class TbrDiskFile : public TbrErrorReporter {
 public:
  // Normalises the path and records exists / locking-active / read-only;
  // opens nothing. A file without any write permission bit is read-only.
  TbrDiskFile(const std::string& path, uint8_t openMode);
  ~TbrDiskFile() override;  // closes
  TbrDiskFile(const TbrDiskFile&) = delete;
  TbrDiskFile& operator=(const TbrDiskFile&) = delete;

  // Opens the file (subcode 1107; 32 when another open holds it exclusively). A second object on the same path shares
  // the first one's handle instead of opening again (when that handle allows
  // the second object's access; a read-write object never takes a read-only
  // handle). A shared open probes a
  // lock at (0,1); when the file system cannot lock, locking goes inactive.
  bool Open();
  // Creates the file, which must not exist yet (a work file: nothing under
  // its name, a link above all, is followed), and opens it with the object's
  // mode (subcode 1108). Code 12 when an object on this path is open.
  bool CreateFile();
  // Whether an object of this process has the (normalised) path open.
  static bool OpenInThisProcess(const std::string& path);
  // Releases this object's lock region and leaves the handle to other
  // objects still open on the path (flushing first when dirty). Never reports.
  void Close();

  // Positioned transfers; offset -1 means the current position (subcodes
  // 1101 / 1102). A short read is code 221, returns false and is not reported.
  bool Read(int64_t offset, void* buffer, uint32_t length);
  bool Write(int64_t offset, const void* buffer, uint32_t length);
  int64_t FileSize();             // -1 on failure (subcode 1105)
  bool Truncate(int64_t offset);  // code 5 unless writable and (unshared or whole-file locked)
  bool Flush();                   // when dirty; false on a closed object (subcode 1111)
  // True when the path no longer names the file this object has open (another
  // program renamed a new file into its place, or removed it).
  bool Replaced();

  // One region per object. Same region again: success without an OS call;
  // another region while one is held: code 33. Without locking: code 1.
  // The caller reports a refusal (subcode 1112).
  bool Lock(uint32_t offset, uint32_t length);
  bool Unlock();  // releases the held region (subcode 1114)

  // Raw OS lock or unlock of a region outside the single-region bookkeeping
  // (the header lock), retried like Lock. Returns the code (0 success).
  int32_t OsLockRegion(TbrLockRegion region, bool lock);

  // 0..3; 4 or more leaves the protocol as it was.
  void SetLockingProtocol(int protocol);
  TbrLokProtocol LockingProtocol() const { return m_protocol; }

  const std::string& Path() const { return m_path; }
  uint8_t OpenMode() const { return m_openMode; }
  bool Exists() const { return m_exists; }
  bool IsOpen() const { return !m_closed; }
  bool LockingActive() const { return m_lockingActive; }
  bool ReadOnly() const { return m_readOnly; }
  bool Locked() const { return m_locked; }
  bool WholeFileLocked() const { return m_wholeFileLocked; }
  TbrLockRegion LockedRegion() const { return {m_lockOffset, m_lockLength}; }
  uint32_t BytesTransferred() const { return m_transferred; }
  int64_t Position() const { return m_position; }
  // 0 no automatic flush, 1 after every write, 3 after releasing a lock region.
  void SetFlushMode(int mode) { m_flushMode = mode; }
  // Read cache for sequential walks (0 bytes: off, the default). Reads of at
  // most that many bytes are served from one window of the file read in one
  // transfer. This object's writes and truncations empty it; changes made
  // through other objects or by other processes are not seen while a range
  // is cached, so it is for read-only walks only.
  void SetReadCache(uint32_t bytes);
  // Forgets the cached window, so the next read goes to the file.
  void DropReadCache() { m_cacheStart = m_cacheEnd = 0; }
  int Handle() const { return m_handle; }
  // Whether this object's open holds the whole file exclusively.
  bool HeldExclusively() const { return m_heldExclusively; }

 protected:
  const char* ErrorText() const override { return m_path.c_str(); }
  // Cuts the file at offset without the whole-file lock that Truncate asks
  // for: only for bytes the caller itself just wrote under the header lock.
  bool CutOwnTail(int64_t offset);

 private:
  int32_t OpenHandle();
  int32_t TransferOnce(int64_t offset, void* buffer, uint32_t length, bool write);
  int32_t OsLockOnce(TbrLockRegion region, bool lock);
  int32_t TakeOpenModeLock();
  int32_t CachedRead(int64_t offset, void* buffer, uint32_t length);

  std::string m_path;
  uint8_t m_openMode;
  int m_handle = -1;
  bool m_closed = true;
  bool m_exists = false;
  bool m_lockingActive = false;
  bool m_readOnly = false;
  int64_t m_position = 0;
  uint32_t m_transferred = 0;
  bool m_locked = false;
  bool m_wholeFileLocked = false;
  bool m_heldExclusively = false;  // the open-mode lock covers the whole file
  uint32_t m_lockOffset = 0;
  uint32_t m_lockLength = 0;
  TbrLokProtocol m_protocol = TbrLokProtocol::Default;
  bool m_dirty = false;
  int m_flushMode = 0;
  std::string m_cache;  // the read cache's buffer (empty: off)
  int64_t m_cacheStart = 0;
  int64_t m_cacheEnd = 0;
};

}  // namespace qm::dbf

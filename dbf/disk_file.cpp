#include "dbf/disk_file.h"

#include "dbf/disk_io.h"
#include "dbf/text_helpers.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

namespace qm::dbf {
namespace {

constexpr int kRetryPeriodSeconds = 2;

// Every object with an open handle, guarded by EngineMutex().
std::vector<TbrDiskFile*>& OpenFiles() {
  static std::vector<TbrDiskFile*> files;
  return files;
}

std::mutex& PumpMutex() {
  static std::mutex mutex;
  return mutex;
}

MessagePump& InstalledPump() {
  static MessagePump pump;
  return pump;
}

void PumpMessages() {
  MessagePump pump;
  {
    std::lock_guard<std::mutex> lock(PumpMutex());
    pump = InstalledPump();
  }
  if (pump) pump();
}

int64_t SteadySeconds() {
  using namespace std::chrono;
  return duration_cast<seconds>(steady_clock::now().time_since_epoch()).count();
}

// The retry rule: attempts while they fail with a retryable code and the
// whole seconds elapsed do not pass the period, pumping messages in between.
template <typename Attempt, typename Retryable>
int32_t WithRetry(Attempt attempt, Retryable retryable) {
  int32_t result = attempt();
  if (result == 0 || !retryable(result)) return result;
  const int64_t deadline = SteadySeconds() + kRetryPeriodSeconds;
  while (result != 0 && retryable(result) && SteadySeconds() <= deadline) {
    PumpMessages();
    std::this_thread::sleep_for(std::chrono::microseconds(500));
    result = attempt();
  }
  return result;
}

constexpr off_t kPresenceByte = static_cast<off_t>(kOpenPresenceOffset);
constexpr off_t kExclusiveByte = static_cast<off_t>(kOpenExclusiveOffset);
constexpr off_t kToEndOfFile = 0;  // fcntl length 0: up to any size

int SetOfdLock(int fd, short type, off_t start, off_t length) {
  struct flock request {};
  request.l_type = type;
  request.l_whence = SEEK_SET;
  request.l_start = start;
  request.l_len = length;
  if (Disk().LockControl(fd, F_OFD_SETLK, &request) == 0) return 0;
  return errno;
}

// Whether another open holds any lock on the byte at offset.
bool OthersHold(int fd, off_t offset) {
  struct flock request {};
  request.l_type = F_WRLCK;
  request.l_whence = SEEK_SET;
  request.l_start = offset;
  request.l_len = 1;
  return Disk().LockControl(fd, F_OFD_GETLK, &request) == 0 && request.l_type != F_UNLCK;
}

int32_t LockErrorCode(int err) {
  return (err == EAGAIN || err == EACCES) ? code::kLockViolation : OsErrorCode(err);
}

bool TransientIo(int32_t code) { return code == OsErrorCode(EINTR) || code == OsErrorCode(EAGAIN); }
bool LockConflict(int32_t code) { return code == code::kLockViolation; }

// The name of the one entry of dir matching name ignoring case (the smallest
// when several do); empty when none does.
std::string FindIgnoringCase(const std::string& dir, const std::string& name) {
  std::string found;
  DIR* handle = opendir(dir.c_str());
  if (handle == nullptr) return found;
  while (dirent* entry = readdir(handle)) {
    std::string candidate = entry->d_name;
    if (SameTextIgnoringCase(candidate, name) && (found.empty() || candidate < found))
      found = candidate;
  }
  closedir(handle);
  return found;
}

}  // namespace

std::recursive_mutex& EngineMutex() {
  static std::recursive_mutex mutex;
  return mutex;
}

MessagePump SetMessagePump(MessagePump pump) {
  std::lock_guard<std::mutex> lock(PumpMutex());
  MessagePump previous = InstalledPump();
  InstalledPump() = std::move(pump);
  return previous;
}

int32_t OsErrorCode(int err) {
  // The system's error numbers as the engine's codes (those of the platform the
  // table formats come from), so messages and tests read the same everywhere.
  static constexpr struct {
    int err;
    int32_t code;
  } kCodes[] = {
      {0, 0},         {ENOENT, 2},   {ENOTDIR, 3},  {EMFILE, 4},       {ENFILE, 4},     {EACCES, 5},
      {EPERM, 5},     {EROFS, 5},    {EISDIR, 5},   {EBADF, 6},        {ENOMEM, 8},     {ETXTBSY, 32},
      {EBUSY, 32},    {EEXIST, 80},  {EINVAL, 87},  {ENOSPC, 112},     {EFBIG, 112},    {ENAMETOOLONG, 206},
      {EAGAIN, 10035}, {EINTR, 10004}, {EIO, 1117},
  };
  for (const auto& entry : kCodes)
    if (entry.err == err) return entry.code;
  return err;
}

std::string NormalizePath(const std::string& path) {
  namespace fs = std::filesystem;
  fs::path full(path);
  if (full.is_relative()) {
    std::error_code ignored;
    full = fs::current_path(ignored) / full;
  }
  full = full.lexically_normal();
  const std::string name = full.filename().string();
  if (name.empty()) return full.string();
  struct stat info {};
  if (stat(full.c_str(), &info) == 0) return full.string();
  const std::string dir = full.parent_path().string();
  std::string match = FindIgnoringCase(dir, name);
  return (full.parent_path() / (match.empty() ? UpperAscii(name) : match)).string();
}

TbrDiskFile::TbrDiskFile(const std::string& path, uint8_t openMode)
    : m_path(NormalizePath(path)), m_openMode(openMode) {
  struct stat info {};
  m_exists = stat(m_path.c_str(), &info) == 0;
  if (m_exists && (info.st_mode & 0222) == 0) m_openMode &= static_cast<uint8_t>(~0x07);
  m_lockingActive = m_openMode > 8;
  m_readOnly = (m_openMode & 0x07) == 0;
}

TbrDiskFile::~TbrDiskFile() { Close(); }

int32_t TbrDiskFile::OpenHandle() {
  for (TbrDiskFile* other : OpenFiles()) {
    const bool writable = (other->m_openMode & 0x07) != 0 || m_readOnly;
    // A handle whose file was replaced under its name serves only its old objects.
    if (other != this && other->m_path == m_path && other->m_handle >= 0 && writable &&
        !other->Replaced()) {
      m_handle = other->m_handle;
      m_lockingActive = other->m_lockingActive;
      m_heldExclusively = other->m_heldExclusively;
      return 0;
    }
  }
  const int access = m_openMode & 0x07;
  const int flags = (access == 0 ? O_RDONLY : access == 1 ? O_WRONLY : O_RDWR) | O_CLOEXEC;
  m_handle = Disk().Open(m_path.c_str(), flags, 0);
  if (m_handle < 0) return OsErrorCode(errno);
  if (m_lockingActive && !m_readOnly) {
    // Probe: a refusal by another open still proves that the file system locks.
    const int32_t probe = OsLockOnce(kProbeLockRegion, true);
    if (probe == 0)
      OsLockOnce(kProbeLockRegion, false);
    else if (probe != code::kLockViolation)
      m_lockingActive = false;
  }
  if (!m_lockingActive) return 0;
  const int32_t result = WithRetry([this] { return TakeOpenModeLock(); }, LockConflict);
  if (result != code::kLockViolation) return 0;  // held, or a file system without these locks
  Disk().Close(m_handle);
  m_handle = -1;
  return code::kSharingViolation;
}

// One attempt at the open-mode lock: take ours, then look for the other kind.
int32_t TbrDiskFile::TakeOpenModeLock() {
  const bool exclusive = (m_openMode & 0x70) == 0x10;
  const int access = m_openMode & 0x07;
  if (exclusive) {
    const int err = SetOfdLock(m_handle, access == 0 ? F_RDLCK : F_WRLCK, 0, kToEndOfFile);
    if (err != 0) return LockErrorCode(err);
    if (OthersHold(m_handle, kPresenceByte)) {
      SetOfdLock(m_handle, F_UNLCK, 0, kToEndOfFile);
      return code::kLockViolation;
    }
    m_heldExclusively = true;
    return 0;
  }
  if (access == 1) return 0;  // a write-only handle cannot hold a read lock
  const int err = SetOfdLock(m_handle, F_RDLCK, kPresenceByte, 1);
  if (err != 0) return LockErrorCode(err);
  if (OthersHold(m_handle, kExclusiveByte)) {
    SetOfdLock(m_handle, F_UNLCK, kPresenceByte, 1);
    return code::kLockViolation;
  }
  return 0;
}

bool TbrDiskFile::Open() {
  std::lock_guard<std::recursive_mutex> guard(EngineMutex());
  int32_t result = 0;
  if (m_handle < 0) result = OpenHandle();
  if (result == 0) {
    m_position = 0;
    auto& files = OpenFiles();
    if (std::find(files.begin(), files.end(), this) == files.end()) files.push_back(this);
    m_closed = false;
  }
  if (result == code::kSharingViolation) {
    ReportText(result, subcode::kOpen, (m_path + " (in use by another program)").c_str());
    return false;
  }
  return Check(result, subcode::kOpen);
}

bool TbrDiskFile::CreateFile() {
  std::unique_lock<std::recursive_mutex> guard(EngineMutex());
  for (TbrDiskFile* other : OpenFiles())
    if (other->m_path == m_path) return Check(code::kFileAlreadyOpen, subcode::kCreate);
  // Exclusive, and the handle kept: nothing planted under the name (a link
  // above all) is followed, truncated or opened instead of the new file.
  const int fd = CreateExclusive(m_path, 0666);
  if (fd < 0) return Check(OsErrorCode(errno), subcode::kCreate);
  m_handle = fd;
  m_exists = true;
  guard.unlock();
  return Open();
}

bool TbrDiskFile::OpenInThisProcess(const std::string& path) {
  std::lock_guard<std::recursive_mutex> guard(EngineMutex());
  const auto& files = OpenFiles();
  return std::any_of(files.begin(), files.end(),
                     [&path](const TbrDiskFile* f) { return f->m_path == path; });
}

void TbrDiskFile::Close() {
  std::lock_guard<std::recursive_mutex> guard(EngineMutex());
  auto& files = OpenFiles();
  files.erase(std::remove(files.begin(), files.end(), this), files.end());
  if (m_handle < 0) return;
  const bool shared = std::any_of(files.begin(), files.end(),
                                  [this](TbrDiskFile* f) { return f->m_handle == m_handle; });
  const bool sameRegionHeld = std::any_of(files.begin(), files.end(), [this](TbrDiskFile* f) {
    return f->m_handle == m_handle && f->m_locked && f->LockedRegion() == LockedRegion();
  });
  if (m_locked && !sameRegionHeld) OsLockOnce(LockedRegion(), false);
  m_locked = m_wholeFileLocked = false;
  if (shared) {
    if (m_dirty) Disk().Sync(m_handle);
  } else {
    Disk().Close(m_handle);
  }
  m_dirty = false;
  m_handle = -1;
  m_heldExclusively = false;
  m_closed = true;
  m_position = 0;
}

int32_t TbrDiskFile::TransferOnce(int64_t offset, void* buffer, uint32_t length, bool write) {
  if (m_handle < 0) return OsErrorCode(EBADF);
  auto* bytes = static_cast<char*>(buffer);
  uint32_t done = 0;
  while (done < length) {
    const ssize_t n = write ? Disk().WriteAt(m_handle, bytes + done, length - done, offset + done)
                            : Disk().ReadAt(m_handle, bytes + done, length - done, offset + done);
    if (n < 0) {
      m_transferred = done;
      return OsErrorCode(errno);
    }
    if (n == 0) break;  // end of file
    done += static_cast<uint32_t>(n);
  }
  m_transferred = done;
  return 0;
}

void TbrDiskFile::SetReadCache(uint32_t bytes) {
  m_cache.assign(bytes, '\0');
  m_cacheStart = m_cacheEnd = 0;
}

// Serves a read from the cache window, refilling it at offset when the range
// is not inside; m_transferred as for a direct read.
int32_t TbrDiskFile::CachedRead(int64_t offset, void* buffer, uint32_t length) {
  if (offset < m_cacheStart || offset + length > m_cacheEnd) {
    m_cacheStart = m_cacheEnd = 0;
    const int32_t result =
        TransferOnce(offset, m_cache.data(), static_cast<uint32_t>(m_cache.size()), false);
    if (result != 0) return result;
    m_cacheStart = offset;
    m_cacheEnd = offset + m_transferred;
  }
  const int64_t available = std::min<int64_t>(length, m_cacheEnd - offset);
  std::memcpy(buffer, m_cache.data() + (offset - m_cacheStart), static_cast<size_t>(available));
  m_transferred = static_cast<uint32_t>(available);
  return 0;
}

bool TbrDiskFile::Read(int64_t offset, void* buffer, uint32_t length) {
  std::lock_guard<std::recursive_mutex> guard(EngineMutex());
  if (offset < 0) offset = m_position;
  const bool cached = length <= m_cache.size();
  const int32_t result = WithRetry(
      [&] {
        return cached ? CachedRead(offset, buffer, length)
                      : TransferOnce(offset, buffer, length, false);
      },
      TransientIo);
  if (!Check(result, subcode::kRead)) return false;
  m_position = offset + m_transferred;
  if (m_transferred < length) {
    m_lastCode = code::kShortRead;
    return false;
  }
  return true;
}

bool TbrDiskFile::Write(int64_t offset, const void* buffer, uint32_t length) {
  std::lock_guard<std::recursive_mutex> guard(EngineMutex());
  if (offset < 0) offset = m_position;
  if (m_readOnly) return Check(code::kAccessDenied, subcode::kWrite);
  m_cacheStart = m_cacheEnd = 0;
  auto* data = const_cast<void*>(buffer);  // TransferOnce only writes from it
  const int32_t result =
      WithRetry([&] { return TransferOnce(offset, data, length, true); }, TransientIo);
  if (!Check(result, subcode::kWrite)) return false;
  m_dirty = true;
  m_position = offset + length;
  if (m_flushMode == 1) return Flush();
  return true;
}

int64_t TbrDiskFile::FileSize() {
  std::lock_guard<std::recursive_mutex> guard(EngineMutex());
  struct stat info {};
  int32_t result = m_handle < 0 ? OsErrorCode(EBADF) : 0;
  if (result == 0 && Disk().StatHandle(m_handle, &info) != 0) result = OsErrorCode(errno);
  if (!Check(result, subcode::kSize)) return -1;
  return info.st_size;
}

bool TbrDiskFile::Truncate(int64_t offset) {
  std::lock_guard<std::recursive_mutex> guard(EngineMutex());
  if (offset < 0) offset = m_position;
  if (m_readOnly || (m_lockingActive && !m_wholeFileLocked))
    return Check(code::kAccessDenied, subcode::kTruncate);
  int32_t result = m_handle < 0 ? OsErrorCode(EBADF) : 0;
  m_cacheStart = m_cacheEnd = 0;
  if (result == 0 && Disk().Truncate(m_handle, offset) != 0) result = OsErrorCode(errno);
  if (result == 0) m_dirty = true;
  return Check(result, subcode::kTruncate);
}

bool TbrDiskFile::CutOwnTail(int64_t offset) {
  std::lock_guard<std::recursive_mutex> guard(EngineMutex());
  int32_t result = m_handle < 0 ? OsErrorCode(EBADF) : 0;
  m_cacheStart = m_cacheEnd = 0;
  if (result == 0 && Disk().Truncate(m_handle, offset) != 0) result = OsErrorCode(errno);
  if (result == 0) m_dirty = true;
  return Check(result, subcode::kTruncate);
}

bool TbrDiskFile::Replaced() {
  std::lock_guard<std::recursive_mutex> guard(EngineMutex());
  if (m_handle < 0) return false;
  struct stat mine {}, named {};
  if (Disk().StatHandle(m_handle, &mine) != 0) return false;
  if (Disk().StatPath(m_path.c_str(), &named) != 0) return true;
  return mine.st_ino != named.st_ino || mine.st_dev != named.st_dev;
}

bool TbrDiskFile::Flush() {
  std::lock_guard<std::recursive_mutex> guard(EngineMutex());
  if (m_closed || m_handle < 0) return Check(OsErrorCode(EBADF), subcode::kFlush);
  int32_t result = 0;
  if (m_dirty && Disk().Sync(m_handle) != 0) result = OsErrorCode(errno);
  if (result == 0) m_dirty = false;
  return Check(result, subcode::kFlush);
}

int32_t TbrDiskFile::OsLockOnce(TbrLockRegion region, bool lock) {
  if (m_handle < 0) return OsErrorCode(EBADF);
  // Inside the whole-file lock every region is ours already; unlocking one
  // would cut a hole into it.
  if (m_heldExclusively) return 0;
  const short type = static_cast<short>(!lock ? F_UNLCK : m_readOnly ? F_RDLCK : F_WRLCK);
  const int err = SetOfdLock(m_handle, type, static_cast<off_t>(region.offset),
                             static_cast<off_t>(region.length));
  return err == 0 ? 0 : LockErrorCode(err);
}

int32_t TbrDiskFile::OsLockRegion(TbrLockRegion region, bool lock) {
  std::lock_guard<std::recursive_mutex> guard(EngineMutex());
  return WithRetry([&] { return OsLockOnce(region, lock); }, LockConflict);
}

bool TbrDiskFile::Lock(uint32_t offset, uint32_t length) {
  std::lock_guard<std::recursive_mutex> guard(EngineMutex());
  if (!m_lockingActive) {
    m_lastCode = code::kNoLocking;
    return false;
  }
  if (m_locked) {
    m_lastCode = (offset == m_lockOffset && length == m_lockLength) ? 0 : code::kLockViolation;
    return m_lastCode == 0;
  }
  m_lockOffset = offset;
  m_lockLength = length;
  m_lastCode = OsLockRegion({offset, length}, true);
  m_locked = m_lastCode == 0;
  m_wholeFileLocked = m_locked && offset == 0 && length == kWholeFileLength;
  return m_locked;
}

bool TbrDiskFile::Unlock() {
  std::lock_guard<std::recursive_mutex> guard(EngineMutex());
  int32_t result = 0;
  m_wholeFileLocked = false;
  const bool held = m_locked;
  if (held) result = OsLockRegion(LockedRegion(), false);
  m_locked = false;
  if (held && m_flushMode == 3 && !m_readOnly) Flush();
  return Check(result, subcode::kUnlock);
}

void TbrDiskFile::SetLockingProtocol(int protocol) {
  if (protocol >= 0 && protocol <= 3) m_protocol = static_cast<TbrLokProtocol>(protocol);
}

}  // namespace qm::dbf

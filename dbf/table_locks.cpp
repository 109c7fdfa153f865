// The table object's counted locks and the header lock, on the regions of
// the locking protocol (disk_file.h).
#include "dbf/memo_file.h"
#include "dbf/scope_exit.h"
#include "dbf/table.h"

namespace qm::dbf {

bool TbrTable::LockHelper(TbrLockRegion region) {
  if (!LockingActive()) return true;
  if (m_fileLocked) {
    ++m_lockCount;
    return true;
  }
  if (!Locked()) m_lockCount = 0;
  if (!Lock(region.offset, region.length)) {
    Check(LastCode(), subcode::kLock);
    return false;
  }
  ++m_lockCount;
  DropReadAhead();  // a lock is taken to see and change what is in the file now
  return true;
}

bool TbrTable::LockRecord() {
  return LockHelper(RecordLockRegion(LockingProtocol(), m_headerLength, m_recordLength, m_recNo,
                                     IndexAttached()));
}

bool TbrTable::LockAppend() { return LockHelper(AppendLockRegion(LockingProtocol())); }

// A lock whose header refresh fails (a replaced table) is given back.
bool TbrTable::LockFile() {
  if (!LockHelper(FileLockRegion(LockingProtocol()))) return false;
  if (!LockingActive() || m_fileLocked) return true;
  LockScope undo(*this);
  undo.Taken();
  if (!RefreshHeader()) return false;
  undo.Keep();
  m_fileLocked = true;
  return true;
}

bool TbrTable::LockWholeFile() {
  if (!LockHelper(kWholeFileLockRegion)) return false;
  if (!LockingActive() || m_lockCount != 1) return true;
  LockScope undo(*this);
  undo.Taken();
  if (!RefreshHeader()) return false;
  undo.Keep();
  return true;
}

bool TbrTable::UnlockTable() {
  if (!Locked()) {
    m_lockCount = 0;
    return true;
  }
  if (--m_lockCount > 0) return true;
  m_lockCount = 0;
  bool ok = true;
  {
    // The region goes even when the deferred update fails by raising.
    TbrScopeExit release([this] {
      TbrSuppressErrors quiet(*this);
      const int32_t failure = LastCode();
      m_fileLocked = false;
      Unlock();
      SetLastCode(failure);
    });
    if (m_fileLocked) ok = HeaderUpdate(false);  // the update deferred while the file was locked
    release.Dismiss();
  }
  m_fileLocked = false;
  return Unlock() && ok;
}

bool TbrTable::HeaderLock() {
  // Under the whole-file lock the header is covered already, and unlocking
  // (0,32) afterwards would cut that range out of it.
  if (!LockingActive() || m_fileLocked || WholeFileLocked() || !IsOpen()) return true;
  if (m_headerLockCount == 0) {
    const int32_t result = OsLockRegion(kHeaderLockRegion, true);
    if (result >= 2) {
      Check(result, subcode::kHeaderLock);
      return false;
    }
  }
  ++m_headerLockCount;
  return true;
}

bool TbrTable::HeaderUnlock() {
  if (m_headerLockCount <= 0) return true;
  if (--m_headerLockCount > 0) return true;
  const int32_t result = OsLockRegion(kHeaderLockRegion, false);
  if (result >= 2) {
    Check(result, subcode::kHeaderLock);
    return false;
  }
  return true;
}

namespace {

// A lock given back on the way out of a write that failed: quietly, and the
// failure's code stays for the caller to report.
void UnlockKeepingFailure(TbrTable& table, bool (TbrTable::*unlock)()) {
  TbrSuppressErrors quiet(table);
  const int32_t failure = table.LastCode();
  (table.*unlock)();
  table.SetLastCode(failure);
}

// A lock given back on the normal path, once.
bool ReleaseOnce(TbrTable& table, bool& held, bool (TbrTable::*unlock)()) {
  if (!held) return true;
  held = false;
  return (table.*unlock)();
}

}  // namespace

TbrTable::HeaderLockScope::~HeaderLockScope() {
  if (m_held) UnlockKeepingFailure(m_table, &TbrTable::HeaderUnlock);
}

bool TbrTable::HeaderLockScope::Release() { return ReleaseOnce(m_table, m_held, &TbrTable::HeaderUnlock); }

TbrTable::LockScope::~LockScope() {
  if (m_held) UnlockKeepingFailure(m_table, &TbrTable::UnlockTable);
}

bool TbrTable::LockScope::Release() { return ReleaseOnce(m_table, m_held, &TbrTable::UnlockTable); }

void TbrTable::SetTableLockingProtocol(int protocol) {
  SetLockingProtocol(protocol);
  if (m_memo) m_memo->SetLockingProtocol(protocol);
}

}  // namespace qm::dbf

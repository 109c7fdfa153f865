// The table object's counted locks and the header lock, on the regions of
// the locking protocol (disk_file.h).
#include "dbf/memo_file.h"
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
  return true;
}

bool TbrTable::LockRecord() {
  return LockHelper(RecordLockRegion(LockingProtocol(), m_headerLength, m_recordLength, m_recNo,
                                     IndexAttached()));
}

bool TbrTable::LockAppend() { return LockHelper(AppendLockRegion(LockingProtocol())); }

bool TbrTable::LockFile() {
  if (!LockHelper(FileLockRegion(LockingProtocol()))) return false;
  if (!LockingActive() || m_fileLocked) return true;
  RefreshHeader();
  m_fileLocked = true;
  return true;
}

bool TbrTable::LockWholeFile() {
  if (!LockHelper(kWholeFileLockRegion)) return false;
  if (LockingActive() && m_lockCount == 1) RefreshHeader();
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
  if (m_fileLocked) ok = HeaderUpdate(false);  // the update deferred while the file was locked
  ok = Unlock() && ok;
  m_fileLocked = false;
  return ok;
}

bool TbrTable::HeaderLock() {
  // Under the whole-file lock the header is covered already, and unlocking
  // (0,32) afterwards would cut that range out of it.
  if (!LockingActive() || m_fileLocked || WholeFileLocked()) return true;
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

void TbrTable::SetTableLockingProtocol(int protocol) {
  SetLockingProtocol(protocol);
  if (m_memo) m_memo->SetLockingProtocol(protocol);
}

}  // namespace qm::dbf

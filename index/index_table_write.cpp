// The ordered table's writes and key search: index locks around appends and
// replaces, key maintenance after each write, and find by key.
#include <algorithm>
#include <optional>

#include "dbf/scope_exit.h"
#include "index/index_errors.h"
#include "index/index_table.h"
#include "index/ndx_key.h"

namespace qm::index {

// Locks every attached index file in slot order; on a refusal the files already
// locked are released and the write does not happen.
bool TbrIndexTable::LockIndexes() {
  if (m_lockDepth++ > 0) return true;
  for (size_t i = 0; i < m_files.size(); ++i) {
    TbrNdxFile& file = *m_files[i].file;
    bool locked;
    {
      dbf::TbrSuppressErrors quiet(file);
      locked = file.LockIndex();
    }
    if (locked) continue;
    for (size_t j = 0; j < i; ++j) m_files[j].file->UnlockIndex();
    m_lockDepth = 0;
    Report(code::kLockRefused, subcode::kIndexLock, file.Path());
    return false;
  }
  return true;
}

void TbrIndexTable::UnlockIndexes() {
  if (m_lockDepth == 0 || --m_lockDepth > 0) return;
  for (Slot& slot : m_files) slot.file->UnlockIndex();
}

bool TbrIndexTable::IndexInStep(int n) const {
  return n >= 1 && n <= IndexFileCount() && !m_files[static_cast<size_t>(n - 1)].outOfStep;
}

// An index another table object or program left marked mid-change (killed, or
// its write failed) is left alone here too: maintaining it and clearing its mark
// would make a damaged index look sound.
void TbrIndexTable::NoticeIndexesLeftMarked() {
  for (Slot& slot : m_files)
    if (!slot.outOfStep && slot.file->MarkedByAnother()) slot.outOfStep = true;
}

bool TbrIndexTable::AppendRecord() {
  if (!LockIndexes()) return false;
  IndexLockScope unlock(*this);
  return MarkedWrite([this] { return TbrTable::AppendRecord(); });
}

bool TbrIndexTable::ReplaceRecord(int32_t recordNo) {
  if (!LockIndexes()) return false;
  IndexLockScope unlock(*this);
  return MarkedWrite([this, recordNo] { return TbrTable::ReplaceRecord(recordNo); });
}

// The record and its keys are written under the change mark of every attached
// index in step, set before the record: a process killed anywhere between leaves
// the mark, and the next open in key order rebuilds. A key maintenance that fails
// leaves it too, and the index stays out of step for this object, so that none of
// its later writes clears the mark; the write then returns false.
//
// An index also carries the print of the table it describes (ndx_format.h). It
// gets the table's new print only when it held the print of the table as it was
// just before this write: then nothing but this write changed the table since
// the index was last brought up to date. Otherwise another program wrote the
// table without the index (an append it does not list), and the old print stays,
// so that whoever opens the product table next rebuilds it.
bool TbrIndexTable::MarkedWrite(const std::function<bool()>& write) {
  NoticeIndexesLeftMarked();
  for (Slot& slot : m_files)
    if (!slot.outOfStep && !slot.file->BeginChange()) return false;
  const size_t before = OutOfStepIndexes();
  const dbf::TbrTableFingerprint printBefore = Fingerprint();
  std::vector<bool> current;
  for (Slot& slot : m_files) {
    const auto stored = slot.file->ReadTablePrint();
    current.push_back(printBefore.Known() && stored && *stored == printBefore);
  }
  const bool written = write();
  if (written) {
    const dbf::TbrTableFingerprint printAfter = Fingerprint();
    for (size_t i = 0; i < m_files.size(); ++i) {
      Slot& slot = m_files[i];
      if (slot.outOfStep) continue;
      // A print that cannot be written leaves the mark, like a failed key write.
      if (current[i] && printAfter.Known() && !slot.file->WriteTablePrint(printAfter)) {
        slot.outOfStep = true;
        continue;
      }
      slot.file->EndChange();  // a failure was reported by the file
    }
  }
  return written && OutOfStepIndexes() == before;
}

// After a build under the table's whole-file lock: the index describes the table as it is.
void TbrIndexTable::StampTablePrint(TbrNdxFile& file) {
  const dbf::TbrTableFingerprint print = Fingerprint();
  if (print.Known()) file.WriteTablePrint(print);  // a failure is reported; the index stays untrusted
}

size_t TbrIndexTable::OutOfStepIndexes() const {
  return static_cast<size_t>(
      std::count_if(m_files.begin(), m_files.end(), [](const Slot& s) { return s.outOfStep; }));
}

void TbrIndexTable::TableEvent(int code, int32_t number) {
  if (code != dbf::kEventAfterWrite) return;
  MaintainKeys(number);
  if (m_current != nullptr) {
    // An index left out of step may lack the record: no error for that.
    const bool inStep = std::none_of(m_files.begin(), m_files.end(), [this](const Slot& s) {
      return s.tag.get() == m_current && s.outOfStep;
    });
    SyncTag(*m_current, inStep);
    SetBof(m_current->Bof());
    SetEof(m_current->Eof());
  } else {
    SetEof(number == 0 || number == RecordCount());
    SetBof(number == 1);
  }
}

// After an append (number 0) or a replace of record `number`: the new key goes in;
// a replaced record whose key changed leaves its old entry. The original image
// still holds the record as it was before the write.
bool TbrIndexTable::MaintainKeys(int32_t number) {
  bool ok = true;
  for (Slot& slot : m_files) {
    if (slot.outOfStep) continue;
    // Also when the write error's handler raises out of the maintenance.
    dbf::TbrScopeExit outOfStep([&slot] { slot.outOfStep = true; });
    if (!MaintainKeysOf(slot, number)) {
      ok = false;
      continue;
    }
    outOfStep.Dismiss();
  }
  return ok;
}

bool TbrIndexTable::MaintainKeysOf(Slot& slot, int32_t number) {
  const int32_t recNo = number == 0 ? RecNo() : number;
  TbrNdxTag& tag = *slot.tag;
  std::string key;
  if (!tag.Reload() || !KeyFor(*slot.file, nullptr, key)) return false;
  bool ok = true;
  if (number == 0) {
    ok = tag.Insert(key, recNo);
  } else {
    std::string oldKey;
    if (!KeyFor(*slot.file, OriginalImage(), oldKey)) return false;
    bool found = false;
    if (oldKey != key)
      ok = tag.Delete(oldKey, recNo, &found) && tag.Insert(key, recNo);
    else if (!tag.SeekEntry(oldKey, recNo))
      ok = tag.Insert(key, recNo);
  }
  if (&tag != m_current) tag.Release();
  return ok;
}

bool TbrIndexTable::FindKey(const std::string& text) {
  m_found = false;
  // Clipper's protocol: a find holds all index files locked.
  const bool clip = LockingProtocol() == dbf::TbrLokProtocol::ClipLock;
  if (clip && !LockIndexes()) return false;
  std::optional<IndexLockScope> unlock;
  if (clip) unlock.emplace(*this);
  if (RecordCount() == 0 && !RefreshHeader()) return false;
  if (RecordCount() == 0) return false;
  auto fail = [this] {
    GoTo(dbf::kGoBottom);
    SetEof(true);
    return false;
  };
  if (m_current == nullptr) return fail();
  TbrNdxFile& file = m_current->File();
  // Another table object may have rebuilt or grown the index since the last look.
  if (!m_current->Reload()) return fail();
  std::string keyText = file.KeyType() == 'D' ? NdxDateKeyText(text) : text;
  std::string key = StoredKey(keyText, file.Geometry().character);
  TbrNdxTag::SeekResult result = m_current->Seek(key, m_exact);
  if (result != TbrNdxTag::SeekResult::Found) {
    if (result != TbrNdxTag::SeekResult::Less || !m_stayNear) return fail();
    TbrTable::GoTo(m_current->RecNo());
    return false;
  }
  if (!TbrTable::GoTo(m_current->RecNo())) return fail();
  if (!Accepted() && !GoTo(dbf::kGoNext)) return fail();
  int matched = 0;
  int c = m_current->Compare(m_current->Key(), key, &matched);
  m_found = c == 0 || (!m_exact && file.Geometry().character &&
                       static_cast<int>(key.size()) <= matched);
  if (!m_found && !m_stayNear) return fail();
  return m_found;
}

}  // namespace qm::index

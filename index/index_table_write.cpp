// The ordered table's writes and key search: index locks around appends and
// replaces, key maintenance after each write, and find by key.
#include <optional>

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

// Releases the index locks however the write ends (an error handler may raise).
class TbrIndexTable::IndexLockScope {
 public:
  explicit IndexLockScope(TbrIndexTable& table) : m_table(table) {}
  ~IndexLockScope() { m_table.UnlockIndexes(); }
  IndexLockScope(const IndexLockScope&) = delete;
  IndexLockScope& operator=(const IndexLockScope&) = delete;

 private:
  TbrIndexTable& m_table;
};

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
// index, set before the record: a process killed anywhere between leaves the
// mark, and the next open in key order rebuilds. A write or key maintenance that
// fails leaves it too, since the index may hold part of the change.
bool TbrIndexTable::MarkedWrite(const std::function<bool()>& write) {
  for (Slot& slot : m_files)
    if (!slot.file->BeginChange()) return false;
  m_keysMaintained = true;
  const bool written = write();
  if (written && m_keysMaintained)
    for (Slot& slot : m_files) slot.file->EndChange();  // a failure was reported by the file
  return written;
}

void TbrIndexTable::TableEvent(int code, int32_t number) {
  if (code != dbf::kEventAfterWrite) return;
  m_keysMaintained = MaintainKeys(number) && m_keysMaintained;
  if (m_current != nullptr) {
    SyncTag(*m_current, true);
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
  const int32_t recNo = number == 0 ? RecNo() : number;
  for (Slot& slot : m_files) {
    TbrNdxTag& tag = *slot.tag;
    std::string key;
    if (!tag.Reload() || !KeyFor(*slot.file, nullptr, key)) {
      ok = false;
      continue;
    }
    if (number == 0) {
      ok = tag.Insert(key, recNo) && ok;
    } else {
      std::string oldKey;
      if (!KeyFor(*slot.file, OriginalImage(), oldKey)) {
        ok = false;
        continue;
      }
      bool found = false;
      if (oldKey != key) {
        ok = tag.Delete(oldKey, recNo, &found) && tag.Insert(key, recNo) && ok;
      } else if (!tag.SeekEntry(oldKey, recNo)) {
        ok = tag.Insert(key, recNo) && ok;
      }
    }
    if (&tag != m_current) tag.Release();
  }
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

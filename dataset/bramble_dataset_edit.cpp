// TBrambleDataSet: editing. Every write of a record that already exists is
// made under its record lock on the record as the file holds it then, so an
// edit or delete never writes back what another program changed meanwhile.
#include <cstring>
#include <optional>

#include "dataset/bramble_dataset.h"
#include "dataset/bramble_engine.h"
#include "dbf/memo_file.h"
#include "dbf/scope_exit.h"

namespace qm::dataset {

namespace {
constexpr const char* kRecordLocked = "Record is locked by another user";
}

// Goes to record `recNo`, locks it and reads it again under the lock (the read
// cache is dropped so that the bytes come from the file). On failure no lock stays.
void TBrambleDataSet::LockCurrentForWrite(int32_t recNo) {
  m_engine->DropReadAhead();
  if (!m_engine->GoTo(recNo)) throw EDatabaseError("Record request beyond range of table");
  bool locked;
  {
    dbf::TbrSuppressErrors quiet(*m_engine);
    locked = m_engine->LockRecord();
  }
  if (!locked) throw EDatabaseError(kRecordLocked);
  TbrUnlockScope unlock(*m_engine);
  m_engine->DropReadAhead();
  if (!m_engine->GoTo(recNo)) throw EDatabaseError("Record request beyond range of table");
  unlock.Dismiss();
}

// The owner's check of the record read under its lock; a refusal lets go of the lock.
void TBrambleDataSet::CheckRecordLocked(const char* found, const char* locked) {
  if (!OnRecordLocked) return;
  TbrUnlockScope unlock(*m_engine);
  OnRecordLocked(found, locked);
  unlock.Dismiss();
}

void TBrambleDataSet::InternalEdit() {
  char* buffer = ActiveBuffer();
  const int32_t recNo = BufferRecNo(buffer);
  const std::vector<char> found(buffer, buffer + m_recordSize);
  {
    TbrImagePointer point(*m_engine, buffer);
    LockCurrentForWrite(recNo);
  }
  SetBufferRecNo(buffer, recNo);
  CheckRecordLocked(found.data(), buffer);
  SetBookmarkFlag(buffer, TBookmarkFlag::bfCurrent);
  CalculateFields(buffer);
  m_editOriginal.assign(m_engine->OriginalImage(), m_engine->OriginalImage() + m_recordSize);
  m_stagedMemos.clear();
  m_editLockHeld = true;
}

void TBrambleDataSet::InternalInitRecord(char* buffer) {
  m_engine->BlankRecord();
  std::memcpy(m_engine->OriginalImageMutable(), m_engine->RecordImage(), static_cast<size_t>(m_recordSize));
  std::memcpy(buffer, m_engine->RecordImage(), static_cast<size_t>(m_recordSize));
  SetBufferRecNo(buffer, 0);
  m_stagedMemos.clear();
}

// Staged memos go to fresh blocks; the record names them once it is written.
// Like the engine's own memo writes they are made under the table's header
// lock, which the record's write needs too: while another program holds it the
// post is refused before a memo is left behind in the memo file. `written`
// gets the blocks written, to be taken back should the record's write fail.
void TBrambleDataSet::WriteStagedMemos(std::vector<uint32_t>& written) {
  if (m_stagedMemos.empty()) return;
  dbf::TbrTable::HeaderLockScope header(*m_engine);
  if (!header.Held()) RaiseWriteFailure("the table is locked by another program", false);
  dbf::TbrMemoFile* memo = m_engine->MemoFile();
  for (const auto& [fieldNo, text] : m_stagedMemos) {
    if (text.empty()) {
      m_engine->FieldPut(fieldNo, "");
      continue;
    }
    std::optional<uint32_t> block;
    if (memo != nullptr) block = memo->WriteMemo(0, text);
    if (!block) RaiseWriteFailure("its notes cannot be written to the memo file", false);
    written.push_back(*block);
    m_engine->PutNumber(fieldNo, static_cast<double>(*block));
  }
}

// Whether a write that returned false reached the file all the same: the
// record on disk is the new image (an edit), or the table grew (an append).
bool TBrambleDataSet::RecordOnDisk(bool editing, int32_t recNo, int32_t countBefore) {
  if (!editing) return m_engine->RecordCount() > countBefore;
  std::vector<char> disk(m_engine->RecordLength());
  dbf::TbrSuppressErrors quiet(*m_engine);
  const int64_t offset = m_engine->HeaderLength() + static_cast<int64_t>(recNo - 1) * m_engine->RecordLength();
  return m_engine->Read(offset, disk.data(), m_engine->RecordLength()) &&
         std::memcmp(disk.data(), m_engine->RecordImage(), disk.size()) == 0;
}

// A write the engine refused without raising its own report: the message says
// what failed and whether the product reached the table all the same.
void TBrambleDataSet::RaiseWriteFailure(const std::string& what, bool recordWritten) {
  const std::string table = m_engine->Path();
  if (recordWritten)
    throw EDatabaseError("The product was written to " + table + ", but " + what +
                         "; the next write corrects the count and the next open in key order rebuilds the index");
  throw EDatabaseError("Cannot write the product to " + table + ": " + what + "; nothing was changed");
}

void TBrambleDataSet::InternalPost() {
  char* buffer = ActiveBuffer();
  const bool editing = State() == TDataSetState::dsEdit;
  {
    TbrImagePointer point(*m_engine, buffer);
    std::vector<char> staged(buffer, buffer + m_recordSize);  // the buffer as it was, if the write fails
    // The write's first locks, taken before the memos: a refused one leaves no memo behind.
    if (!m_engine->LockIndexes()) RaiseWriteFailure("its index is locked by another program", false);
    index::TbrIndexTable::IndexLockScope unlockIndexes(*m_engine);
    // The header lock from before the owner's check to the end of the write: what
    // the check saw (a key free) still holds when the record goes in.
    dbf::TbrTable::HeaderLockScope header(*m_engine);
    if (!header.Held()) RaiseWriteFailure("the table is locked by another program", false);
    std::vector<uint32_t> memos;
    try {
      if (OnBeforeWrite) OnBeforeWrite(buffer, editing ? m_editOriginal.data() : nullptr, editing ? BufferRecNo(buffer) : 0);
      WriteStagedMemos(memos);
      if (editing) std::memcpy(m_engine->OriginalImageMutable(), m_editOriginal.data(), m_editOriginal.size());
      const int32_t countBefore = m_engine->RecordCount();
      const bool ok = editing ? m_engine->ReplaceRecord(BufferRecNo(buffer)) : m_engine->AppendRecord();
      if (!ok) {
        const bool written = RecordOnDisk(editing, BufferRecNo(buffer), countBefore);
        RaiseWriteFailure(written ? "the write did not complete (the record count or the index may lag)"
                                  : "the table file refused the write",
                          written);
      }
      if (OnAfterWrite) OnAfterWrite(buffer, m_engine->RecNo());
    } catch (...) {
      // Memos no record names go again (their record was not written).
      if (!memos.empty()) m_engine->TakeBackUnwrittenMemos();
      std::memcpy(buffer, staged.data(), staged.size());
      throw;
    }
  }
  SetBufferRecNo(buffer, m_engine->RecNo());
  SetBookmarkFlag(buffer, TBookmarkFlag::bfCurrent);
  if (m_editLockHeld) {
    dbf::TbrSuppressErrors quiet(*m_engine);
    m_engine->UnlockTable();
  }
  m_editLockHeld = false;
  m_firstPending = m_lastPending = false;
  m_stagedMemos.clear();
}

void TBrambleDataSet::InternalCancel() {
  if (m_editLockHeld) {
    dbf::TbrSuppressErrors quiet(*m_engine);
    m_engine->UnlockTable();
  }
  m_editLockHeld = false;
  m_stagedMemos.clear();
}

void TBrambleDataSet::InternalDelete() {
  const int32_t recNo = BufferRecNo(ActiveBuffer());
  LockCurrentForWrite(recNo);
  CheckRecordLocked(ActiveBuffer(), m_engine->RecordImage());
  TbrUnlockScope unlock(*m_engine);
  bool marked = false;
  {
    m_engine->SetUseDeleted(true);
    dbf::TbrScopeExit restore([this] { m_engine->SetUseDeleted(m_useDeleted); });
    marked = m_engine->MarkDeleted();
  }
  if (!marked) throw EDatabaseError("Cannot delete the record");
}

void TBrambleDataSet::Undelete() {
  CheckBrowseMode();
  if (IsEmpty()) throw EDatabaseError("Cannot recall the record");
  UpdateCursorPos();
  const int32_t recNo = BufferRecNo(ActiveBuffer());
  {
    LockCurrentForWrite(recNo);
    CheckRecordLocked(ActiveBuffer(), m_engine->RecordImage());
    TbrUnlockScope unlock(*m_engine);
    if (!m_engine->Recall()) throw EDatabaseError("Cannot recall the record");
  }
  Resync();
}

}  // namespace qm::dataset

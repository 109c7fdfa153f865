// The table object's record movement and record writes.
#include <algorithm>
#include <cstring>
#include <vector>

#include "dbf/dbf_format.h"
#include "dbf/memo_file.h"
#include "dbf/table.h"

namespace qm::dbf {
namespace {

constexpr uint32_t kReadAheadBytes = 32768;

}  // namespace

bool TbrTable::GoTo(int32_t recordNo) {
  if (!m_usable || m_state == TbrTableState::HeaderKnown) return false;
  if (m_recordCount == 0) RefreshHeader();
  if (m_recordCount == 0) {
    m_bof = m_eof = true;
    return false;
  }
  if (recordNo == 0) return false;
  m_bof = m_eof = false;
  const int32_t target = GoToTarget(recordNo);
  if (target < 1) {  // before the first record, "same" before any was read, or refused
    m_bof = true;
    return false;
  }
  if (target > m_recordCount) {
    RefreshHeader();
    if (target > m_recordCount) {
      if (target > m_recordCount + 1) Check(code::kRecordRange, subcode::kGoTo);
      m_eof = true;
      return false;
    }
  }
  // Re-reading the record we stand on asks for what is in the file now,
  // whatever another program changed since it was read ahead.
  if (target == m_recNo) DropReadAhead();
  TableEvent(kEventBeforeRead, recordNo);
  if (!ReadRecordBytes(RecordOffset(target), m_image, m_recordLength)) {
    m_eof = LastCode() == code::kShortRead;
    return false;
  }
  m_recNo = target;
  TableEvent(kEventAfterRead, target);
  std::memcpy(m_original.data(), m_image, m_recordLength);
  return true;
}

// The record a go-to asks for; below 1 when it goes nowhere (a refused code is
// reported and leaves the table at both ends).
int32_t TbrTable::GoToTarget(int32_t recordNo) {
  switch (recordNo) {
    case kGoBottom:
      return m_recordCount;
    case kGoTop:
      return 1;
    case kGoNext:
      return m_recNo + 1;
    case kGoSame:
      return m_recNo;
    case kGoPrior:
      return m_recNo <= 1 ? 0 : m_recNo - 1;
    default:
      if (recordNo > kGoSame) return recordNo;
      m_bof = m_eof = true;
      Check(code::kRecordRange, subcode::kGoTo);
      return 0;
  }
}

bool TbrTable::ReadRecordBytes(int64_t offset, char* buffer, uint32_t length) {
  if (m_readAhead.empty() || offset < m_headerLength) return Read(offset, buffer, length);
  if (offset < m_aheadStart || offset + length > m_aheadEnd) {
    InvalidateReadAhead();
    const bool whole = Read(offset, m_readAhead.data(), static_cast<uint32_t>(m_readAhead.size()));
    if (!whole && LastCode() != code::kShortRead) return false;
    m_aheadStart = offset;
    m_aheadEnd = offset + BytesTransferred();
    if (offset + length > m_aheadEnd) {
      m_lastCode = code::kShortRead;
      return false;
    }
  }
  std::memcpy(buffer, m_readAhead.data() + (offset - m_aheadStart), length);
  m_lastCode = 0;
  return true;
}

void TbrTable::SetReadAhead(bool on) {
  InvalidateReadAhead();
  if (m_memo) m_memo->SetReadCache(on ? kMemoReadCacheBytes : 0);
  if (!on || !m_usable) {
    m_readAhead = {};
    return;
  }
  const uint32_t records = std::max<uint32_t>(1, kReadAheadBytes / m_recordLength);
  m_readAhead.assign(static_cast<size_t>(records) * m_recordLength, 0);
}

void TbrTable::DropReadAhead() {
  InvalidateReadAhead();
  if (m_memo) m_memo->DropReadCache();
}

void TbrTable::PointRecordImage(char* buffer) {
  m_image = buffer != nullptr ? buffer : m_ownImage.data();
}

// Writes length bytes of the image; an append passes the record length + 1
// so that the end-of-file marker goes with it in one write.
bool TbrTable::WriteImage(int64_t offset, uint32_t length) {
  InvalidateReadAhead();
  if (m_image != m_ownImage.data()) std::memcpy(m_ownImage.data(), m_image, m_recordLength);
  m_ownImage[m_recordLength] = static_cast<char>(layout::kEndOfFile);
  return Write(offset, m_ownImage.data(), length);
}

void TbrTable::BlankRecord() {
  if (!m_usable) return;
  std::fill(m_image, m_image + m_recordLength, ' ');
  if (m_memo) m_memo->ClearLines();
  for (int32_t n = 1; n <= FieldCount(); ++n) {
    const TbrField& field = m_fields[n - 1];
    if (IsVisualFoxBinary(field)) {
      // Binary numbers and memo block numbers: zero, never blanks.
      std::fill(m_image + field.offset, m_image + field.offset + field.length, '\0');
    } else if (field.type == 'N' || field.type == 'F') {
      TbrSuppressErrors quiet(*this);  // a field too narrow for "0.00" stays blank
      PutNumber(n, 0.0);
    }
  }
  std::fill(m_fieldChanged.begin(), m_fieldChanged.end(), 0);
  TableEvent(kEventBlanked, 0);
}

bool TbrTable::AppendRecord() {
  if (!m_usable || m_state == TbrTableState::HeaderKnown) return false;
  TableEvent(kEventBeforeWrite, 0);
  HeaderLockScope header(*this);
  if (!header.Held()) return false;
  LockScope append(*this);
  if (m_lockBeforeWrite && !m_fileLocked) {
    if (!LockAppend()) return false;
    if (LockingActive()) append.Taken();
  }
  if (!RefreshHeader()) return false;  // the count other writers left, under the header lock
  const int32_t count = m_recordCount + 1;
  m_image[0] = layout::kLiveFlag;
  if (!AppendImage(RecordOffset(count))) return false;
  m_recNo = m_recordCount = count;
  m_state = TbrTableState::RecordWritten;
  const bool updated = HeaderUpdate(true);  // on failure the record stands, the update pending
  bool released = append.Release();
  released = header.Release() && released;
  if (!updated) return false;
  m_bof = m_eof = false;
  TableEvent(kEventAfterWrite, 0);
  std::memcpy(m_original.data(), m_image, m_recordLength);
  return released;
}

// Writes the record and the end-of-file marker behind the last record. A
// write that fails part way (disk full, I/O error) is cut off again, so no
// torn record is left for other programs to read; then it is reported.
bool TbrTable::AppendImage(int64_t offset) {
  bool written;
  {
    TbrSuppressErrors quiet(*this);
    written = WriteImage(offset, m_recordLength + 1);
  }
  if (written) {
    m_fileSize = std::max<int64_t>(m_fileSize, offset + m_recordLength + 1);
    return true;
  }
  const int32_t failure = LastCode();
  {
    TbrSuppressErrors quiet(*this);
    if (CutOwnTail(offset) && m_fileSize > offset) {
      const char endOfFile = static_cast<char>(layout::kEndOfFile);
      Write(offset, &endOfFile, 1);
    }
  }
  return Check(failure, subcode::kWrite);
}

// Writes the record over its old bytes. A write that fails part way (an I/O
// error, a short write) puts the old bytes back, so that no program reads a
// record half old and half new; then the failure is reported.
bool TbrTable::OverwriteImage(int64_t offset) {
  std::vector<char> before(m_recordLength);
  bool saved, written;
  {
    TbrSuppressErrors quiet(*this);
    saved = Read(offset, before.data(), m_recordLength);
    written = WriteImage(offset, m_recordLength);
  }
  if (written) return true;
  const int32_t failure = LastCode();
  if (saved) {
    TbrSuppressErrors quiet(*this);
    Write(offset, before.data(), m_recordLength);
  }
  return Check(failure, subcode::kWrite);
}

bool TbrTable::ReplaceRecord(int32_t recordNo) {
  if (!m_usable || m_state == TbrTableState::HeaderKnown) return false;
  TableEvent(kEventBeforeWrite, recordNo);
  if (recordNo > m_recordCount || recordNo < 1) return AppendRecord();
  LockScope record(*this);
  if (m_lockBeforeWrite && !m_fileLocked) {
    if (!LockHelper(RecordLockRegion(LockingProtocol(), m_headerLength, m_recordLength, recordNo,
                                     IndexAttached())))
      return false;
    if (LockingActive()) record.Taken();
  }
  // Under the header lock the count read cannot be undone by an append of
  // another program before this header update.
  HeaderLockScope header(*this);
  if (!header.Held() || !RefreshHeader()) return false;
  const std::vector<uint32_t> memosBefore = MemoBlocksOnDisk(recordNo);
  if (!OverwriteImage(RecordOffset(recordNo))) return false;
  m_recNo = recordNo;
  m_state = TbrTableState::RecordWritten;
  bool ok = HeaderUpdate(true);
  FreeReplacedMemos(memosBefore);
  ok = header.Release() && ok;
  ok = record.Release() && ok;
  if (!ok) return false;
  TableEvent(kEventAfterWrite, recordNo);
  std::memcpy(m_original.data(), m_image, m_recordLength);
  return true;
}

bool TbrTable::ScanRecords(const std::function<bool(int32_t, const char*)>& visit) {
  if (!RefreshHeader()) return false;
  const int32_t perRead = std::max<int32_t>(1, static_cast<int32_t>(kReadAheadBytes * 2 / m_recordLength));
  std::vector<char> piece(static_cast<size_t>(perRead) * m_recordLength);
  for (int32_t first = 1; first <= m_recordCount; first += perRead) {
    const int32_t n = std::min(perRead, m_recordCount - first + 1);
    if (!Read(RecordOffset(first), piece.data(), static_cast<uint32_t>(n) * m_recordLength)) return false;
    for (int32_t i = 0; i < n; ++i)
      if (!visit(first + i, piece.data() + static_cast<size_t>(i) * m_recordLength)) return true;
  }
  return true;
}

bool TbrTable::MarkDeleted() {
  if (m_recNo < 1) return Check(code::kRecordRange, subcode::kGoTo);
  m_image[0] = layout::kDeletedFlag;
  if (!m_fieldChanged.empty()) m_fieldChanged[0] = 1;
  return ReplaceRecord(m_recNo);
}

bool TbrTable::Recall() {
  if (m_recNo < 1) return Check(code::kRecordRange, subcode::kGoTo);
  m_image[0] = layout::kLiveFlag;
  if (!m_fieldChanged.empty()) m_fieldChanged[0] = 1;
  return ReplaceRecord(m_recNo);
}

}  // namespace qm::dbf

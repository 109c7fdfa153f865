// The table object's record movement and record writes.
#include <algorithm>
#include <cstring>

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
  int32_t target = recordNo;
  switch (recordNo) {
    case kGoBottom:
      target = m_recordCount;
      break;
    case kGoTop:
      target = 1;
      break;
    case kGoNext:
      target = m_recNo + 1;
      break;
    case kGoSame:
      target = m_recNo;
      break;
    case kGoPrior:
      if (m_recNo <= 1) {
        m_bof = true;
        return false;
      }
      target = m_recNo - 1;
      break;
    default:
      if (recordNo < kGoSame) {
        m_bof = m_eof = true;
        Check(code::kRecordRange, subcode::kGoTo);
        return false;
      }
  }
  if (target < 1) {  // "same" before any record was read
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
    const char type = m_fields[n - 1].type;
    if (type == 'N' || type == 'F' ||
        (IsVisualFoxBinary(m_fields[n - 1]) && type != 'M' && type != 'G')) {
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
  if (!HeaderLock()) return false;
  bool appendLocked = false;
  if (m_lockBeforeWrite && !m_fileLocked) {
    if (!LockAppend()) {
      HeaderUnlock();
      return false;
    }
    appendLocked = LockingActive();
  }
  const TbrTableState previousState = m_state;
  const int32_t previousRecNo = m_recNo;
  m_state = TbrTableState::RecordWritten;
  bool ok = RefreshHeader();  // the count other writers left, under the header lock
  const int32_t previousCount = m_recordCount;
  if (ok) {
    m_image[0] = layout::kLiveFlag;
    ok = WriteImage(RecordOffset(previousCount + 1), m_recordLength + 1);
    if (ok) {
      m_recNo = m_recordCount = previousCount + 1;
      ok = HeaderUpdate(true);  // on failure the record stands and the update stays pending
    }
  }
  if (!ok && m_recordCount == previousCount) {
    m_state = previousState;
    m_recNo = previousRecNo;
  }
  if (appendLocked) UnlockTable();
  const bool unlocked = HeaderUnlock();
  if (!ok) return false;
  m_bof = m_eof = false;
  TableEvent(kEventAfterWrite, 0);
  std::memcpy(m_original.data(), m_image, m_recordLength);
  return unlocked;
}

bool TbrTable::ReplaceRecord(int32_t recordNo) {
  if (!m_usable || m_state == TbrTableState::HeaderKnown) return false;
  TableEvent(kEventBeforeWrite, recordNo);
  if (recordNo > m_recordCount || recordNo < 1) return AppendRecord();
  bool recordLocked = false;
  if (m_lockBeforeWrite && !m_fileLocked) {
    const int32_t current = m_recNo;
    m_recNo = recordNo;  // the lock guards the record being written
    const bool locked = LockRecord();
    m_recNo = current;
    if (!locked) return false;
    recordLocked = LockingActive();
  }
  const TbrTableState previousState = m_state;
  m_state = TbrTableState::RecordWritten;
  bool ok = WriteImage(RecordOffset(recordNo), m_recordLength);
  if (ok) {
    m_recNo = recordNo;
    RefreshHeader();
    ok = HeaderUpdate(true);
  } else {
    m_state = previousState;
  }
  if (recordLocked) UnlockTable();
  if (!ok) return false;
  TableEvent(kEventAfterWrite, recordNo);
  std::memcpy(m_original.data(), m_image, m_recordLength);
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

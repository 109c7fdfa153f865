// The table object's life cycle: loading and checking the header and the
// field descriptors, opening, closing and the header refresh and update.
#include "dbf/table.h"

#include <sys/stat.h>
#include <sys/time.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <ctime>
#include <new>

#include "dbf/dbf_format.h"
#include "dbf/memo_file.h"
#include "dbf/scope_exit.h"
#include "dbf/text_helpers.h"

namespace qm::dbf {
namespace {

std::string TrimBlanksAndQuotes(const std::string& text) {
  const size_t first = text.find_first_not_of(" \"");
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(" \"");
  return text.substr(first, last - first + 1);
}

// Upper-cases the file name (the directory stays as given) and adds ".DBF".
std::string NormalizeTableName(const std::string& path) {
  std::string name = TrimBlanksAndQuotes(path);
  const size_t slash = name.rfind('/');
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  name = name.substr(0, start) + UpperAscii(std::string_view(name).substr(start));
  if (name.find('.', start) == std::string::npos) name += ".DBF";
  return name;
}

int32_t CountFromSize(int64_t size, uint32_t headerLength, uint32_t recordLength) {
  if (size <= headerLength || recordLength == 0) return 0;
  return static_cast<int32_t>(std::min<int64_t>((size - headerLength) / recordLength, INT32_MAX));
}

bool IsDeletionFlag(uint8_t flag) {
  return flag == static_cast<uint8_t>(layout::kLiveFlag) || flag == static_cast<uint8_t>(layout::kDeletedFlag);
}

}  // namespace

TbrTable::TbrTable(const std::string& path, uint8_t openMode)
    : TbrDiskFile(NormalizeTableName(path), openMode) {}

TbrTable::~TbrTable() {
  SuppressErrors();  // a destructor must not raise
  CloseTable();
  m_memo.reset();
}

// The record images of a table just read; kNoMemory when they do not fit.
int32_t TbrTable::AllocateImages() {
  try {
    m_ownImage.assign(m_recordLength + 1, ' ');
    m_ownImage[m_recordLength] = static_cast<char>(layout::kEndOfFile);
    m_original.assign(m_recordLength + 1, ' ');
    m_fieldChanged.assign(m_fields.size() + 1, 0);
    return 0;
  } catch (const std::bad_alloc&) {
    return code::kNoMemory;
  }
}

bool TbrTable::Load() {
  if (m_loadTried) return m_usable;
  m_loadTried = true;
  int32_t failure = 0;
  std::string detail;
  {
    TbrSuppressErrors quiet(*this);
    if (!Exists())
      failure = code::kFileNotFound;
    else if (!ReadHeaderAndFields(failure, detail) && failure == 0)
      failure = LastCode() != 0 ? LastCode() : code::kNotATable;
    if (failure == code::kSharingViolation) detail = " (in use by another program)";
    TbrDiskFile::Close();
  }
  if (failure == 0) failure = AllocateImages();
  if (failure != 0) {
    m_fields.clear();
    m_ownImage = {};
    m_original = {};
    const std::string text = Path() + detail;
    m_lastCode = failure;
    ReportText(failure, subcode::kTableOpen, text.c_str());
    return false;
  }
  m_image = m_ownImage.data();
  m_usable = true;
  TableEvent(kEventCreated, 0);
  m_memoExpected = m_version == layout::kVersionDb3Memo || m_version == layout::kVersionDb4Memo ||
                   m_version == layout::kVersionFoxMemo ||
                   (m_version == layout::kVersionVisualFox && (m_keptFlags & layout::kFlagMemo)) ||
                   VisualFoxMemoWithoutFlag();
  m_productionIndex = (m_keptFlags & layout::kFlagProductionIndex) != 0;
  return true;
}

// Some writers (python3-dbf among them) leave the memo flag of a Visual
// FoxPro table clear although it has memo fields and an .FPT beside it.
bool TbrTable::VisualFoxMemoWithoutFlag() const {
  if (m_version != layout::kVersionVisualFox || (m_keptFlags & layout::kFlagMemo)) return false;
  const bool memoField = std::any_of(m_fields.begin(), m_fields.end(), [](const TbrField& f) {
    return (f.type == 'M' || f.type == 'G') && f.length == 4;
  });
  struct stat info {};
  return memoField &&
         stat(NormalizePath(TbrMemoFile::MemoPathFor(Path(), memo::MemoLayout::FoxPro)).c_str(),
              &info) == 0;
}

namespace {
// What makes the header's lengths impossible for a file of `size` bytes; empty when nothing does.
std::string HeaderLengthProblem(uint32_t headerLength, uint32_t recordLength, uint32_t backlink, int64_t size) {
  if (headerLength < layout::kHeaderSize + 1 + backlink)
    return " (header length " + std::to_string(headerLength) + " too small)";
  if (headerLength > size) return " (header length " + std::to_string(headerLength) + " beyond the end of the file)";
  if (recordLength == 0) return " (record length 0)";
  return {};
}
}  // namespace

// Reads the header and descriptors; failure is set for damage found here
// (0 when a file operation failed: its code is then LastCode()).
bool TbrTable::ReadHeaderAndFields(int32_t& failure, std::string& detail) {
  if (!Open()) return false;
  const int64_t size = FileSize();
  if (size < 0) return false;
  failure = code::kNotATable;
  if (size < layout::kHeaderSize) {
    detail = " (file shorter than a table header)";
    return false;
  }
  if (!Read(0, m_header, layout::kHeaderSize)) return false;
  m_version = m_header[layout::kVersionOffset];
  if (!layout::IsKnownVersion(m_version)) return false;
  m_headerLength = layout::GetU16(m_header + layout::kHeaderLengthOffset);
  m_recordLength = layout::GetU16(m_header + layout::kRecordLengthOffset);
  const uint32_t backlink =
      m_version == layout::kVersionVisualFox ? layout::kVisualFoxBacklinkSize : 0;
  detail = HeaderLengthProblem(m_headerLength, m_recordLength, backlink, size);
  if (!detail.empty()) return false;
  std::vector<uint8_t> area(m_headerLength - layout::kHeaderSize - 1 - backlink);
  if (!area.empty() && !Read(layout::kHeaderSize, area.data(), static_cast<uint32_t>(area.size())))
    return false;
  if (!ParseDescriptors(area, detail)) return false;
  // Descriptors and terminator fill the header exactly (32n + 1), unless a
  // terminator ends the descriptors early (some writers pad the header).
  const size_t used = m_fields.size() * layout::kDescriptorSize;
  const bool early = used < area.size() && area[used] == layout::kFieldTerminator;
  if (!early && area.size() % layout::kDescriptorSize != 0) {
    detail = " (header length " + std::to_string(m_headerLength) +
             " is not 32 bytes per field plus 33)";
    return false;
  }
  m_keptFlags = m_header[layout::kFlagsOffset] & layout::kKeptFlagBits;
  m_changeStamp = layout::GetU32(m_header + layout::kChangeStampOffset);
  m_recordCount = CountRecords(size);
  m_fileSize = size;
  failure = 0;
  return true;
}

// The descriptors up to the area's end or an early 0x0D terminator; every
// field must lie inside the record.
bool TbrTable::ParseDescriptors(const std::vector<uint8_t>& area, std::string& detail) {
  m_fields.clear();
  uint32_t offset = 1;
  for (size_t at = 0; at + layout::kDescriptorSize <= area.size(); at += layout::kDescriptorSize) {
    const uint8_t* d = area.data() + at;
    if (d[0] == layout::kFieldTerminator) break;
    TbrField field;
    const auto* name = reinterpret_cast<const char*>(d + layout::kNameOffset);
    field.name.assign(name, strnlen(name, layout::kNameSize));
    field.type = static_cast<char>(d[layout::kTypeOffset]);
    field.length = d[layout::kLengthOffset];
    field.decimals = d[layout::kDecimalsOffset];
    if (field.type == 'C' && field.decimals != 0) {
      // A character field longer than 255 keeps the length's high byte here
      // (Clipper and others write them so).
      field.length += field.decimals << 8;
      field.decimals = 0;
    }
    // A field of width 0 holds nothing and cannot be keyed or shown: the
    // descriptor is damaged.
    if (field.length == 0) {
      detail = " (field " + field.name + " has width 0)";
      return false;
    }
    field.offset = offset;
    offset += field.length;
    if (offset > m_recordLength) {
      detail = " (field " + field.name + " reaches past the record length " +
               std::to_string(m_recordLength) + ")";
      return false;
    }
    m_fields.push_back(std::move(field));
  }
  return true;
}

bool TbrTable::OpenTable() {
  if (!Usable()) return false;
  if (m_state != TbrTableState::HeaderKnown) return true;
  if (!Open()) return false;
  m_recNo = 0;
  m_bof = true;
  m_eof = false;
  std::fill(m_image, m_image + m_recordLength, ' ');
  std::fill(m_original.begin(), m_original.begin() + m_recordLength, ' ');
  m_lockCount = 0;
  m_state = TbrTableState::Open;
  RefreshHeader();
  InvalidateReadAhead();
  return true;
}

void TbrTable::CloseTable() {
  if (!m_usable || !IsOpen()) return;
  // Locks and handle go even when the last header update raises.
  TbrScopeExit close([this] {
    TbrSuppressErrors quiet(*this);
    if (Locked()) {
      m_lockCount = 1;
      UnlockTable();
    }
    m_headerLockCount = 0;
    TbrDiskFile::Close();
    m_state = TbrTableState::HeaderKnown;
  });
  if (m_state == TbrTableState::RecordWritten && RefreshHeader()) HeaderUpdate(false);
  if (Locked()) {
    m_lockCount = 1;
    UnlockTable();
  }
}

bool TbrTable::RefreshHeader() {
  if (!LockingActive() || m_fileLocked || !IsOpen()) return true;
  if (Replaced()) return ReportChanged("replaced");
  uint8_t header[layout::kHeaderSize];
  if (!Read(0, header, layout::kHeaderSize)) return false;
  if (header[layout::kVersionOffset] != m_version ||
      layout::GetU16(header + layout::kHeaderLengthOffset) != m_headerLength ||
      layout::GetU16(header + layout::kRecordLengthOffset) != m_recordLength)
    return ReportChanged("changed in its layout");
  const int64_t size = FileSize();
  if (size < 0) return false;
  std::memcpy(m_header, header, layout::kHeaderSize);
  m_fileSize = size;
  m_recordCount = CountRecords(size);
  m_changeStamp = layout::GetU32(m_header + layout::kChangeStampOffset);
  return true;
}

// The records are those the header counts (fewer when the file was cut short),
// then whole records past them that start with a deletion flag: what an append
// leaves when its writer was killed before the header update. Other bytes past
// the count (padding, a stray tail) are no records, and appends go over them.
int32_t TbrTable::CountRecords(int64_t size) {
  const int32_t inFile = CountFromSize(size, m_headerLength, m_recordLength);
  const auto counted = static_cast<int32_t>(std::min<uint32_t>(
      layout::GetU32(m_header + layout::kRecordCountOffset), static_cast<uint32_t>(INT32_MAX)));
  if (inFile <= counted) return inFile;
  int32_t count = counted;
  TbrSuppressErrors quiet(*this);
  for (uint8_t flag = 0; count < inFile; ++count)
    if (!Read(RecordOffset(count + 1), &flag, 1) || !IsDeletionFlag(flag)) break;
  return count;
}

TbrTableFingerprint TbrTable::Fingerprint() {
  TbrTableFingerprint print;
  struct stat info {};
  uint8_t header[layout::kHeaderSize];
  TbrSuppressErrors quiet(*this);
  if (!IsOpen() || ::fstat(Handle(), &info) != 0 || !Read(0, header, layout::kHeaderSize)) return print;
  print.recordCount = layout::GetU32(header + layout::kRecordCountOffset);
  print.changeStamp = layout::GetU32(header + layout::kChangeStampOffset);
  print.size = static_cast<uint64_t>(info.st_size);
  print.modified = static_cast<uint64_t>(info.st_mtim.tv_sec) * 1000000000u + static_cast<uint64_t>(info.st_mtim.tv_nsec);
  return print;
}

bool TbrTable::ReportChanged(const char* what) {
  const std::string text = Path() + " (" + what +
                           " by another program since it was opened; open the table again)";
  ReportText(code::kNotATable, subcode::kTableOpen, text.c_str());
  return false;
}

bool TbrTable::HeaderUpdate(bool mayDefer) {
  if (ReadOnly() || m_state != TbrTableState::RecordWritten) return true;
  if (mayDefer && m_fileLocked) return true;  // written when the file lock is released
  HeaderLockScope lock(*this);
  if (!lock.Held()) return false;
  timeval now{};
  gettimeofday(&now, nullptr);
  std::tm local{};
  localtime_r(&now.tv_sec, &local);
  const uint32_t previous = layout::GetU32(m_header + layout::kChangeStampOffset);
  m_changeStamp =
      ((static_cast<uint32_t>(local.tm_hour) * 64 + local.tm_min) * 64 + local.tm_sec) * 1024 +
      static_cast<uint32_t>(now.tv_usec / 1000);
  // Every write changes the stamp, also two within one millisecond: the print
  // other objects keep of the table (TbrTableFingerprint) must see each.
  if (m_changeStamp == previous) ++m_changeStamp;
  m_header[layout::kDateOffset] = static_cast<uint8_t>((local.tm_year + 1900) % 100);
  m_header[layout::kDateOffset + 1] = static_cast<uint8_t>(local.tm_mon + 1);
  m_header[layout::kDateOffset + 2] = static_cast<uint8_t>(local.tm_mday);
  layout::PutU32(m_header + layout::kRecordCountOffset, static_cast<uint32_t>(m_recordCount));
  m_header[layout::kFlagsOffset] = m_keptFlags;
  layout::PutU32(m_header + layout::kChangeStampOffset, m_changeStamp);
  layout::PutU32(m_header + layout::kUserNumberOffset, static_cast<uint32_t>(m_userNumber));
  const bool written = Write(0, m_header, layout::kHeaderSize);
  if (written) m_state = TbrTableState::Open;
  return lock.Release() && written;
}

bool TbrTable::FlushTable() {
  if (m_state != TbrTableState::RecordWritten) return true;
  if (!HeaderUpdate(false)) return false;
  bool ok = Flush();
  if (m_memo && m_memo->IsOpen()) ok = m_memo->Flush() && ok;
  TableEvent(kEventFlushed, m_recNo);
  return ok;
}

std::string TbrTable::TableName() const {
  std::string name = Path();
  const size_t slash = name.rfind('/');
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return UpperAscii(name);
}

}  // namespace qm::dbf

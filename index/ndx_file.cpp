#include "index/ndx_file.h"

#include <algorithm>
#include <cstring>

#include "dbf/text_helpers.h"
#include "index/index_errors.h"
#include "index/ndx_format.h"

namespace qm::index {

namespace {

std::string TagNameOf(const std::string& path) {
  std::string name = path.substr(path.find_last_of('/') + 1);
  name = name.substr(0, name.find('.'));
  return dbf::UpperAscii(name);
}

std::optional<dbf::TbrTableFingerprint> DecodeTablePrint(const uint8_t* area) {
  if (GetU32(area) != ndx::kTablePrintMagic) return std::nullopt;
  dbf::TbrTableFingerprint print;
  print.recordCount = GetU32(area + 4);
  print.changeStamp = GetU32(area + 8);
  print.size = GetU32(area + 12) | static_cast<uint64_t>(GetU32(area + 16)) << 32;
  print.modified = GetU32(area + 20) | static_cast<uint64_t>(GetU32(area + 24)) << 32;
  return print;
}

void EncodeTablePrint(const dbf::TbrTableFingerprint& print, uint8_t* area) {
  PutU32(area, ndx::kTablePrintMagic);
  PutU32(area + 4, print.recordCount);
  PutU32(area + 8, print.changeStamp);
  PutU32(area + 12, static_cast<uint32_t>(print.size));
  PutU32(area + 16, static_cast<uint32_t>(print.size >> 32));
  PutU32(area + 20, static_cast<uint32_t>(print.modified));
  PutU32(area + 24, static_cast<uint32_t>(print.modified >> 32));
}

}  // namespace

TbrNdxFile::TbrNdxFile(const std::string& path, uint8_t openMode, dbf::TbrErrorReporter* owner)
    : TbrDiskFile(path, openMode), m_owner(owner), m_tagName(TagNameOf(Path())) {}

void TbrNdxFile::Error(int32_t code, int32_t subCode, const char* text) {
  if (m_owner != nullptr) {
    m_owner->Error(code, subCode, text);
  } else {
    TbrDiskFile::Error(code, subCode, text);
  }
}

bool TbrNdxFile::Damaged(uint32_t block, const std::string& reason) {
  std::string text = Path() + ": block " + std::to_string(block) + ": " + reason;
  SetLastCode(code::kDamaged);
  if (SuppressionCount() == 0) Error(code::kDamaged, subcode::kPageRead, text.c_str());
  return false;
}

bool TbrNdxFile::OpenIndex() { return Open() && ReadHeader(); }

bool TbrNdxFile::CreateIndex() {
  m_nextFree = 0;
  m_root = 0;
  return CreateFile();
}

void TbrNdxFile::SetKeyLayout(char typeLetter, int keyLength) {
  m_keyType = typeLetter;
  bool numeric = typeLetter == 'N' || typeLetter == 'D' || typeLetter == 'F';
  m_geometry.character = !numeric;
  m_geometry.keyLength = numeric ? ndx::kNumericKeyLength : keyLength;
  m_geometry.entrySize = ndx::EntrySize(m_geometry.keyLength);
  m_geometry.maxKeys = ndx::KeysPerPage(m_geometry.keyLength);
}

bool TbrNdxFile::ReadHeader() {
  uint8_t header[ndx::kBlockSize];
  if (!Read(0, header, sizeof header)) {
    if (LastCode() != dbf::code::kShortRead) return false;
    return Damaged(0, "the file is shorter than its header");
  }
  int64_t size = FileSize();
  if (size < 0) return false;
  m_nextFree = static_cast<uint32_t>(size / ndx::kBlockSize);
  m_root = GetU32(header + ndx::kRootOffset);
  m_changeMarked = GetU32(header + ndx::kChangeMarkOffset) != 0;
  m_unique = header[ndx::kUniqueOffset] != 0;
  m_geometry.keyLength = GetU16(header + ndx::kKeyLengthOffset);
  m_geometry.maxKeys = GetU16(header + ndx::kKeysPerPageOffset);
  m_geometry.entrySize = GetU16(header + ndx::kEntrySizeOffset);
  m_geometry.character = GetU16(header + ndx::kKeyTypeOffset) == ndx::kKeyTypeCharacter;
  const char* expression = reinterpret_cast<const char*>(header + ndx::kExpressionOffset);
  m_expression.assign(expression, strnlen(expression, ndx::kExpressionMax));
  m_keyField = -1;
  m_tablePrint = m_expression.size() <= ndx::kExpressionMaxWithPrint
                     ? DecodeTablePrint(header + ndx::kTablePrintOffset)
                     : std::nullopt;
  // Each size is a 16-bit field: their product is checked in 64 bits, so no
  // combination of large values can wrap into something that looks small.
  const TbrNdxGeometry& g = m_geometry;
  if (g.keyLength < 1 || g.keyLength > ndx::kPagePayload / 2 - ndx::kEntrySizeSlack ||
      (!g.character && g.keyLength != ndx::kNumericKeyLength) ||
      g.entrySize < g.keyLength + ndx::kEntryKeyOffset || g.maxKeys < 1 ||
      int64_t{g.maxKeys} * g.entrySize > ndx::kPagePayload)
    return Damaged(0, "key sizes do not fit a page");
  if (m_root == 0 || m_root >= m_nextFree)
    return Damaged(0, "root block " + std::to_string(m_root) + " outside the file");
  if (m_keyType == 'C' && !g.character) m_keyType = 'N';
  m_headerChanged = false;
  return true;
}

bool TbrNdxFile::WriteHeader() {
  if (!m_headerChanged) return true;
  uint8_t header[ndx::kBlockSize] = {};
  PutU32(header + ndx::kRootOffset, m_root);
  PutU32(header + ndx::kNextFreeOffset, m_nextFree);
  PutU32(header + ndx::kChangeMarkOffset, m_changing ? 1 : 0);
  PutU16(header + ndx::kKeyLengthOffset, static_cast<uint16_t>(m_geometry.keyLength));
  PutU16(header + ndx::kKeysPerPageOffset, static_cast<uint16_t>(m_geometry.maxKeys));
  PutU16(header + ndx::kKeyTypeOffset,
         m_geometry.character ? ndx::kKeyTypeCharacter : ndx::kKeyTypeNumeric);
  PutU16(header + ndx::kEntrySizeOffset, static_cast<uint16_t>(m_geometry.entrySize));
  header[ndx::kUniqueOffset] = m_unique ? 1 : 0;
  std::memcpy(header + ndx::kExpressionOffset, m_expression.data(),
              std::min<size_t>(m_expression.size(), ndx::kExpressionMax));
  if (m_tablePrint && m_expression.size() <= ndx::kExpressionMaxWithPrint)
    EncodeTablePrint(*m_tablePrint, header + ndx::kTablePrintOffset);
  if (!Write(0, header, sizeof header)) return false;
  m_headerChanged = false;
  return true;
}

bool TbrNdxFile::BeginChange() {
  if (m_changing) return true;
  uint8_t mark[4];
  PutU32(mark, 1);
  if (!Write(ndx::kChangeMarkOffset, mark, sizeof mark)) return false;
  m_changing = true;
  return true;
}

bool TbrNdxFile::MarkedByAnother() {
  if (m_changing) return false;
  uint8_t mark[4] = {};
  dbf::TbrSuppressErrors quiet(*this);
  return Read(ndx::kChangeMarkOffset, mark, sizeof mark) && GetU32(mark) != 0;
}

bool TbrNdxFile::EndChange() {
  if (!m_changing) return true;
  uint8_t mark[4];
  PutU32(mark, 0);
  m_changing = false;
  return Write(ndx::kChangeMarkOffset, mark, sizeof mark);
}

bool TbrNdxFile::WriteTablePrint(const dbf::TbrTableFingerprint& print) {
  if (m_expression.size() > ndx::kExpressionMaxWithPrint) return false;
  uint8_t area[ndx::kTablePrintSize];
  EncodeTablePrint(print, area);
  if (!Write(ndx::kTablePrintOffset, area, sizeof area)) return false;
  m_tablePrint = print;
  return true;
}

std::optional<dbf::TbrTableFingerprint> TbrNdxFile::ReadTablePrint() {
  uint8_t area[ndx::kTablePrintSize];
  dbf::TbrSuppressErrors quiet(*this);
  if (m_expression.size() > ndx::kExpressionMaxWithPrint || !Read(ndx::kTablePrintOffset, area, sizeof area))
    return std::nullopt;
  m_tablePrint = DecodeTablePrint(area);
  return m_tablePrint;
}

bool NdxFileSound(const std::string& path) {
  TbrNdxFile file(path, dbf::kOpenSharedReadOnly, nullptr);
  dbf::TbrSuppressErrors quiet(file);
  return file.OpenIndex() && !file.ChangeMarked();
}

bool TbrNdxFile::RefreshLength() {
  int64_t size = FileSize();
  if (size < 0) return false;
  m_nextFree = static_cast<uint32_t>(std::min<int64_t>(size / ndx::kBlockSize, UINT32_MAX));
  return true;
}

bool TbrNdxFile::ReadPage(uint32_t block, TbrNdxPage& page) {
  // Another writer may have grown the file since the length was taken: a block
  // past it is only damage once the file's real length says so.
  if (block >= m_nextFree && !RefreshLength()) return false;
  if (block == 0 || block >= m_nextFree)
    return Damaged(block, "page block outside the file");
  uint8_t buffer[ndx::kBlockSize];
  if (!Read(static_cast<int64_t>(block) * ndx::kBlockSize, buffer, sizeof buffer)) {
    if (LastCode() != dbf::code::kShortRead) return false;
    return Damaged(block, "page block past the end of the file");
  }
  page.block = block;
  std::string damage = DecodeNdxPage(buffer, m_geometry, m_nextFree, page);
  if (!damage.empty()) {
    uint32_t known = m_nextFree;
    if (!RefreshLength()) return false;
    if (m_nextFree != known) damage = DecodeNdxPage(buffer, m_geometry, m_nextFree, page);
    if (!damage.empty()) return Damaged(block, damage);
  }
  return true;
}

bool TbrNdxFile::WritePage(const TbrNdxPage& page) {
  uint8_t buffer[ndx::kBlockSize];
  EncodeNdxPage(page, m_geometry, buffer);
  return Write(static_cast<int64_t>(page.block) * ndx::kBlockSize, buffer, sizeof buffer);
}

bool TbrNdxFile::EmptyIndex() {
  // Truncating a shared file needs the whole-file lock.
  if (LockingActive() && !Lock(0, dbf::kWholeFileLength)) return false;
  bool ok = Truncate(2 * ndx::kBlockSize);
  if (ok) {
    m_root = 1;
    m_nextFree = 2;
    m_headerChanged = true;
    TbrNdxPage empty;
    empty.block = 1;
    ok = WriteHeader() && WritePage(empty);
  }
  UnlockIndex();
  return ok;
}

bool TbrNdxFile::LockIndex() {
  if (!LockingActive()) return true;
  dbf::TbrLockRegion region = dbf::FileLockRegion(LockingProtocol());
  if (Lock(region.offset, region.length)) return true;
  return false;
}

bool TbrNdxFile::UnlockIndex() { return !LockingActive() || !Locked() || Unlock(); }


}  // namespace qm::index

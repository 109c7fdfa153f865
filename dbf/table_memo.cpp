// The table object's memo accessors: the memo file object is made on the
// first use of a memo field and kept until the table is destroyed.
#include <algorithm>
#include <memory>

#include "dbf/dbf_format.h"
#include "dbf/memo_file.h"
#include "dbf/memo_format.h"
#include "dbf/table.h"

namespace qm::dbf {
namespace {

bool IsMemoType(char type) { return type == 'M' || type == 'G' || type == 'B'; }

}  // namespace

TbrMemoFile* TbrTable::MemoFile() {
  if (m_memo) return m_memo.get();
  if (!m_memoExpected || m_memoFailed || !m_usable) return nullptr;
  // The memo file beside a replaced table belongs to the new table.
  if (LockingActive() && Replaced()) {
    ReportChanged("replaced");
    return nullptr;
  }
  auto memo = std::make_unique<TbrMemoFile>(this, Path(), OpenMode(), m_version,
                                            m_header[layout::kFlagsOffset], LockingProtocol());
  if (!memo->Usable()) {
    // Reported by the memo file; later memo accesses return nothing.
    m_memoFailed = true;
    m_memoExpected = false;
    return nullptr;
  }
  if (ReadAhead()) memo->SetReadCache(kMemoReadCacheBytes);
  memo->SetBlocksInUse([this] { return MemoBlocksInUse(); });
  m_memo = std::move(memo);
  return m_memo.get();
}

int32_t TbrTable::MemoBlock(int32_t n) const {
  const TbrField& field = Field(n);
  if (!IsMemoType(field.type)) return 0;
  const std::string_view raw = RawView(n);
  if (m_version == layout::kVersionVisualFox && raw.size() == 4)
    return static_cast<int32_t>(layout::GetU32(reinterpret_cast<const uint8_t*>(raw.data())));
  const uint32_t block = TbrMemoFile::BlockFromField(raw);
  return block > INT32_MAX ? INT32_MAX : static_cast<int32_t>(block);
}

uint32_t TbrTable::MemoLength(int32_t n) {
  const int32_t block = MemoBlock(n);
  TbrMemoFile* memo = block > 0 ? MemoFile() : nullptr;
  return memo != nullptr ? memo->MemoLength(static_cast<uint32_t>(block)) : 0;
}

uint32_t TbrTable::ReadMemo(int32_t n, char* buffer, uint32_t capacity) {
  const int32_t block = MemoBlock(n);
  TbrMemoFile* memo = block > 0 ? MemoFile() : nullptr;
  if (memo == nullptr) {
    if (capacity > 0) buffer[0] = 0;
    return 0;
  }
  return memo->ReadMemo(static_cast<uint32_t>(block), buffer, capacity);
}

std::string TbrTable::MemoText(int32_t n) {
  const int32_t block = MemoBlock(n);
  TbrMemoFile* memo = block > 0 ? MemoFile() : nullptr;
  return memo != nullptr ? memo->ReadMemoText(static_cast<uint32_t>(block)) : std::string();
}

bool TbrTable::WriteMemo(int32_t n, std::string_view text) {
  if (!IsMemoType(Field(n).type)) return false;
  const int32_t oldBlock = MemoBlock(n);
  if (text.empty() && oldBlock == 0) return true;
  const std::string refusal = MemoTextRefusal(n, text);
  if (!refusal.empty()) {
    ReportText(code::kFieldType, subcode::kMemoWrite, refusal.c_str());
    return false;
  }
  TbrMemoFile* memo = MemoFile();
  if (memo == nullptr) return false;
  // The record's write needs the header lock: a memo written while another
  // program holds it would be left behind by the refused write.
  HeaderLockScope header(*this);
  if (!header.Held()) return false;
  const std::optional<uint32_t> block = memo->WriteMemo(static_cast<uint32_t>(oldBlock), text);
  if (!block || !header.Release()) return false;
  if (*block == 0) {
    FieldPut(n, "");
    return true;
  }
  if (m_version == layout::kVersionVisualFox && Field(n).length == 4) {
    uint8_t bytes[4];
    layout::PutU32(bytes, *block);
    FieldPut(n, std::string_view(reinterpret_cast<const char*>(bytes), 4));
    return true;
  }
  return PutNumber(n, static_cast<double>(*block));
}

std::string TbrTable::MemoTextRefusal(int32_t n, std::string_view text) const {
  const std::string where = "Memo text for " + TableName() + "->" + Field(n).name;
  const bool dBase3 = m_version == layout::kVersionDb3Memo;
  const uint32_t limit = dBase3 ? memo::kMaxMemoLength : memo::kMaxBlockHeaderLength;
  if (text.size() > limit)
    return where + " has " + std::to_string(text.size()) + " bytes; a memo of this table holds at most " +
           std::to_string(limit);
  if (dBase3 && text.find(static_cast<char>(memo::kDb3Terminator)) != std::string_view::npos)
    return where + " holds the byte 0x1A, which ends a dBASE III memo";
  return {};
}

// dBASE IV memos give their blocks back to the free chain, but only once the
// record that used them is rewritten: until then the file still points there.
// The blocks each memo field of the record holds in the file before it is
// replaced (empty for other layouts).
std::vector<uint32_t> TbrTable::MemoBlocksOnDisk(int32_t recordNo) {
  std::vector<uint32_t> blocks;
  if (m_version != layout::kVersionDb4Memo || !m_memo) return blocks;
  std::vector<char> record(m_recordLength);
  TbrSuppressErrors quiet(*this);
  if (!Read(RecordOffset(recordNo), record.data(), m_recordLength)) return blocks;
  blocks.assign(m_fields.size(), 0);
  for (size_t i = 0; i < m_fields.size(); ++i)
    if (IsMemoType(m_fields[i].type))
      blocks[i] = TbrMemoFile::BlockFromField(
          std::string_view(record.data() + m_fields[i].offset, m_fields[i].length));
  return blocks;
}

// The memo blocks every record the file holds points at, read from the file
// (other programs' records included) in pieces of whole records.
std::vector<uint32_t> TbrTable::MemoBlocksInUse() {
  std::vector<uint32_t> blocks;
  std::vector<const TbrField*> memoFields;
  for (const TbrField& field : m_fields)
    if (IsMemoType(field.type)) memoFields.push_back(&field);
  const int64_t size = FileSize();
  if (memoFields.empty() || m_recordLength == 0 || size <= m_headerLength) return blocks;
  const int64_t records = (size - m_headerLength) / m_recordLength;
  const int64_t perPiece = std::max<int64_t>(1, 65536 / m_recordLength);
  std::vector<char> piece(static_cast<size_t>(perPiece * m_recordLength));
  TbrSuppressErrors quiet(*this);
  for (int64_t first = 0; first < records; first += perPiece) {
    const int64_t count = std::min(perPiece, records - first);
    if (!Read(m_headerLength + first * m_recordLength, piece.data(),
              static_cast<uint32_t>(count * m_recordLength)))
      break;
    for (int64_t r = 0; r < count; ++r) {
      for (const TbrField* field : memoFields) {
        const char* raw = piece.data() + r * m_recordLength + field->offset;
        const uint32_t block =
            m_version == layout::kVersionVisualFox && field->length == 4
                ? layout::GetU32(reinterpret_cast<const uint8_t*>(raw))
                : TbrMemoFile::BlockFromField(std::string_view(raw, field->length));
        if (block != 0) blocks.push_back(block);
      }
    }
  }
  return blocks;
}

void TbrTable::TakeBackUnwrittenMemos() {
  if (!m_memo) return;
  std::vector<uint32_t> inUse = MemoBlocksInUse();
  std::sort(inUse.begin(), inUse.end());
  TbrSuppressErrors quiet(*m_memo);
  // Last field first: a memo appended later lies further back in the file.
  for (auto n = static_cast<int32_t>(m_fields.size()); n >= 1; --n) {
    const int32_t block = IsMemoType(Field(n).type) ? MemoBlock(n) : 0;
    if (block > 0 && !std::binary_search(inUse.begin(), inUse.end(), static_cast<uint32_t>(block)))
      m_memo->TakeBack(static_cast<uint32_t>(block));
  }
}

// After the record was written: frees the memos it no longer refers to. A
// failure only leaves the blocks abandoned.
void TbrTable::FreeReplacedMemos(const std::vector<uint32_t>& before) {
  for (size_t i = 0; i < before.size(); ++i) {
    const auto n = static_cast<int32_t>(i + 1);
    if (before[i] == 0 || before[i] == static_cast<uint32_t>(MemoBlock(n))) continue;
    TbrSuppressErrors quiet(*m_memo);
    m_memo->FreeBlocks(before[i]);
  }
}

uint32_t TbrTable::MemoLength(std::string_view name) {
  return MemoLength(NumberFieldFor(name, "GBM"));
}

std::string TbrTable::MemoText(std::string_view name) {
  return MemoText(NumberFieldFor(name, "GBM"));
}

bool TbrTable::WriteMemo(std::string_view name, std::string_view text) {
  const int32_t n = NumberFieldFor(name, "GBM");
  return n != 0 && WriteMemo(n, text);
}

}  // namespace qm::dbf

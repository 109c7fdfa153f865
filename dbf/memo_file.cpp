#include "dbf/memo_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "dbf/dbf_format.h"
#include "dbf/disk_io.h"
#include "dbf/memo_bytes.h"

namespace qm::dbf {
namespace {

using memo::MemoLayout;

// Header bytes a layout needs before its memos can be placed: the next free
// block, and for dBASE IV the block size at 20..23 (FoxPro's is at 6..7).
uint32_t MinimumHeaderBytes(MemoLayout layout) {
  switch (layout) {
    case MemoLayout::DBase3:
      return 4;
    case MemoLayout::DBase4:
      return memo::kDb4BlockSizeOffset + 4;
    case MemoLayout::FoxPro:
      return memo::kFoxBlockSizeOffset + 2;
  }
  return 4;
}

// The memo lock of the protocol, held for one write and released on every
// path (the default error handler raises through the write).
class MemoLockGuard {
 public:
  explicit MemoLockGuard(TbrMemoFile& file) : m_file(file) {
    if (!file.LockingActive()) return;
    const TbrLockRegion region = MemoLockRegion(file.LockingProtocol());
    m_held = file.Lock(region.offset, region.length);
    if (!m_held) {
      m_refused = true;
      file.Check(file.LastCode(), subcode::kLock);
    }
  }
  ~MemoLockGuard() {
    if (m_held) m_file.Unlock();
  }
  MemoLockGuard(const MemoLockGuard&) = delete;
  MemoLockGuard& operator=(const MemoLockGuard&) = delete;
  bool Refused() const { return m_refused; }

 private:
  TbrMemoFile& m_file;
  bool m_held = false;
  bool m_refused = false;
};

// Turns the read cache off for one write and on again afterwards.
class ReadCacheOff {
 public:
  explicit ReadCacheOff(TbrMemoFile& file) : m_file(file) {
    if (file.ReadCacheBytes() > 0) file.TbrDiskFile::SetReadCache(0);
  }
  ~ReadCacheOff() {
    if (m_file.ReadCacheBytes() > 0) m_file.TbrDiskFile::SetReadCache(m_file.ReadCacheBytes());
  }
  ReadCacheOff(const ReadCacheOff&) = delete;
  ReadCacheOff& operator=(const ReadCacheOff&) = delete;

 private:
  TbrMemoFile& m_file;
};

}  // namespace

bool TbrMemoFile::LayoutForTable(uint8_t version, uint8_t tableFlags, MemoLayout& layout) {
  switch (version) {
    case layout::kVersionDb3Memo:
      layout = MemoLayout::DBase3;
      return true;
    case layout::kVersionDb4Memo:
      layout = MemoLayout::DBase4;
      return true;
    case layout::kVersionFoxMemo:
      layout = MemoLayout::FoxPro;
      return true;
    case layout::kVersionVisualFox:
      layout = MemoLayout::FoxPro;
      return (tableFlags & layout::kFlagMemo) != 0;
    default:
      return false;
  }
}

std::string TbrMemoFile::MemoPathFor(const std::string& tablePath, MemoLayout layout) {
  const std::size_t slash = tablePath.find_last_of('/');
  const std::size_t dot = tablePath.find_last_of('.');
  std::string stem = tablePath;
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) stem.resize(dot);
  return stem + (layout == MemoLayout::FoxPro ? ".FPT" : ".DBT");
}

uint32_t TbrMemoFile::BlockFromField(std::string_view fieldBytes) {
  const std::size_t first = fieldBytes.find_first_not_of(' ');
  if (first == std::string_view::npos) return 0;
  const std::size_t last = fieldBytes.find_last_not_of(' ');
  uint64_t block = 0;
  for (char c : fieldBytes.substr(first, last - first + 1)) {
    if (c < '0' || c > '9') return 0;
    block = std::min<uint64_t>(block * 10 + static_cast<uint64_t>(c - '0'), 0xFFFFFFFFull);
  }
  return static_cast<uint32_t>(block);
}

TbrMemoFile::TbrMemoFile(TbrErrorReporter* owner, const std::string& tablePath, uint8_t openMode,
                         uint8_t version, uint8_t tableFlags, TbrLokProtocol protocol)
    : TbrDiskFile(MemoPathFor(tablePath,
                              [&] {
                                MemoLayout l = MemoLayout::DBase3;
                                LayoutForTable(version, tableFlags, l);
                                return l;
                              }()),
                  openMode),
      m_owner(owner) {
  LayoutForTable(version, tableFlags, m_layout);
  m_headerSize = m_layout == MemoLayout::DBase3 ? 0 : memo::kBlockHeaderSize;
  SetLockingProtocol(static_cast<int>(protocol));
  if (!Exists()) {
    Check(code::kFileNotFound, subcode::kMemoOpen);
    return;
  }
  if (!Open()) return;
  if (m_layout != MemoLayout::DBase3 && !ReadHeaderBlockSize()) return;
  m_usable = true;
}

TbrMemoFile::~TbrMemoFile() = default;

void TbrMemoFile::SetReadCache(uint32_t bytes) {
  m_readCache = bytes;
  TbrDiskFile::SetReadCache(bytes);
}

void TbrMemoFile::Error(int32_t code, int32_t subCode, const char* text) {
  if (m_owner != nullptr)
    m_owner->Error(code, subCode, text);
  else
    TbrErrorReporter::Error(code, subCode, text);
}

bool TbrMemoFile::Damaged(int32_t subCode) { return Check(code::kNotTextMemo, subCode); }

bool TbrMemoFile::EnsureOpen() { return IsOpen() || Open(); }

// Reads the header bytes that exist (a short file is taken as zero-padded)
// and refuses a header too short to hold what the layout needs.
bool TbrMemoFile::ReadHeader(uint8_t* header) {
  std::memset(header, 0, memo::kHeaderWorkSize);
  if (!Read(0, header, memo::kHeaderWorkSize) && LastCode() != code::kShortRead) return false;
  if (BytesTransferred() < MinimumHeaderBytes(m_layout)) return Damaged(subcode::kMemoOpen);
  return true;
}

bool TbrMemoFile::WriteHeader(const uint8_t* header) {
  return Write(0, header, memo::kHeaderWorkSize);
}

bool TbrMemoFile::ReadHeaderBlockSize() {
  uint8_t header[memo::kHeaderWorkSize];
  if (!ReadHeader(header)) return false;
  const uint32_t size = m_layout == MemoLayout::DBase4
                            ? layout::GetU32(header + memo::kDb4BlockSizeOffset)
                            : bytes::GetBe16(header + memo::kFoxBlockSizeOffset);
  if (size < memo::kMinBlockSize || size > memo::kMaxBlockSize) return Damaged(subcode::kMemoOpen);
  m_blockSize = size;
  return true;
}

// ---- reading ----

bool TbrMemoFile::LoadMemo(uint32_t block) {
  m_textFresh = false;
  m_text.clear();
  if (block == 0) return true;
  if (!m_usable || !EnsureOpen()) return false;
  const int64_t offset = static_cast<int64_t>(block) * m_blockSize;
  return m_layout == MemoLayout::DBase3 ? LoadDb3(offset) : LoadWithBlockHeader(offset);
}

// dBASE III: the text runs to the first 0x1A, to the end of the file, or to
// 65519 bytes, whichever comes first. Read in growing pieces, not block by
// block: one read serves a typical memo.
bool TbrMemoFile::LoadDb3(int64_t offset) {
  uint32_t piece = 2048;
  while (m_text.size() < memo::kMaxMemoLength) {
    const std::size_t had = m_text.size();
    const uint32_t want =
        std::min<uint32_t>(piece, memo::kMaxMemoLength - static_cast<uint32_t>(had));
    m_text.resize(had + want);
    const bool whole = Read(offset + static_cast<int64_t>(had), m_text.data() + had, want);
    if (!whole && LastCode() != code::kShortRead) {
      m_text.clear();
      return false;
    }
    if (had == 0 && BytesTransferred() == 0) {
      m_text.clear();
      return ReportPastEnd(static_cast<uint32_t>(offset / m_blockSize));
    }
    m_text.resize(had + BytesTransferred());
    const void* end = std::memchr(m_text.data() + had, memo::kDb3Terminator, m_text.size() - had);
    if (end != nullptr) {
      m_text.resize(static_cast<const char*>(end) - m_text.data());
      return true;
    }
    if (!whole) return true;  // end of file before any terminator
    piece = memo::kMaxPiece;
  }
  return true;
}

// dBASE IV and FoxPro: the 8-byte block header gives type and length. The
// length is cut to the bytes the file holds, so a damaged header never asks
// for an absurd buffer.
bool TbrMemoFile::LoadWithBlockHeader(int64_t offset) {
  char first[2048];
  if (!Read(offset, first, sizeof first) && LastCode() != code::kShortRead) return false;
  const uint32_t got = BytesTransferred();
  if (got < memo::kBlockHeaderSize) return ReportPastEnd(static_cast<uint32_t>(offset / m_blockSize));
  uint32_t length = 0;
  if (!bytes::ParseBlockHeader(m_layout, reinterpret_cast<const uint8_t*>(first), length))
    return Damaged(subcode::kMemoBlockHeader);
  const uint32_t inFirst = got - memo::kBlockHeaderSize;
  if (length > inFirst) {
    const int64_t size = FileSize();
    if (size < 0) return false;
    const int64_t available = std::max<int64_t>(0, size - offset - memo::kBlockHeaderSize);
    length = static_cast<uint32_t>(std::min<int64_t>(length, available));
  }
  m_text.assign(first + memo::kBlockHeaderSize, std::min(length, inFirst));
  for (uint32_t done = static_cast<uint32_t>(m_text.size()); done < length;) {
    const uint32_t want = std::min(length - done, memo::kMaxPiece);
    m_text.resize(done + want);
    const bool whole = Read(offset + memo::kBlockHeaderSize + done, m_text.data() + done, want);
    if (!whole && LastCode() != code::kShortRead) return false;
    done += BytesTransferred();
    m_text.resize(done);
    if (!whole) break;
  }
  return true;
}

uint32_t TbrMemoFile::MemoLength(uint32_t block) {
  // A failed load is kept too (empty): the read that follows reports nothing twice.
  const bool loaded = LoadMemo(block);
  m_textBlock = block;
  m_textFresh = true;
  return loaded ? static_cast<uint32_t>(m_text.size()) : 0;
}

uint32_t TbrMemoFile::ReadMemo(uint32_t block, char* buffer, uint32_t capacity) {
  // MemoLength has just loaded this memo: copy it instead of reading again.
  const bool loaded = (m_textFresh && m_textBlock == block) || LoadMemo(block);
  m_textFresh = false;
  const uint32_t count = loaded ? std::min<uint32_t>(capacity, m_text.size()) : 0;
  if (count > 0) std::memcpy(buffer, m_text.data(), count);
  if (count < capacity) buffer[count] = 0;
  m_currentBlock = block;
  m_currentBlocks = count == 0 ? 0 : (m_headerSize + count + m_blockSize - 1) / m_blockSize;
  return count;
}

std::string TbrMemoFile::ReadMemoText(uint32_t block) {
  std::string text(MemoLength(block), '\0');
  text.resize(ReadMemo(block, text.data(), static_cast<uint32_t>(text.size())));
  return text;
}

// ---- writing ----

uint32_t TbrMemoFile::BlocksFor(uint32_t length) const {
  if (m_layout == MemoLayout::DBase3)
    return (length + memo::kDb3TerminatorSize + memo::kDb3BlockSize - 1) / memo::kDb3BlockSize;
  return static_cast<uint32_t>((uint64_t{memo::kBlockHeaderSize} + length) / m_blockSize + 1);
}

// Blocks the memo at block occupies. The memo last read or written answers
// from memory; any other is measured, so that a memo is never rewritten in
// place over blocks that belong to the next one.
uint32_t TbrMemoFile::OldBlockCount(uint32_t block) {
  if (block == m_currentBlock && m_currentBlocks > 0) return m_currentBlocks;
  TbrSuppressErrors quiet(*this);
  if (!LoadMemo(block) || m_text.empty()) return 0;
  const uint64_t used = uint64_t{m_headerSize} + m_text.size();
  return static_cast<uint32_t>((used + m_blockSize - 1) / m_blockSize);
}

std::optional<uint32_t> TbrMemoFile::WriteMemo(uint32_t oldBlock, const char* text,
                                               uint32_t length) {
  m_textFresh = false;
  if (length == 0 && oldBlock == 0) return 0u;
  if (!m_usable || !EnsureOpen()) return std::nullopt;
  const uint32_t limit =
      m_layout == MemoLayout::DBase3 ? memo::kMaxMemoLength : memo::kMaxBlockHeaderLength;
  if (length > limit) {
    Check(code::kMemoBuffer, subcode::kMemoBufferSize);
    return std::nullopt;
  }
  ReadCacheOff directReads(*this);
  MemoLockGuard lock(*this);
  if (lock.Refused()) return std::nullopt;
  const uint32_t needed = BlocksFor(length);
  m_appendedBlock = 0;
  const std::optional<uint32_t> block = Place(oldBlock, needed);
  if (!block || !WriteBlocks(*block, needed, text, length)) return std::nullopt;
  if (m_appendedBlock == *block) m_sizeAfterAppend = FileSize();
  if (*block > m_highestInUse) m_highestInUse = *block;
  m_currentBlock = *block;
  m_currentBlocks = needed;
  return block;
}

bool TbrMemoFile::FreeBlocks(uint32_t block) {
  m_textFresh = false;
  if (m_layout != MemoLayout::DBase4 || block == 0) return true;
  if (!m_usable || !EnsureOpen()) return false;
  ReadCacheOff directReads(*this);
  MemoLockGuard lock(*this);
  if (lock.Refused()) return false;
  uint8_t header[memo::kHeaderWorkSize];
  if (!ReadHeader(header)) return false;
  if (block == m_currentBlock) m_currentBlock = m_currentBlocks = 0;
  return ChainRun(header, block);
}

bool TbrMemoFile::TakeBack(uint32_t block) {
  if (block == 0) return true;
  if (m_layout == MemoLayout::DBase4) return FreeBlocks(block);
  if (block != m_appendedBlock || m_sizeBeforeAppend < 0 || !m_usable || !EnsureOpen()) return false;
  m_appendedBlock = 0;
  m_textFresh = false;
  ReadCacheOff directReads(*this);
  MemoLockGuard lock(*this);
  if (lock.Refused()) return false;
  // Another writer appended after it: the memo stays, abandoned.
  if (FileSize() != m_sizeAfterAppend) return false;
  // Cut back under the memo lock, which every writer holds while it appends; a
  // reader never reaches these blocks, as no record names them.
  if (Disk().Truncate(Handle(), m_sizeBeforeAppend) != 0)
    return Check(OsErrorCode(errno), subcode::kTruncate);
  const int64_t start = static_cast<int64_t>(block) * m_blockSize;
  if (!m_tailBeforeAppend.empty() &&
      !Write(start, m_tailBeforeAppend.data(), static_cast<uint32_t>(m_tailBeforeAppend.size())))
    return false;
  if (block == m_currentBlock) m_currentBlock = m_currentBlocks = 0;
  return WriteHeader(m_headerBeforeAppend);
}

std::optional<uint32_t> TbrMemoFile::Place(uint32_t oldBlock, uint32_t needed) {
  const bool fitsInPlace =
      m_layout != MemoLayout::DBase4 && oldBlock != 0 && OldBlockCount(oldBlock) >= needed;
  if (fitsInPlace) return oldBlock;
  uint8_t header[memo::kHeaderWorkSize];
  if (!ReadHeader(header)) return std::nullopt;
  const std::optional<uint32_t> block = m_layout == MemoLayout::DBase4
                                            ? PlaceDb4(header, needed)
                                            : AllocateAtEnd(header, needed);
  if (!block || !WriteHeader(header)) return std::nullopt;
  return block;
}

// The first block a memo may take: the header fills block 0, and FoxPro's
// (like dBASE IV's in files of other programs) 512 bytes whatever the block size.
uint64_t TbrMemoFile::FirstDataBlock() const {
  if (m_layout == MemoLayout::DBase3) return 1;
  return std::max<uint64_t>(1, (memo::kFoxNewHeaderSize + m_blockSize - 1) / m_blockSize);
}

// The blocks the file really holds: its size rounded up to whole blocks, as
// other programs leave the last memo unpadded. In a dBASE III file a lone 0x1A
// after the last whole block is an end-of-file mark (a new file's, or the
// second terminator of a memo), not a block in use.
std::optional<uint64_t> TbrMemoFile::EndBlock() {
  const int64_t size = FileSize();
  if (size < 0) return std::nullopt;
  uint64_t blocks = (static_cast<uint64_t>(size) + m_blockSize - 1) / m_blockSize;
  if (m_layout == MemoLayout::DBase3 && static_cast<uint64_t>(size) % m_blockSize == 1) {
    uint8_t last = 0;
    TbrSuppressErrors quiet(*this);
    if (Read(size - 1, &last, 1) && last == memo::kDb3Terminator) --blocks;
  }
  return blocks;
}

// Where a memo placed at the end goes: the end of the blocks the file holds.
// The header's next free block is not trusted either way: too low it would
// hand out blocks in use, too high (damaged) it would leave a gap of any size.
std::optional<uint64_t> TbrMemoFile::NextFreeBlock() {
  const std::optional<uint64_t> end = EndBlock();
  if (!end) return std::nullopt;
  return std::max(*end, FirstDataBlock());
}

bool TbrMemoFile::ReportPastEnd(uint32_t block) {
  const std::string text = Path() + " (block " + std::to_string(block) + ")";
  ReportText(code::kNotTextMemo, subcode::kMemoPastEnd, text.c_str());
  return false;
}

// True when a record points at or past end: the file was cut short, and a
// memo appended now would turn into that record's text. The records are read
// again only while the last look found such a pointer.
bool TbrMemoFile::PointersPastEnd(uint64_t end) {
  if (!m_blocksInUse) return false;
  if (!m_highestKnown || m_highestInUse >= end) {
    const std::vector<uint32_t> blocks = m_blocksInUse();
    m_highestInUse = blocks.empty() ? 0 : *std::max_element(blocks.begin(), blocks.end());
    m_highestKnown = true;
  }
  return m_highestInUse >= end;
}

// Keeps what TakeBack needs to undo an append at block: the header, the
// file's size and the bytes of its last block the memo will cover (a new
// file's end mark, another program's unpadded last memo).
bool TbrMemoFile::RememberAppend(const uint8_t* header, uint64_t block) {
  std::memcpy(m_headerBeforeAppend, header, memo::kHeaderWorkSize);
  m_sizeBeforeAppend = FileSize();
  const int64_t start = static_cast<int64_t>(block) * m_blockSize;
  m_tailBeforeAppend.assign(static_cast<size_t>(std::max<int64_t>(0, m_sizeBeforeAppend - start)), '\0');
  if (!m_tailBeforeAppend.empty() &&
      !Read(start, m_tailBeforeAppend.data(), static_cast<uint32_t>(m_tailBeforeAppend.size())))
    return false;
  m_appendedBlock = static_cast<uint32_t>(block);
  return m_sizeBeforeAppend >= 0;
}

// Takes needed blocks at the end of the file and sets the header image's next
// free block after them.
std::optional<uint32_t> TbrMemoFile::AllocateAtEnd(uint8_t* header, uint32_t needed) {
  const std::optional<uint64_t> next = NextFreeBlock();
  if (!next) return std::nullopt;
  if (*next + needed > 0xFFFFFFFFull) {
    Check(code::kMemoBuffer, subcode::kMemoBufferSize);
    return std::nullopt;
  }
  if (PointersPastEnd(*next)) {
    ReportPastEnd(m_highestInUse);
    return std::nullopt;
  }
  if (!RememberAppend(header, *next)) return std::nullopt;
  const auto newNext = static_cast<uint32_t>(*next + needed);
  if (m_layout == MemoLayout::FoxPro)
    bytes::PutBe32(header, newNext);
  else
    layout::PutU32(header, newNext);
  return static_cast<uint32_t>(*next);
}

bool TbrMemoFile::WriteBlocks(uint32_t block, uint32_t needed, const char* text, uint32_t length) {
  std::vector<char> image(static_cast<std::size_t>(needed) * m_blockSize, 0);
  auto* head = reinterpret_cast<uint8_t*>(image.data());
  bytes::PutBlockHeader(m_layout, head, length);
  if (length > 0) std::memcpy(image.data() + m_headerSize, text, length);
  if (m_layout == MemoLayout::DBase3) {
    image[length] = static_cast<char>(memo::kDb3Terminator);
    image[length + 1] = static_cast<char>(memo::kDb3Terminator);
  }
  const int64_t offset = static_cast<int64_t>(block) * m_blockSize;
  for (std::size_t done = 0; done < image.size();) {
    const auto piece =
        static_cast<uint32_t>(std::min<std::size_t>(image.size() - done, memo::kMaxPiece));
    if (!Write(offset + static_cast<int64_t>(done), image.data() + done, piece)) return false;
    done += piece;
  }
  return true;
}

}  // namespace qm::dbf

#pragma once
// The memo file object: reads and writes the memo texts of one table, kept in
// the .DBT (dBASE III, dBASE IV) or .FPT (FoxPro) file beside it. The table
// object owns one and calls it from its memo accessors:
//
//   TbrMemoFile memo(&table, table.Path(), table.OpenMode(), table.Version(),
//                    table.HeaderBytes()[28], table.LockingProtocol());
//   if (!memo.Usable()) ...                   // reported: 2/6101 missing, 1005/6101 damaged
//   uint32_t n = memo.MemoLength(block);      // 0 for block 0, past the end, or no text memo
//   memo.ReadMemo(block, buffer, n);          // copies min(capacity, length) bytes
//   std::optional<uint32_t> b = memo.WriteMemo(oldBlock, text, length);
//   if (b) store *b in the memo field;        // nullopt: failed and reported, keep oldBlock
//
// Block numbers count from the start of the file in the layout's block size;
// 0 means no memo. Writes place a memo in its old blocks when it still fits
// them, else at the end of the file (dBASE III, FoxPro) or in the first free
// run large enough (dBASE IV, whose blocks are chained for reuse by FreeBlocks
// once the record that used them is rewritten).
// With locking active every write holds the memo lock of the protocol and
// re-reads the next free block inside it, so several processes can append.
//
// Damaged files never crash or hang: a block past the end of the file reads
// as an empty memo and is reported (1005/6105: the file is cut short); a
// dBASE III memo without terminator stops at the end of the file or at 65519
// bytes; block-header lengths are cut to the file size; a header with an
// absurd block size, or too short to hold one, makes the object unusable
// (1005/6101).
//
// The header's free-space words are never trusted: a new memo goes at the end
// of the blocks the file really holds (whatever the next free block says), a
// dBASE IV free run is taken only when it lies inside the file, past the
// header and clear of every memo a record points at, and nothing is appended
// while a record points past the end of the file (the next memo would become
// that record's text).
//
// Reports go through the owner's error path (the table object), or the
// process-wide hook when there is no owner. Single-threaded per object.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dbf/disk_file.h"
#include "dbf/memo_format.h"

namespace qm::dbf {

class TbrMemoFile : public TbrDiskFile {
 public:
  // The memo layout of a table with this version byte and header flags byte
  // (byte 28); false when such a table has no memo file.
  static bool LayoutForTable(uint8_t version, uint8_t tableFlags, memo::MemoLayout& layout);
  // The table path with its extension replaced by ".DBT" or ".FPT".
  static std::string MemoPathFor(const std::string& tablePath, memo::MemoLayout layout);
  // Block number held by a memo field's bytes: blanks, 0 or text that is not
  // a number give 0; a number beyond 32 bits gives 0xFFFFFFFF (past any file).
  static uint32_t BlockFromField(std::string_view fieldBytes);

  // The memo blocks the records of the table point at (every memo field of
  // every record the file holds, deleted ones included).
  using BlocksInUse = std::function<std::vector<uint32_t>()>;

  // Opens the memo file of the table at tablePath with the table's open mode
  // and locking protocol. owner may be null.
  TbrMemoFile(TbrErrorReporter* owner, const std::string& tablePath, uint8_t openMode,
              uint8_t version, uint8_t tableFlags, TbrLokProtocol protocol);
  ~TbrMemoFile() override;

  bool Usable() const { return m_usable; }
  memo::MemoLayout Layout() const { return m_layout; }
  uint32_t BlockSize() const { return m_blockSize; }

  // ---- whole memos ----
  // Text bytes of the memo at block (the terminator and block header not
  // counted). A dBASE IV/FoxPro block that is not a text memo is reported
  // (1005/6199) and gives 0.
  uint32_t MemoLength(uint32_t block);
  // Copies min(capacity, length) text bytes into buffer; returns the count.
  // Block 0 gives 0 with buffer[0] = 0 when capacity allows.
  uint32_t ReadMemo(uint32_t block, char* buffer, uint32_t capacity);
  // The whole text (MemoLength then ReadMemo).
  std::string ReadMemoText(uint32_t block);
  // Writes text as the memo that was at oldBlock (0: new memo) and returns
  // the block where it now starts, to be stored in the memo field. Length 0
  // over block 0 writes nothing and gives 0. nullopt: nothing was written
  // (lock refused, damaged header, I/O error or a dBASE III text above 65519
  // bytes, which could not be read back whole); the report has been made.
  std::optional<uint32_t> WriteMemo(uint32_t oldBlock, const char* text, uint32_t length);
  std::optional<uint32_t> WriteMemo(uint32_t oldBlock, std::string_view text) {
    return WriteMemo(oldBlock, text.data(), static_cast<uint32_t>(text.size()));
  }

  // dBASE IV: gives the blocks of the memo at block to the free chain, to be
  // called once no record refers to them any more (a block a record still
  // points at is kept). Other layouts: nothing.
  bool FreeBlocks(uint32_t block);
  // Undoes the write that placed a new memo at block, which no record names
  // (the record's write was refused): dBASE IV gives the blocks back to the
  // free chain; the other layouts cut the file back when the memo is still the
  // last thing in it. False when the blocks stay (abandoned, never in use).
  bool TakeBack(uint32_t block);

  // Tells the object which blocks the records use (the table object sets it);
  // without it, memos are placed by the file's size alone.
  void SetBlocksInUse(BlocksInUse blocksInUse) { m_blocksInUse = std::move(blocksInUse); }

  // Block and block count of the memo last read or written.
  uint32_t CurrentBlock() const { return m_currentBlock; }
  uint32_t CurrentBlockCount() const { return m_currentBlocks; }

  // ---- line operations on the memo buffer ----
  // Lines end at CR or the soft return 0x8D (a LF right after either belongs
  // to the line end) or at the end of the text.
  enum class LineEnd { Hard, Soft, None };
  // Loads the memo at block into the buffer: inner zero bytes become '~',
  // lines longer than 255 are wrapped with a soft return at the last blank
  // or hyphen. False when the text would exceed the buffer limit (230/6104).
  bool LoadLines(uint32_t block);
  int32_t LineCount() const;
  std::string Line(int32_t n) const;  // 1-based, without its line end; "" outside
  // Inserts text with the given line end before line n; n -1 or 0 appends.
  // n below -1: 230/6103. A buffer above 65519 bytes: 230/6104.
  bool InsertLine(int32_t n, std::string_view text, LineEnd end);
  // Removes soft returns (and a LF after them) and writes the buffer as the
  // memo that was at oldBlock; an empty buffer clears the memo (result 0).
  std::optional<uint32_t> SaveLines(uint32_t oldBlock);
  void ClearLines() { m_lines.clear(); }
  const std::string& LineBuffer() const { return m_lines; }

  // Read cache for read-only walks (hides the disk file's, see there). A write
  // reads the header and old memos straight from the file, never through the
  // cache: inside the memo lock only the file tells what other writers did.
  void SetReadCache(uint32_t bytes);
  uint32_t ReadCacheBytes() const { return m_readCache; }

  // The memo file's error operation: the owner's, else the error hook.
  void Error(int32_t code, int32_t subCode, const char* text) override;

 private:
  struct FreeRun {  // dBASE IV: a run of abandoned blocks
    uint32_t start;
    uint32_t count;
  };

  bool ReadHeaderBlockSize();
  bool EnsureOpen();
  bool LoadMemo(uint32_t block);
  bool LoadDb3(int64_t offset);
  bool LoadWithBlockHeader(int64_t offset);
  bool Damaged(int32_t subCode);
  uint32_t BlocksFor(uint32_t length) const;
  uint32_t OldBlockCount(uint32_t block);
  std::optional<uint32_t> Place(uint32_t oldBlock, uint32_t needed);
  uint64_t FirstDataBlock() const;
  std::optional<uint64_t> EndBlock();
  std::optional<uint64_t> NextFreeBlock();
  bool ReportPastEnd(uint32_t block);
  bool RememberAppend(const uint8_t* header, uint64_t block);
  bool PointersPastEnd(uint64_t end);
  std::vector<FreeRun> RunsInUse(uint64_t end);
  std::vector<FreeRun> TrustedRuns(std::vector<FreeRun> chain, uint64_t end);
  std::optional<uint32_t> AllocateAtEnd(uint8_t* header, uint32_t needed);
  std::optional<uint32_t> PlaceDb4(uint8_t* header, uint32_t needed);
  bool ChainRun(uint8_t* header, uint32_t block);
  static std::vector<FreeRun> MergedRuns(std::vector<FreeRun> chain);
  std::vector<FreeRun> ReadFreeChain(const uint8_t* header, uint64_t nextFree);
  bool WriteFreeChain(uint8_t* header, const std::vector<FreeRun>& chain);
  uint32_t Db4BlockCount(uint32_t block);
  bool WriteBlocks(uint32_t block, uint32_t needed, const char* text, uint32_t length);
  bool ReadHeader(uint8_t* header);
  bool WriteHeader(const uint8_t* header);

  TbrErrorReporter* m_owner;
  memo::MemoLayout m_layout = memo::MemoLayout::DBase3;
  bool m_usable = false;
  uint32_t m_blockSize = memo::kDb3BlockSize;
  uint32_t m_headerSize = 0;  // block-header size: 0 dBASE III, else 8
  uint32_t m_currentBlock = 0;
  uint32_t m_currentBlocks = 0;
  std::string m_text;        // the memo last loaded
  uint32_t m_textBlock = 0;  // its block; valid only while m_textFresh
  bool m_textFresh = false;  // set by MemoLength, used once by ReadMemo
  std::string m_lines;       // the line buffer
  uint32_t m_readCache = 0;  // size of the read cache asked for
  BlocksInUse m_blocksInUse;
  // Highest block a record pointed at when last looked, and whether that look
  // was made: the records are read again only while it lies past the end.
  uint32_t m_highestInUse = 0;
  bool m_highestKnown = false;
  // The last memo appended at the end of the file, for TakeBack.
  uint32_t m_appendedBlock = 0;
  int64_t m_sizeBeforeAppend = -1;
  int64_t m_sizeAfterAppend = -1;
  std::string m_tailBeforeAppend;
  uint8_t m_headerBeforeAppend[memo::kHeaderWorkSize] = {};
};

}  // namespace qm::dbf

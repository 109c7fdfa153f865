#pragma once
// The engine table object: one open DBF table with its header, one record
// image and the field descriptors. Moves between records by physical record
// number, appends and rewrites records, and converts field bytes to values.
//
// Life cycle:
//   TbrTable table(path, mode);      // normalises the path; reads nothing yet
//   if (!table.OpenTable()) ...      // Load() (header, descriptors), then the handle:
//                                    // record 0, BOF set; failures were reported
//   while (table.GoTo(kGoNext)) ...  // or kGoTop first: see GoTo
//   table.CloseTable();              // writes a pending header update
//
// Reading a table in record order (what the catalog and dump do):
//   TbrTable t(path, kOpenSharedReadOnly); if (!t.OpenTable()) ...; t.SetReadAhead(true);
//   for (bool ok = t.GoTo(kGoTop); ok; ok = t.GoTo(kGoNext))
//     if (!t.Deleted()) { t.Text("NAME"); t.MemoText("SNOTES"); }
//
// Derived objects (index framework, dataset component) override GoTo,
// AppendRecord, ReplaceRecord, BlankRecord, Error, TableEvent and ReadRecordBytes.
// Every failing operation reports through Check()/Error() (errors.h) and then
// returns false or its empty value, leaving the previous record in place.
//
// Field numbers are 1-based; a number outside 1..FieldCount() gives the empty
// value without a report. Field bytes are the file's (CP437): translation to
// UTF-8 is the caller's (char_tables.h). Single-threaded per object.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbf/disk_file.h"

namespace qm::dbf {

class TbrMemoFile;  // dbf/memo_file.h; owned by the table, made on first memo use

constexpr uint32_t kMemoReadCacheBytes = 65536;

// Navigation codes of GoTo.
constexpr int32_t kGoNext = -1;
constexpr int32_t kGoPrior = -2;
constexpr int32_t kGoTop = -3;
constexpr int32_t kGoBottom = -4;
constexpr int32_t kGoSame = -5;

// Table events (TableEvent code).
enum TbrTableEvent : int {
  kEventBlanked = 0,      // number 0
  kEventFieldPut = 1,     // field number
  kEventCreated = 2,      // number 0
  kEventBeforeRead = 4,   // requested number or navigation code
  kEventBeforeWrite = 5,  // 0 append, else the record replaced
  kEventAfterRead = 6,    // record number
  kEventAfterWrite = 7,   // 0 append, else the record replaced
  kEventFlushed = 8,      // current record number
};

enum class TbrTableState { HeaderKnown, Open, RecordWritten };

struct TbrField {
  std::string name;  // descriptor bytes up to the first zero
  char type = 0;     // type letter
  uint32_t length = 0;
  uint32_t decimals = 0;
  uint32_t offset = 0;  // in the record; the first field is at 1
};

// What a table file looks like from outside, to tell whether an index still
// describes it: the header's record count and change stamp, the file's size and
// modification time. Any write, by any program, changes at least one of them.
// All zero when the file could not be looked at (matches no stored print).
struct TbrTableFingerprint {
  uint32_t recordCount = 0;
  uint32_t changeStamp = 0;
  uint64_t size = 0;
  uint64_t modified = 0;  // nanoseconds
  bool operator==(const TbrTableFingerprint&) const = default;
  bool Known() const { return size != 0; }
};

class TbrTable : public TbrDiskFile {
 public:
  // Normalises the name (blanks and quotes trimmed, file name upper-cased,
  // ".DBF" added) and hands it to the disk file object; reads nothing, so
  // that a derived object's Error() and TableEvent() see the loading.
  TbrTable(const std::string& path, uint8_t openMode);
  ~TbrTable() override;  // closes (reports suppressed), frees the memo file object

  // Reads and checks header and descriptors, then closes the file again.
  // Failures are reported with subcode 1204 and the path (2 missing, 1001 not
  // a table, or damaged: the text then names the damage after the path) and
  // leave the object unusable. Sends event 2 on success. Tried once only;
  // Usable() and OpenTable() call it when it has not run yet.
  bool Load();
  bool Usable() { return m_loadTried ? m_usable : Load(); }
  TbrTableState State() const { return m_state; }

  // Loads when not yet loaded; header known -> open: handle opened, record
  // 0, BOF on, images blanked, lock count 0, header refreshed. Returns true
  // without effect when already open.
  bool OpenTable();
  // Writes a pending header update, closes the handle: header known.
  void CloseTable();

  // ---- navigation ----
  // n >= 1: physical record n; kGoNext/kGoPrior/kGoTop/kGoBottom/kGoSame;
  // 0 returns false. Codes below -5, or n > count + 1: error 1002/1207.
  // Past the last record: EOF, false, current record unchanged. Prior from
  // record 1: BOF, false. Empty table: BOF and EOF, false. Deleted records
  // are not skipped here (derived objects do that). Going to the record it
  // stands on (kGoSame, or its number) reads the file, never read-ahead.
  virtual bool GoTo(int32_t recordNo);
  int32_t RecordCount() const { return m_recordCount; }
  int32_t RecNo() const { return m_recNo; }
  bool Bof() const { return m_bof; }
  bool Eof() const { return m_eof; }
  void SetBof(bool on) { m_bof = on; }
  void SetEof(bool on) { m_eof = on; }

  // The record images (RecordLength() bytes each; the current one has a
  // 0x1A after it). PointRecordImage lets a dataset read and write straight
  // into one of its buffers (at least RecordLength() bytes); nullptr restores
  // the table's own image.
  char* RecordImage() { return m_image; }
  const char* OriginalImage() const { return m_original.data(); }
  char* OriginalImageMutable() { return m_original.data(); }
  void PointRecordImage(char* buffer);
  bool Deleted() const { return m_image[0] == '*'; }

  // Blanks the image, writes 0 into N and F fields, empties memo buffers;
  // event 0.
  virtual void BlankRecord();
  // Writes the image as a new last record followed by 0x1A and rewrites the
  // header at once (count, date, stamp, user), all under the header lock. A
  // write that fails part way (disk full) is cut off again before it is reported.
  virtual bool AppendRecord();
  // Rewrites record n from the image (no 0x1A, size unchanged) and the
  // header; n outside 1..count appends instead (through AppendRecord()). The
  // count is refreshed and the record written under the header lock; dBASE IV
  // memo blocks the record no longer uses are freed after it is written.
  virtual bool ReplaceRecord(int32_t recordNo);
  // Calls `visit(recordNo, image)` for every record as the file holds it now,
  // deleted ones too (count refreshed first), reading in large pieces beside
  // the record image: the current record and read-ahead stay as they are.
  // `visit` returns false to stop. False when a read failed (reported).
  bool ScanRecords(const std::function<bool(int32_t, const char*)>& visit);
  bool MarkDeleted();  // '*' into byte 0, rewrite the current record
  bool Recall();       // ' ' into byte 0, rewrite the current record
  // Only with a header update pending: writes it, fsyncs table and memo, event 8.
  bool FlushTable();

  // ---- header ----
  uint8_t Version() const { return m_version; }
  uint32_t HeaderLength() const { return m_headerLength; }
  uint32_t RecordLength() const { return m_recordLength; }
  const uint8_t* HeaderBytes() const { return m_header; }
  uint32_t ChangeStamp() const { return m_changeStamp; }
  bool MemoExpected() const { return m_memoExpected; }
  bool ProductionIndex() const { return m_productionIndex; }
  // The file name without directory and extension, as in error texts.
  std::string TableName() const;

  // ---- fields ----
  int32_t FieldCount() const { return static_cast<int32_t>(m_fields.size()); }
  const TbrField& Field(int32_t n) const;  // an empty descriptor outside the range
  std::string FieldName(int32_t n) const { return Field(n).name; }
  char FieldType(int32_t n) const { return Field(n).type; }
  uint32_t FieldLength(int32_t n) const { return Field(n).length; }
  uint32_t FieldDecimals(int32_t n) const { return Field(n).decimals; }
  uint32_t FieldOffset(int32_t n) const { return Field(n).offset; }
  // Case-insensitive (CP437 upper-case table), trailing blanks ignored, first
  // match wins. Not found: error 1003/1298 with the name, result 0.
  int32_t FieldNumber(std::string_view name);
  // Like FieldNumber but reports nothing.
  int32_t FindField(std::string_view name) const;

  // Field bytes as stored (blanks kept); a view into the current image, valid
  // until the next navigation or put.
  std::string_view RawView(int32_t n) const;
  std::string RawText(int32_t n) const { return std::string(RawView(n)); }
  // Stores text byte for byte: C, D, L left-aligned, others right-aligned,
  // cut at the field length. Event 1.
  void FieldPut(int32_t n, std::string_view value);

  // Display text: trailing blanks removed; N/F also leading blanks (empty
  // gives a formatted 0); D formatted by the date format type; L "T"/"F";
  // M/G/B a marker word ("---MEMO---" when a block is set, else "---memo---").
  std::string Text(int32_t n) const;
  std::string Text(std::string_view name) const;  // unknown name: "" without a report
  // Text put with conversion: D parsed as a date, N as a number; else FieldPut.
  bool PutText(int32_t n, std::string_view text);
  bool PutText(std::string_view name, std::string_view text);

  double Number(int32_t n);  // invalid text: 1004/-7 "Invalid number in field ...", 0
  double Number(std::string_view name);
  bool PutNumber(int32_t n, double value);  // too long: 1011/1261 "NAME - text"
  bool PutNumber(std::string_view name, double value);
  int32_t Date(int32_t n);  // day number, 0 blank; invalid: 1004/-7, 0
  int32_t Date(std::string_view name);
  bool PutDate(int32_t n, int32_t dayNumber);  // -1: 1004/1251; <= 0 stores blanks
  bool PutDate(std::string_view name, int32_t dayNumber);
  bool Logical(int32_t n) const;
  bool Logical(std::string_view name);
  bool PutLogical(int32_t n, bool value);  // not L: 1004/1299
  bool PutLogical(std::string_view name, bool value);

  // ---- memo fields (M, and B/G) ----
  // Block number stored in the field (0 none).
  int32_t MemoBlock(int32_t n) const;
  // Text bytes of the memo (0 without memo file or memo).
  uint32_t MemoLength(int32_t n);
  uint32_t MemoLength(std::string_view name);
  // Copies min(capacity, length) text bytes; returns the count.
  uint32_t ReadMemo(int32_t n, char* buffer, uint32_t capacity);
  std::string MemoText(int32_t n);
  std::string MemoText(std::string_view name);
  // Why text cannot be the memo of field n, or empty when it can: longer than
  // the memo file's layout holds, or, in a dBASE III memo, holding a 0x1A (the
  // memo ends at its first 0x1A, so the text would come back cut).
  // WriteMemo refuses such a text with 1004/6102 and this message; callers
  // that check whole imports first can ask here.
  std::string MemoTextRefusal(int32_t n, std::string_view text) const;
  // Writes the memo and stores its block number in the field of the current
  // image (the record itself is written by AppendRecord/ReplaceRecord). With
  // locking active it holds the header lock meanwhile: a memo written while
  // another program holds it would be left behind by the record's refused write.
  bool WriteMemo(int32_t n, std::string_view text);
  bool WriteMemo(std::string_view name, std::string_view text);
  // After a write of the record image was refused: takes back the memos the
  // image names that no record in the file names (written for this image), so
  // that the refused write leaves the memo file as it was where it can.
  void TakeBackUnwrittenMemos();
  // The memo file object, opened on first use; null when the table has no
  // memo file (a missing one is reported once with 2/6101).
  TbrMemoFile* MemoFile();

  // ---- locks (table level, counted) ----
  // Without active locking these succeed without a lock. A refusal is
  // reported with subcode 1112. Each success raises the lock count and drops
  // what was read ahead.
  bool LockRecord();  // current record's region of the protocol
  bool LockAppend();
  bool LockFile();  // implies record and append locks; refreshes the header
  bool LockWholeFile();
  bool UnlockTable();  // count down; at 0 writes a deferred header update, unlocks
  bool FileLocked() const { return m_fileLocked; }
  int32_t LockCount() const { return m_lockCount; }
  // Header lock (0,32), nested; taken only with active locking and no file lock.
  bool HeaderLock();
  bool HeaderUnlock();

  // Scope guards for the locks above: what was taken is released however the
  // scope ends. Release() reports a failed release on the normal path; the
  // destructor releases quietly and keeps LastCode() (an error is in flight).
  class HeaderLockScope {
   public:
    explicit HeaderLockScope(TbrTable& table) : m_table(table), m_held(table.HeaderLock()) {}
    ~HeaderLockScope();
    HeaderLockScope(const HeaderLockScope&) = delete;
    HeaderLockScope& operator=(const HeaderLockScope&) = delete;
    bool Held() const { return m_held; }
    bool Release();

   private:
    TbrTable& m_table;
    bool m_held;
  };
  // For one counted lock (record, append, file): Taken() after it succeeded.
  class LockScope {
   public:
    explicit LockScope(TbrTable& table) : m_table(table) {}
    ~LockScope();
    LockScope(const LockScope&) = delete;
    LockScope& operator=(const LockScope&) = delete;
    void Taken() { m_held = true; }
    void Keep() { m_held = false; }  // the lock outlives the scope
    bool Release();

   private:
    TbrTable& m_table;
    bool m_held = false;
  };

  // ---- settings ----
  void SetTableLockingProtocol(int protocol);  // also for the memo file
  void SetUserNumber(int32_t user) { m_userNumber = user; }
  int32_t UserNumber() const { return m_userNumber; }
  void SetLockBeforeWrite(bool on) { m_lockBeforeWrite = on; }
  bool LockBeforeWrite() const { return m_lockBeforeWrite; }
  void SetUseDeleted(bool on) { m_useDeleted = on; }
  bool UseDeleted() const { return m_useDeleted; }
  // Physical-order read-ahead: record reads are served from a 32 KiB buffer
  // (whole records) and memo reads from a 64 KiB window of the memo file.
  // Writes by this object keep both consistent; writes by other objects or
  // processes are seen when going to the current record and after any lock
  // (both drop what was read ahead), not while walking on.
  void SetReadAhead(bool on);
  bool ReadAhead() const { return !m_readAhead.empty(); }
  // Forgets what was read ahead (records and memo window), keeping read-ahead
  // on or off: the next reads come from the file.
  void DropReadAhead();

  std::vector<uint8_t>& FieldChanged() { return m_fieldChanged; }

  // Re-reads the 32 header bytes and the count from the file size (only with
  // active locking and no file lock). A table whose file was replaced since it
  // was opened (another program renamed a new file into its place), or whose
  // version, header length or record length changed, is refused with 1001/1204
  // and a text saying so: writing the old layout on would damage the new table.
  bool RefreshHeader();

  // The table file as it stands now (read from the file, not the cache).
  TbrTableFingerprint Fingerprint();

 protected:
  // Notification hook; does nothing here.
  virtual void TableEvent(int code, int32_t number) {}
  // Reads record bytes at a file offset (the read operation that read-ahead
  // replaces). Short read: false with LastCode() 221.
  virtual bool ReadRecordBytes(int64_t offset, char* buffer, uint32_t length);
  // Whether an index is attached (chooses the record-lock region).
  virtual bool IndexAttached() const { return false; }
  // Writes the header when a write is pending; deferred while the file lock is held.
  bool HeaderUpdate(bool mayDefer);
  void SetState(TbrTableState state) { m_state = state; }
  void SetRecNo(int32_t recNo) { m_recNo = recNo; }

 private:
  int32_t GoToTarget(int32_t recordNo);
  int32_t AllocateImages();
  bool ReadHeaderAndFields(int32_t& code, std::string& detail);
  bool VisualFoxMemoWithoutFlag() const;
  bool ParseDescriptors(const std::vector<uint8_t>& area, std::string& detail);
  bool WriteImage(int64_t offset, uint32_t length);
  bool AppendImage(int64_t offset);
  bool OverwriteImage(int64_t offset);
  bool ReportChanged(const char* what);
  int32_t CountRecords(int64_t size);
  std::vector<uint32_t> MemoBlocksOnDisk(int32_t recordNo);
  std::vector<uint32_t> MemoBlocksInUse();
  void FreeReplacedMemos(const std::vector<uint32_t>& before);
  bool LockHelper(TbrLockRegion region);
  int32_t NumberFieldFor(std::string_view name, const char* acceptedTypes);
  bool IsVisualFoxBinary(const TbrField& field) const;
  void ReportInvalid(const char* what, int32_t n, std::string_view shown);
  void InvalidateReadAhead() { m_aheadStart = m_aheadEnd = 0; }
  int64_t RecordOffset(int32_t recordNo) const {
    return m_headerLength + static_cast<int64_t>(recordNo - 1) * m_recordLength;
  }

  bool m_usable = false;
  bool m_loadTried = false;
  TbrTableState m_state = TbrTableState::HeaderKnown;
  uint8_t m_header[32] = {};
  uint8_t m_version = 0;
  uint32_t m_headerLength = 0;
  uint32_t m_recordLength = 0;
  uint8_t m_keptFlags = 0;
  uint32_t m_changeStamp = 0;
  int32_t m_recordCount = 0;
  int64_t m_fileSize = 0;  // at the last refresh
  std::vector<TbrField> m_fields;
  int32_t m_recNo = 0;
  std::vector<char> m_ownImage;  // record length + 1, last byte 0x1A
  char* m_image = nullptr;
  std::vector<char> m_original;
  std::vector<uint8_t> m_fieldChanged;
  bool m_bof = true;
  bool m_eof = false;
  int32_t m_userNumber = 0;
  bool m_memoExpected = false;
  bool m_productionIndex = false;
  bool m_lockBeforeWrite = false;
  bool m_useDeleted = false;
  bool m_fileLocked = false;
  int32_t m_lockCount = 0;
  int32_t m_headerLockCount = 0;
  std::unique_ptr<TbrMemoFile> m_memo;
  bool m_memoFailed = false;
  std::vector<char> m_readAhead;
  int64_t m_aheadStart = 0;
  int64_t m_aheadEnd = 0;
};

}  // namespace qm::dbf

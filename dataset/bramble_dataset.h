#pragma once
// TBrambleDataSet: the generic dataset (dataset.h) over one DBF table of the
// engine, with its attached index files and current order (index_table.h).
//
//   TBrambleDataSet ds;
//   ds.SetTableName("catalog.dbf");        // ".DBF" added when there is no extension
//   ds.Open();                             // open mode 66: shared read-write
//   ds.IndexOn("CATALOG.NDX", "", ds.Fields(0).FieldName(), "", 0, 0);
//   ds.IndexFileOpen("CATALOG.NDX", "CATALOG");   // key order from now on
//
// Record buffer: the record image as the table stores it, the calculated
// fields, then a 19-byte record-info area (bytes 0-3 physical record number,
// byte 5 bookmark flag, bytes 8-18 the bookmark: the record number as decimal
// text right-aligned in 10 characters and a zero byte, so that text order is
// numeric order).
//
// Editing: Edit locks the current record and reads it again under the lock
// ("Record is locked by another user" when another program holds it, leaving
// no lock; OnRecordLocked may refuse the record found under the lock); Post writes the record (and staged memos, see below), keeping every
// attached index current, and unlocks; Cancel unlocks. Memo text written
// through a blob stream is staged in the dataset and reaches the memo file only
// at Post, in fresh blocks, so a cancelled edit leaves the stored memo exactly
// as it was and a reader never sees a memo that its record does not name yet.
//
// Engine errors arrive at OnBrambleError(code, subcode, text); unless it sets
// the code to 0 they are raised as EDatabaseError with the message
// "Bramble Error <code>, Subcode <subcode>  <text>".

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dataset/dataset.h"
#include "dbf/disk_file.h"
#include "index/index_table.h"

namespace qm::dataset {

using dbf::TbrLokProtocol;

// (Code, Info, StP): set Code to 0 to suppress the error.
using TbrBrambleError = std::function<void(int32_t& code, int32_t info, const std::string& text)>;

class TBrambleDataSet : public TDataSet {
 public:
  static constexpr int kRecordInfoSize = 19;
  static constexpr int kBookmarkFlagOffset = 5;  // inside the record-info area
  static constexpr int kBookmarkOffset = 8;
  static constexpr int kBookmarkSize = 11;

  TBrambleDataSet();
  ~TBrambleDataSet() override;

  // ---- properties ----
  std::string About() const { return "Bramble Version 1.0"; }
  void SetAbout(const std::string&) {}
  bool AutoCalcFields() const { return m_autoCalcFields; }
  void SetAutoCalcFields(bool on) { m_autoCalcFields = on; }
  const std::string& DatabaseName() const { return m_databaseName; }
  void SetDatabaseName(const std::string& name);
  bool Exclusive() const { return m_exclusive; }
  void SetExclusive(bool on);
  bool Filtered() const { return m_filtered; }
  void SetFiltered(bool on);
  const std::vector<std::string>& IndexFiles() const { return m_indexFiles; }
  void SetIndexFiles(const std::vector<std::string>& files);
  const std::string& IndexName() const { return m_indexName; }
  void SetIndexName(const std::string& name);
  TbrLokProtocol LockProtocol() const { return m_lockProtocol; }
  void SetLockProtocol(TbrLokProtocol protocol);
  bool ReadOnly() const { return m_readOnly; }
  void SetReadOnly(bool on);
  const std::string& TableName() const { return m_tableName; }
  void SetTableName(const std::string& name);
  bool TranslateASCII() const { return m_translate; }
  void SetTranslateASCII(bool on) { m_translate = on; }
  bool UseDeleted() const { return m_useDeleted; }
  void SetUseDeleted(bool on);
  int32_t UserID() const { return m_userId; }
  void SetUserID(int32_t id);

  TbrBrambleError OnBrambleError;
  index::TbrFormulaHandler OnFormula;
  // Called once Edit, Delete or Undelete has locked the current record and
  // read it again: `found` is the record as the dataset had it, `locked` as
  // the file holds it under the lock. Throwing refuses the operation (the lock
  // is released): the owner says which changes make it another record.
  std::function<void(const char* found, const char* locked)> OnRecordLocked;
  // Called inside Post once every lock of the write is held (the index files',
  // then the table's header lock, which serialises the appends and header
  // rewrites of every writer), before anything is written: `image` is the
  // record to be written, `original` the stored record an edit began from
  // (null for an append), `recNo` its number (0 for an append). Throwing
  // refuses the post with nothing written. The engine's current record must
  // not be moved here; reading the file through Engine()->Read is fine.
  std::function<void(const char* image, const char* original, int32_t recNo)> OnBeforeWrite;
  // Called inside Post right after the record was written, the write's locks
  // still held: `image` as written, `recNo` its number. Must not throw.
  std::function<void(const char* image, int32_t recNo)> OnAfterWrite;
  // Progress of an index build (the engine's status callback).
  std::function<void(int code, int phase, int32_t value)> OnIndexProgress;

  // ---- derived values ----
  std::string DatabaseDirectory() const;
  // The table's full path (directory + TableName, made absolute).
  std::string TablePath() const;
  uint8_t OpenMode() const;
  const std::string& LastErrorMessage() const { return m_lastError; }
  int RecordSize() const { return m_recordSize; }
  int RecordInfoStart() const { return m_recordInfoStart; }
  int BookmarkStart() const { return m_recordInfoStart + kBookmarkOffset; }
  bool EditLockHeld() const { return m_editLockHeld; }
  // Whether the current record carries the deletion mark (seen with UseDeleted on).
  bool CurrentRecordDeleted() { return Active() && !IsEmpty() && ActiveBuffer()[0] == '*'; }

  // ---- operations ----
  int32_t RecNo() override;
  void SetRecNo(int32_t recNo) override;
  int32_t RecordCount() override;
  bool IsSequenced() override;
  bool CanModify() override { return !m_readOnly; }
  int CompareBookmarks(const TBookmark& a, const TBookmark& b) override;
  bool Locate(const std::string& keyField, const std::string& keyValue, TLocateOptions options) override;
  TFieldValue Lookup(const std::string& keyField, const std::string& keyValue,
                     const std::string& resultField) override;
  std::unique_ptr<TStream> CreateBlobStream(TField& field, TBlobAccess mode) override;

  // Builds an index file over the open table (the options are index_table.h's
  // kIndexUnique ... kIndexDescendingUpper), then goes to the first record, also
  // when the build failed.
  bool IndexOn(const std::string& fileName, const std::string& tagName, const std::string& keyExpression,
               const std::string& forCondition, int uniqueOption, int orderOption);
  // Closes every index file, opens those named in `files` (blank-separated,
  // double quotes around a name with blanks) and selects `tagName`.
  void IndexFileOpen(const std::string& files, const std::string& tagName);
  void Undelete();
  // Sequential search (options as TbrIndexTable::SequentialSearch); true when
  // found, the cursor then on the record found.
  bool SearchRecords(const std::string& value, int32_t& fieldNo, int options, int32_t& recNo);
  int TagCount();
  std::string TagName(int n);
  std::string TagKey(int n);
  std::string TagFor(int n);
  std::string CurrentTagName();

  // Copies the current record's image (RecordSize() bytes) into `buffer`;
  // false when the dataset is empty or its buffer holds no stored record.
  bool GetCurrentRecord(char* buffer);

  // The engine table object while open (null when closed).
  index::TbrIndexTable* Engine();

  // ---- used by TBrBlobStream ----
  char* BufferForState() { return GetActiveRecBuf(); }
  bool HasStagedMemo(int fieldNo) const { return m_stagedMemos.count(fieldNo) != 0; }
  const std::string& StagedMemo(int fieldNo) const { return m_stagedMemos.at(fieldNo); }
  void StageMemo(TField& field, std::string fileBytes);
  std::string FileTextToUtf8(const std::string& fileText) const;  // OEM -> ANSI when translating
  std::string Utf8ToFileText(const std::string& utf8Text) const;  // ANSI -> OEM when translating

  // The engine's error path ends here (public for the engine object).
  void BrambleError(int32_t code, int32_t subCode, const char* text);

 protected:
  int RecordBufferSize() override;
  void InternalOpen() override;
  void InternalClose() override;
  bool IsCursorOpen() const override { return m_engine != nullptr; }
  TFetchResult GetRecord(char* buffer, TFetchStep mode, bool doCheck) override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalInitRecord(char* buffer) override;
  void InternalEdit() override;
  void InternalPost() override;
  void InternalCancel() override;
  void InternalDelete() override;
  void InternalRefresh() override;
  void InternalGotoBookmark(const TBookmark& bookmark) override;
  void InternalSetToRecord(char* buffer) override;
  TBookmarkFlag GetBookmarkFlag(const char* buffer) override;
  void SetBookmarkFlag(char* buffer, TBookmarkFlag flag) override;
  TBookmark GetBookmarkData(const char* buffer) override;
  TFieldValue GetFieldData(const TField& field, const char* buffer) override;
  void SetFieldData(TField& field, const TFieldValue& value) override;
  char* GetActiveRecBuf() override;
  int CalcAreaOffset() override { return m_recordSize; }

 private:
  class EngineTable;
  enum class Busy { Idle, BuildingIndex, Copying };

  void CheckOpenTable() const;
  void OpenEngine(uint8_t mode);
  void DiscoverFieldDefs();
  void AttachIndexFiles();
  void SelectIndexName();
  void LockCurrentForWrite(int32_t recNo);
  void CheckRecordLocked(const char* found, const char* locked);
  void WriteStagedMemos(std::vector<uint32_t>& written);
  bool RecordOnDisk(bool editing, int32_t recNo, int32_t countBefore);
  [[noreturn]] void RaiseWriteFailure(const std::string& what, bool recordWritten);
  void PutDataField(TField& field, char* buffer, const TFieldValue& value);
  int FindTagFor(const std::string& keyField);
  int32_t BufferRecNo(const char* buffer) const;
  void SetBufferRecNo(char* buffer, int32_t recNo);
  bool AcceptRecord();

  std::unique_ptr<EngineTable> m_engine;
  std::vector<std::string> m_indexFiles;
  std::string m_indexName;
  std::string m_databaseName;
  std::string m_tableName;
  bool m_autoCalcFields = true;
  bool m_exclusive = false;
  bool m_filtered = false;
  bool m_readOnly = false;
  bool m_translate = true;
  bool m_useDeleted = false;
  TbrLokProtocol m_lockProtocol = TbrLokProtocol::Default;
  int32_t m_userId = 0;
  bool m_firstPending = false;
  bool m_lastPending = false;
  bool m_editLockHeld = false;
  Busy m_busy = Busy::Idle;
  int m_recordSize = 0;
  int m_recordInfoStart = 0;
  std::vector<char> m_editOriginal;           // the record as stored when the edit began
  std::map<int, std::string> m_stagedMemos;   // field number -> memo text (file bytes)
  std::string m_lastError;
};

}  // namespace qm::dataset

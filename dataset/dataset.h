#pragma once
// The generic dataset: a cursor over the records of some store, with one
// record buffer for the current record, field objects, a state machine,
// events and links to data-aware controls. It knows nothing of files: a
// derived dataset fills the hooks (fetch a record into a buffer, go to the
// first or last one, post, delete, bookmarks, field data). TBrambleDataSet
// (bramble_dataset.h) fills them with the table engine.
//
//   ds.Open(); for (ds.First(); !ds.Eof(); ds.Next()) ds.FieldByName("CODE").AsString();
//   ds.Edit(); ds.FieldByName("NAME").SetAsString("x"); ds.Post();   // or Cancel()
//
// Contracts:
// - Failures are raised as EDatabaseError (message as the user sees it). An
//   operation that fails leaves the state and the current record as they were,
//   except where the derived dataset says otherwise.
// - Moving (First/Next/...), Refresh and Locate first post nothing: they need
//   browse state and post a pending edit first (CheckBrowseMode), like a grid
//   leaving an edited row.
// - Data-aware controls attach a TDataLink; while controls are disabled
//   (nested DisableControls/EnableControls) no link hears anything, and
//   EnableControls sends one DataSetChanged when something happened meanwhile.
// Single-threaded: one dataset is used by one thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "dataset/dataset_field.h"

namespace qm::dataset {

enum class TDataSetState {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsCalcFields,  // while OnCalcFields fills the calculation buffer
  dsFilter       // while OnFilterRecord judges the engine's current record
};
// Which record a fetch reads into a buffer, and what it found.
enum class TFetchStep { fsCurrent, fsNext, fsPrior };
enum class TFetchResult { frOK, frBOF, frEOF, frNoRecord };
enum class TBookmarkFlag : uint8_t { bfCurrent, bfBOF, bfEOF, bfInserted };
// What an OnEditError/OnPostError/OnDeleteError handler answers: raise the
// error, stop without a message (EAbort), or run the operation once more.
enum class TErrorAnswer { eaRaise, eaStopQuietly, eaRunAgain };
// What a memo or blob stream is opened for (writing needs edit or insert state).
enum class TBlobAccess { baRead, baWrite, baReadWrite };
// Where a stream's Seek counts from.
enum class TSeekFrom { sfStart, sfPosition, sfEnd };

using TBookmark = std::string;  // empty: no bookmark

struct TLocateOptions {
  bool caseInsensitive = false;
  bool partialKey = false;
};

class EDatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Raised when an error handler answers eaStopQuietly: the operation stops silently.
class EAbort : public EDatabaseError {
 public:
  EAbort() : EDatabaseError("Operation aborted") {}
};

const char* StateName(TDataSetState state);

// A byte stream (memo and blob fields hand one out).
class TStream {
 public:
  virtual ~TStream() = default;
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  virtual int32_t Write(const void* buffer, int32_t count) = 0;
  virtual int32_t Seek(int32_t offset, TSeekFrom origin) = 0;
  // Size by seeking to the end and back.
  int32_t Size();
  // Everything from the start.
  std::string ReadAll();
};

class TDataSet;

// What a data-aware control hears. Every method has an empty default.
// A link is attached to at most one dataset, and either side may go first:
// a link detaches itself when it is destroyed, and a dataset that is
// destroyed detaches its links (LinkedDataSet() is null from then on).
class TDataLink {
 public:
  TDataLink() = default;
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;
  virtual ~TDataLink();
  TDataSet* LinkedDataSet() const { return m_linkedTo; }
  virtual void ActiveChanged() {}
  virtual void DataSetChanged() {}          // many records may differ
  virtual void RecordChanged(TField*) {}    // the current record (one field, or all: null)
  virtual void StateChanged() {}
  virtual void Scrolled() {}                // the cursor moved
  virtual void UpdateData() {}              // about to post: hand over pending control text

 private:
  friend class TDataSet;
  TDataSet* m_linkedTo = nullptr;
};

using TDataSetNotify = std::function<void(class TDataSet&)>;
using TDataSetErrorEvent = std::function<void(TDataSet&, EDatabaseError&, TErrorAnswer&)>;

class TDataSet {
 public:
  TDataSet();
  virtual ~TDataSet();
  TDataSet(const TDataSet&) = delete;
  TDataSet& operator=(const TDataSet&) = delete;

  // ---- life cycle ----
  void Open();
  void Close();
  bool Active() const { return m_state != TDataSetState::dsInactive; }
  void SetActive(bool on) { on ? Open() : Close(); }
  TDataSetState State() const { return m_state; }

  // ---- navigation ----
  void First();
  void Last();
  void Next();
  void Prior();
  int MoveBy(int distance);  // returns the distance moved
  bool Bof() const { return m_bof; }
  bool Eof() const { return m_eof; }
  bool IsEmpty() const { return !Active() || m_empty; }
  virtual int32_t RecNo() { return 0; }
  virtual void SetRecNo(int32_t) {}
  virtual int32_t RecordCount() { return 0; }
  virtual bool IsSequenced() { return false; }

  // ---- editing ----
  void Edit();
  void Insert();
  void Append();
  void Post();
  void Cancel();
  void Delete();
  void Refresh();
  bool Modified() const { return m_modified; }
  virtual bool CanModify() { return true; }

  // ---- bookmarks ----
  TBookmark GetBookmark();
  void GotoBookmark(const TBookmark& bookmark);
  // -1, 0 or 1; an empty bookmark sorts before a present one.
  virtual int CompareBookmarks(const TBookmark& a, const TBookmark& b);

  // ---- search ----
  virtual bool Locate(const std::string& keyField, const std::string& keyValue, TLocateOptions options);
  // The result field's value of the first record whose key field matches; null
  // when none does. The current record stays.
  virtual TFieldValue Lookup(const std::string& keyField, const std::string& keyValue,
                             const std::string& resultField);

  // ---- fields ----
  const std::vector<TFieldDef>& FieldDefs() const { return m_fieldDefs; }
  int FieldCount() const { return static_cast<int>(m_fields.size()); }
  TField& Fields(int index) { return *m_fields.at(static_cast<size_t>(index)); }
  TField* FindField(const std::string& name);  // ignoring letter case; null when absent
  TField& FieldByName(const std::string& name);  // "Field 'X' not found"
  // A calculated field, kept across close and open; only on a closed dataset.
  TField& AddCalculatedField(const std::string& name, TFieldType type, int size = 0);
  TFieldValue GetFieldValue(const TField& field);
  void SetFieldValue(TField& field, const TFieldValue& value);
  virtual std::unique_ptr<TStream> CreateBlobStream(TField& field, TBlobAccess mode);

  // A copy of the current record's buffer and the value of a field in such a
  // copy: views keep copies of many rows without moving the cursor.
  std::vector<char> ActiveBufferCopy() const { return m_active; }
  TFieldValue FieldValueIn(const TField& field, const std::vector<char>& buffer);

  // ---- data-aware controls ----
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return m_disableCount > 0; }
  // Attaches `link` (detaching it from another dataset first).
  void AddDataLink(TDataLink* link);
  void RemoveDataLink(TDataLink* link);

  // ---- events ----
  TDataSetNotify BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotify BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotify BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotify BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  TDataSetNotify OnCalcFields, OnNewRecord;
  TDataSetErrorEvent OnDeleteError, OnEditError, OnPostError;
  std::function<void(TDataSet&, bool& accept)> OnFilterRecord;

 protected:
  // ---- hooks ----
  virtual int RecordBufferSize() = 0;
  virtual void InternalOpen() = 0;  // opens the store; fills FieldDefsMutable()
  virtual void InternalClose() = 0;
  virtual bool IsCursorOpen() const = 0;
  virtual TFetchResult GetRecord(char* buffer, TFetchStep mode, bool doCheck) = 0;
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  virtual void InternalInitRecord(char* buffer) = 0;
  virtual void InternalEdit() {}
  virtual void InternalPost() = 0;
  virtual void InternalCancel() {}
  virtual void InternalDelete() = 0;
  virtual void InternalRefresh() {}
  virtual void InternalGotoBookmark(const TBookmark& bookmark) = 0;
  virtual void InternalSetToRecord(char* buffer) = 0;
  virtual TBookmarkFlag GetBookmarkFlag(const char* buffer) = 0;
  virtual void SetBookmarkFlag(char* buffer, TBookmarkFlag flag) = 0;
  virtual TBookmark GetBookmarkData(const char* buffer) = 0;
  // Reads a data field of `buffer` (never null here).
  virtual TFieldValue GetFieldData(const TField& field, const char* buffer) = 0;
  // Checks the state and the field and stores the value in the state's buffer.
  virtual void SetFieldData(TField& field, const TFieldValue& value) = 0;
  // The buffer field access uses in the current state; null for none.
  virtual char* GetActiveRecBuf();
  // Start of the calculated-fields area inside a record buffer.
  virtual int CalcAreaOffset() = 0;

  // ---- helpers for derived datasets ----
  std::vector<TFieldDef>& FieldDefsMutable() { return m_fieldDefs; }
  char* ActiveBuffer() { return m_active.data(); }
  char* CalcBuffer() { return m_calcBuffer; }
  int CalcFieldsSize() const { return m_calcFieldsSize; }
  void CheckActive() const;
  void CheckBrowseMode();
  void UpdateCursorPos();
  // Fetches the current record again (next, then prior, when it vanished).
  void Resync();
  // The engine moved away from the current record (a search or a walk).
  void CursorPosChanged() { m_cursorStale = true; }
  void CalculateFields(char* buffer);
  TFieldValue GetCalcValue(const TField& field, const char* buffer) const;
  void PutCalcValue(const TField& field, char* buffer, const TFieldValue& value);
  void DoBeforeScroll();
  void DoAfterScroll();
  void NotifyDataSetChanged();
  void NotifyRecordChanged(TField* field);
  void SetTempState(TDataSetState state) { m_state = state; }
  void MarkModified() { m_modified = true; }

  // Runs `operation`, offering its database error to `handler` (retry on eaRunAgain).
  void RunOfferingError(const std::function<void()>& operation, const TDataSetErrorEvent& handler);

 private:
  enum class LinkEvent { Active, DataSet, Record, State, Scroll, UpdateData };
  void SetState(TDataSetState state);
  void Notify(LinkEvent event, TField* field = nullptr);
  void CreateFields();
  void DestroyFields();
  void FetchFirst(TFetchStep mode);
  bool MoveOne(TFetchStep mode);
  void StartInsert(bool append);
  void CallEvent(const TDataSetNotify& event) {
    if (event) event(*this);
  }

  TDataSetState m_state = TDataSetState::dsInactive;
  std::vector<TFieldDef> m_fieldDefs;
  std::vector<std::unique_ptr<TField>> m_fields;        // data fields first, then calculated
  std::vector<std::unique_ptr<TField>> m_calcFields;    // kept while closed
  std::vector<char> m_active;
  std::vector<char> m_saved;  // the current record before insert, for cancel
  bool m_savedEmpty = false;
  char* m_calcBuffer = nullptr;
  int m_calcFieldsSize = 0;
  bool m_bof = true;
  bool m_eof = true;
  bool m_empty = true;
  bool m_modified = false;
  bool m_cursorStale = false;
  int m_disableCount = 0;
  bool m_changedWhileDisabled = false;
  std::vector<TDataLink*> m_links;
};

}  // namespace qm::dataset

// TBrambleDataSet: properties, open and close, record fetching, bookmarks and
// the engine's error path. Field values are in bramble_dataset_fields.cpp,
// editing in bramble_dataset_edit.cpp, indexes and searching in
// bramble_dataset_index.cpp.
#include "dataset/bramble_dataset.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "dataset/bramble_alias.h"
#include "dataset/bramble_engine.h"
#include "dbf/scope_exit.h"
#include "dbf/text_helpers.h"

namespace qm::dataset {

TBrambleDataSet::TBrambleDataSet() = default;

index::TbrIndexTable* TBrambleDataSet::Engine() { return m_engine.get(); }

TBrambleDataSet::~TBrambleDataSet() {
  try {
    Close();
  } catch (...) {
    // Closing releases the engine object (and every lock) whatever it reports.
  }
  m_engine.reset();
}

// ---- properties ----

void TBrambleDataSet::SetDatabaseName(const std::string& name) {
  if (name == m_databaseName) return;
  if (!dbf::SameTextIgnoringCase(name, kDefaultDirectory)) {
    std::string alias = name;
    if (!alias.empty() && (alias.back() == '/' || alias.back() == '\\')) alias.pop_back();
    // A directory is no alias name: on a case-sensitive file system an entry
    // made from it would send a name differing in case to the wrong place.
    if (!alias.empty() && alias.find('/') == std::string::npos) AddAlias(alias, alias);
  }
  if (Active()) throw EDatabaseError("Cannot perform this operation on an open dataset");
  m_databaseName = name;
  NotifyDataSetChanged();
}

void TBrambleDataSet::SetTableName(const std::string& name) {
  if (Active()) throw EDatabaseError("Cannot perform this operation on an open dataset");
  if (name != m_tableName) m_indexFiles.clear();
  m_tableName = name;
  NotifyDataSetChanged();
}

void TBrambleDataSet::SetExclusive(bool on) {
  if (Active()) throw EDatabaseError("Cannot perform this operation on an open dataset");
  m_exclusive = on;
}

void TBrambleDataSet::SetReadOnly(bool on) {
  if (!m_engine) {
    m_readOnly = on;
    return;
  }
  m_readOnly = on || (m_engine->OpenMode() & 0x07) == 0;
}

void TBrambleDataSet::SetUseDeleted(bool on) {
  m_useDeleted = on;
  if (m_engine) m_engine->SetUseDeleted(on);
}

void TBrambleDataSet::SetLockProtocol(TbrLokProtocol protocol) {
  m_lockProtocol = protocol;
  if (m_engine) m_engine->SetTableLockingProtocol(static_cast<int>(protocol));
}

void TBrambleDataSet::SetUserID(int32_t id) {
  m_userId = id;
  if (m_engine) m_engine->SetUserNumber(id);
}

void TBrambleDataSet::SetFiltered(bool on) {
  if (on == m_filtered) return;
  m_filtered = on;
  if (Active()) First();
}

std::string TBrambleDataSet::DatabaseDirectory() const { return dataset::DatabaseDirectory(m_databaseName); }

std::string TBrambleDataSet::TablePath() const {
  return std::filesystem::absolute(DatabaseDirectory() + m_tableName).lexically_normal().string();
}

uint8_t TBrambleDataSet::OpenMode() const {
  return static_cast<uint8_t>(16 + (m_readOnly ? 0 : 2) + (m_exclusive ? 0 : 48));
}

void TBrambleDataSet::CheckOpenTable() const {
  if (m_busy == Busy::BuildingIndex) throw EDatabaseError("Table is busy building an index");
  if (m_busy == Busy::Copying) throw EDatabaseError("Table is busy copying");
  if (!m_engine) throw EDatabaseError("Cannot perform this operation on a closed dataset");
}

// ---- the engine's error path ----

void TBrambleDataSet::BrambleError(int32_t code, int32_t subCode, const char* text) {
  if (OnBrambleError) OnBrambleError(code, subCode, text != nullptr ? text : "");
  if (code == 0) return;
  char head[96];
  std::snprintf(head, sizeof head, "Bramble Error %d, Subcode %d  ", code, subCode);
  m_lastError = head;
  if (text != nullptr) m_lastError += text;
  throw EDatabaseError(m_lastError);
}

// ---- open and close ----

void TBrambleDataSet::OpenEngine(uint8_t mode) {
  if (m_tableName.empty()) throw EDatabaseError("Table name missing");
  if (std::filesystem::path(m_tableName).extension().empty()) m_tableName += ".DBF";
  const std::string path = TablePath();
  std::error_code ec;
  if (!std::filesystem::exists(dbf::NormalizePath(path), ec))
    throw EDatabaseError("Cannot find file " + path);
  auto engine = std::make_unique<EngineTable>(*this, path, mode);
  // The engine's own words (a damaged header names the field) go into the
  // message, so that a refused table says what is wrong with it.
  bool opened = false;
  std::string reason;
  try {
    opened = engine->Usable() && engine->OpenTable();
  } catch (const std::exception& e) {
    reason = e.what();
  }
  if (reason.empty() && !engine->Usable())
    reason = dbf::BrambleErrorMessage(engine->LastCode(), dbf::subcode::kTableOpen, path.c_str());
  if (!opened) throw EDatabaseError("Error getting " + path + (reason.empty() ? "" : " (" + reason + ")"));
  m_engine = std::move(engine);
}

void TBrambleDataSet::InternalOpen() {
  OpenEngine(OpenMode());
  if (!m_engine) throw EDatabaseError("A table is not assigned");
  if ((m_engine->OpenMode() & 0x07) == 0) m_readOnly = true;
  m_engine->SetUseDeleted(m_useDeleted);
  m_engine->SetReadAhead(false);
  m_engine->SetTableLockingProtocol(static_cast<int>(m_lockProtocol));
  m_engine->SetLockBeforeWrite(true);
  m_engine->SetUserNumber(m_userId);
  m_engine->OnAcceptRecord = [this](index::TbrIndexTable&) { return AcceptRecord(); };
  m_engine->OnFormula = OnFormula;
  m_engine->OnStatus = [this](int code, int phase, int32_t value) {
    if (OnIndexProgress) OnIndexProgress(code, phase, value);
  };
  DiscoverFieldDefs();
  m_recordSize = static_cast<int>(m_engine->RecordLength());
  InternalFirst();
  try {
    AttachIndexFiles();
    if (!m_indexName.empty()) m_engine->SelectTag(m_indexName, false);
  } catch (...) {
    m_engine.reset();
    throw;
  }
  m_editLockHeld = false;
}

void TBrambleDataSet::InternalClose() {
  if (m_editLockHeld && m_engine) {
    dbf::TbrSuppressErrors quiet(*m_engine);
    m_engine->UnlockTable();
  }
  m_editLockHeld = false;
  m_stagedMemos.clear();
  m_engine.reset();
}

void TBrambleDataSet::DiscoverFieldDefs() {
  std::vector<TFieldDef>& defs = FieldDefsMutable();
  defs.clear();
  for (int32_t n = 1; n <= m_engine->FieldCount(); ++n) {
    const dbf::TbrField& f = m_engine->Field(n);
    TFieldDef def{n, f.name, TFieldType::ftUnknown, 0, false};
    switch (f.type) {
      case 'C': def.dataType = TFieldType::ftString; def.size = static_cast<int>(f.length); break;
      case 'N':
      case 'F':
        def.dataType = f.decimals >= 1  ? TFieldType::ftFloat
                       : f.length < 5   ? TFieldType::ftSmallint
                                        : TFieldType::ftInteger;
        break;
      case 'I': def.dataType = TFieldType::ftInteger; break;
      case 'D': def.dataType = TFieldType::ftDate; break;
      case 'L': def.dataType = TFieldType::ftBoolean; break;
      case 'M': def.dataType = TFieldType::ftMemo; break;
      case 'B':
      case 'G': def.dataType = TFieldType::ftBlob; break;
      case 'T': def.dataType = TFieldType::ftDateTime; break;
      default: continue;  // no field definition for other letters
    }
    defs.push_back(def);
  }
}

int TBrambleDataSet::RecordBufferSize() {
  m_recordInfoStart = m_recordSize + CalcFieldsSize();
  return m_recordInfoStart + kRecordInfoSize;
}

// ---- fetching ----

TFetchResult TBrambleDataSet::GetRecord(char* buffer, TFetchStep mode, bool doCheck) {
  TbrImagePointer point(*m_engine, buffer);
  bool moved = false;
  if (mode == TFetchStep::fsNext) {
    moved = m_engine->GoTo(m_firstPending ? dbf::kGoTop : dbf::kGoNext);
    m_firstPending = false;
  } else if (mode == TFetchStep::fsPrior) {
    moved = m_engine->GoTo(m_lastPending ? dbf::kGoBottom : dbf::kGoPrior);
    m_lastPending = false;
  } else if (!m_firstPending && !m_lastPending) {
    moved = m_engine->GoTo(dbf::kGoSame);
  }
  TFetchResult result = TFetchResult::frNoRecord;
  if (m_engine->Eof()) result = TFetchResult::frEOF;
  else if (m_engine->Bof()) result = TFetchResult::frBOF;
  if (moved) result = TFetchResult::frOK;
  if (result == TFetchResult::frOK) {
    SetBufferRecNo(buffer, m_engine->RecNo());
    SetBookmarkFlag(buffer, TBookmarkFlag::bfCurrent);
    CalculateFields(buffer);
  } else if (result == TFetchResult::frNoRecord && doCheck) {
    throw EDatabaseError("Record request beyond range of table");
  }
  return result;
}

void TBrambleDataSet::InternalFirst() {
  m_firstPending = true;
  m_lastPending = false;
}

void TBrambleDataSet::InternalLast() {
  m_engine->GoTo(dbf::kGoBottom);
  m_lastPending = true;
  m_firstPending = false;
}

void TBrambleDataSet::InternalSetToRecord(char* buffer) {
  const int32_t recNo = BufferRecNo(buffer);
  if (recNo > 0) m_engine->GoTo(recNo);
  m_firstPending = m_lastPending = false;
}

void TBrambleDataSet::InternalRefresh() { InternalSetToRecord(ActiveBuffer()); }

int32_t TBrambleDataSet::BufferRecNo(const char* buffer) const {
  int32_t recNo;
  std::memcpy(&recNo, buffer + m_recordInfoStart, sizeof recNo);
  return recNo;
}

// The record number and its bookmark text ("%10d" and a zero byte).
void TBrambleDataSet::SetBufferRecNo(char* buffer, int32_t recNo) {
  std::memcpy(buffer + m_recordInfoStart, &recNo, sizeof recNo);
  std::snprintf(buffer + BookmarkStart(), kBookmarkSize, "%10d", recNo);
}

TBookmarkFlag TBrambleDataSet::GetBookmarkFlag(const char* buffer) {
  return static_cast<TBookmarkFlag>(buffer[m_recordInfoStart + kBookmarkFlagOffset]);
}

void TBrambleDataSet::SetBookmarkFlag(char* buffer, TBookmarkFlag flag) {
  buffer[m_recordInfoStart + kBookmarkFlagOffset] = static_cast<char>(flag);
}

TBookmark TBrambleDataSet::GetBookmarkData(const char* buffer) {
  return TBookmark(buffer + BookmarkStart(), kBookmarkSize);
}

int TBrambleDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
  return TDataSet::CompareBookmarks(a, b);
}

void TBrambleDataSet::InternalGotoBookmark(const TBookmark& bookmark) {
  const std::string invalid = "Bookmark is invalid for table " + m_tableName;
  char* end = nullptr;
  const long recNo = std::strtol(bookmark.c_str(), &end, 10);
  if (bookmark.empty() || end == bookmark.c_str() || recNo < 1) throw EDatabaseError(invalid);
  bool reached;
  {
    dbf::TbrSuppressErrors quiet(*m_engine);
    reached = m_engine->GoTo(static_cast<int32_t>(recNo));
  }
  if (!reached) throw EDatabaseError(invalid);
  m_firstPending = m_lastPending = false;
}

int32_t TBrambleDataSet::RecNo() {
  CheckOpenTable();
  const char* buffer = State() == TDataSetState::dsCalcFields ? CalcBuffer() : GetActiveRecBuf();
  if (buffer == nullptr || State() == TDataSetState::dsFilter) return buffer ? m_engine->RecNo() : 0;
  return BufferRecNo(buffer);
}

void TBrambleDataSet::SetRecNo(int32_t recNo) {
  CheckBrowseMode();
  DoBeforeScroll();
  m_engine->GoTo(recNo);
  m_firstPending = m_lastPending = false;
  Resync();
  DoAfterScroll();
}

int32_t TBrambleDataSet::RecordCount() {
  CheckOpenTable();
  return m_engine->RecordCount();
}

bool TBrambleDataSet::GetCurrentRecord(char* buffer) {
  if (IsEmpty() || GetBookmarkFlag(ActiveBuffer()) != TBookmarkFlag::bfCurrent) return false;
  UpdateCursorPos();
  std::memcpy(buffer, ActiveBuffer(), static_cast<size_t>(m_recordSize));
  return true;
}

bool TBrambleDataSet::IsSequenced() { return m_engine && m_engine->CurrentTag() == nullptr && !m_filtered; }

bool TBrambleDataSet::AcceptRecord() {
  if (!m_filtered || !OnFilterRecord) return true;
  const TDataSetState saved = State();
  SetTempState(TDataSetState::dsFilter);
  dbf::TbrScopeExit restore([this, saved] { SetTempState(saved); });
  bool accept = true;
  OnFilterRecord(*this, accept);
  return accept;
}

}  // namespace qm::dataset

// TBrambleDataSet: index files, the current order, and searching.
#include <filesystem>

#include "dataset/bramble_alias.h"
#include "dataset/bramble_dataset.h"
#include "dataset/bramble_engine.h"
#include "dbf/scope_exit.h"
#include "dbf/text_helpers.h"

namespace qm::dataset {

// On a closed dataset the files are tried on the table opened for the moment
// (a table that does not open is no reason to refuse the list).
void TBrambleDataSet::SetIndexFiles(const std::vector<std::string>& files) {
  m_indexFiles = files;
  if (files.empty()) return;
  if (!m_engine) {
    try {
      OpenEngine(dbf::kOpenSharedReadOnly);
    } catch (const EDatabaseError&) {
      return;
    }
    dbf::TbrScopeExit close([this] { m_engine.reset(); });
    AttachIndexFiles();
    return;
  }
  CheckBrowseMode();
  AttachIndexFiles();
  SelectIndexName();
}

// Each entry: ".NDX" when it has no extension, the database directory when it
// names none; missing: "Cannot find file", not attachable: "Error getting".
void TBrambleDataSet::AttachIndexFiles() {
  if (m_indexFiles.empty()) return;
  m_engine->CloseIndexFiles();
  for (std::string name : m_indexFiles) {
    if (std::filesystem::path(name).extension().empty()) name += ".NDX";
    if (name.find('/') == std::string::npos) name = DatabaseDirectory() + name;
    const std::string path = std::filesystem::absolute(name).lexically_normal().string();
    std::error_code ec;
    if (!std::filesystem::exists(dbf::NormalizePath(path), ec)) throw EDatabaseError("Cannot find file " + path);
    int32_t result;
    {
      dbf::TbrSuppressErrors quiet(*m_engine);
      result = m_engine->OpenIndexFile(path);
    }
    if (result != 0) throw EDatabaseError("Error getting " + path);
  }
}

void TBrambleDataSet::SetIndexName(const std::string& name) {
  if (name == m_indexName) return;
  m_indexName = name;
  if (!m_engine) return;
  CheckBrowseMode();
  SelectIndexName();
}

void TBrambleDataSet::SelectIndexName() {
  m_engine->SelectTag(m_indexName, true);
  try {
    CursorPosChanged();
    UpdateCursorPos();
    Resync();
  } catch (const EDatabaseError&) {
    // the order is selected; a record that cannot be shown again is left as it is
  }
  DoAfterScroll();
}

bool TBrambleDataSet::IndexOn(const std::string& fileName, const std::string& tagName,
                              const std::string& keyExpression, const std::string& forCondition,
                              int uniqueOption, int orderOption) {
  CheckOpenTable();
  CheckBrowseMode();
  m_busy = Busy::BuildingIndex;
  DisableControls();
  bool built = false;
  {
    dbf::TbrScopeExit done([this] {
      m_busy = Busy::Idle;
      EnableControls();
    });
    built = m_engine->BuildIndex(fileName, tagName, keyExpression, forCondition, uniqueOption, orderOption);
  }
  First();
  return built;
}

void TBrambleDataSet::IndexFileOpen(const std::string& files, const std::string& tagName) {
  CheckOpenTable();
  CheckBrowseMode();
  m_engine->OpenIndexList(files, tagName);
  m_indexName = tagName;
  CursorPosChanged();
  UpdateCursorPos();
  Resync();
}

int TBrambleDataSet::TagCount() {
  CheckOpenTable();
  return m_engine->TagCount();
}

std::string TBrambleDataSet::TagName(int n) {
  CheckOpenTable();
  index::TbrNdxTag* tag = m_engine->TagByNumber(n);
  return tag != nullptr ? tag->File().TagName() : std::string();
}

std::string TBrambleDataSet::TagKey(int n) {
  CheckOpenTable();
  index::TbrNdxTag* tag = m_engine->TagByNumber(n);
  return tag != nullptr ? tag->File().Expression() : std::string();
}

std::string TBrambleDataSet::TagFor(int n) {
  CheckOpenTable();
  return {};  // NDX files have no for-condition
}

std::string TBrambleDataSet::CurrentTagName() {
  CheckOpenTable();
  return m_engine->CurrentTagName();
}

bool TBrambleDataSet::SearchRecords(const std::string& value, int32_t& fieldNo, int options, int32_t& recNo) {
  CheckOpenTable();
  CheckBrowseMode();
  DisableControls();
  dbf::TbrScopeExit enable([this] { EnableControls(); });
  DoBeforeScroll();
  UpdateCursorPos();
  m_engine->SetSearchOptions(options);
  const bool found = m_engine->SequentialSearch(Utf8ToFileText(value), fieldNo, 0, recNo) > 0;
  if (found) {
    m_firstPending = m_lastPending = false;
    Resync();
    DoAfterScroll();
  } else {
    CursorPosChanged();
  }
  return found;
}

// The first tag, in tag number order, without a for-condition whose key is the field.
int TBrambleDataSet::FindTagFor(const std::string& keyField) {
  for (int n = 1; n <= m_engine->TagCount(); ++n)
    if (TagFor(n).empty() && dbf::SameTextIgnoringCase(TagKey(n), keyField)) return n;
  return 0;
}

bool TBrambleDataSet::Locate(const std::string& keyField, const std::string& keyValue, TLocateOptions options) {
  if (RecordCount() == 0) return false;
  CheckBrowseMode();
  const std::string savedTag = m_engine->CurrentTagName();
  const int tag = FindTagFor(keyField);
  if (tag == 0) {
    int options32 = 32 + (options.partialKey ? 4 : 2) + (options.caseInsensitive ? 1 : 0);
    int32_t fieldNo = m_engine->FieldNumber(keyField);
    int32_t recNo = 0;
    return SearchRecords(keyValue + (options.partialKey ? "*" : ""), fieldNo, options32, recNo);
  }
  const int32_t remembered = BufferRecNo(ActiveBuffer());
  m_engine->SelectTag(TagName(tag), true);
  dbf::TbrScopeExit reselect([this, &savedTag] { m_engine->SelectTag(savedTag, true); });
  DoBeforeScroll();
  UpdateCursorPos();
  m_engine->SetExactMatch(!options.partialKey);
  m_engine->SetStayNear(false);
  const bool found = m_engine->FindKey(Utf8ToFileText(keyValue));
  if (found) {
    m_firstPending = m_lastPending = false;
    Resync();
    DoAfterScroll();
  } else if (remembered > 0) {
    m_engine->GoTo(remembered);
  }
  return found;
}

TFieldValue TBrambleDataSet::Lookup(const std::string& keyField, const std::string& keyValue,
                                    const std::string& resultField) {
  if (RecordCount() == 0) return {};
  CheckBrowseMode();
  TField& result = FieldByName(resultField);
  const std::string savedTag = m_engine->CurrentTagName();
  const int32_t remembered = BufferRecNo(ActiveBuffer());
  dbf::TbrScopeExit back([this, &savedTag, remembered] {
    m_engine->SelectTag(savedTag, true);
    if (remembered > 0) m_engine->GoTo(remembered);
    CursorPosChanged();
  });
  bool found;
  if (const int tag = FindTagFor(keyField)) {
    m_engine->SelectTag(TagName(tag), false);
    m_engine->SetExactMatch(false);
    m_engine->SetStayNear(false);
    found = m_engine->FindKey(Utf8ToFileText(keyValue));
  } else {
    int32_t fieldNo = m_engine->FieldNumber(keyField);
    int32_t recNo = 0;
    m_engine->SetSearchOptions(36);
    found = m_engine->SequentialSearch(Utf8ToFileText(keyValue), fieldNo, 0, recNo) > 0;
  }
  if (!found) return {};
  if (IsBlobType(result.DataType())) return FileTextToUtf8(m_engine->MemoText(result.FieldNo()));
  return GetFieldData(result, m_engine->RecordImage());
}

}  // namespace qm::dataset

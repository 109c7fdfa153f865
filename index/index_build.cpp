// Index builds: the build driver of the ordered table and the NDX bottom-up build.
#include <cstring>

#include "index/index_errors.h"
#include "index/index_table.h"
#include "index/key_sorter.h"
#include "index/ndx_format.h"
#include "index/ndx_key.h"

namespace qm::index {

namespace {

// Builds the tree bottom-up from keys arriving in order: one page buffer per level;
// a full page is written and its last key goes one level up with its block.
class TbrNdxPageBuilder : public TbrKeySink {
 public:
  explicit TbrNdxPageBuilder(TbrNdxFile& file) : m_file(file) {}

  void Output(int32_t recNo, std::string_view sortText) override {
    Add(0, StoredFromSortText(sortText, m_file.Geometry().character),
        static_cast<uint32_t>(recNo));
  }

  // Writes the partly filled pages; the topmost becomes the root.
  bool Finish() {
    if (m_levels.empty()) m_levels.emplace_back();
    for (size_t level = 0; level < m_levels.size() && m_ok; ++level) {
      TbrNdxPage& page = m_levels[level];
      page.block = m_file.AllocateBlock();
      bool top = level + 1 == m_levels.size();
      if (top) m_file.SetRoot(page.block);
      Queue(page);
      if (!top) Add(level + 1, page.entries.back().key, page.block);
    }
    return WritePending() && m_ok;
  }

 private:
  void Add(size_t level, const std::string& key, uint32_t value) {
    if (!m_ok) return;
    if (level >= static_cast<size_t>(ndx::kMaxLevels)) {
      m_ok = false;
      return;
    }
    if (m_levels.size() <= level) {
      m_levels.emplace_back();
      m_levels.back().leaf = level == 0;
    }
    TbrNdxPage& page = m_levels[level];
    // A full inner page keeps one key less: its last entry is the extra child.
    size_t capacity = static_cast<size_t>(m_file.Geometry().maxKeys);
    if (page.entries.size() >= capacity) {
      page.block = m_file.AllocateBlock();
      Queue(page);
      std::string last = page.entries.back().key;
      uint32_t block = page.block;
      m_levels[level].entries.clear();
      Add(level + 1, last, block);
    }
    m_levels[level].entries.push_back(TbrNdxEntry{key, value});
  }

  // Pages get their blocks in ascending order as they are finished, so runs of
  // them go to the file in one write.
  void Queue(const TbrNdxPage& page) {
    size_t blocks = m_pending.size() / ndx::kBlockSize;
    if (page.block != m_pendingStart + blocks || blocks >= kPendingBlocks) {
      m_ok = WritePending() && m_ok;
      m_pendingStart = page.block;
    }
    m_pending.resize(m_pending.size() + ndx::kBlockSize);
    EncodeNdxPage(page, m_file.Geometry(), m_pending.data() + m_pending.size() - ndx::kBlockSize);
  }

  bool WritePending() {
    bool ok = m_pending.empty() ||
              m_file.Write(static_cast<int64_t>(m_pendingStart) * ndx::kBlockSize, m_pending.data(),
                           static_cast<uint32_t>(m_pending.size()));
    m_pending.clear();
    return ok;
  }

  static constexpr size_t kPendingBlocks = 128;
  TbrNdxFile& m_file;
  std::vector<TbrNdxPage> m_levels;
  std::vector<uint8_t> m_pending;
  uint32_t m_pendingStart = 0;
  bool m_ok = true;
};

}  // namespace

bool TbrIndexTable::BuildTree(TbrNdxFile& file) {
  TbrNdxPageBuilder builder(file);
  TbrKeySorter sorter(builder, "", file.Ascending(), file.Unique());
  if (OnStatus) OnStatus(-1, 1, RecordCount());
  try {
    std::string key;
    for (bool ok = GoTo(dbf::kGoTop); ok; ok = GoTo(dbf::kGoNext)) {
      if (!KeyFor(file, nullptr, key)) return false;
      sorter.Add(RecNo(), SortTextFromStored(key, file.Geometry().character));
      if (OnStatus) OnStatus(1, 1, RecNo());
    }
    if (OnStatus) OnStatus(-1, 2, static_cast<int32_t>(sorter.Count()));
    sorter.Finish();
  } catch (const TbrSortError& error) {  // the work file failed; it is still removed
    Report(error.Code(), error.SubCode(), error.what());
    return false;
  }
  bool ok = builder.Finish();
  file.MarkHeaderChanged();
  if (OnStatus) OnStatus(0, 0, 0);
  return ok && file.WriteHeader();
}

// Evaluates the key once to size it, then writes header and tree.
bool TbrIndexTable::CreateNdx(TbrNdxFile& file, const std::string& expression, bool ascending,
                              bool unique) {
  file.SetExpression(expression);
  file.SetAscending(ascending);
  file.SetUnique(unique);
  std::string text;
  char type = 0;
  bool changed = false;
  TbrExprContext context{this, nullptr, 0, true, &OnFormula};
  if (!EvaluateExpression(context, file.TagName(), expression, text, type, changed)) return false;
  if (type == 'C' && text.size() > static_cast<size_t>(ndx::kMaxKeyLength)) {
    Report(code::kExpression, subcode::kExpression, expression);
    return false;
  }
  file.SetKeyLayout(type == 0 ? 'C' : type, static_cast<int>(text.size()));
  uint8_t zero[ndx::kBlockSize] = {};
  if (!file.Write(0, zero, sizeof zero)) return false;
  file.AllocateBlock();  // the header's block
  return BuildTree(file);
}

bool TbrIndexTable::BuildIndex(const std::string& fileName, const std::string& tagName,
                               const std::string& keyExpression, const std::string& forCondition,
                               int uniqueOption, int orderOption) {
  CloseIndexFiles();
  bool readAhead = ReadAhead();
  SetReadAhead(true);
  std::string path = IndexPath(fileName);
  std::string expression = keyExpression;
  NormalizeExpression(expression);
  std::string extension = path.substr(path.rfind('.'));
  bool translate = orderOption == 7 || orderOption == 8;
  bool ok = false;
  if ((extension == ".CDX" || extension == ".MDX") &&
      (tagName.empty() || tagName.size() > 31)) {
    Report(code::kTagRequired, subcode::kTagEmpty, "Tag Field is Empty");
  } else if (extension != ".NDX") {
    Report(code::kFileNotFound, subcode::kFileName, path);
  } else {
    TbrNdxFile file(path, OpenMode(), this);
    bool created;
    {
      dbf::TbrSuppressErrors quiet(file);
      created = file.CreateIndex();
    }
    if (!created) {
      Report(file.Exists() ? code::kSharing : code::kFileNotFound, subcode::kFileName, path);
    } else {
      file.SetGeneralTranslation(translate);
      m_mode = TbrTableMode::Indexing;
      try {
        // An NDX file has no place for a descending flag: every reader, this engine
        // after reopening included, walks it as ascending, so it is always built so.
        ok = CreateNdx(file, expression, true, uniqueOption == 0);
      } catch (...) {
        m_mode = TbrTableMode::Normal;
        SetReadAhead(readAhead);
        throw;
      }
      m_mode = TbrTableMode::Normal;
      file.Close();
    }
  }
  (void)forCondition;  // NDX keeps no for-condition
  SetReadAhead(readAhead);
  return ok;
}

bool TbrIndexTable::Reindex() {
  bool ok = true;
  TbrNdxTag* current = m_current;
  m_current = nullptr;  // builds walk the table in physical order
  for (Slot& slot : m_files) {
    TbrNdxFile& file = *slot.file;
    slot.tag->Release();
    if (file.LockingActive() && !file.Lock(0, dbf::kWholeFileLength)) {
      Report(code::kLockRefused, subcode::kIndexLock, file.Path());
      ok = false;
      continue;
    }
    bool done = file.Truncate(0);
    if (done) {
      uint8_t zero[ndx::kBlockSize] = {};
      file.StartOver();
      done = file.Write(0, zero, sizeof zero);
      file.AllocateBlock();  // the header's block
    }
    done = done && BuildTree(file);
    if (file.Locked()) file.Unlock();
    ok = done && ok;
  }
  m_current = current;
  if (m_current != nullptr) SyncTag(*m_current, false);
  return ok;
}

bool TbrIndexTable::EmptyIndexes() {
  bool ok = true;
  for (Slot& slot : m_files) {
    slot.tag->Release();
    ok = slot.file->EmptyIndex() && ok;
  }
  return ok;
}

}  // namespace qm::index

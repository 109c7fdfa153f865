// Index builds: the build driver of the ordered table.
//
// Every build goes to a work file beside the index (".qm<pid>-<n>.tmp" after its
// name, n unguessable, created exclusively) and
// reaches the real name only when it is complete, so a failed build (a key that
// cannot be evaluated or is too wide, a read-only table, a full disk) leaves any
// index that was there untouched. A new index is renamed into place; an existing
// one is overwritten from the work file while its whole-file lock is held from
// before the build, so that other table objects that have it open keep sharing one
// file and no key written meanwhile is lost.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <vector>

#include "dbf/disk_io.h"
#include "dbf/errors.h"
#include "dbf/scope_exit.h"
#include "index/index_errors.h"
#include "index/index_table.h"
#include "index/key_sorter.h"
#include "index/ndx_format.h"
#include "index/ndx_key.h"
#include "index/ndx_page_builder.h"

namespace qm::index {

namespace {

// A work file name beside the index, nobody can plant anything under in
// advance ("<index>.qm<pid>-<n>.tmp", n unguessable); the file is created
// exclusively by the index file's create.
std::string WorkPathFor(const std::string& path) {
  return path + ".qm" + std::to_string(::getpid()) + "-" + std::to_string(dbf::UnguessableNumber()) + ".tmp";
}

// Removes the work files of builds of `target` whose process no longer exists
// (killed before it could remove them); a build running beside this one keeps its own.
void RemoveLeftWorkFiles(const std::string& target) {
  const std::filesystem::path path(target);
  dbf::RemoveLeftWorkFiles(path.parent_path().string(), path.filename().string());
}

bool HasByteBelowBlank(std::string_view key) {
  return std::any_of(key.begin(), key.end(), [](char c) { return static_cast<uint8_t>(c) < ' '; });
}

bool IsUpperExpression(const std::string& expression) {
  return expression.rfind("UPPER(", 0) == 0 && expression.back() == ')' &&
         expression.find(')') == expression.size() - 1;
}

// The work file of one build: removed however the build ends, unless it was renamed.
class WorkIndex {
 public:
  WorkIndex(const std::string& target, uint8_t openMode, dbf::TbrErrorReporter* owner)
      : m_file(WorkPathFor(target), openMode, owner) {}
  ~WorkIndex() {
    m_file.Close();
    if (!m_renamed) dbf::Disk().Remove(m_file.Path().c_str());
  }
  WorkIndex(const WorkIndex&) = delete;
  WorkIndex& operator=(const WorkIndex&) = delete;

  TbrNdxFile& File() { return m_file; }
  bool Create() {
    dbf::TbrSuppressErrors quiet(m_file);
    return m_file.CreateIndex();
  }
  bool RenameTo(const std::string& target) {
    m_file.Close();
    m_renamed = dbf::Disk().Rename(m_file.Path().c_str(), target.c_str()) == 0;
    return m_renamed;
  }

 private:
  TbrNdxFile m_file;
  bool m_renamed = false;
};

// Writes the finished work file over `target` (whole-file locked by the caller) and
// cuts the target to its length; the target then reads its new header. The pages go
// first under the target's change mark and the header, which clears it, last: a
// process killed part way leaves a marked file, rebuilt by the next open in key order.
bool CopyIndexInto(TbrNdxFile& from, TbrNdxFile& target) {
  int64_t size = from.FileSize();
  if (size < ndx::kBlockSize || !target.BeginChange()) return false;
  std::vector<uint8_t> buffer(64 * ndx::kBlockSize);
  auto copy = [&](int64_t at, int64_t end) {
    for (; at < end; at += static_cast<int64_t>(buffer.size())) {
      auto length = static_cast<uint32_t>(std::min<int64_t>(end - at, buffer.size()));
      if (!from.Read(at, buffer.data(), length) || !target.Write(at, buffer.data(), length)) return false;
    }
    return true;
  };
  if (!copy(ndx::kBlockSize, size) || !target.Truncate(size) || !copy(0, ndx::kBlockSize)) return false;
  target.EndChange();  // the header just copied holds no mark; this forgets this object's
  return target.Flush() && target.ReadHeader();
}

}  // namespace

// Sorts the keys of every accepted record and builds the tree into `file`.
// Blank-padded keys (as every NDX reader compares them) order a byte below the
// blank before the blank, which the sorter's byte order of trimmed keys does not;
// so the first such key restarts the sort with every key padded to full length.
bool TbrIndexTable::BuildTree(TbrNdxFile& file) {
  std::optional<bool> built = SortIntoTree(file, false);
  if (!built) built = SortIntoTree(file, true);
  return *built;
}

std::optional<bool> TbrIndexTable::SortIntoTree(TbrNdxFile& file, bool padded) {
  const bool character = file.Geometry().character;
  const auto keyLength = static_cast<size_t>(file.Geometry().keyLength);
  TbrNdxPageBuilder builder(file, padded);
  TbrKeySorter sorter(builder, "", file.Ascending(), file.Unique());
  if (OnStatus) OnStatus(-1, 1, RecordCount());
  try {
    std::string key;
    for (bool ok = GoTo(dbf::kGoTop); ok; ok = GoTo(dbf::kGoNext)) {
      if (!KeyFor(file, nullptr, key)) return false;
      if (!character) {
        sorter.Add(RecNo(), SortTextFromStored(key, false));
      } else if (padded) {
        key.resize(keyLength, ' ');
        sorter.Add(RecNo(), key + '\x01');
      } else if (HasByteBelowBlank(key)) {
        return std::nullopt;
      } else {
        sorter.Add(RecNo(), key);
      }
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

// Evaluates the key once to size it, then writes header and tree. Upper-cased keys
// are asked for by an UPPER() around the expression, which the file keeps, so every
// later open maintains and finds keys the way they were built.
bool TbrIndexTable::CreateNdx(TbrNdxFile& file, std::string expression, bool unique,
                              bool upperCase) {
  std::string text;
  char type = 0;
  bool changed = false;
  TbrExprContext context{this, nullptr, 0, true, &OnFormula};
  if (!EvaluateExpression(context, file.TagName(), expression, text, type, changed)) return false;
  if (type == 'C' && text.size() > static_cast<size_t>(kMaxNdxKeyLength)) {
    Report(code::kExpression, subcode::kExpression,
           "The key " + expression + " is " + std::to_string(text.size()) +
               " characters wide; an NDX index holds keys of at most " +
               std::to_string(kMaxNdxKeyLength));
    return false;
  }
  if (upperCase && (type == 0 || type == 'C') && !IsUpperExpression(expression))
    expression = "UPPER(" + expression + ")";
  if (expression.size() > static_cast<size_t>(ndx::kExpressionMax)) {
    Report(code::kExpression, subcode::kExpression, expression);
    return false;
  }
  file.SetExpression(expression);
  file.SetAscending(true);
  file.SetUnique(unique);
  file.SetKeyLayout(type == 0 ? 'C' : type, static_cast<int>(text.size()));
  return WriteNewTree(file);
}

// Writes the header's block and the tree into a freshly created file.
bool TbrIndexTable::WriteNewTree(TbrNdxFile& file) {
  uint8_t zero[ndx::kBlockSize] = {};
  if (!file.Write(0, zero, sizeof zero)) return false;
  file.AllocateBlock();  // the header's block
  return BuildTree(file);
}

// The table as a build walks it: physical order, read-ahead on, indexing mode;
// restored however the build ends.
class TbrIndexTable::BuildScope {
 public:
  explicit BuildScope(TbrIndexTable& table)
      : m_table(table), m_readAhead(table.ReadAhead()), m_current(table.m_current) {
    table.m_current = nullptr;
    table.SetReadAhead(true);
    table.m_mode = TbrTableMode::Indexing;
  }
  ~BuildScope() {
    m_table.m_mode = TbrTableMode::Normal;
    m_table.SetReadAhead(m_readAhead);
    m_table.m_current = m_current;
  }
  BuildScope(const BuildScope&) = delete;
  BuildScope& operator=(const BuildScope&) = delete;

 private:
  TbrIndexTable& m_table;
  bool m_readAhead;
  TbrNdxTag* m_current;
};

// A table opened read-only (or whose file is) cannot have its indexes written:
// refused up front, naming the index, before anything is created.
bool TbrIndexTable::IndexWritable(const std::string& path) {
  if (!ReadOnly()) return true;
  Report(dbf::code::kAccessDenied, subcode::kFileName, path);
  return false;
}

// Opens an existing index file and takes its whole-file lock for a rebuild.
bool TbrIndexTable::LockForRebuild(TbrNdxFile& file) {
  if (!file.IsOpen()) {
    bool opened;
    {
      dbf::TbrSuppressErrors quiet(file);
      opened = file.Open();
    }
    if (!opened) {
      Report(code::kSharing, subcode::kFileName, file.Path());
      return false;
    }
  }
  bool locked;
  {
    dbf::TbrSuppressErrors quiet(file);
    locked = !file.LockingActive() || file.Lock(0, dbf::kWholeFileLength);
  }
  if (!locked) Report(code::kLockRefused, subcode::kIndexLock, file.Path());
  return locked;
}

bool TbrIndexTable::BuildIndex(const std::string& fileName, const std::string& tagName,
                               const std::string& keyExpression, const std::string& forCondition,
                               int uniqueOption, int orderOption) {
  CloseIndexFiles();
  std::string path = IndexPath(fileName);
  std::string expression = keyExpression;
  NormalizeExpression(expression);
  std::string extension = path.substr(path.rfind('.'));
  (void)forCondition;  // NDX keeps no for-condition
  if ((extension == ".CDX" || extension == ".MDX") && (tagName.empty() || tagName.size() > 31)) {
    Report(code::kTagRequired, subcode::kTagEmpty, "Tag Field is Empty");
    return false;
  }
  if (extension != ".NDX") {
    Report(code::kFileNotFound, subcode::kFileName, path);
    return false;
  }
  if (!IndexWritable(path)) return false;
  TbrNdxFile target(path, OpenMode(), this);
  target.SetLockingProtocol(static_cast<int>(LockingProtocol()));
  const bool replacing = target.Exists();
  // The rebuild's whole-file lock goes however the rebuild ends.
  dbf::TbrScopeExit unlock([&target] { target.UnlockIndex(); });
  if (replacing && !LockForRebuild(target)) return false;
  RemoveLeftWorkFiles(target.Path());
  WorkIndex work(target.Path(), OpenMode(), this);
  if (!work.Create()) {
    Report(code::kFileNotFound, subcode::kFileName, path);
    return false;
  }
  bool ok;
  {
    BuildScope scope(*this);
    // An NDX file has no place for a descending flag: every reader, this engine
    // after reopening included, walks it as ascending, so it is always built so.
    ok = CreateNdx(work.File(), expression, uniqueOption == kIndexUnique,
                    orderOption == kIndexAscendingUpper || orderOption == kIndexDescendingUpper);
  }
  if (!ok) return false;
  if (replacing) return CopyIndexInto(work.File(), target);
  if (work.RenameTo(target.Path())) return true;
  Report(code::kFileNotFound, subcode::kFileName, path);
  return false;
}

// Rebuilds one attached index into a work file with its own key, then over itself.
bool TbrIndexTable::RebuildAttached(TbrNdxFile& file) {
  dbf::TbrScopeExit unlock([&file] { file.UnlockIndex(); });
  if (!IndexWritable(file.Path()) || !LockForRebuild(file)) return false;
  WorkIndex work(file.Path(), OpenMode(), this);
  if (!work.Create()) {
    Report(code::kFileNotFound, subcode::kFileName, file.Path());
    return false;
  }
  TbrNdxFile& fresh = work.File();
  fresh.SetExpression(file.Expression());
  fresh.SetAscending(file.Ascending());
  fresh.SetUnique(file.Unique());
  fresh.SetKeyLayout(file.Geometry().character ? 'C' : file.KeyType(), file.Geometry().keyLength);
  bool ok;
  {
    BuildScope scope(*this);
    ok = WriteNewTree(fresh);
  }
  return ok && CopyIndexInto(fresh, file);
}

bool TbrIndexTable::Reindex() {
  bool ok = true;
  for (Slot& slot : m_files) {
    slot.tag->Release();
    ok = RebuildAttached(*slot.file) && ok;
  }
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

#pragma once
// The ordered table: the engine table object with up to 63 attached index files and
// a current tag. Record movement follows the current tag (physical order without
// one) and skips deleted records (unless use-deleted is on) and records the
// acceptance callback rejects; every append and replace keeps all attached indexes
// in step, with the index files locked around the write.
//
// The only index format is NDX; ".CDX", ".MDX" and ".NTX" names are recognised and
// refused as files this engine cannot open. Errors travel through the table's error
// operation (Error(), overridden by the dataset component).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dbf/table.h"
#include "index/key_expr.h"
#include "index/ndx_file.h"
#include "index/ndx_tag.h"

namespace qm::index {

// The unique and order options of BuildIndex (and of the dataset's IndexOn).
inline constexpr int kIndexUnique = 0;            // each key value once (the first record's)
inline constexpr int kIndexDuplicates = 1;        // any value but 0 keeps every record
inline constexpr int kIndexAscending = 0;
inline constexpr int kIndexDescending = 1;        // NDX files are ascending whatever is asked
inline constexpr int kIndexAscendingUpper = 7;    // character keys upper-cased
inline constexpr int kIndexDescendingUpper = 8;

class TbrIndexTable : public dbf::TbrTable {
 public:
  static constexpr int kMaxIndexFiles = 63;
  enum class TbrTableMode { Normal, Indexing };

  TbrIndexTable(const std::string& path, uint8_t openMode);
  ~TbrIndexTable() override;

  // ---- index files ----
  // 0 on success, 1 when the file is already attached, else the reported error code
  // (2 missing or unknown kind, 2112 exists but cannot be opened, 1001 damaged).
  int32_t OpenIndexFile(const std::string& name);
  // Closes all, opens the names of `list` (separated by blanks, tabs and line breaks
  // outside double quotes) in order, stops at the first failure; then selects `tag`
  // keeping the current record. Returns 0 or the first error.
  int32_t OpenIndexList(const std::string& list, const std::string& tag);
  void CloseIndexFiles();
  int IndexFileCount() const { return static_cast<int>(m_files.size()); }
  // Slot number (1-based) of the file holding the tag, 0 for an empty name
  // (physical order), -1 when no attached file has it (physical order too).
  int SelectTag(const std::string& name, bool keepPosition);
  TbrNdxTag* CurrentTag() { return m_current; }
  std::string CurrentTagName() const;
  int TagCount() const { return IndexFileCount(); }
  TbrNdxTag* TagByNumber(int n);

  // ---- ordered movement ----
  bool GoTo(int32_t recordNo) override;
  // Seeks `text` in the current tag (see SetExactMatch/SetStayNear); true when found.
  bool FindKey(const std::string& text);
  void SetExactMatch(bool on) { m_exact = on; }
  void SetStayNear(bool on) { m_stayNear = on; }
  bool Found() const { return m_found; }

  // ---- sequential search ----
  // Options word: 1 case-insensitive; 2 whole-field match; 4 wildcard mode (leading
  // "*" anywhere, trailing "*" continues, "?" any character); 8 keep the state;
  // 16 keep the current order (else physical order); 32 match at the field's start.
  void SetSearchOptions(int options) { m_searchOptions = options; }
  int SearchOptions() const { return m_searchOptions; }
  // Searches `value` in field `field` (0: every field) from the record after
  // `recNo` (0: from the top) up to record `limit` (0: no limit). Found: the
  // position of the match in the field text (from 1), `field` and `recNo` set and
  // the table on that record; not found: 0 and the table back where it stood.
  int SequentialSearch(const std::string& value, int32_t& field, int32_t limit, int32_t& recNo);

  // ---- writes keep every index in step ----
  // A write whose key maintenance fails (the disk full or failing under an index
  // page) stands in the table and returns false: the index file is then out of
  // step, is left alone for the rest of this open and keeps its change mark
  // (see MarkedWrite), so that whoever opens the product table next rebuilds it.
  bool AppendRecord() override;
  bool ReplaceRecord(int32_t recordNo) override;
  // False once a key maintenance write to index file n (1-based) failed.
  bool IndexInStep(int n) const;
  // Every attached index file locked, in slot order (counted: the writes above
  // take them again). Every write takes them before any other lock, so a
  // caller that writes more than the record (memos) takes them first too; a
  // refusal is reported and leaves none held.
  bool LockIndexes();
  void UnlockIndexes();
  // Releases the index locks however the write ends (an error handler may raise).
  class IndexLockScope {
   public:
    explicit IndexLockScope(TbrIndexTable& table) : m_table(table) {}
    ~IndexLockScope() { m_table.UnlockIndexes(); }
    IndexLockScope(const IndexLockScope&) = delete;
    IndexLockScope& operator=(const IndexLockScope&) = delete;

   private:
    TbrIndexTable& m_table;
  };

  // ---- building ----
  // Creates an NDX file over the table (existing contents replaced once the build
  // is complete; a failed build leaves them as they were); unique when uniqueOption
  // is kIndexUnique; kIndexAscendingUpper and kIndexDescendingUpper upper-case
  // character keys, kept as UPPER() around the stored expression. NDX files are
  // always ascending (the format cannot say otherwise). The new file is not attached.
  bool BuildIndex(const std::string& fileName, const std::string& tagName,
                  const std::string& keyExpression, const std::string& forCondition,
                  int uniqueOption, int orderOption);
  // Rebuilds every attached index from the table, each under its whole-file lock into
  // a work file first, so a failed rebuild leaves the index as it was; EmptyIndexes
  // truncates them (zap).
  bool Reindex();
  bool EmptyIndexes();

  // Writes the table's present print into an index just built from it
  // (ndx_format.h): callers hold the table still meanwhile.
  void StampTablePrint(TbrNdxFile& file);

  // The stored key of a tag for a record image (the current one when null).
  bool KeyFor(TbrNdxFile& file, const char* image, std::string& stored);

  // ---- callbacks and settings ----
  std::function<bool(TbrIndexTable&)> OnAcceptRecord;  // false rejects the current record
  TbrFormulaHandler OnFormula;
  std::function<void(int code, int phase, int32_t value)> OnStatus;  // progress only
  TbrTableMode Mode() const { return m_mode; }
  // Index file names as the engine forms them: upper-cased file name, the table's
  // directory when none is given, ".NDX" when there is no extension.
  std::string IndexPath(const std::string& name) const;

 protected:
  void TableEvent(int code, int32_t number) override;
  bool IndexAttached() const override { return !m_files.empty(); }

 private:
  struct Slot {
    std::unique_ptr<TbrNdxFile> file;
    std::unique_ptr<TbrNdxTag> tag;
    bool outOfStep = false;  // a key maintenance write failed, or another left the mark: see MarkedWrite
  };
  size_t OutOfStepIndexes() const;
  void NoticeIndexesLeftMarked();
  bool MaintainKeysOf(Slot& slot, int32_t number);

  bool Accepted();
  bool MoveInOrder(int32_t code);
  bool MoveOnce(int32_t code, int32_t& recNo);
  void BlankImage();
  bool SyncTag(TbrNdxTag& tag, bool report);
  int32_t PlainKeyField(TbrNdxFile& file);
  bool MaintainKeys(int32_t number);
  bool MarkedWrite(const std::function<bool()>& write);
  class BuildScope;
  bool BuildTree(TbrNdxFile& file);
  std::optional<bool> SortIntoTree(TbrNdxFile& file, bool padded);
  bool CreateNdx(TbrNdxFile& file, std::string expression, bool unique, bool upperCase);
  bool WriteNewTree(TbrNdxFile& file);
  bool IndexWritable(const std::string& path);
  bool LockForRebuild(TbrNdxFile& file);
  bool RebuildAttached(TbrNdxFile& file);
  void Report(int32_t code, int32_t subCode, const std::string& text);

  int MatchField(int32_t field, const std::string& value, bool allFields);

  std::vector<Slot> m_files;
  int m_searchOptions = 0;
  TbrNdxTag* m_current = nullptr;
  bool m_exact = false;
  bool m_stayNear = false;
  bool m_found = false;
  int m_lockDepth = 0;
  TbrTableMode m_mode = TbrTableMode::Normal;
};

}  // namespace qm::index

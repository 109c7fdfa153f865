#pragma once
// The tag of an NDX file: a cursor over its B-tree and the key operations that keep
// the tree in step with the table (seek, insert with page split, delete).
//
// The cursor is the loaded path: one page per level from the root down to a leaf,
// each with the index of its current entry. Keys are in their in-memory form
// (ndx_key.h). Every change is written through at once, so nothing is pending when
// the path is dropped. A descent deeper than 31 levels, into a block already on the
// path (a cycle), or a walk meeting a page a second time (a subtree shared by two
// parents) is damage and is reported instead of followed.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "index/ndx_file.h"

namespace qm::index {

class TbrNdxTag {
 public:
  enum class SeekResult { Found, Less, PastEnd, Failed };

  explicit TbrNdxTag(TbrNdxFile& file) : m_file(file) {}

  TbrNdxFile& File() { return m_file; }
  // Drops the path and re-reads the header (another writer may have moved the root).
  bool Reload();
  void Release() { m_path.clear(); }

  // kGoTop/kGoBottom/kGoNext/kGoPrior/kGoSame; returns the record number, 0 when
  // the move ran off either end (Bof()/Eof()) or failed.
  int32_t Move(int32_t code);
  bool Bof() const { return m_bof; }
  bool Eof() const { return m_eof; }
  int32_t RecNo() const { return m_recNo; }
  const std::string& Key() const { return m_key; }

  // Positions on the first key not below `key` (for character keys without `exact`,
  // a longer key that starts with `key` counts as equal).
  SeekResult Seek(std::string_view key, bool exact);
  // Positions on the entry holding exactly `key` and `recNo`. Equal keys are in
  // record-number order, so the search is logarithmic; files whose equal keys are
  // in another order (other writers) are then searched entry by entry.
  bool SeekEntry(std::string_view key, int32_t recNo);
  // Stands the cursor for record `recNo` with key `key`: on its entry (Found), or,
  // when it has none (a unique tag's duplicate), between the entries around the
  // pair's place (Less): next gives the entry after that place, prior the one before.
  SeekResult Stand(std::string_view key, int32_t recNo);

  // Inserts the pair at its place in key and record-number order; a unique tag skips
  // a key it already has (`inserted` false). The cursor then stands on the new key.
  bool Insert(std::string_view key, int32_t recNo, bool* inserted = nullptr);
  // Removes the pair when present (`found` tells).
  bool Delete(std::string_view key, int32_t recNo, bool* found = nullptr);

  // Key order of this tag: the key comparison, negated for descending tags.
  int Compare(std::string_view a, std::string_view b, int* matched = nullptr) const;

 private:
  struct Level {
    TbrNdxPage page;
    int index = 0;
  };

  bool LoadRoot();
  bool LoadChild();
  bool FirstVisit(uint32_t block);
  int ComparePair(std::string_view key, uint32_t recNo, std::string_view otherKey,
                  int32_t otherRecNo) const;
  bool SeekPair(std::string_view key, int32_t recNo);
  bool ChildFor(const TbrNdxPage& page, std::string_view key, int32_t recNo, int& child);
  bool LastEntryBelow(uint32_t block, const TbrNdxEntry*& last, TbrNdxPage& scratch);
  bool Collapse(size_t level);
  bool Descend(bool last);
  bool Step(bool forward);
  void TakeCurrent();
  bool TakeInOrder(bool forward);
  bool SeekPath(std::string_view key, bool afterEqual, bool exact);
  bool UpdateSeparators(size_t level, const std::string& key);
  bool WriteLevel(size_t level);
  bool SplitLevel(size_t level);
  bool RemoveAt(size_t level);

  TbrNdxFile& m_file;
  std::vector<Level> m_path;
  // Pages read since the walk started or turned: a sound tree never shows one twice.
  std::vector<bool> m_visited;
  bool m_forward = true;
  bool m_between = false;  // standing for a record without an entry (Stand)
  bool m_bof = false;
  bool m_eof = false;
  int32_t m_recNo = 0;
  std::string m_key;
};

}  // namespace qm::index

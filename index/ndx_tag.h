#pragma once
// The tag of an NDX file: a cursor over its B-tree and the key operations that keep
// the tree in step with the table (seek, insert with page split, delete).
//
// The cursor is the loaded path: one page per level from the root down to a leaf,
// each with the index of its current entry. Keys are in their in-memory form
// (ndx_key.h). Every change is written through at once, so nothing is pending when
// the path is dropped. A descent deeper than 31 levels or into a block already on
// the path is damage (a cycle) and is reported instead of followed.

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
  // Positions on the entry holding exactly `key` and `recNo`.
  bool SeekEntry(std::string_view key, int32_t recNo);

  // Inserts the pair after all equal keys; a unique tag skips a key it already has
  // (`inserted` false). The cursor then stands on the new key.
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
  bool Descend(bool last);
  bool Step(bool forward);
  void TakeCurrent();
  bool SeekPath(std::string_view key, bool afterEqual, bool exact);
  bool UpdateSeparators(size_t level, const std::string& key);
  bool WriteLevel(size_t level);
  bool SplitLevel(size_t level);
  bool RemoveAt(size_t level);

  TbrNdxFile& m_file;
  std::vector<Level> m_path;
  bool m_bof = false;
  bool m_eof = false;
  int32_t m_recNo = 0;
  std::string m_key;
};

}  // namespace qm::index

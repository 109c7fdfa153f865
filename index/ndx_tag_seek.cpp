// Searches of the NDX tag: by key, and by key and record number.
//
// Equal keys sit in record-number order (the build sorts them so, maintenance inserts
// them so). Inner pages hold only keys, so a run of children whose separators equal
// the key sought is told apart by the record number of each child's last entry: a
// binary search over that run keeps a search among many equal keys logarithmic.
#include <algorithm>

#include "index/ndx_format.h"
#include "index/ndx_tag.h"

namespace qm::index {

int TbrNdxTag::ComparePair(std::string_view key, uint32_t recNo, std::string_view otherKey,
                           int32_t otherRecNo) const {
  int c = Compare(key, otherKey);
  if (c != 0) return c;
  int64_t a = recNo, b = otherRecNo;
  c = a < b ? -1 : (a > b ? 1 : 0);
  return m_file.Ascending() ? c : -c;
}

// Loads the path to the leaf position of `key`: the first entry not below it, or
// with `afterEqual` the first entry above it (one past the end when there is none).
bool TbrNdxTag::SeekPath(std::string_view key, bool afterEqual, bool exact) {
  if (!LoadRoot()) return false;
  const bool partial = !exact && m_file.Geometry().character;
  for (;;) {
    Level& lv = m_path.back();
    int keys = lv.page.KeyCount();
    int i = 0;
    for (; i < keys; ++i) {
      int matched = 0;
      int c = Compare(lv.page.entries[i].key, key, &matched);
      if (partial && c != 0 && matched >= static_cast<int>(key.size())) c = 0;
      if (afterEqual ? c > 0 : c >= 0) break;
    }
    if (lv.page.leaf) {
      lv.index = i;
      return true;
    }
    lv.index = std::min(i, keys);
    if (!LoadChild()) return false;
  }
}

// The last entry of the subtree under `block`, following last children down; null
// when that leaf is empty.
bool TbrNdxTag::LastEntryBelow(uint32_t block, const TbrNdxEntry*& last, TbrNdxPage& scratch) {
  for (int depth = 0; depth < ndx::kMaxLevels; ++depth) {
    if (!m_file.ReadPage(block, scratch)) return false;
    if (scratch.leaf || scratch.entries.empty()) {
      last = scratch.entries.empty() ? nullptr : &scratch.entries.back();
      return true;
    }
    block = scratch.entries.back().value;
  }
  return m_file.Damaged(block, "tree deeper than " + std::to_string(ndx::kMaxLevels) + " levels");
}

// The child of an inner page whose subtree holds the first entry not below the pair.
bool TbrNdxTag::ChildFor(const TbrNdxPage& page, std::string_view key, int32_t recNo,
                         int& child) {
  int keys = page.KeyCount();
  int low = 0;
  while (low < keys && Compare(page.entries[low].key, key) < 0) ++low;
  int high = low;
  while (high < keys && Compare(page.entries[high].key, key) == 0) ++high;
  TbrNdxPage scratch;
  // Appends bring the highest record number: the last child of the run is tried first.
  for (bool first = true; low < high; first = false) {
    int middle = first ? high - 1 : low + (high - low) / 2;
    const TbrNdxEntry* last = nullptr;
    if (!LastEntryBelow(page.entries[middle].value, last, scratch)) return false;
    if (last != nullptr && ComparePair(last->key, last->value, key, recNo) >= 0) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  child = low;
  return true;
}

// Loads the path to the first entry not below (key, recNo) in key and record-number
// order; the leaf index is one past the end when every entry is below it.
bool TbrNdxTag::SeekPair(std::string_view key, int32_t recNo) {
  if (!LoadRoot()) return false;
  for (;;) {
    Level& lv = m_path.back();
    if (lv.page.leaf) {
      const auto& entries = lv.page.entries;
      int i = 0;
      int size = static_cast<int>(entries.size());
      while (i < size && ComparePair(entries[i].key, entries[i].value, key, recNo) < 0) ++i;
      lv.index = i;
      return true;
    }
    if (!ChildFor(lv.page, key, recNo, lv.index) || !LoadChild()) return false;
  }
}

TbrNdxTag::SeekResult TbrNdxTag::Seek(std::string_view key, bool exact) {
  if (!SeekPath(key, false, exact)) return SeekResult::Failed;
  m_forward = true;
  Level& leaf = m_path.back();
  int size = static_cast<int>(leaf.page.entries.size());
  if (leaf.index >= size) {
    leaf.index = size - 1;
    if (size == 0 || !Step(true)) return m_path.empty() ? SeekResult::Failed : SeekResult::PastEnd;
    if (m_eof) return SeekResult::PastEnd;
  } else {
    TakeCurrent();
  }
  int matched = 0;
  int c = Compare(m_key, key, &matched);
  if (c == 0 || (!exact && m_file.Geometry().character && matched >= static_cast<int>(key.size())))
    return SeekResult::Found;
  return SeekResult::Less;
}

bool TbrNdxTag::SeekEntry(std::string_view key, int32_t recNo) {
  if (!SeekPair(key, recNo)) return false;
  m_forward = true;
  const Level& leaf = m_path.back();
  if (leaf.index < static_cast<int>(leaf.page.entries.size())) {
    const TbrNdxEntry& entry = leaf.page.entries[leaf.index];
    if (entry.value == static_cast<uint32_t>(recNo) && Compare(entry.key, key) == 0) {
      TakeCurrent();
      return true;
    }
  }
  // Not at its place: equal keys in another order are looked through one by one.
  SeekResult result = Seek(key, true);
  while (result == SeekResult::Found) {
    if (m_recNo == recNo) return true;
    if (!Step(true) || m_eof || Compare(m_key, key) != 0) return false;
  }
  return false;
}

TbrNdxTag::SeekResult TbrNdxTag::Stand(std::string_view key, int32_t recNo) {
  if (SeekEntry(key, recNo)) return SeekResult::Found;
  if (!SeekPair(key, recNo)) return SeekResult::Failed;
  m_forward = true;
  m_between = true;
  m_bof = m_eof = false;
  m_recNo = recNo;
  m_key = std::string(key);
  return SeekResult::Less;
}

}  // namespace qm::index

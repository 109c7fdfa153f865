// Key maintenance of the NDX tag: insert with page split, delete.
#include "index/ndx_tag.h"

namespace qm::index {

bool TbrNdxTag::Insert(std::string_view key, int32_t recNo, bool* inserted) {
  if (inserted) *inserted = false;
  if (m_file.Unique()) {
    SeekResult found = Seek(key, true);
    if (found == SeekResult::Failed) return false;
    if (found == SeekResult::Found) return true;
  }
  if (!SeekPair(key, recNo)) return false;
  size_t leafLevel = m_path.size() - 1;
  Level& leaf = m_path[leafLevel];
  leaf.page.entries.insert(leaf.page.entries.begin() + leaf.index,
                           TbrNdxEntry{std::string(key), static_cast<uint32_t>(recNo)});
  bool ok = true;
  // A new last key of a leaf is the new separator for it in the pages above.
  if (leaf.index + 1 == static_cast<int>(leaf.page.entries.size()) && leafLevel > 0)
    ok = UpdateSeparators(leafLevel - 1, std::string(key));
  const bool fits = leaf.page.KeyCount() <= m_file.Geometry().maxKeys;
  ok = ok && WriteLevel(leafLevel) && m_file.WriteHeader();
  if (inserted) *inserted = ok;
  // Without a split the path holds the pages as written: the cursor stays on the
  // new entry, so standing the table's order on it costs no second descent.
  if (ok && fits) {
    TakeCurrent();
    return true;
  }
  m_path.clear();
  return ok && SeekEntry(key, recNo);
}

// Sets the separator of the current child at `level`; when that child is the extra
// last entry (no key of its own) the change belongs one level further up.
bool TbrNdxTag::UpdateSeparators(size_t level, const std::string& key) {
  for (size_t l = level + 1; l-- > 0;) {
    Level& lv = m_path[l];
    if (lv.index < lv.page.KeyCount()) {
      lv.page.entries[lv.index].key = key;
      return m_file.WritePage(lv.page);
    }
  }
  return true;
}

bool TbrNdxTag::WriteLevel(size_t level) {
  const TbrNdxPage& page = m_path[level].page;
  if (page.KeyCount() <= m_file.Geometry().maxKeys) return m_file.WritePage(page);
  return SplitLevel(level);
}

// Splits an overfull page: its first n - n/2 entries move to a new block whose last
// key goes into the parent (a new root when there is none); the rest stay.
bool TbrNdxTag::SplitLevel(size_t level) {
  TbrNdxPage& page = m_path[level].page;
  size_t n = page.entries.size();
  size_t first = n - n / 2;
  TbrNdxPage left;
  left.leaf = page.leaf;
  left.block = m_file.AllocateBlock();
  left.entries.assign(page.entries.begin(), page.entries.begin() + first);
  page.entries.erase(page.entries.begin(), page.entries.begin() + first);
  m_file.MarkHeaderChanged();
  TbrNdxEntry separator{left.entries.back().key, left.block};
  if (!m_file.WritePage(left) || !m_file.WritePage(page)) return false;
  if (level == 0) {
    TbrNdxPage root;
    root.leaf = false;
    root.block = m_file.AllocateBlock();
    root.entries = {separator, TbrNdxEntry{std::string(), page.block}};
    m_file.SetRoot(root.block);
    return m_file.WritePage(root) && m_file.WriteHeader();
  }
  Level& parent = m_path[level - 1];
  parent.page.entries.insert(parent.page.entries.begin() + parent.index, separator);
  ++parent.index;
  return WriteLevel(level - 1);
}

bool TbrNdxTag::Delete(std::string_view key, int32_t recNo, bool* found) {
  if (found) *found = false;
  if (!SeekEntry(key, recNo)) {
    bool failed = m_path.empty();
    m_path.clear();
    return !failed;
  }
  if (found) *found = true;
  bool ok = RemoveAt(m_path.size() - 1);
  m_path.clear();
  return ok;
}

// Removes the current entry of `level`. An emptied page leaves its parent (an
// emptied root becomes an empty leaf); a removed last entry changes the separator
// of the page in the levels above; an inner page left with a single child gives
// way to that child, since an inner page with no key is one other readers cannot
// descend. Blocks of pages that leave the tree are not reused.
bool TbrNdxTag::RemoveAt(size_t level) {
  TbrNdxPage& page = m_path[level].page;
  int index = m_path[level].index;
  page.entries.erase(page.entries.begin() + index);
  if (page.entries.empty()) {
    if (level == 0) {
      page.leaf = true;
      return m_file.WritePage(page);
    }
    return RemoveAt(level - 1);
  }
  bool ok = true;
  if (index == static_cast<int>(page.entries.size()) && level > 0) {
    const TbrNdxEntry& last = page.entries.back();
    ok = UpdateSeparators(level - 1, last.key);
  }
  if (!page.leaf && page.entries.size() == 1) return ok && Collapse(level);
  return ok && m_file.WritePage(page);
}

// Puts the only child of the inner page at `level` in that page's place: the
// parent's entry keeps its separator (the child's subtree holds the same keys),
// and a root gives the root to its child.
bool TbrNdxTag::Collapse(size_t level) {
  uint32_t child = m_path[level].page.entries.front().value;
  if (level == 0) {
    m_file.SetRoot(child);
    return m_file.WriteHeader();
  }
  Level& parent = m_path[level - 1];
  parent.page.entries[parent.index].value = child;
  return m_file.WritePage(parent.page);
}

}  // namespace qm::index

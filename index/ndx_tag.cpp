#include "index/ndx_tag.h"

#include <algorithm>

#include "dbf/table.h"
#include "index/ndx_format.h"
#include "index/ndx_key.h"

namespace qm::index {

namespace {

int KeyCount(const TbrNdxPage& page) {
  int n = static_cast<int>(page.entries.size());
  return page.leaf ? n : n - 1;
}

}  // namespace

int TbrNdxTag::Compare(std::string_view a, std::string_view b, int* matched) const {
  int c = CompareKeys(a, b, m_file.Geometry().character, matched);
  return m_file.Ascending() ? c : -c;
}

bool TbrNdxTag::Reload() {
  m_path.clear();
  return m_file.ReadHeader();
}

bool TbrNdxTag::LoadRoot() {
  m_path.clear();
  m_path.emplace_back();
  if (m_file.ReadPage(m_file.Root(), m_path.back().page)) return true;
  m_path.clear();
  return false;
}

// Loads the child of the current entry of the lowest loaded page.
bool TbrNdxTag::LoadChild() {
  const Level& parent = m_path.back();
  uint32_t child = parent.page.entries[parent.index].value;
  if (m_path.size() >= ndx::kMaxLevels)
    return m_file.Damaged(child, "tree deeper than " + std::to_string(ndx::kMaxLevels) + " levels");
  for (const Level& level : m_path) {
    if (level.page.block == child) return m_file.Damaged(child, "page cycle in the tree");
  }
  Level next;
  if (!m_file.ReadPage(child, next.page)) return false;
  m_path.push_back(std::move(next));
  return true;
}

// Follows the current entry of the lowest loaded page down to a leaf, taking the
// first (or last) entry of every page on the way.
bool TbrNdxTag::Descend(bool last) {
  while (!m_path.back().page.leaf) {
    if (!LoadChild()) return false;
    Level& next = m_path.back();
    next.index = last ? static_cast<int>(next.page.entries.size()) - 1 : 0;
    if (next.index < 0) next.index = 0;
  }
  return true;
}

void TbrNdxTag::TakeCurrent() {
  const Level& leaf = m_path.back();
  m_recNo = static_cast<int32_t>(leaf.page.entries[leaf.index].value);
  m_key = leaf.page.entries[leaf.index].key;
  m_bof = m_eof = false;
}

// Advances the cursor one entry; running off an end sets Bof()/Eof() and leaves
// the path where it was.
bool TbrNdxTag::Step(bool forward) {
  for (;;) {
    size_t level = m_path.size();
    while (level > 0) {
      Level& lv = m_path[level - 1];
      int next = lv.index + (forward ? 1 : -1);
      if (next >= 0 && next < static_cast<int>(lv.page.entries.size())) break;
      --level;
    }
    if (level == 0) {
      (forward ? m_eof : m_bof) = true;
      m_recNo = 0;
      return true;
    }
    m_path[level - 1].index += forward ? 1 : -1;
    m_path.resize(level);
    if (!Descend(!forward)) return false;
    if (!m_path.back().page.entries.empty()) {
      TakeCurrent();
      return true;
    }
  }
}

int32_t TbrNdxTag::Move(int32_t code) {
  bool ok = true;
  m_bof = m_eof = false;
  if (code == dbf::kGoTop || code == dbf::kGoBottom || m_path.empty()) {
    bool last = code == dbf::kGoBottom || code == dbf::kGoPrior;
    if (!LoadRoot()) return m_recNo = 0;
    m_path[0].index = last ? static_cast<int>(m_path[0].page.entries.size()) - 1 : 0;
    if (m_path[0].index < 0) m_path[0].index = 0;
    ok = Descend(last);
    if (ok && m_path.back().page.entries.empty()) {
      ok = Step(!last);
      if (m_bof || m_eof) m_bof = m_eof = true;
    } else if (ok) {
      TakeCurrent();
    }
  } else if (code == dbf::kGoNext || code == dbf::kGoPrior) {
    ok = Step(code == dbf::kGoNext);
  } else if (code == dbf::kGoSame) {
    const Level& leaf = m_path.back();
    if (leaf.index < static_cast<int>(leaf.page.entries.size())) TakeCurrent();
  }
  if (!ok) {
    m_path.clear();
    m_recNo = 0;
    m_eof = true;
  }
  return m_bof || m_eof ? 0 : m_recNo;
}

// Loads the path to the leaf position of `key`: the first entry not below it, or
// with `afterEqual` the first entry above it (one past the end when there is none).
bool TbrNdxTag::SeekPath(std::string_view key, bool afterEqual, bool exact) {
  if (!LoadRoot()) return false;
  const bool partial = !exact && m_file.Geometry().character;
  for (;;) {
    Level& lv = m_path.back();
    int keys = KeyCount(lv.page);
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

TbrNdxTag::SeekResult TbrNdxTag::Seek(std::string_view key, bool exact) {
  if (!SeekPath(key, false, exact)) return SeekResult::Failed;
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
  SeekResult result = Seek(key, true);
  while (result == SeekResult::Found) {
    if (m_recNo == recNo) return true;
    if (!Step(true) || m_eof || Compare(m_key, key) != 0) return false;
  }
  return false;
}

}  // namespace qm::index

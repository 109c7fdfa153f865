#include "index/ndx_tag.h"

#include <algorithm>

#include "dbf/table.h"
#include "index/ndx_format.h"
#include "index/ndx_key.h"

namespace qm::index {

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
  m_visited.clear();
  m_between = false;
  m_path.emplace_back();
  if (m_file.ReadPage(m_file.Root(), m_path.back().page) && FirstVisit(m_file.Root())) return true;
  m_path.clear();
  return false;
}

// Marks a page read by the current walk; a page met twice is a subtree that two
// parents share, which would make the walk repeat keys without end.
bool TbrNdxTag::FirstVisit(uint32_t block) {
  if (block >= m_visited.size()) m_visited.resize(block + 1);
  if (m_visited[block]) return m_file.Damaged(block, "page reached twice in one walk");
  m_visited[block] = true;
  return true;
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
  if (!m_file.ReadPage(child, next.page) || !FirstVisit(child)) return false;
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
  m_between = false;
  m_recNo = static_cast<int32_t>(leaf.page.entries[leaf.index].value);
  m_key = leaf.page.entries[leaf.index].key;
  m_bof = m_eof = false;
}

// Takes the entry the path stands on as the next one of an ordered walk. A key
// that goes back, or the entry just left met again, is a damaged tree (a
// subtree two parents share, reached anew after the table re-positioned the
// walk): reported, so that no walk repeats keys without end.
bool TbrNdxTag::TakeInOrder(bool forward) {
  const std::string previousKey = m_key;
  const int32_t previousRecNo = m_recNo;
  TakeCurrent();
  if (previousRecNo <= 0) return true;
  const int order = Compare(m_key, previousKey) * (forward ? 1 : -1);
  if (order > 0 || (order == 0 && m_recNo != previousRecNo)) return true;
  return m_file.Damaged(m_path.back().page.block, "keys out of order in one walk");
}

// Advances the cursor one entry; running off an end sets Bof()/Eof() and leaves
// the path where it was.
bool TbrNdxTag::Step(bool forward) {
  if (forward != m_forward) {  // turning back re-reads pages of the walk so far
    m_visited.clear();
    m_forward = forward;
  }
  m_between = false;
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
    if (!m_path.back().page.entries.empty()) return TakeInOrder(forward);
  }
}

int32_t TbrNdxTag::Move(int32_t code) {
  bool ok = true;
  m_bof = m_eof = false;
  if (code == dbf::kGoTop || code == dbf::kGoBottom || m_path.empty()) {
    bool last = code == dbf::kGoBottom || code == dbf::kGoPrior;
    // Another table object may have moved the root or grown the file.
    if (!m_file.ReadHeader() || !LoadRoot()) return m_recNo = 0;
    m_forward = !last;
    m_path[0].index = last ? static_cast<int>(m_path[0].page.entries.size()) - 1 : 0;
    if (m_path[0].index < 0) m_path[0].index = 0;
    ok = Descend(last);
    if (ok && m_path.back().page.entries.empty()) {
      ok = Step(!last);
      if (m_bof || m_eof) m_bof = m_eof = true;
    } else if (ok) {
      TakeCurrent();
    }
  } else if (code == dbf::kGoNext && m_between) {
    // Standing before the entry at the leaf position: that entry is the next one.
    const Level& leaf = m_path.back();
    if (leaf.index < static_cast<int>(leaf.page.entries.size())) TakeCurrent();
    else ok = Step(true);
  } else if (code == dbf::kGoNext || code == dbf::kGoPrior) {
    ok = Step(code == dbf::kGoNext);
  } else if (code == dbf::kGoSame && !m_between) {
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

}  // namespace qm::index

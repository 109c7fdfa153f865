#include "index/ndx_page_builder.h"

#include "index/ndx_format.h"
#include "index/ndx_key.h"

namespace qm::index {

void TbrNdxPageBuilder::Output(int32_t recNo, std::string_view sortText) {
  std::string key = m_padded ? StoredKey(sortText.substr(0, sortText.size() - 1), true)
                             : StoredFromSortText(sortText, m_file.Geometry().character);
  Add(0, key, static_cast<uint32_t>(recNo));
}

// Leaves are written as soon as they are full; a full inner page is held back until
// the next one of its level fills, so that Finish can still even out the last two.
void TbrNdxPageBuilder::Add(size_t level, const std::string& key, uint32_t value) {
  if (!m_ok) return;
  if (level >= static_cast<size_t>(ndx::kMaxLevels)) {
    m_ok = false;
    return;
  }
  if (m_levels.size() <= level) {
    m_levels.emplace_back();
    m_levels.back().page.leaf = level == 0;
  }
  // A full inner page keeps one key less: its last entry is the extra child.
  size_t capacity = static_cast<size_t>(m_file.Geometry().maxKeys);
  if (m_levels[level].page.entries.size() >= capacity) {
    TbrNdxPage full = std::move(m_levels[level].page);
    m_levels[level].page = TbrNdxPage{0, full.leaf, {}};
    if (level > 0) {
      std::swap(full, m_levels[level].held);
      bool hadHeld = m_levels[level].hasHeld;
      m_levels[level].hasHeld = true;
      if (hadHeld) Flush(level, full);
    } else {
      Flush(level, full);
    }
  }
  m_levels[level].page.entries.push_back(TbrNdxEntry{key, value});
}

// Gives a finished page its block, queues it and hands its last key up.
void TbrNdxPageBuilder::Flush(size_t level, TbrNdxPage& page) {
  page.block = m_file.AllocateBlock();
  Queue(page);
  std::string last = page.entries.back().key;
  Add(level + 1, last, page.block);
}

// The last page of an inner level with a single entry takes half of the held one.
void TbrNdxPageBuilder::Balance(Level& level) {
  auto& from = level.held.entries;
  auto& to = level.page.entries;
  if (to.size() >= 2) return;
  size_t move = (from.size() + to.size()) / 2 - to.size();
  to.insert(to.begin(), from.end() - static_cast<std::ptrdiff_t>(move), from.end());
  from.resize(from.size() - move);
}

bool TbrNdxPageBuilder::Finish() {
  if (m_levels.empty()) m_levels.emplace_back();
  for (size_t level = 0; level < m_levels.size() && m_ok; ++level) {
    if (m_levels[level].hasHeld) {
      Balance(m_levels[level]);
      TbrNdxPage held = std::move(m_levels[level].held);
      m_levels[level].hasHeld = false;
      Flush(level, held);
    }
    TbrNdxPage& page = m_levels[level].page;
    page.block = m_file.AllocateBlock();
    bool top = level + 1 == m_levels.size();
    if (top) m_file.SetRoot(page.block);
    Queue(page);
    if (!top) {
      std::string last = page.entries.back().key;
      uint32_t block = page.block;
      Add(level + 1, last, block);
    }
  }
  return WritePending() && m_ok;
}

// Pages get their blocks in ascending order as they are finished, so runs of them
// go to the file in one write.
void TbrNdxPageBuilder::Queue(const TbrNdxPage& page) {
  size_t blocks = m_pending.size() / ndx::kBlockSize;
  if (page.block != m_pendingStart + blocks || blocks >= kPendingBlocks) {
    m_ok = WritePending() && m_ok;
    m_pendingStart = page.block;
  }
  m_pending.resize(m_pending.size() + ndx::kBlockSize);
  EncodeNdxPage(page, m_file.Geometry(), m_pending.data() + m_pending.size() - ndx::kBlockSize);
}

bool TbrNdxPageBuilder::WritePending() {
  bool ok = m_pending.empty() ||
            m_file.Write(static_cast<int64_t>(m_pendingStart) * ndx::kBlockSize, m_pending.data(),
                         static_cast<uint32_t>(m_pending.size()));
  m_pending.clear();
  return ok;
}

}  // namespace qm::index

#pragma once
// The bottom-up page builder of NDX builds: keys arrive in order and fill one page
// buffer per level; a full page is written and its last key goes one level up with
// its block. No inner page is written with a single child (a key count of 0, which
// other readers cannot descend): the last two pages of an inner level share their
// entries when the last would hold only one.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "index/key_sorter.h"
#include "index/ndx_file.h"

namespace qm::index {

class TbrNdxPageBuilder : public TbrKeySink {
 public:
  // `padded`: the sort texts are character keys blank-padded to the key length
  // with one closing byte (see TbrIndexTable::BuildTree).
  TbrNdxPageBuilder(TbrNdxFile& file, bool padded) : m_file(file), m_padded(padded) {}

  void Output(int32_t recNo, std::string_view sortText) override;
  // Writes the partly filled pages; the topmost becomes the root.
  bool Finish();

 private:
  struct Level {
    TbrNdxPage page;  // being filled
    TbrNdxPage held;  // full, waiting (inner levels) until the next page fills
    bool hasHeld = false;
  };

  void Add(size_t level, const std::string& key, uint32_t value);
  void Flush(size_t level, TbrNdxPage& page);
  void Balance(Level& level);
  void Queue(const TbrNdxPage& page);
  bool WritePending();

  static constexpr size_t kPendingBlocks = 128;
  TbrNdxFile& m_file;
  bool m_padded;
  std::vector<Level> m_levels;
  std::vector<uint8_t> m_pending;
  uint32_t m_pendingStart = 0;
  bool m_ok = true;
};

}  // namespace qm::index

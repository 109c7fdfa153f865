// dBASE IV memo placement: abandoned blocks are kept in a chain of free runs
// and taken again first fit. The chain starts at header bytes 24..27; each
// run's first block holds the next run and its own block count. Every run is
// checked before it is trusted: it lies past the header and inside the file,
// overlaps no run before it and no memo a record points at. A damaged chain is
// cut there rather than followed into live memos or round in a circle.
#include <algorithm>

#include "dbf/dbf_format.h"
#include "dbf/memo_bytes.h"
#include "dbf/memo_file.h"

namespace qm::dbf {

std::vector<TbrMemoFile::FreeRun> TbrMemoFile::ReadFreeChain(const uint8_t* header,
                                                             uint64_t nextFree) {
  std::vector<FreeRun> chain;
  uint32_t start = layout::GetU32(header + memo::kDb4FreeChainOffset);
  TbrSuppressErrors quiet(*this);
  while (start != 0 && chain.size() < memo::kDb4MaxFreeRuns) {
    uint8_t link[8];
    if (!Read(static_cast<int64_t>(start) * m_blockSize, link, sizeof link)) break;
    const FreeRun run{start, layout::GetU32(link + 4)};
    const bool inside = run.count > 0 && run.start >= FirstDataBlock() &&
                        uint64_t{run.start} + run.count <= nextFree;
    const bool overlaps = std::any_of(chain.begin(), chain.end(), [&](const FreeRun& r) {
      return run.start < r.start + r.count && r.start < run.start + run.count;
    });
    if (!inside || overlaps) break;
    chain.push_back(run);
    start = layout::GetU32(link);
  }
  std::sort(chain.begin(), chain.end(),
            [](const FreeRun& a, const FreeRun& b) { return a.start < b.start; });
  return chain;
}

bool TbrMemoFile::WriteFreeChain(uint8_t* header, const std::vector<FreeRun>& chain) {
  for (std::size_t i = 0; i < chain.size(); ++i) {
    uint8_t link[8];
    layout::PutU32(link, i + 1 < chain.size() ? chain[i + 1].start : 0);
    layout::PutU32(link + 4, chain[i].count);
    if (!Write(static_cast<int64_t>(chain[i].start) * m_blockSize, link, sizeof link)) return false;
  }
  layout::PutU32(header + memo::kDb4FreeChainOffset, chain.empty() ? 0 : chain.front().start);
  return true;
}

// Blocks taken by the memo at block, from its block header; 0 when the block
// holds no memo (nothing is freed then).
uint32_t TbrMemoFile::Db4BlockCount(uint32_t block) {
  uint8_t head[memo::kBlockHeaderSize];
  TbrSuppressErrors quiet(*this);
  if (!Read(static_cast<int64_t>(block) * m_blockSize, head, sizeof head)) return 0;
  uint32_t length = 0;
  if (!bytes::ParseBlockHeader(m_layout, head, length)) return 0;
  return BlocksFor(length);
}

// The blocks of the memos the records point at, each as a run: a memo whose
// block header is damaged still holds its first block.
std::vector<TbrMemoFile::FreeRun> TbrMemoFile::RunsInUse(uint64_t end) {
  std::vector<FreeRun> used;
  if (!m_blocksInUse) return used;
  std::vector<uint32_t> blocks = m_blocksInUse();
  std::sort(blocks.begin(), blocks.end());
  blocks.erase(std::unique(blocks.begin(), blocks.end()), blocks.end());
  for (uint32_t block : blocks)
    if (block != 0 && block < end)
      used.push_back({block, std::max<uint32_t>(1, Db4BlockCount(block))});
  return used;
}

// The chain up to its first run that overlaps a memo in use; the rest is cut
// (abandoned, never handed out).
std::vector<TbrMemoFile::FreeRun> TbrMemoFile::TrustedRuns(std::vector<FreeRun> chain, uint64_t end) {
  if (chain.empty()) return chain;
  const std::vector<FreeRun> used = RunsInUse(end);
  auto overlapsUse = [&](const FreeRun& run) {
    return std::any_of(used.begin(), used.end(), [&](const FreeRun& u) {
      return uint64_t{run.start} < uint64_t{u.start} + u.count && u.start < uint64_t{run.start} + run.count;
    });
  };
  chain.erase(std::find_if(chain.begin(), chain.end(), overlapsUse), chain.end());
  return chain;
}

// Neighbouring runs become one, so freed space can hold larger memos.
std::vector<TbrMemoFile::FreeRun> TbrMemoFile::MergedRuns(std::vector<FreeRun> chain) {
  std::sort(chain.begin(), chain.end(),
            [](const FreeRun& a, const FreeRun& b) { return a.start < b.start; });
  std::vector<FreeRun> merged;
  for (const FreeRun& run : chain) {
    if (!merged.empty() && merged.back().start + merged.back().count == run.start)
      merged.back().count += run.count;
    else
      merged.push_back(run);
  }
  if (merged.size() > memo::kDb4MaxFreeRuns) merged.resize(memo::kDb4MaxFreeRuns);
  return merged;
}

// The old memo's blocks stay where they are: the record still points there
// until it is rewritten (FreeBlocks then).
std::optional<uint32_t> TbrMemoFile::PlaceDb4(uint8_t* header, uint32_t needed) {
  const std::optional<uint64_t> next = NextFreeBlock();
  if (!next) return std::nullopt;
  std::vector<FreeRun> merged = MergedRuns(TrustedRuns(ReadFreeChain(header, *next), *next));
  std::optional<uint32_t> block;
  auto fit = std::find_if(merged.begin(), merged.end(),
                          [&](const FreeRun& r) { return r.count >= needed; });
  if (fit != merged.end()) {
    block = fit->start;
    fit->start += needed;
    fit->count -= needed;
    if (fit->count == 0) merged.erase(fit);
  } else {
    block = AllocateAtEnd(header, needed);
    if (!block) return std::nullopt;
  }
  if (!WriteFreeChain(header, merged)) return std::nullopt;
  return block;
}

// Adds the memo at block to the chain in the header image (inside the memo lock).
bool TbrMemoFile::ChainRun(uint8_t* header, uint32_t block) {
  const std::optional<uint64_t> next = NextFreeBlock();
  if (!next) return false;
  if (block >= *next || block < FirstDataBlock()) return true;
  std::vector<FreeRun> chain = TrustedRuns(ReadFreeChain(header, *next), *next);
  const uint32_t count =
      static_cast<uint32_t>(std::min<uint64_t>(Db4BlockCount(block), *next - block));
  const bool alreadyFree = std::any_of(chain.begin(), chain.end(), [&](const FreeRun& r) {
    return block < r.start + r.count && r.start < block + count;
  });
  if (count == 0 || alreadyFree) return true;
  // Blocks a record still points at (a memo two records share, or one its
  // damaged length claims) are kept.
  if (TrustedRuns({{block, count}}, *next).empty()) return true;
  chain.push_back({block, count});
  return WriteFreeChain(header, MergedRuns(std::move(chain))) && WriteHeader(header);
}

}  // namespace qm::dbf

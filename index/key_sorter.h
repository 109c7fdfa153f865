#pragma once
// Key sorter for index builds: (record number, key) pairs in, pairs in key order out.
//
// Sorts in a character trie whose node pool never exceeds 32 blocks of 16 KB (beside
// two lookup tables for its first two levels, 128.5 KB); when the pool is full the trie
// is written as a sorted run to a work file named by 8 hex digits and ".CPL" in the
// work directory, and the runs are merged at Finish. With unique set
// the first pair of a key value wins (the build adds records in physical order, so that
// is the lowest record number); descending negates every comparison. The work file is
// removed when the sorter is destroyed, also after a failure.

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qm::index {

// Receives the sorted pairs; the key comes without the record number suffix.
class TbrKeySink {
 public:
  virtual ~TbrKeySink() = default;
  virtual void Output(int32_t recNo, std::string_view key) = 0;
};

// Work file failures: the engine's code and subcode (an operating-system code and
// the read, write or create subcode; 1001 for a damaged work file) and a text
// naming the file and the operation.
class TbrSortError : public std::exception {
 public:
  TbrSortError(int32_t code, int32_t subCode, std::string text)
      : m_code(code), m_subCode(subCode), m_text(std::move(text)) {}
  const char* what() const noexcept override { return m_text.c_str(); }
  int32_t Code() const { return m_code; }
  int32_t SubCode() const { return m_subCode; }

 private:
  int32_t m_code;
  int32_t m_subCode;
  std::string m_text;
};

class TbrKeySorter {
 public:
  // An empty work directory means the current directory.
  TbrKeySorter(TbrKeySink& sink, std::string workDir, bool ascending, bool unique);
  ~TbrKeySorter();
  TbrKeySorter(const TbrKeySorter&) = delete;
  TbrKeySorter& operator=(const TbrKeySorter&) = delete;

  // Keys longer than MaxKeyLength() are refused with TbrSortError.
  void Add(int32_t recNo, std::string_view key);
  // Delivers every pair in order to the sink, then releases the memory.
  void Finish();

  static constexpr int MaxKeyLength() { return 244; }
  int64_t Count() const { return m_count; }
  int LongestKey() const { return m_longest; }
  int RunCount() const { return static_cast<int>(m_runStarts.size()); }
  size_t PeakNodeBytes() const { return m_peakBlocks * kNodeBlockBytes; }
  const std::string& WorkFileName() const { return m_workName; }

 private:
  struct Node;
  struct RunReader;
  static constexpr size_t kNodeBlockBytes = 16384;

  Node& At(uint16_t n);
  int Compare(uint8_t a, uint8_t b) const;
  bool Reserve(size_t nodes);
  void StartBlock();
  uint16_t NewNode();
  void ClearTrie();
  uint16_t Insert(uint16_t from, std::string_view s);
  uint16_t* SecondSlot(uint16_t parent, uint8_t c);
  uint16_t NewBranch(std::string_view s, uint16_t& head);
  void Split(uint16_t n, int keep);
  void Walk(uint16_t n, std::string& prefix, const std::function<void(std::string_view)>& fn);
  static std::string_view KeyPart(std::string_view sortString);
  void Deliver(std::string_view sortString);
  void Spill();
  void OpenWorkFile();
  void WriteAt(const void* data, size_t size, uint64_t offset);
  void Merge();
  std::vector<std::unique_ptr<RunReader>> OpenRuns();

  TbrKeySink& m_sink;
  std::string m_workDir;
  bool m_ascending;
  bool m_unique;
  std::vector<std::unique_ptr<Node[]>> m_blocks;
  Node* m_blockBase[32] = {};  // m_blocks[i].get(), kept beside for the hot lookups
  uint16_t m_rootChild[256] = {};  // first-level node of each byte: the widest sibling list
  // Second-level node of each pair of bytes, below first-level nodes without an
  // inline tail: the next widest lists. A lookup aid only; the lists stay as they are.
  std::vector<uint16_t> m_secondChild;
  size_t m_curBlock = 0;   // block that new nodes come from
  size_t m_nextIndex = 0;  // next free node inside it
  size_t m_peakBlocks = 0;
  int64_t m_count = 0;
  int m_longest = 0;
  int m_fd = -1;
  std::string m_workName;
  uint64_t m_fileEnd = 0;
  std::vector<uint64_t> m_runStarts;
  std::string m_sortString;  // reused for each non-unique sort string
};

}  // namespace qm::index

#include "index/key_sorter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "dbf/disk_io.h"
#include "dbf/errors.h"
#include "dbf/text_helpers.h"
#include "index/cpl_format.h"

namespace qm::index {

namespace {

constexpr uint8_t kTailMask = 0x03;   // further characters held inline (0..2)
constexpr uint8_t kStringEnd = 0x04;  // a complete sort string ends here
constexpr uint8_t kKeyEnd = 0x08;     // unique: a key text ends here (its suffix below)
constexpr int kMaxTail = 2;

// The record number's digit count, then its digits.
std::string_view RecordSuffix(int32_t recNo, char (&buffer)[12]) {
  char digits[10];
  int n = 0;
  auto value = static_cast<uint32_t>(recNo);
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0 && n < 10);
  buffer[0] = static_cast<char>(n);
  for (int i = 0; i < n; ++i) buffer[1 + i] = digits[n - 1 - i];
  return std::string_view(buffer, n + 1);
}

using dbf::TrimRight;

}  // namespace

// One trie node, 8 bytes: a packed node carries up to two further characters of a
// single-path tail inline beside its links; node 0 is the root and doubles as "none".
struct TbrKeySorter::Node {
  uint8_t ch;
  uint8_t meta;
  uint16_t child;
  uint16_t sibling;
  uint8_t tail[kMaxTail];
};

TbrKeySorter::TbrKeySorter(TbrKeySink& sink, std::string workDir, bool ascending, bool unique)
    : m_sink(sink), m_workDir(std::move(workDir)), m_ascending(ascending), m_unique(unique) {
  static_assert(sizeof(Node) == cpl::kNodeSize);
  if (!m_workDir.empty() && m_workDir.back() != '/') m_workDir += '/';
  m_secondChild.assign(256 * 256, 0);
  StartBlock();
  NewNode();  // the root
}

TbrKeySorter::~TbrKeySorter() {
  if (m_fd >= 0) {
    dbf::Disk().Close(m_fd);
    dbf::Disk().Remove(m_workName.c_str());
  }
}

TbrKeySorter::Node& TbrKeySorter::At(uint16_t n) {
  return m_blockBase[n / cpl::kNodesPerBlock][n % cpl::kNodesPerBlock];
}

int TbrKeySorter::Compare(uint8_t a, uint8_t b) const {
  int result = (a > b) - (a < b);
  return m_ascending ? result : -result;
}

void TbrKeySorter::StartBlock() {
  if (m_blocks.size() <= m_curBlock) m_blocks.emplace_back();
  if (!m_blocks[m_curBlock]) {
    m_blocks[m_curBlock].reset(new (std::nothrow) Node[cpl::kNodesPerBlock]);
    if (!m_blocks[m_curBlock]) throw std::bad_alloc();
  }
  m_blockBase[m_curBlock] = m_blocks[m_curBlock].get();
  std::memset(m_blocks[m_curBlock].get(), 0, kNodeBlockBytes);
  m_nextIndex = 0;
  m_peakBlocks = std::max(m_peakBlocks, m_curBlock + 1);
}

// Makes sure `nodes` nodes can be taken without a spill in the middle of one insert.
// Returns false when the trie had to be spilled first (it is then empty).
bool TbrKeySorter::Reserve(size_t nodes) {
  if (cpl::kNodesPerBlock - m_nextIndex >= nodes) return true;
  size_t next = m_curBlock + 1;
  if (next < cpl::kMaxNodeBlocks) {
    if (m_blocks.size() <= next) m_blocks.emplace_back();
    if (!m_blocks[next]) m_blocks[next].reset(new (std::nothrow) Node[cpl::kNodesPerBlock]);
    if (m_blocks[next]) {
      m_curBlock = next;
      StartBlock();
      return true;
    }
  }
  Spill();
  return false;
}

uint16_t TbrKeySorter::NewNode() {
  auto n = static_cast<uint16_t>(m_curBlock * cpl::kNodesPerBlock + m_nextIndex++);
  return n;
}

void TbrKeySorter::ClearTrie() {
  std::fill(std::begin(m_rootChild), std::end(m_rootChild), uint16_t{0});
  m_secondChild.assign(256 * 256, 0);
  m_blocks.resize(1);
  m_curBlock = 0;
  StartBlock();
  NewNode();
}

void TbrKeySorter::Add(int32_t recNo, std::string_view key) {
  key = TrimRight(key);
  if (key.size() > static_cast<size_t>(MaxKeyLength()))
    throw TbrSortError(dbf::code::kFieldType, dbf::subcode::kWrite,
                       "Key longer than " + std::to_string(MaxKeyLength()) + " bytes");
  char suffixBuffer[12];
  std::string_view suffix = RecordSuffix(recNo, suffixBuffer);
  m_longest = std::max(m_longest, static_cast<int>(key.size()));
  ++m_count;
  Reserve(key.size() + suffix.size() + 2);
  if (!m_unique) {
    m_sortString.assign(key);
    m_sortString += suffix;
    At(Insert(0, m_sortString)).meta |= kStringEnd;
    return;
  }
  uint16_t keyEnd = Insert(0, key);
  if (At(keyEnd).meta & kKeyEnd) return;  // the first record of a key value wins
  At(keyEnd).meta |= kKeyEnd;
  At(Insert(keyEnd, suffix)).meta |= kStringEnd;
}

// The lookup slot for child `c` of `parent` when `parent` is a first-level node
// without an inline tail, else null.
uint16_t* TbrKeySorter::SecondSlot(uint16_t parent, uint8_t c) {
  if (parent == 0) return nullptr;
  const Node& node = At(parent);
  if (m_rootChild[node.ch] != parent || (node.meta & kTailMask) != 0) return nullptr;
  return &m_secondChild[node.ch * 256u + c];
}

// Walks down from `from` along `s`, creating what is missing; returns the node at
// which `s` ends (for an empty `s`, `from` itself).
uint16_t TbrKeySorter::Insert(uint16_t from, std::string_view s) {
  uint16_t cur = from;
  size_t i = 0;
  while (i < s.size()) {
    auto c = static_cast<uint8_t>(s[i]);
    uint16_t prev = 0;
    uint16_t* second = SecondSlot(cur, c);
    uint16_t n = cur == 0 ? m_rootChild[c] : (second != nullptr ? *second : 0);
    if (n == 0) {
      n = At(cur).child;
      while (n != 0 && Compare(At(n).ch, c) < 0) {
        prev = n;
        n = At(n).sibling;
      }
    }
    if (n == 0 || At(n).ch != c) {
      uint16_t head = 0;
      uint16_t last = NewBranch(s.substr(i), head);
      At(head).sibling = n;
      (prev != 0 ? At(prev).sibling : At(cur).child) = head;
      if (cur == 0) m_rootChild[c] = head;
      if (second != nullptr) *second = head;
      return last;
    }
    ++i;
    int tailLen = At(n).meta & kTailMask;
    int k = 0;
    while (k < tailLen && i < s.size() && At(n).tail[k] == static_cast<uint8_t>(s[i])) ++k, ++i;
    if (k < tailLen) Split(n, k);
    cur = n;
  }
  return cur;
}

// Stores `s` as a chain of packed nodes; returns the last one, the first in `head`.
uint16_t TbrKeySorter::NewBranch(std::string_view s, uint16_t& head) {
  uint16_t prev = 0;
  size_t i = 0;
  while (i < s.size()) {
    uint16_t n = NewNode();
    Node& node = At(n);
    node.ch = static_cast<uint8_t>(s[i++]);
    int tail = 0;
    while (tail < kMaxTail && i < s.size()) node.tail[tail++] = static_cast<uint8_t>(s[i++]);
    node.meta = static_cast<uint8_t>(tail);
    if (prev == 0) head = n; else At(prev).child = n;
    prev = n;
  }
  return prev;
}

// Unpacks a packed node after `keep` inline characters: the rest of the tail moves to
// a new node below it, together with the node's children and end marks.
void TbrKeySorter::Split(uint16_t n, int keep) {
  uint16_t q = NewNode();
  Node& node = At(n);
  Node& rest = At(q);
  int tailLen = node.meta & kTailMask;
  rest.ch = node.tail[keep];
  int restTail = 0;
  for (int k = keep + 1; k < tailLen; ++k) rest.tail[restTail++] = node.tail[k];
  rest.meta = static_cast<uint8_t>((node.meta & ~kTailMask) | restTail);
  rest.child = node.child;
  rest.sibling = 0;
  node.meta = static_cast<uint8_t>(keep);
  node.child = q;
  if (uint16_t* second = SecondSlot(n, rest.ch)) *second = q;
}

void TbrKeySorter::Walk(uint16_t n, std::string& prefix,
                        const std::function<void(std::string_view)>& fn) {
  for (uint16_t c = At(n).child; c != 0; c = At(c).sibling) {
    size_t mark = prefix.size();
    const Node& node = At(c);
    prefix += static_cast<char>(node.ch);
    prefix.append(reinterpret_cast<const char*>(node.tail), node.meta & kTailMask);
    if (node.meta & kStringEnd) fn(std::string_view(prefix));
    Walk(c, prefix, fn);
    prefix.resize(mark);
  }
}

// The digits of a sort string are its trailing bytes at or above 32, preceded by
// their count byte; the key is what comes before that byte.
static size_t DigitStart(std::string_view s) {
  size_t j = s.size();
  while (j > 0 && static_cast<uint8_t>(s[j - 1]) >= 32) --j;
  return j;
}

std::string_view TbrKeySorter::KeyPart(std::string_view s) {
  size_t j = DigitStart(s);
  return s.substr(0, j > 0 ? j - 1 : 0);
}

void TbrKeySorter::Deliver(std::string_view s) {
  int32_t recNo = 0;
  for (size_t k = DigitStart(s); k < s.size(); ++k) recNo = recNo * 10 + (s[k] - '0');
  m_sink.Output(recNo, KeyPart(s));
}

void TbrKeySorter::Finish() {
  if (m_runStarts.empty()) {
    std::string prefix;
    auto deliver = [this](std::string_view s) { Deliver(s); };
    Walk(0, prefix, deliver);
  } else {
    if (At(0).child != 0) Spill();
    m_blocks.clear();
    uint8_t zero[cpl::kLinkSize] = {};
    WriteAt(zero, sizeof zero, m_runStarts.back());
    Merge();
  }
  m_blocks.clear();
  m_blocks.shrink_to_fit();
  m_secondChild = {};
}

}  // namespace qm::index

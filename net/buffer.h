#pragma once
// TBuffer: one fixed-size block of a socket's send queue, and the queue itself.
//
//   0            consumed          written           Size
//   +--------------+------------------+----------------+
//   | handed to    |  unsent bytes    |  free room     |
//   | the system   |  (Peek)          |  (Write)       |
//   +--------------+------------------+----------------+
//
// Invariant: 0 <= consumed <= written <= Size. When consumed reaches written both
// return to 0, so a block is filled again from its start instead of being freed.

#include <sys/uio.h>

#include <deque>
#include <memory>
#include <vector>

namespace qm::net {

class TBuffer {
 public:
  static constexpr int kDefaultSize = 1514;  // one Ethernet frame

  explicit TBuffer(int size = kDefaultSize);  // size <= 0 gives kDefaultSize

  int Size() const { return static_cast<int>(m_data.size()); }
  // Copies as much as fits after the written bytes; returns the count copied.
  int Write(const void* data, int length);
  // First unsent byte and the count of unsent bytes; nullptr and 0 when none.
  const char* Peek(int& length) const;
  // Marks up to count unsent bytes as sent; returns how many were marked.
  int Remove(int count);

 private:
  std::vector<char> m_data;
  int m_written = 0;
  int m_consumed = 0;
};

// The ordered list of blocks that a socket writes out as the system accepts them.
class TSendQueue {
 public:
  explicit TSendQueue(int blockSize = TBuffer::kDefaultSize) : m_blockSize(blockSize) {}

  // Writes into the last block and creates further blocks for the rest.
  void Append(const void* data, int length);
  // Unsent bytes of the first block holding any; frees emptied leading blocks
  // but keeps the last one for reuse. nullptr and 0 when everything is sent.
  const char* Front(int& length);
  // Marks count bytes as sent, across blocks; emptied leading blocks are freed.
  void Consume(int count);
  // Up to maxParts spans of unsent bytes, in queue order, for one gathered
  // write: a large send then costs one system call, not one per block.
  int Gather(iovec* parts, int maxParts) const;
  bool AllSent();
  int BlockCount() const { return static_cast<int>(m_blocks.size()); }
  void Clear() { m_blocks.clear(); }

 private:
  int m_blockSize;
  std::deque<std::unique_ptr<TBuffer>> m_blocks;
};

}  // namespace qm::net

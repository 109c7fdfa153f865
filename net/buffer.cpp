#include "net/buffer.h"

#include <algorithm>
#include <cstring>

namespace qm::net {

TBuffer::TBuffer(int size) : m_data(size <= 0 ? kDefaultSize : size) {}

int TBuffer::Write(const void* data, int length) {
  const int n = std::clamp(Size() - m_written, 0, std::max(length, 0));
  if (n > 0) std::memcpy(m_data.data() + m_written, data, n);
  m_written += n;
  return n;
}

const char* TBuffer::Peek(int& length) const {
  length = m_written - m_consumed;
  return length > 0 ? m_data.data() + m_consumed : nullptr;
}

int TBuffer::Remove(int count) {
  const int n = std::clamp(count, 0, m_written - m_consumed);
  m_consumed += n;
  if (m_consumed == m_written) m_consumed = m_written = 0;
  return n;
}

void TSendQueue::Append(const void* data, int length) {
  const char* bytes = static_cast<const char*>(data);
  if (m_blocks.empty()) m_blocks.push_back(std::make_unique<TBuffer>(m_blockSize));
  int done = m_blocks.back()->Write(bytes, length);
  while (done < length) {
    m_blocks.push_back(std::make_unique<TBuffer>(m_blockSize));
    done += m_blocks.back()->Write(bytes + done, length - done);
  }
}

const char* TSendQueue::Front(int& length) {
  length = 0;
  while (!m_blocks.empty()) {
    const char* p = m_blocks.front()->Peek(length);
    if (p) return p;
    if (m_blocks.size() == 1) return nullptr;
    m_blocks.pop_front();
  }
  return nullptr;
}

void TSendQueue::Consume(int count) {
  while (count > 0 && !m_blocks.empty()) {
    count -= m_blocks.front()->Remove(count);
    if (count == 0 || m_blocks.size() == 1) break;
    m_blocks.pop_front();  // sent whole; the rest of the count belongs to the next block
  }
}

int TSendQueue::Gather(iovec* parts, int maxParts) const {
  int count = 0;
  for (const auto& block : m_blocks) {
    if (count == maxParts) break;
    int length = 0;
    const char* bytes = block->Peek(length);
    if (bytes) parts[count++] = {const_cast<char*>(bytes), static_cast<size_t>(length)};
  }
  return count;
}

bool TSendQueue::AllSent() {
  int length = 0;
  return Front(length) == nullptr;
}

}  // namespace qm::net

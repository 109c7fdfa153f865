#pragma once
// Byte helpers of the memo layouts: FoxPro's big-endian integers and the
// 8-byte block header that starts every dBASE IV and FoxPro memo.

#include <cstdint>

#include "dbf/dbf_format.h"
#include "dbf/memo_format.h"

namespace qm::dbf::bytes {

inline uint32_t GetBe16(const uint8_t* p) { return (uint32_t{p[0]} << 8) | p[1]; }
inline uint32_t GetBe32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
inline void PutBe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void PutBe32(uint8_t* p, uint32_t v) {
  PutBe16(p, v >> 16);
  PutBe16(p + 2, v);
}

// Text length from a block header; false when the block is not a text memo.
inline bool ParseBlockHeader(memo::MemoLayout layout, const uint8_t* p, uint32_t& length) {
  if (layout == memo::MemoLayout::DBase4) {
    if (layout::GetU16(p) != memo::kDb4BlockSignature) return false;
    const uint32_t total = layout::GetU32(p + 4);
    length = total >= memo::kBlockHeaderSize ? total - memo::kBlockHeaderSize : 0;
    return true;
  }
  const uint32_t type = GetBe32(p);
  if (type != memo::kFoxTypeText && type != memo::kFoxTypePicture) return false;
  length = GetBe32(p + 4);
  return true;
}

// Writes the block header for a text of length bytes (nothing for dBASE III).
inline void PutBlockHeader(memo::MemoLayout layout, uint8_t* p, uint32_t length) {
  if (layout == memo::MemoLayout::DBase4) {
    layout::PutU16(p, memo::kDb4BlockSignature);
    layout::PutU16(p + 2, memo::kDb4BlockHeaderSize);
    layout::PutU32(p + 4, length + memo::kBlockHeaderSize);
  } else if (layout == memo::MemoLayout::FoxPro) {
    PutBe32(p, memo::kFoxTypeText);
    PutBe32(p + 4, length);
  }
}

}  // namespace qm::dbf::bytes

#pragma once
// Byte layout of a DBF table file (all integers little-endian):
//
//   0            header (32 bytes)
//   32           n field descriptors, 32 bytes each, in field order
//   32 + 32n     0x0D  field terminator
//   33 + 32n     263-byte back-link area, Visual FoxPro (version 0x30) only
//   H            records, R bytes each, record 1 first
//   H + count*R  0x1A  end-of-file marker
//
// Header:   [0] version  [1..3] yy mm dd of last update  [4..7] record count
//           [8..9] header length H  [10..11] record length R  [12..15] reserved
//           [16..19] change stamp  [20..23] user number  [24..27] reserved
//           [28] flags: bit 0 production index, bit 1 memo (VFP), bit 2 container (VFP)
//           [29..31] reserved
// Descriptor: [0..10] name, zero-padded  [11] type letter  [12..15] zero on disk
//           (record offset in memory)  [16] length  [17] decimals  [18..25] reserved
//           [26..27] zero on disk (field number in memory)  [28..31] zero on disk
// Record:   [0] ' ' live or '*' deleted, then the fields with no gaps.
//
// The record count is taken from the file size, never from header bytes 4..7.

#include <cstdint>

namespace qm::dbf::layout {

constexpr uint32_t kHeaderSize = 32;
constexpr uint32_t kDescriptorSize = 32;
constexpr uint32_t kVisualFoxBacklinkSize = 263;
constexpr uint8_t kFieldTerminator = 0x0D;
constexpr uint8_t kEndOfFile = 0x1A;
constexpr char kLiveFlag = ' ';
constexpr char kDeletedFlag = '*';

// Header offsets.
constexpr uint32_t kVersionOffset = 0;
constexpr uint32_t kDateOffset = 1;           // yy, mm, dd
constexpr uint32_t kRecordCountOffset = 4;    // u32
constexpr uint32_t kHeaderLengthOffset = 8;   // u16
constexpr uint32_t kRecordLengthOffset = 10;  // u16
constexpr uint32_t kChangeStampOffset = 16;   // u32
constexpr uint32_t kUserNumberOffset = 20;    // u32
constexpr uint32_t kFlagsOffset = 28;
constexpr uint8_t kKeptFlagBits = 0x07;  // the only flag bits an update writes back
constexpr uint8_t kFlagProductionIndex = 0x01;
constexpr uint8_t kFlagMemo = 0x02;

// Descriptor offsets.
constexpr uint32_t kNameOffset = 0;
constexpr uint32_t kNameSize = 11;  // at most 10 characters and a zero
constexpr uint32_t kTypeOffset = 11;
constexpr uint32_t kFieldOffsetOffset = 12;  // in memory: offset in the record
constexpr uint32_t kLengthOffset = 16;
constexpr uint32_t kDecimalsOffset = 17;
constexpr uint32_t kFieldNumberOffset = 26;  // in memory: 1-based field number

// Version bytes that open.
constexpr uint8_t kVersionPlain = 0x03;      // no memo (dBASE III/IV, FoxPro)
constexpr uint8_t kVersionDb3Memo = 0x83;    // dBASE III with .DBT
constexpr uint8_t kVersionDb4Memo = 0x8B;    // dBASE IV with .DBT
constexpr uint8_t kVersionFoxMemo = 0xF5;    // FoxPro 2 with .FPT
constexpr uint8_t kVersionVisualFox = 0x30;  // Visual FoxPro, .FPT when flag bit 1

constexpr bool IsKnownVersion(uint8_t version) {
  return version == kVersionPlain || version == kVersionDb3Memo || version == kVersionDb4Memo ||
         version == kVersionFoxMemo || version == kVersionVisualFox;
}

// Little-endian access to header bytes.
inline uint32_t GetU16(const uint8_t* p) { return p[0] | (p[1] << 8); }
inline uint32_t GetU32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void PutU16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
  PutU16(p, v);
  PutU16(p + 2, v >> 16);
}

}  // namespace qm::dbf::layout

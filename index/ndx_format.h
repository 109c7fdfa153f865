#pragma once
// Byte layout of the dBASE III single-key index file (.NDX).
//
//   block 0: header                         blocks 1..n: pages
//   +0  u32 root block                      +0  u32 key count (16-bit value, high half 0)
//   +4  u32 next free block (= blocks)      +4  entry 0 .. entry n (inner pages: n + 1)
//   +8  u32 0 (1: change under way)             entry: +0 u32 child block (0 in leaves)
//   +12 u16 key length                                 +4 u32 record number (leaves)
//   +14 u16 max keys per page                          +8 key bytes, zero-padded to entry size
//   +16 u16 key type (0 char, 1 numeric/date)
//   +18 u16 entry size
//   +23 u8  unique flag
//   +24     key expression, zero-terminated
//   +484    Quillmart's print of the table the index describes (when the
//           expression leaves room): u32 "QMTP", u32 record count, u32 change
//           stamp, u64 table size, u64 table modification time in ns
//
// Little-endian throughout. A page is a leaf when the child block of entry 0 is 0.
// The word at +8 is 0 in every finished file; Quillmart sets it to 1 while a change
// of several blocks is under way (other readers ignore it), so an index left by a
// writer killed part way is known and rebuilt.
// Each key of an inner page is the largest key of the subtree below its child; the
// extra last entry of an inner page carries only a child. The file only grows.

#include <cstdint>

namespace qm::index::ndx {

inline constexpr int kBlockSize = 512;
inline constexpr int kRootOffset = 0;
inline constexpr int kNextFreeOffset = 4;
inline constexpr int kChangeMarkOffset = 8;
inline constexpr int kKeyLengthOffset = 12;
inline constexpr int kKeysPerPageOffset = 14;
inline constexpr int kKeyTypeOffset = 16;
inline constexpr int kEntrySizeOffset = 18;
inline constexpr int kUniqueOffset = 23;
inline constexpr int kExpressionOffset = 24;
inline constexpr int kExpressionMax = 488 - 1;  // room for the terminating zero
// The table print sits at the end of block 0, after the expression's zero; other
// readers stop at that zero. An index without it is never taken as current.
inline constexpr int kTablePrintOffset = 484;
inline constexpr uint32_t kTablePrintMagic = 0x50544D51;  // "QMTP"
inline constexpr int kTablePrintSize = 28;
inline constexpr int kExpressionMaxWithPrint = kTablePrintOffset - kExpressionOffset - 1;

inline constexpr int kCountSize = 4;       // key count at the start of a page
inline constexpr int kEntryChildOffset = 0;
inline constexpr int kEntryRecordOffset = 4;
inline constexpr int kEntryKeyOffset = 8;
inline constexpr int kPagePayload = 504;   // 512 - count - extra child pointer of inner pages

inline constexpr int kKeyTypeCharacter = 0;
inline constexpr int kKeyTypeNumeric = 1;  // numeric and date keys: an 8-byte double
inline constexpr int kNumericKeyLength = 8;
inline constexpr int kMaxKeyLength = 100;  // the longest key dBASE III readers accept
inline constexpr int kEntrySizeSlack = 8;   // child and record number in front of a key
inline constexpr int kMaxLevels = 31;      // no real tree is deeper; deeper means damage
inline constexpr double kBlankDateKey = 1e100;  // blank dates sort after every real date

// Entry size: key length + 8 rounded up to a multiple of 4.
constexpr int EntrySize(int keyLength) { return (keyLength + 8 + 3) / 4 * 4; }
constexpr int KeysPerPage(int keyLength) { return kPagePayload / EntrySize(keyLength); }

}  // namespace qm::index::ndx

namespace qm::index {
// The widest character key an NDX file can hold; key fields wider than this cannot
// be the program's index key (table creation and the setup dialog refuse them).
inline constexpr int kMaxNdxKeyLength = ndx::kMaxKeyLength;
}  // namespace qm::index

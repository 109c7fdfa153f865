#pragma once
// Layout of the key sorter's work file (8 hex digits + ".CPL"): a chain of runs.
//
//   run = 1024-byte blocks        block: +0    u32 offset of the next run (first block
//                                              of a run; 0 in the others and the last run)
//                                        +4    entries ... zero fill, 4 zero bytes at 1020
//   entry: u8 bytes shared with the previous sort string of the run
//          u8 count of the remaining bytes, then those bytes
//
// An entry never crosses a block: one that would reach byte 1020 starts the next block.
// Sort string: key text without trailing blanks, then (unless unique suppressed a
// duplicate) one byte with the digit count of the record number and its digits.

namespace qm::index::cpl {

inline constexpr int kBlockSize = 1024;
inline constexpr int kLinkSize = 4;
inline constexpr int kBlockLimit = 1020;     // entries end before this offset
inline constexpr int kMaxSortString = 255;   // entry counts are single bytes
inline constexpr int kNodeSize = 8;
inline constexpr int kNodesPerBlock = 2048;  // 16 KB node blocks
inline constexpr int kMaxNodeBlocks = 32;    // 512 KB of nodes at most

}  // namespace qm::index::cpl

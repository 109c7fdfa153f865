#pragma once
// Byte layouts of the three memo file kinds a table may carry.
//
// dBASE III .DBT (table version 0x83), block size 512, fixed:
//   block 0   [0..3]  next free block, LE u32 (1 in a new file)
//             [4..7]  zero
//             [8..15] table name stem, zero-padded (written at creation, never read)
//             [16..511] zero
//   block b   text ... 0x1A 0x1A, zeros up to the next multiple of 512
//   A new file is the header block followed by one 0x1A (513 bytes).
//   Blocks are never reused: a memo that outgrows its blocks moves to the end.
//
// dBASE IV .DBT (table version 0x8B):
//   header    [0..3]  next free block, LE u32
//             [8..15] table name stem
//             [18] 2, [19] 1
//             [20..23] block size, LE u32 (512 in files we create; 24-byte header)
//             [24..27] first run of the free-block chain, LE u32, 0 = none (ours)
//   memo      [0..1] FF FF  [2..3] 8 (LE u16)  [4..7] length incl. these 8 bytes (LE u32)
//   free run  [0..3] next free run, LE u32  [4..7] blocks in this run, LE u32
//
// FoxPro .FPT (table version 0xF5, and 0x30 with header flag bit 1):
//   header    [0..3]  next free block, BE u32
//             [6..7]  block size, BE u16 (64 in files we create)
//   memo      [0..3] block type, BE u32 (1 text; 0 accepted)  [4..7] text length, BE u32

#include <cstddef>
#include <cstdint>

namespace qm::dbf::memo {

enum class MemoLayout : std::uint8_t { DBase3, DBase4, FoxPro };

// Common to all layouts.
constexpr std::uint32_t kNextFreeOffset = 0;         // next free block number
constexpr std::uint32_t kStemOffset = 8;             // table name stem (dBASE)
constexpr std::uint32_t kStemLength = 8;
constexpr std::uint32_t kHeaderWorkSize = 32;        // header bytes read and rewritten
constexpr std::uint32_t kMaxPiece = 32768;           // largest single read or write
constexpr std::uint32_t kMaxMemoLength = 65519;      // dBASE III scan limit, line buffer limit

// dBASE III.
constexpr std::uint32_t kDb3BlockSize = 512;
constexpr std::uint8_t kDb3Terminator = 0x1A;        // written twice after the text
constexpr std::uint32_t kDb3TerminatorSize = 2;
constexpr std::uint32_t kDb3NewFileSize = 513;       // header block + 0x1A

// dBASE IV.
constexpr std::uint32_t kDb4MarkOffset = 18;         // bytes 2, 1
constexpr std::uint32_t kDb4BlockSizeOffset = 20;    // LE u32
constexpr std::uint32_t kDb4FreeChainOffset = 24;    // LE u32, first free run
constexpr std::uint32_t kDb4NewHeaderSize = 24;
constexpr std::uint16_t kDb4BlockSignature = 0xFFFF;
constexpr std::uint16_t kDb4BlockHeaderSize = 8;

// FoxPro.
constexpr std::uint32_t kFoxBlockSizeOffset = 6;     // BE u16
constexpr std::uint32_t kFoxNewNextFree = 8;         // 8 blocks of 64 = the 512-byte header
constexpr std::uint32_t kFoxNewBlockSize = 64;
constexpr std::uint32_t kFoxNewHeaderSize = 512;
constexpr std::uint32_t kFoxTypeText = 1;
constexpr std::uint32_t kFoxTypePicture = 0;         // accepted as text

// Every memo block of dBASE IV and FoxPro starts with an 8-byte block header.
constexpr std::uint32_t kBlockHeaderSize = 8;
// Longest text written into a dBASE IV or FoxPro memo (the length field is 32 bits).
constexpr std::uint32_t kMaxBlockHeaderLength = 0x7FFF0000u;

// dBASE IV free-block chain: a run's first block holds the next run and its
// block count; chains longer than this are cut (the rest stays abandoned).
constexpr std::uint32_t kDb4MaxFreeRuns = 1024;

// Block sizes outside this range mark a damaged header (the file could not be
// walked or would need absurd buffers).
constexpr std::uint32_t kMinBlockSize = 1;
constexpr std::uint32_t kMaxBlockSize = 1u << 20;

// Memo lock regions per locking protocol: MemoLockRegion() in disk_file.h.

// Line operations: line ends, soft return and the wrap width.
constexpr char kHardReturn = 0x0D;
constexpr char kSoftReturn = static_cast<char>(0x8D);
constexpr char kLineFeed = 0x0A;
constexpr std::size_t kLineWidth = 255;

// The memo field in the record: block number as decimal text, right-aligned.
constexpr std::uint32_t kMemoFieldWidth = 10;

}  // namespace qm::dbf::memo

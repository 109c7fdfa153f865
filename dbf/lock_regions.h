#pragma once
// The byte ranges that stand for locks, as every program sharing a table
// agrees on them. Record, append, file and memo locks lie far beyond the data
// of any real file: they signal ownership between programs of the same
// protocol and stop nobody from reading. The header lock (bytes 0..31)
// serialises appends and header rewrites of all writers, whatever their
// protocol. Offsets and lengths are unsigned 32-bit values.
//
//   protocol   record lock (index / none)       append       file lock              memo lock
//   Default    0x7FFFFFFE-r / 0x40000000+H+(r-1)R  0x7FFFFFFE  0x40000000,0x3FFFFFFF  0x7FFFFFFD,1
//   DB4Lock    0xEFFFFFFE-r                       0xEFFFFFFF  0x40000000,0xB0000000  0xEFFFFFFE,2
//   ClipLock   1000000000+r                       1000000000  1000000000,1000000000  1000000000,1
//   FoxLock    as Default
//   all        header 0,32   whole file 0,0xFFFFFFFF   open-time probe 0,1
//
// Open-mode locks (this program's own, beyond the 32-bit range so no region
// above ever touches them): every shared open read-locks kOpenPresenceOffset;
// an exclusive open locks the whole file, which alone covers
// kOpenExclusiveOffset. Each kind of open refuses to start while it sees the other.

#include <cstdint>

namespace qm::dbf {

enum class TbrLokProtocol : uint8_t { Default = 0, DB4Lock = 1, ClipLock = 2, FoxLock = 3 };

// A lock region: unsigned 32-bit offset and length, as other programs use them.
struct TbrLockRegion {
  uint32_t offset;
  uint32_t length;
  bool operator==(const TbrLockRegion&) const = default;
};

constexpr uint32_t kWholeFileLength = 0xFFFFFFFFu;

// The regions of each protocol. H header length, R record length, r record number.
TbrLockRegion RecordLockRegion(TbrLokProtocol protocol, uint32_t headerLength,
                               uint32_t recordLength, int32_t recordNo, bool indexAttached);
TbrLockRegion AppendLockRegion(TbrLokProtocol protocol);
TbrLockRegion FileLockRegion(TbrLokProtocol protocol);
TbrLockRegion MemoLockRegion(TbrLokProtocol protocol);
constexpr TbrLockRegion kHeaderLockRegion{0, 32};
constexpr TbrLockRegion kWholeFileLockRegion{0, kWholeFileLength};
constexpr TbrLockRegion kProbeLockRegion{0, 1};

constexpr uint64_t kOpenPresenceOffset = 0x100000000ull;   // one byte
constexpr uint64_t kOpenExclusiveOffset = 0x100000001ull;  // one byte

}  // namespace qm::dbf

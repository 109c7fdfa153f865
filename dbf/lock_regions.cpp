#include "dbf/lock_regions.h"

namespace qm::dbf {
namespace {

struct ProtocolValues {
  uint32_t recordLockBase;
  uint32_t topOffset;
  uint32_t fileLockLength;
};

ProtocolValues ValuesOf(TbrLokProtocol protocol) {
  switch (protocol) {
    case TbrLokProtocol::DB4Lock:
      return {0x40000000u, 0xEFFFFFFFu, 0xB0000000u};
    case TbrLokProtocol::ClipLock:
      return {1000000000u, 1000000000u, 1000000000u};
    default:
      return {0x40000000u, 0x7FFFFFFEu, 0x3FFFFFFFu};
  }
}

}  // namespace

TbrLockRegion RecordLockRegion(TbrLokProtocol protocol, uint32_t headerLength,
                               uint32_t recordLength, int32_t recordNo, bool indexAttached) {
  const auto r = static_cast<uint32_t>(recordNo);
  switch (protocol) {
    case TbrLokProtocol::DB4Lock:
      return {0xEFFFFFFEu - r, 1};
    case TbrLokProtocol::ClipLock:
      return {1000000000u + r, 1};
    default:
      if (indexAttached) return {0x7FFFFFFEu - r, 1};
      return {0x40000000u + headerLength + (r - 1) * recordLength, 1};
  }
}

TbrLockRegion AppendLockRegion(TbrLokProtocol protocol) {
  return {ValuesOf(protocol).topOffset, 1};
}

TbrLockRegion FileLockRegion(TbrLokProtocol protocol) {
  const ProtocolValues values = ValuesOf(protocol);
  return {values.recordLockBase, values.fileLockLength};
}

TbrLockRegion MemoLockRegion(TbrLokProtocol protocol) {
  switch (protocol) {
    case TbrLokProtocol::DB4Lock:
      return {0xEFFFFFFEu, 2};
    case TbrLokProtocol::ClipLock:
      return {1000000000u, 1};
    default:
      return {0x7FFFFFFDu, 1};
  }
}

}  // namespace qm::dbf

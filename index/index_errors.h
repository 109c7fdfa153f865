#pragma once
// Codes and subcodes the index engine reports through the engine's error path.

#include <cstdint>

namespace qm::index {

namespace code {
constexpr int32_t kFileNotFound = 2;       // index file missing, unknown extension, not creatable
constexpr int32_t kLockRefused = 33;       // an index file lock refused before a write
constexpr int32_t kDamaged = 1001;         // header or page of an index file is damaged
constexpr int32_t kExpression = 1006;      // key expression cannot be evaluated
constexpr int32_t kSharing = 2112;         // exists but cannot be opened in the table's mode;
                                           // also: a tag misses the current record's key
constexpr int32_t kTagRequired = 5117;     // CDX/MDX build without a tag name
}  // namespace code

namespace subcode {
constexpr int32_t kFileName = -7;          // text: the index file name
constexpr int32_t kPageRead = 1101;        // damage found while reading a block
constexpr int32_t kIndexLock = 2222;
constexpr int32_t kTagEmpty = 5114;
constexpr int32_t kKeyMissing = 5211;
constexpr int32_t kExpression = 5212;
}  // namespace subcode

}  // namespace qm::index

#include "index/ndx_page.h"

#include <cstring>

#include "index/ndx_format.h"
#include "index/ndx_key.h"

namespace qm::index {

uint32_t GetU32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
void PutU32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}
void PutU16(uint8_t* p, uint16_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}

std::string DecodeNdxPage(const uint8_t* block, const TbrNdxGeometry& geometry,
                          uint32_t blockCount, TbrNdxPage& page) {
  // The count is kept as 16 bits; the high half is 0 in every writer we know.
  uint32_t count = GetU32(block);
  page.leaf = GetU32(block + ndx::kCountSize + ndx::kEntryChildOffset) == 0;
  uint32_t entries = page.leaf ? count : count + 1;
  if (count > static_cast<uint32_t>(geometry.maxKeys))
    return "key count " + std::to_string(count) + " above the page maximum " +
           std::to_string(geometry.maxKeys);
  page.entries.assign(entries, {});
  for (uint32_t i = 0; i < entries; ++i) {
    const uint8_t* entry = block + ndx::kCountSize + i * geometry.entrySize;
    TbrNdxEntry& out = page.entries[i];
    if (page.leaf) {
      out.value = GetU32(entry + ndx::kEntryRecordOffset);
      // Record numbers are 1 to 2^31 - 1: a larger one would read as a negative
      // number, which the table takes for a move (next, prior, ...).
      if (out.value == 0 || out.value > 0x7FFFFFFFu)
        return "record number " + std::to_string(out.value) + " in entry " + std::to_string(i);
    } else {
      out.value = GetU32(entry + ndx::kEntryChildOffset);
      if (out.value == 0 || out.value >= blockCount)
        return "child block " + std::to_string(out.value) + " outside the file";
      if (i == count) break;  // the extra child carries no key
    }
    const char* key = reinterpret_cast<const char*>(entry + ndx::kEntryKeyOffset);
    if (geometry.character) {
      out.key = StoredKey(std::string_view(key, geometry.keyLength), true);
    } else {
      double value;
      std::memcpy(&value, key, sizeof value);
      out.key = OrderedFromDouble(value);
    }
  }
  return {};
}

void EncodeNdxPage(const TbrNdxPage& page, const TbrNdxGeometry& geometry, uint8_t* block) {
  std::memset(block, 0, ndx::kBlockSize);
  size_t n = page.entries.size();
  PutU32(block, static_cast<uint32_t>(page.leaf || n == 0 ? n : n - 1));
  for (size_t i = 0; i < n; ++i) {
    uint8_t* entry = block + ndx::kCountSize + i * geometry.entrySize;
    const TbrNdxEntry& in = page.entries[i];
    PutU32(entry + (page.leaf ? ndx::kEntryRecordOffset : ndx::kEntryChildOffset), in.value);
    if (!page.leaf && i + 1 == n) break;
    uint8_t* key = entry + ndx::kEntryKeyOffset;
    if (geometry.character) {
      std::memset(key, ' ', geometry.keyLength);
      std::memcpy(key, in.key.data(), std::min<size_t>(in.key.size(), geometry.keyLength));
    } else {
      double value = DoubleFromOrdered(in.key);
      std::memcpy(key, &value, sizeof value);
    }
  }
}

}  // namespace qm::index

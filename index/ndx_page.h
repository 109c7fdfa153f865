#pragma once
// One NDX page in memory and its 512-byte block form.

#include <cstdint>
#include <string>
#include <vector>

namespace qm::index {

// Key object: a leaf entry's value is a record number, an inner entry's a child block.
struct TbrNdxEntry {
  std::string key;  // in-memory form (ndx_key.h); empty for the extra last inner entry
  uint32_t value = 0;
};

// Sizes fixed by the header.
struct TbrNdxGeometry {
  int keyLength = 0;
  int entrySize = 0;
  int maxKeys = 0;
  bool character = true;
};

struct TbrNdxPage {
  uint32_t block = 0;
  bool leaf = true;
  std::vector<TbrNdxEntry> entries;  // inner pages: count + 1

  // The key count as the page stores it: inner pages have one entry more.
  int KeyCount() const {
    int n = static_cast<int>(entries.size());
    return leaf ? n : n - 1;
  }
};

// Decodes a block. Returns an empty text on success, else what is damaged: a count
// above the page maximum, a leaf entry with record number 0, or (inner pages) a
// child block outside 1..blockCount-1.
std::string DecodeNdxPage(const uint8_t* block, const TbrNdxGeometry& geometry,
                          uint32_t blockCount, TbrNdxPage& page);

// Encodes at most maxKeys (+1 for inner pages) entries into a zero-filled block.
void EncodeNdxPage(const TbrNdxPage& page, const TbrNdxGeometry& geometry, uint8_t* block);

uint32_t GetU32(const uint8_t* p);
uint16_t GetU16(const uint8_t* p);
void PutU32(uint8_t* p, uint32_t value);
void PutU16(uint8_t* p, uint16_t value);

}  // namespace qm::index

#pragma once
// Files the fuzz targets hand to the engines: one private folder per process,
// emptied between inputs, and the catalog fixture of tests/data copied into it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qm::fuzz {

// The process's folder (made on first use, removed at exit); its files are
// removed, so the previous input leaves nothing behind.
const std::string& FreshFolder();
// Writes `bytes` to folder/name and returns the full path.
std::string WriteFile(const std::string& name, std::string_view bytes);
// Copies catalog.dbf and its memo file from the fixture into the folder under
// the given stem ("CATALOG" gives CATALOG.DBF and CATALOG.DBT); returns the
// table's path.
std::string CopyCatalogFixture(const std::string& stem);

// Cuts the input at a point named by its first two bytes: the part before
// goes to `first`, the rest to `second` (both empty for shorter inputs).
void SplitInput(const uint8_t* data, size_t size, std::string_view& first, std::string_view& second);

}  // namespace qm::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

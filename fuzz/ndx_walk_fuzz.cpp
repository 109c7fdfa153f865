// Opens the input as CATALOG.NDX over the fixed catalog table of the tests,
// walks it forwards and backwards and seeks keys that are there, are between
// two keys and are past the last.
#include "fuzz/engine_errors.h"
#include "fuzz/fuzz_files.h"
#include "index/index_table.h"

using namespace qm;

namespace {

// More steps than any walk can honestly give: an input of at most 64 KB holds
// 128 pages of at most 50 entries, and a walk reads each page once. A walk
// that gets this far repeats keys and would never end on a larger file.
constexpr int kStepLimit = 100000;

void Walk(index::TbrIndexTable& table, int32_t start, int32_t step) {
  int steps = 0;
  for (bool ok = table.GoTo(start); ok; ok = table.GoTo(step)) {
    (void)table.Text(1);
    if (++steps == kStepLimit) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::RaiseEngineErrors();
  fuzz::FreshFolder();
  const std::string path = fuzz::CopyCatalogFixture("CATALOG");
  fuzz::WriteFile("CATALOG.NDX", std::string_view(reinterpret_cast<const char*>(data), size));
  try {
    index::TbrIndexTable table(path, dbf::kOpenSharedReadOnly);
    if (!table.OpenTable()) return 0;
    table.SetUseDeleted(true);
    if (table.OpenIndexList("CATALOG.NDX", "") != 0 || !table.TagByNumber(1)) return 0;
    table.SelectTag(table.TagByNumber(1)->File().TagName(), false);
    Walk(table, dbf::kGoTop, dbf::kGoNext);
    Walk(table, dbf::kGoBottom, dbf::kGoPrior);
    for (const char* key : {"A100", "C300", "B", "ZZZZ", ""}) (void)table.FindKey(key);
  } catch (const dbf::EEngineIoError&) {
    // Refused as damaged.
  }
  return 0;
}

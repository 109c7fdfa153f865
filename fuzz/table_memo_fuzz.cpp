// Opens a table with its memo file and reads every field of every record, both
// ways. The input is cut in two: the table's bytes and the memo's bytes. The
// memo bytes go under both memo names, so the table's version byte picks the
// layout (dBASE III or IV .DBT, FoxPro .FPT).
#include "dbf/table.h"
#include "fuzz/engine_errors.h"
#include "fuzz/fuzz_files.h"

using namespace qm;

namespace {

void ReadRecord(dbf::TbrTable& table) {
  (void)table.Deleted();
  for (int32_t n = 1; n <= table.FieldCount(); ++n) {
    (void)table.Text(n);
    const char type = table.FieldType(n);
    if (type == 'M' || type == 'B' || type == 'G') (void)table.MemoText(n);
    else if (type == 'N' || type == 'F') (void)table.Number(n);
    else if (type == 'D') (void)table.Date(n);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::RaiseEngineErrors();
  std::string_view tableBytes, memoBytes;
  fuzz::SplitInput(data, size, tableBytes, memoBytes);
  fuzz::FreshFolder();
  const std::string path = fuzz::WriteFile("FUZZ.DBF", tableBytes);
  fuzz::WriteFile("FUZZ.DBT", memoBytes);
  fuzz::WriteFile("FUZZ.FPT", memoBytes);
  try {
    dbf::TbrTable table(path, dbf::kOpenSharedReadOnly);
    if (!table.OpenTable()) return 0;
    table.SetReadAhead(true);
    int steps = 0;
    for (bool ok = table.GoTo(dbf::kGoTop); ok && ++steps < 1000; ok = table.GoTo(dbf::kGoNext))
      ReadRecord(table);
    steps = 0;
    for (bool ok = table.GoTo(dbf::kGoBottom); ok && ++steps < 1000; ok = table.GoTo(dbf::kGoPrior))
      ReadRecord(table);
  } catch (const dbf::EEngineIoError&) {
    // Refused as damaged: what a damaged file must give.
  }
  return 0;
}

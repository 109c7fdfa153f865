// Imports the input as a CSV file into a fresh copy of the catalog table of the
// tests (CODE, NAME, PRICE, SNOTES memo). The input's length picks the encoding
// and whether unmappable characters are replaced, so every seed meets each.
#include "app/core/product_import.h"
#include "fuzz/engine_errors.h"
#include "fuzz/fuzz_files.h"

using namespace qm;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::RaiseEngineErrors();
  fuzz::FreshFolder();
  const std::string table = fuzz::CopyCatalogFixture("CATALOG");
  const std::string csv = fuzz::WriteFile("in.csv", std::string_view(reinterpret_cast<const char*>(data), size));
  catalog::ImportOptions options;
  options.encoding = static_cast<catalog::ImportEncoding>(size % 4);
  options.replaceUnmappable = (size / 4) % 2 == 1;
  try {
    catalog::ImportProducts(csv, table, options);
  } catch (const catalog::ImportError&) {
    // Refused rows: nothing appended.
  } catch (const dbf::EEngineIoError&) {
    // Refused by the engine.
  }
  return 0;
}

// Parses and evaluates the input as a key expression over a record of the
// catalog table (CODE, NAME, PRICE, SNOTES), for a plain table and for a tag's
// key of 20 bytes with date keys.
#include <string>

#include "dbf/table.h"
#include "fuzz/engine_errors.h"
#include "fuzz/fuzz_files.h"
#include "index/key_expr.h"

using namespace qm;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::RaiseEngineErrors();
  static dbf::TbrTable* table = [] {
    fuzz::FreshFolder();
    auto* opened = new dbf::TbrTable(fuzz::CopyCatalogFixture("CATALOG"), dbf::kOpenSharedReadOnly);
    if (!opened->OpenTable() || !opened->GoTo(3)) __builtin_trap();
    return opened;
  }();
  std::string expression(reinterpret_cast<const char*>(data), size);
  index::NormalizeExpression(expression);
  for (int keyLength : {0, 20}) {
    index::TbrExprContext context;
    context.table = table;
    context.keyLength = keyLength;
    context.tagDates = keyLength > 0;
    std::string result;
    char type = 0;
    bool changed = false;
    bool raised = false;
    try {
      index::EvaluateExpression(context, "FUZZ", expression, result, type, changed);
    } catch (const dbf::EEngineIoError&) {
      raised = true;  // refused through the raising error path; no result to look at
    }
    // Accepted or refused, what comes back is never longer than a key may be.
    if (!raised && result.size() > index::kMaxExpressionResult) __builtin_trap();
  }
  return 0;
}

// Appends records with memos to a new catalog table through the engine, the
// way the windows write (shared, lock before write), then reads every field
// and memo back in record order. Prints records per second for both.
//
// Usage: dbf_bench DIR [RECORDS]   (DIR receives CATALOG.DBF and CATALOG.DBT)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "dbf/table.h"
#include "dbf/table_creator.h"

namespace {

using Clock = std::chrono::steady_clock;
using qm::dbf::TbrTable;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

std::string Memo(int i) {
  std::string memo = "Product " + std::to_string(i) + " is sturdy and light.\r\n";
  for (int k = 0; k < i % 4; ++k) memo += "<P>Ask us about bulk prices, colours and sizes. ";
  return memo;
}

bool Append(const std::string& path, int count) {
  TbrTable table(path, qm::dbf::kOpenSharedReadWrite);
  if (!table.OpenTable()) return false;
  table.SetLockBeforeWrite(true);
  static const char* colours[] = {"Red", "Green", "Blue", "Amber", "Slate", "Ivory"};
  for (int i = 0; i < count; ++i) {
    table.BlankRecord();
    char code[16];
    std::snprintf(code, sizeof code, "P%06d", i);
    table.FieldPut(1, code);
    table.FieldPut(2, "Product number " + std::to_string(i));
    table.FieldPut(3, std::to_string(i % 500) + "." + std::to_string(10 + i % 90));
    table.FieldPut(4, colours[i % 6]);
    table.FieldPut(5, std::to_string(i % 1000));
    if (!table.WriteMemo(6, Memo(i)) || !table.AppendRecord()) return false;
  }
  table.CloseTable();
  return true;
}

// Reads all fields as text and every memo; returns bytes seen (kept so the
// work cannot be optimised away).
std::size_t ReadAll(const std::string& path, int& records) {
  TbrTable table(path, qm::dbf::kOpenSharedReadOnly);
  if (!table.OpenTable()) return 0;
  table.SetReadAhead(true);
  std::size_t bytes = 0;
  records = 0;
  for (bool ok = table.GoTo(qm::dbf::kGoTop); ok; ok = table.GoTo(qm::dbf::kGoNext)) {
    for (int32_t n = 1; n < table.FieldCount(); ++n) bytes += table.Text(n).size();
    bytes += table.MemoText(table.FieldCount()).size();
    ++records;
  }
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: dbf_bench DIR [RECORDS]\n");
    return 2;
  }
  const std::string dir = argv[1];
  const int count = argc > 2 ? std::atoi(argv[2]) : 100000;
  const std::string path = dir + "/CATALOG.DBF";
  try {
    {
      qm::dbf::TbrTableCreator creator(path, qm::dbf::TbrDBFTypes::DBaseIII);
      const std::pair<const char*, int> fields[] = {
          {"CODE", 8}, {"NAME", 30}, {"PRICE", 10}, {"COLOUR", 12}, {"STOCK", 6}};
      for (const auto& [name, width] : fields) creator.AddField(name, 'C', width, 0);
      creator.AddField("SNOTES", 'M', 10, 0);
      if (!creator.Create()) return 1;
    }
    auto start = Clock::now();
    if (!Append(path, count)) return 1;
    const double append = Seconds(start);
    std::printf("engine append: %d records with memos in %.3f s = %.0f records/s\n", count, append,
                count / append);
    int records = 0;
    start = Clock::now();
    const std::size_t bytes = ReadAll(path, records);
    const double read = Seconds(start);
    std::printf(
        "engine read:   %d records, all fields and memos (%zu bytes) in %.3f s = %.0f records/s\n",
        records, bytes, read, records / read);
    std::printf("engine_read_seconds=%.6f\n", read);
    return records == count ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}

// qm_dataset_bench make DIR N    a product table of N products with a current CATALOG.NDX
// qm_dataset_bench browse DIR    every record in key order: bare engine, then the Qt model
// qm_dataset_bench edit DIR N    edit and post N products found by key
// Prints one "name: count in seconds = rate/s" line per figure.
#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "app/core/product_table.h"
#include "app/gui/dataset_table_model.h"
#include "index/index_walk.h"

using namespace qm;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void Report(const char* name, long count, double seconds) {
  std::printf("%-34s %8ld in %7.3f s = %10.0f /s\n", name, count, seconds, seconds > 0 ? count / seconds : 0.0);
}

std::string Key(long i) { return "P" + std::to_string(1000000 + (i * 7919) % 1000003); }

int Make(const std::string& dir, long count) {
  catalog::ProductTable::Create({{"CODE", 10}, {"NAME", 30}, {"PRICE", 10}, {"COLOUR", 12}}, true, dir);
  catalog::ProductTable table(dir);
  table.Open(catalog::ProductOrder::Entry);
  auto& ds = table.DataSet();
  const auto start = Clock::now();
  for (long i = 0; i < count; ++i) {
    ds.Append();
    ds.Fields(0).SetAsString(Key(i));
    ds.Fields(1).SetAsString("Product number " + std::to_string(i));
    ds.Fields(2).SetAsString(std::to_string(i % 997) + ".95");
    ds.Fields(3).SetAsString(i % 2 ? "green" : "blue");
    ds.Post();
  }
  Report("append and post (no index)", count, Seconds(start));
  table.EnsureIndex(true);
  return 0;
}

int Browse(const std::string& dir) {
  auto start = Clock::now();
  long bare = 0, cells = 0;
  index::WalkInIndexOrder(dir + "/catalog.dbf", dir + "/CATALOG.NDX", [&](dbf::TbrTable& t) {
    if (t.Deleted()) return;
    for (int32_t n = 1; n <= t.FieldCount(); ++n) cells += static_cast<long>(t.Text(n).size());
    ++bare;
  });
  Report("bare engine, key order (rows)", bare, Seconds(start));

  catalog::ProductTable table(dir);
  table.Open(catalog::ProductOrder::Key);
  start = Clock::now();
  gui::DataSetTableModel model(table.DataSet());
  while (model.canFetchMore({})) model.fetchMore({});
  long shown = 0;
  for (int row = 0; row < model.rowCount(); ++row, ++shown)
    for (int column = 0; column < model.columnCount(); ++column)
      cells += model.data(model.index(row, column)).toString().size();
  Report("Qt model, key order (rows)", shown, Seconds(start));
  return bare == shown && cells > 0 ? 0 : 1;
}

int Edit(const std::string& dir, long count) {
  catalog::ProductTable table(dir);
  table.Open(catalog::ProductOrder::Key);
  auto& ds = table.DataSet();
  const long records = ds.RecordCount();
  std::mt19937 rng(7);
  const auto start = Clock::now();
  for (long i = 0; i < count; ++i) {
    if (!table.FindProduct(Key(static_cast<long>(rng() % records)))) return 1;
    ds.Edit();
    ds.Fields(1).SetAsString("Edited " + std::to_string(i));
    ds.Post();
  }
  Report("find, edit and post (posts)", count, Seconds(start));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 2 ? argv[1] : "";
  try {
    if (mode == "make" && argc == 4) return Make(argv[2], std::stol(argv[3]));
    if (mode == "browse" && argc == 3) return Browse(argv[2]);
    if (mode == "edit" && argc == 4) return Edit(argv[2], std::stol(argv[3]));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  std::fprintf(stderr, "usage: qm_dataset_bench make DIR N | browse DIR | edit DIR N\n");
  return 2;
}

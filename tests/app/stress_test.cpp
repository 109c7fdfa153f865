// Mixed load: eight quillmart-cli workers at once appending, changing (notes
// included), renaming, deleting and recalling products of their own on one product table
// with CATALOG.NDX, in between 300 products nobody touches, while another
// program now and then holds a lock they need. stress_run.sh runs them and
// stress_check.py replays their logs against the table as the engine,
// python3-dbf, dbfread and Perl XBase read it (bench/run-stress.sh runs the same
// for a minute). Then the product table itself must find every product by key.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/core/product_table.h"
#include "cli_run_util.h"

namespace qm::catalog {
namespace {

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QM_STRESS_UNDER_ASAN
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(QM_STRESS_UNDER_ASAN)
constexpr int kSeconds = 5, kMaxOpsPerWorker = 12;  // every start of the companion is slow
#else
constexpr int kSeconds = 6, kMaxOpsPerWorker = 60;
#endif
constexpr int kWorkers = 8;

TEST(MixedLoadStress, EightWorkersOnOneTableLoseNothingAndKeepTheIndexInStep) {
  test::CliScratch scratch;
  const QString shop = scratch.Path("shop");
  const QString run = QStringLiteral(QM_SOURCE_DIR "/tests/app/stress_run.sh '%1' '%2' %3 %4 %5")
                          .arg(QM_CLI, shop)
                          .arg(kSeconds)
                          .arg(kMaxOpsPerWorker)
                          .arg(kWorkers);
  const test::CliResult result = scratch.Shell(run);
  const std::string report = result.out.toStdString() + result.err.toStdString();
  ASSERT_EQ(result.status, 0) << report;
  ASSERT_NE(report.find("verdict: PASS"), std::string::npos) << report;
  // Each worker opens with every kind of command once, however slow the machine.
  for (const std::string kind : {"new", "set", "rename", "delete", "recall"}) {
    const std::size_t line = report.find("\n" + kind + " ");  // "set       8 run, ..."
    ASSERT_NE(line, std::string::npos) << kind << "\n" << report;
    EXPECT_GE(std::stoi(report.substr(line + 1 + kind.size())), kWorkers) << kind << "\n" << report;
  }

  // Every record, deleted ones too, in the order of entry: one per key.
  std::map<std::string, bool> deleted;
  {
    ProductTable table(shop.toStdString());
    table.Open(ProductOrder::Entry, true);
    auto& ds = table.DataSet();
    ds.SetUseDeleted(true);
    for (ds.First(); !ds.Eof(); ds.Next())
      EXPECT_TRUE(deleted.emplace(ds.Fields(0).AsString(), ds.CurrentRecordDeleted()).second)
          << "two records hold " << ds.Fields(0).AsString();
  }
  std::vector<std::string> live;
  for (const auto& [key, gone] : deleted)
    if (!gone) live.push_back(key);

  // In key order the live ones, each once, and every product found by its key.
  ProductTable table(shop.toStdString());
  table.Open(ProductOrder::Key);
  auto& ds = table.DataSet();
  std::vector<std::string> walked;
  for (ds.First(); !ds.Eof(); ds.Next()) walked.push_back(ds.Fields(0).AsString());
  EXPECT_EQ(walked, live);
  for (const auto& [key, gone] : deleted) {
    EXPECT_EQ(table.FindProduct(key), !gone) << key;
    ASSERT_TRUE(table.FindAnyProduct(key)) << key;
    EXPECT_EQ(ds.CurrentRecordDeleted(), gone) << key;
    ds.SetUseDeleted(false);
  }
}

}  // namespace
}  // namespace qm::catalog

// bench_build_local DIR [RUNS]: runs Build Local with stacked pages on over
// DIR/catalog.dbf (order of entry) and prints the pages written per second.
// The settings are fixed here so the user's store plays no part.
#include <QCoreApplication>
#include <QDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "app/core/build_local.h"
#include "app/core/engine_record_source.h"

using namespace qm::catalog;

namespace {

CatalogSettings BenchSettings() {
  CatalogSettings s;
  s.name = "Bench Supply Co.";
  s.address = "1 Long Road";
  s.city = "Springfield";
  s.pageTitle = "Bench catalog";
  s.pageColor = "White";
  s.pageFontColor = "Black";
  s.pageHeading = "All our products";
  s.pageParagraph = "Every product we keep.\r\nPrices include tax.";
  s.tableHeadingBkColor = "Navy";
  s.tableHeadingFontColor = "White";
  s.tableCellBkColor = "Silver";
  s.tableCellFontColor = "Black";
  s.fieldHeadings = {"Code", "Name", "Price", "Colour", "Stock"};
  s.columns = 5;
  s.useStackedPages = true;
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_build_local DIR [RUNS]\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  BuildObserver quiet;
  double best = 0;
  try {
    for (int run = 1; run <= runs; ++run) {
      EngineRecordSource source(dir.filePath(QString::fromLatin1(kProductTableName)));
      const auto start = std::chrono::steady_clock::now();
      const BuildResult r = BuildLocal(BenchSettings(), source, quiet, {dir, &ShortDateToday});
      const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      const double rate = r.recordCount / secs;
      std::printf("run %d: %d products, catalog.htm + %d stacked pages in %.2f s = %.0f pages/s\n", run,
                  r.recordCount, r.recordCount, secs, rate);
      if (rate > best) best = rate;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  std::printf("best: %.0f pages/s\n", best);
  return 0;
}

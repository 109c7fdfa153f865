// quillmart-cli build: Build Local in the current directory, with the same
// generators as the window. Prints the window's two notices; on a terminal a
// text progress bar runs while the stacked pages are written.
#include <cstdio>
#include <memory>
#include <unistd.h>

#include "app/core/build_local.h"
#include "app/core/engine_record_source.h"
#include "app/core/locale_dates.h"
#include "app/core/index_record_source.h"
#include "cli_command.h"

namespace qm::cli {

namespace {

constexpr int kBarWidth = 40;

class TerminalObserver : public catalog::BuildObserver {
 public:
  explicit TerminalObserver(std::FILE* out) : m_out(out), m_tty(::isatty(::fileno(out)) != 0) {}

  void CatalogCreated() override { Line(catalog::kCatalogCreatedMessage); }
  void PagesStarted(int recordCount) override {
    m_total = recordCount;
    m_shownPercent = -1;
    Draw(0);
  }
  void PageWritten(int pagesDone) override { Draw(pagesDone); }
  void PagesCreated() override {
    EndBar();
    Line(catalog::kStackedPagesCreatedMessage);
  }
  void PagesAborted() override { EndBar(); }

 private:
  void Line(const char* text) {
    std::fprintf(m_out, "%s\n", text);
    std::fflush(m_out);
  }
  // Redraws only when the percentage changes, so large tables are not slowed
  // down by the terminal.
  void Draw(int done) {
    if (!m_tty) return;
    const int percent = m_total > 0 ? static_cast<int>(100LL * done / m_total) : 100;
    if (percent == m_shownPercent) return;
    m_shownPercent = percent;
    const int filled = percent * kBarWidth / 100;
    std::fprintf(m_out, "\r[%.*s%*s] %3d%% %d/%d", filled, "########################################",
                 kBarWidth - filled, "", percent, done, m_total);
    std::fflush(m_out);
    m_barShown = true;
  }
  void EndBar() {
    if (m_barShown) std::fputc('\n', m_out);
    m_barShown = false;
  }

  std::FILE* m_out;
  bool m_tty;
  bool m_barShown = false;
  int m_total = 0;
  int m_shownPercent = -1;
};

int Build(const Args& input) {
  // The record source decides the page order: the table opened afresh lists
  // the products in order of entry, deleted ones left out; --key-order walks
  // them through a freshly rebuilt CATALOG.NDX, as while the product window is open.
  Args args = input;
  std::unique_ptr<catalog::RecordSource> source;
  if (TakeFlag(args, "--key-order")) {
    source = std::make_unique<catalog::IndexRecordSource>();
  } else {
    source = std::make_unique<catalog::EngineRecordSource>();
  }
  if (!args.empty()) throw CliError("build: unexpected argument " + args.front());
  TerminalObserver observer(stdout);
  catalog::BuildLocal(*source, observer);
  return 0;
}

}  // namespace

QM_CLI_COMMAND("build", "build [--key-order]          write catalog.htm (and the stacked pages and upload.txt) here",
               Build);

}  // namespace qm::cli

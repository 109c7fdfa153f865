// quillmart-cli build: Build Local in the current directory, with the same
// generators as the window. Prints the window's two notices; on a terminal a
// text progress bar runs while the stacked pages are written.
#include <cstdio>
#include <memory>

#include "app/core/build_local.h"
#include "app/core/engine_record_source.h"
#include "app/core/locale_dates.h"
#include "cli_command.h"
#include "cmd_progress_bar.h"
#include "dbf/table.h"

namespace qm::cli {

namespace {


class TerminalObserver : public catalog::BuildObserver {
 public:
  explicit TerminalObserver(std::FILE* out) : m_out(out), m_bar(out) {}

  void CatalogCreated() override { Line(catalog::kCatalogCreatedMessage); }
  void PagesStarted(int recordCount) override { m_bar.Start(recordCount); }
  void PageWritten(int pagesDone) override { m_bar.Show(pagesDone); }
  void PagesCreated() override {
    m_bar.End();
    Line(catalog::kStackedPagesCreatedMessage);
  }
  void PagesAborted() override { m_bar.End(); }
  void KeysRepeated(const QStringList& keys) override {
    std::fprintf(stderr, "Warning: more than one product has the key %s; each key is published once, from its "
                 "first product (give the others keys of their own)\n",
                 keys.join(QStringLiteral(", ")).toUtf8().constData());
  }

 private:
  void Line(const char* text) {
    std::fprintf(m_out, "%s\n", text);
    std::fflush(m_out);
  }

  std::FILE* m_out;
  TerminalProgressBar m_bar;
};

int Build(const Args& input) {
  // The record source decides the page order: the table opened afresh lists
  // the products in order of entry, deleted ones left out; --key-order walks
  // them through CATALOG.NDX (rebuilt when it does not describe the table), as while the product window is open.
  Args args = input;
  const catalog::ProductOrder order =
      TakeFlag(args, "--key-order") ? catalog::ProductOrder::Key : catalog::ProductOrder::Entry;
  ExpectOperands("build", Operands("build", args), 0, 0);
  // A missing or damaged table is reported before a line of catalog.htm is written.
  dbf::TbrTable(catalog::kProductTableName, dbf::kOpenSharedReadOnly).OpenTable();
  auto source = std::make_unique<catalog::EngineRecordSource>(QString::fromLatin1(catalog::kProductTableName), order);
  TerminalObserver observer(stdout);
  catalog::BuildLocal(*source, observer);
  return 0;
}

}  // namespace

QM_CLI_COMMAND("build", "build [--key-order]  write catalog.htm (and the stacked pages and upload.txt) here",
               Build);
QM_CLI_HELP("build",
            "Build Local of the windows program, from CATALOG.DBF and the settings.\n"
            "\nOptions:\n"
            "  --key-order          list the products in key order through a freshly rebuilt\n"
            "                       CATALOG.NDX, as while the product window is open\n");

}  // namespace qm::cli

#pragma once
// A one-line text progress bar for the companion's long jobs (stacked pages,
// index builds). Draws only on a terminal, and only when the percentage changes,
// so a large job is not slowed down by its own bar.
#include <cstdio>

namespace qm::cli {

class TerminalProgressBar {
 public:
  explicit TerminalProgressBar(std::FILE* out);
  ~TerminalProgressBar() { End(); }

  void Start(int total);   // shows 0 %
  void Show(int done);     // of the total given to Start
  void End();              // ends the bar's line, when one was drawn

 private:
  std::FILE* m_out;
  bool m_tty;
  bool m_shown = false;
  int m_total = 0;
  int m_percent = -1;
};

}  // namespace qm::cli

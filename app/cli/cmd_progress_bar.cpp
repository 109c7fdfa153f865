#include "cmd_progress_bar.h"

#include <unistd.h>

namespace qm::cli {

namespace {
constexpr int kBarWidth = 40;
constexpr char kHashes[] = "########################################";
}  // namespace

TerminalProgressBar::TerminalProgressBar(std::FILE* out)
    : m_out(out), m_tty(::isatty(::fileno(out)) != 0) {}

void TerminalProgressBar::Start(int total) {
  m_total = total;
  m_percent = -1;
  Show(0);
}

void TerminalProgressBar::Show(int done) {
  if (!m_tty) return;
  const int percent = m_total > 0 ? static_cast<int>(100LL * done / m_total) : 100;
  if (percent == m_percent) return;
  m_percent = percent;
  const int filled = percent * kBarWidth / 100;
  std::fprintf(m_out, "\r[%.*s%*s] %3d%% %d/%d", filled, kHashes, kBarWidth - filled, "", percent,
               done, m_total);
  std::fflush(m_out);
  m_shown = true;
}

void TerminalProgressBar::End() {
  if (m_shown) std::fputc('\n', m_out);
  m_shown = false;
}

}  // namespace qm::cli

#pragma once
// Runs a cleanup when the scope ends, however it ends (the default error
// handler raises through engine calls), unless dismissed on the normal path.
// A cleanup that fails itself is not passed on: the failure that ended the
// scope is the one to report, and a destructor must not throw.

#include <utility>

namespace qm::dbf {

template <typename Cleanup>
class TbrScopeExit {
 public:
  explicit TbrScopeExit(Cleanup cleanup) : m_cleanup(std::move(cleanup)) {}
  ~TbrScopeExit() {
    if (!m_armed) return;
    try {
      m_cleanup();
    } catch (...) {
    }
  }
  TbrScopeExit(const TbrScopeExit&) = delete;
  TbrScopeExit& operator=(const TbrScopeExit&) = delete;
  void Dismiss() { m_armed = false; }

 private:
  Cleanup m_cleanup;
  bool m_armed = true;
};

}  // namespace qm::dbf

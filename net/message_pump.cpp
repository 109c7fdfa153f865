#include "net/message_pump.h"

#include "net/fiber_group.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDebug>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <utility>

namespace qm::net {

namespace {
int g_pumpDepth = 0;
std::exception_ptr g_stashed;

const char* What(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown failure";
  }
}
}  // namespace

qint64 TickCountMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void StashHandlerException(std::exception_ptr failure) {
  if (g_pumpDepth > 0 && !g_stashed) {
    g_stashed = failure;
    return;
  }
  qWarning("qm.net: failure in an event handler, no caller waiting: %s", What(failure));
}

void PumpMessagesOnce(qint64 wakeAtMs) {
  // A session running in a fiber waits with the others: the group pumps once
  // for all of them.
  if (InFiber()) return YieldFiber(wakeAtMs);
  ++g_pumpDepth;
  // A busy transfer finds work on every pass; only an idle pass needs the
  // wake-up timer and the blocking wait.
  QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
  QCoreApplication::sendPostedEvents();
  if (!dispatcher || !dispatcher->processEvents(QEventLoop::AllEvents)) {
    QTimer wake;
    if (wakeAtMs >= 0) {
      wake.setSingleShot(true);
      wake.setTimerType(Qt::PreciseTimer);
      wake.start(static_cast<int>(std::clamp<qint64>(wakeAtMs - TickCountMs(), 0, 1 << 30)));
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
  --g_pumpDepth;
  if (g_stashed) {
    std::exception_ptr failure = std::exchange(g_stashed, nullptr);
    std::rethrow_exception(failure);
  }
}

bool PumpUntil(const std::function<bool()>& done, const std::function<qint64()>& deadlineMs) {
  for (;;) {
    if (done()) return true;
    const qint64 deadline = deadlineMs();
    if (deadline >= 0 && TickCountMs() >= deadline) return false;
    PumpMessagesOnce(deadline);
  }
}

}  // namespace qm::net

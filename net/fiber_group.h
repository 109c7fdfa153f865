#pragma once
// TFiberGroup: several runs of synchronous network work (each one FTP session
// taking pages from a shared queue, say) taking turns on the one thread and
// its one event loop. Each run has a stack of its own; where it would pump the
// event loop while it waits for its server (PumpMessagesOnce), it hands the
// turn back instead, and Run pumps once for all of them and lets each look at
// its own client again. So the sessions wait for their servers at the same
// time, and every client, socket and window stays on the thread that made it:
// no locks, and the synchronous code of a session is written as for one.
//
// Contract: Add before Run; Run is called outside any fiber and returns when
// every work has returned. A work's exception is kept and the first one is
// rethrown by Run once all have ended. A failure raised inside an event
// handler while Run pumps cannot be told apart by session: every fiber's
// current wait gets it, as a single waiting caller would.

#include <QtGlobal>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

namespace qm::net {

class TFiberGroup {
 public:
  TFiberGroup();
  ~TFiberGroup();
  TFiberGroup(const TFiberGroup&) = delete;
  TFiberGroup& operator=(const TFiberGroup&) = delete;

  void Add(std::function<void()> work);
  void Run();

  struct TFiber;

 private:
  void Resume(TFiber& fiber);
  qint64 NextWake() const;

  std::vector<std::unique_ptr<TFiber>> m_fibers;
};

// Whether the caller runs inside a fiber of a running group.
bool InFiber();
// Inside a fiber: gives the turn back until Run has pumped the event loop once
// (wakeAtMs: when this fiber wants to look again even without an event, a
// TickCountMs value, -1 for none); rethrows a handler failure meant for it.
void YieldFiber(qint64 wakeAtMs);

}  // namespace qm::net

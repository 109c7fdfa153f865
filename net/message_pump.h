#pragma once
// "Pump messages" for the network layer's synchronous waits on the Qt event loop.
//
// Windows delivered a failure raised inside a socket's message handler to whoever
// pumped messages. Qt forbids exceptions through its event loop, so a handler's
// exception is stashed here instead and rethrown by the pump once processEvents
// has returned, which gives the waiting caller the same outcome.

#include <QtGlobal>
#include <exception>
#include <functional>

namespace qm::net {

qint64 TickCountMs();  // monotonic milliseconds

// Runs one pass of the event loop, blocking until something arrives or wakeAtMs
// (a TickCountMs value, -1 for none) is reached; then rethrows a stashed failure.
// Inside a fiber of a TFiberGroup (fiber_group.h) it hands the turn back to
// the group instead, which pumps once for all its fibers.
void PumpMessagesOnce(qint64 wakeAtMs);

// Pumps until done() holds (true) or the deadline passes (false). deadlineMs is
// asked again on every pass so that a caller may push it back; -1 = no limit.
bool PumpUntil(const std::function<bool()>& done, const std::function<qint64()>& deadlineMs);

// Called by event handlers with the exception they caught. Kept for the active
// pump; without one it is logged and dropped, as no caller is waiting for it.
void StashHandlerException(std::exception_ptr failure);

}  // namespace qm::net

#include "net/ftp_sync_client.h"

#include <algorithm>
#include <thread>

#include "net/message_pump.h"

namespace qm::net {

namespace {
constexpr qint64 kProgressLookMs = 250;
}  // namespace

template <typename Start>
bool TFtpClient::RunAndWait(Start start) {
  // Failures are never raised to the caller; their reason stays readable in
  // ErrorMessage: a request refused at its start says why it was refused, a
  // failure while waiting keeps the request's first failure text.
  try {
    start();
  } catch (const std::exception& e) {
    SetErrorMessage(e.what());
    return false;
  } catch (...) {
    return false;
  }
  try {
    return WaitUntilReady();
  } catch (const std::exception& e) {
    if (ErrorMessage().empty()) SetErrorMessage(e.what());
    return false;
  } catch (...) {
    return false;
  }
}

bool TFtpClient::RunStep(TFtpStep step) {
  return RunAndWait([this, step] { StartStep(step); });
}

bool TFtpClient::RunRequest(TFtpRequest kind) {
  return RunAndWait([this, kind] { StartRequest(kind); });
}

bool TFtpClient::WaitUntilReady() {
  m_deadline = TickCountMs() + qint64(Timeout) * 1000;
  m_timedOut = false;
  for (;;) {
    if (State() == fcsReady) return FailureCode == 0;
    if (CancelRequested && CancelRequested()) {
      AbortWith(kCancelledReply);
      return false;
    }
    const qint64 now = TickCountMs();
    // Slow, but moving: the time-out counts from the last byte that left.
    if (Timeout > 0 && DataMovedSinceLastAsked()) m_deadline = now + qint64(Timeout) * 1000;
    if (Timeout > 0 && now > m_deadline) {
      m_timedOut = true;
      AbortWith("426 Timeout");
      return false;
    }
    // Blocks until an event or the deadline, so no processor is burnt while
    // the server thinks. A stalled server sends no events: the data
    // connection is looked at a few times a second meanwhile.
    PumpMessagesOnce(Timeout > 0 ? std::min(m_deadline + 1, now + kProgressLookMs) : -1);
  }
}

void TFtpClient::TriggerProgress(int count, bool& abort) {
  TCustomFtpClient::TriggerProgress(count, abort);
  if (Timeout > 0) m_deadline = TickCountMs() + qint64(Timeout) * 1000;
}

}  // namespace qm::net

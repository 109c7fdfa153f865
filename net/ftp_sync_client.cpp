#include "net/ftp_sync_client.h"

#include <thread>

#include "net/message_pump.h"

namespace qm::net {

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
  for (;;) {
    if (State() == fcsReady) return FailureCode == 0;
    if (CancelRequested && CancelRequested()) {
      Abort();
      SetErrorMessage(kCancelledReply);
      ReplyCode = 426;
      return false;
    }
    if (Timeout > 0 && TickCountMs() > m_deadline) {
      Abort();
      SetErrorMessage("426 Timeout");
      ReplyCode = 426;
      return false;
    }
    // Blocks until an event or the deadline instead of spinning: same outcome,
    // no processor burnt while the server thinks.
    PumpMessagesOnce(Timeout > 0 ? m_deadline + 1 : -1);
  }
}

void TFtpClient::TriggerProgress(int count, bool& abort) {
  TCustomFtpClient::TriggerProgress(count, abort);
  if (Timeout > 0) m_deadline = TickCountMs() + qint64(Timeout) * 1000;
}

}  // namespace qm::net

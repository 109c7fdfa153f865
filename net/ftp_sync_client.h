#pragma once
// TFtpClient: the FTP client with synchronous operations. Each one starts the
// asynchronous request and pumps the event loop until the client is ready
// again or Timeout seconds pass without progress; it returns true on success.
// Failures never raise: they surface as false, ErrorMessage, LastReply,
// ReplyCode and FailureCode. OnRequestDone still fires, after the call returned.

#include "net/ftp_client.h"

namespace qm::net {

inline constexpr char kCancelledReply[] = "426 Cancelled";

class TFtpClient : public TCustomFtpClient {
 public:
  explicit TFtpClient(QObject* parent = nullptr) : TCustomFtpClient(parent) {}

  int Timeout = 15;             // seconds; 0 or less: no limit
  // Asked on every pass of the wait: true ends the request at once
  // ("426 Cancelled"), as a time-out would. Unset: nothing to ask.
  std::function<bool()> CancelRequested;
  bool MultiThreaded = false;   // both pumps are the thread's Qt event loop

  bool Connect() { return RunRequest(frqConnect); }   // Open, USER, PASS
  bool Put() { return RunRequest(frqStor); }          // PORT, STOR
  bool Append() { return RunRequest(frqAppe); }       // PORT, APPE
  bool Get() { return RunRequest(frqRetr); }          // PORT, RETR
  bool RestGet() { return RunRequest(frqRestRetr); }  // PORT, REST, RETR
  bool Dir() { return RunRequest(frqList); }          // PORT, LIST
  bool Ls() { return RunRequest(frqNlst); }           // PORT, NLST
  bool RenameFile() { return RunRequest(frqRenamePair); }
  bool Transmit() { return RunRequest(frqSessionStor); }  // a whole session storing one file
  bool Receive() { return RunRequest(frqSessionRetr); }   // a whole session fetching one file
  bool Open() { return RunStep(ftpOpen); }
  bool User() { return RunStep(ftpUser); }
  bool Pass() { return RunStep(ftpPass); }
  bool Cwd() { return RunStep(ftpCwd); }
  bool CDup() { return RunStep(ftpCdup); }
  bool Pwd() { return RunStep(ftpPwd); }
  bool Syst() { return RunStep(ftpSyst); }
  bool Size() { return RunStep(ftpSize); }
  bool Mkd() { return RunStep(ftpMkd); }
  bool Rmd() { return RunStep(ftpRmd); }
  bool Dele() { return RunStep(ftpDele); }
  bool Quote() { return RunStep(ftpQuote); }
  bool TypeSet() { return RunStep(ftpType); }
  bool SendPort() { return RunStep(ftpPort); }  // PORT alone (Port is the control port)
  bool Quit() { return RunStep(ftpQuit); }

  bool RunStep(TFtpStep step);
  bool RunRequest(TFtpRequest kind);
  // Waits for the running request; false on failure or when Timeout seconds
  // pass with no progress (the request is then aborted with "426 Timeout").
  bool WaitUntilReady();
  // Whether the last operation ended by that time-out.
  bool TimedOut() const { return m_timedOut; }

 protected:
  void TriggerProgress(int count, bool& abort) override;

 private:
  template <typename Start>
  bool RunAndWait(Start start);

  qint64 m_deadline = 0;
  bool m_timedOut = false;
};

}  // namespace qm::net

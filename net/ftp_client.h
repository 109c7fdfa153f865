#pragma once
// TCustomFtpClient: the client side of an FTP session over two TAsyncSockets,
// the control connection and a data connection, active or passive.
//
// Every operation is asynchronous: it sends one command (a step) or a chain of
// steps (a request) and reports the end through OnRequestDone, posted to the
// event loop. Layers, from the wire up:
//   TFtpReplyBuffer / ParseReplyLine   lines and reply codes (ftp_reply.h)
//   ControlDataAvailable -> Dispatch   one complete line to the handler of the reply phase
//   HandleStepReply / transfer handlers   the step's outcome -> CompleteRequest
//   RunNextStep                        the sequencer of multi-step requests
// The protocol state is State() with the reply phase and the data link
// (ftp_types.h); each changes through its one setter, which traces it on the
// "qm.net.ftp" logging category. A failure is recorded by NoteFailure (told
// by the server's reply) or NoteComposedReply (found here, a line composed in
// the reply's place); Fail records one of ours and ends the step at once.
// The password is never shown: the PASS line is displayed as "PASS ****".

#include <QObject>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/async_socket.h"
#include "net/ftp_reply.h"
#include "net/ftp_types.h"
#include "net/local_file.h"
#include "net/tls_session.h"

namespace qm::net {

class TCustomFtpClient : public QObject {
 public:
  explicit TCustomFtpClient(QObject* parent = nullptr);
  ~TCustomFtpClient() override;

  // Operands and options.
  std::string HostName;
  std::string Port = "ftp";
  std::string UserName;
  std::string PassWord;
  std::string HostDirName;
  std::string HostFileName;
  std::string LocalFileName;
  bool DisplayFlag = false;
  // The data-port step of every transfer sends PORT, PASV or EPSV by this mode.
  TFtpDataMode DataMode = ftpDataActive;
  // A PASV reply's address is followed only with this set (a server behind
  // NAT naming its outside address); otherwise (the default) the data
  // connection goes to the host of the control connection, never elsewhere.
  bool PassiveAddressFromServer = false;
  // TLS: explicit (AUTH TLS) by TlsMode, or implicit from the first byte
  // (ftps:// on port 990). A certificate that the system's CA store cannot
  // vouch for is accepted only when its SHA-256 fingerprint is this one.
  TFtpTlsMode TlsMode = ftpTlsPlain;
  bool ImplicitTls = false;
  // The control connection offers TLS 1.2 at most: some servers want every
  // data connection to resume the control's session, which under TLS 1.3
  // they allow once per ticket and hand out no new ticket while receiving.
  bool TlsUpTo12 = false;
  std::string TrustedFingerprint;
  bool Binary() const { return m_typeLetter == 'I'; }
  void SetBinary(bool binary) { m_typeLetter = binary ? 'I' : 'A'; }
  TFtpShareMode ShareMode() const;
  void SetShareMode(TFtpShareMode mode);

  // Run-time state.
  const std::string& ErrorMessage() const { return m_errorMessage; }
  std::string LastReply;
  int ReplyCode = 0;
  int FailureCode = 0;
  bool Connected() const { return m_connected; }
  TFtpClientState State() const { return m_state; }
  TFtpRequest RequestType() const { return m_requestType; }
  // The step running, or the last one run (after a failure: the one that failed).
  TFtpStep CurrentStep() const { return m_currentStep; }
  long long RemoteFileSize = 0;
  std::string ReplyDirectory;
  int ResumeAt = 0;
  int TransferCount = 0;
  TAsyncSocket& ControlSocket() { return *m_control; }
  // Whether the control connection runs over TLS (the password went encrypted).
  bool TlsActive() const { return m_control->Tls() != nullptr; }
  // Whether this session sent a password unencrypted (PASS before TLS, or
  // without it); a session that failed before PASS sent none.
  bool PasswordSentInClear() const { return m_passwordInClear; }
  // The last transfer's data connection did not resume the control's TLS 1.3
  // session (a new one, or a handshake that failed: the server may want it resumed).
  bool DataTlsNotResumed() const { return m_dataTlsFresh; }
  // SHA-256 fingerprint of the server's certificate, once TLS was tried.
  std::string ServerFingerprint;
  // Why the control connection's TLS failed in the last connection attempt
  // (tlsNoFailure when it did not, or was not tried).
  TTlsFailure TlsFailure() const { return m_tlsFailure; }
  TAsyncSocket& DataSocket() { return *m_data; }

  std::function<void(TCustomFtpClient& sender, std::string& msg)> OnDisplay;
  std::function<void(TCustomFtpClient& sender, std::string& cmd)> OnCommand;
  std::function<void(TCustomFtpClient& sender)> OnResponse;
  std::function<void(TCustomFtpClient& sender, int count, bool& abort)> OnProgress;
  std::function<void(TCustomFtpClient& sender, int error)> OnSessionConnected;
  std::function<void(TCustomFtpClient& sender, int error)> OnSessionClosed;
  std::function<void(TCustomFtpClient& sender, TFtpRequest rqType, int error)> OnRequestDone;
  std::function<void(TCustomFtpClient& sender)> OnStateChange;
  std::function<void(TCustomFtpClient& sender, bool& cancel)> OnReadyToTransmit;

  // Starts one step of its own; raises FtpException when its precondition fails.
  void StartStep(TFtpStep step);
  // Starts a multi-step request: the kind's own steps, or the given set.
  void StartRequest(TFtpRequest kind);
  void StartRequest(TFtpRequest kind, TFtpStepSet steps);
  void ConnectAsync() { StartRequest(frqConnect); }
  void PutAsync() { StartRequest(frqStor); }
  void QuitAsync() { StartStep(ftpQuit); }
  void Abort();
  // Shows a line through OnDisplay (also used by those driving the client).
  void Display(const std::string& text);

 protected:
  virtual void TriggerProgress(int count, bool& abort);
  // Whether the data connection took bytes of the block being sent since the
  // last call (or since the block was queued): a large block going slowly to
  // a slow server is progress, a server that reads nothing is not.
  bool DataMovedSinceLastAsked();
  void SetErrorMessage(const std::string& text) { m_errorMessage = text; }
  // Abort, the request's failure then told by `reply` (a 426 line) in
  // ErrorMessage and ReplyCode.
  void AbortWith(const std::string& reply);
  bool event(QEvent* e) override;

 private:
  // Session and reply dispatch (ftp_client.cpp).
  void SetState(TFtpClientState state);
  void SetPhase(TFtpReplyPhase phase);
  void SetDataLink(TFtpDataLink link);
  void SendCommand(const std::string& line);
  void CheckReady() const;
  static void CheckCommandLine(const std::string& line);
  void CheckOperands(TFtpStepSet steps) const;
  void NoteFailure(int code);
  void NoteComposedReply(int code, const std::string& line);
  void Fail(int code, const std::string& text);
  void ControlLookupDone(int error);
  void ControlSessionConnected(int error);
  void ControlDataAvailable();
  void ControlSessionClosed(int error);
  void Dispatch();
  void DispatchReply();
  bool DisplayAndParse();
  void HandleWelcome();
  void HandleStepReply();
  void RunNextStep();
  void CompleteRequest(int code);
  bool SkipStep(TFtpStep step) const;
  void StartSequencedStep(TFtpStep step);
  void IgnoreLine();
  std::string SocketFailureLine(int error) const;

  // Steps (ftp_steps.cpp).
  // `phase` says what follows the reply: a plain step, QUIT, AUTH or PASV/EPSV.
  void SendStep(TFtpStep step, const std::string& line, std::vector<int> codes,
                TFtpReplyPhase phase = frpStepReply);
  void DoOpen();
  void DoRest();
  void QuitAfterReply();
  void SecureControlAfterAuth();
  void StartControlTls();
  void ControlTlsDone(int error);
  void StartDataTls(bool sending);
  void ExtractStepResult();

  // Data transfer (ftp_transfer.cpp).
  void DoPort();
  bool PassiveIsExtended() const { return DataMode == ftpDataExtendedPassive || m_control->IsIPv6(); }
  void DoActivePort();
  void ConnectPassiveData();
  void PassiveDataConnected(int error);
  void StartPassiveSend();
  void WireReceive();
  void DoSend(TFtpStep step);
  void DoReceive(TFtpStep step);
  void StartTransfer();
  void SendTransferCommand(const std::string& line);
  int AcceptFromServer();  // accepted handle, or -1
  void SendAccept();
  void ReceiveAccept();
  void EndOfFile();
  void EndSend();
  bool WholeFileQueued() const { return m_dataLink == fdlFileSent || m_dataLink == fdlShutDown; }
  bool AbortRequestedByProgress();
  void SendNextBlock();
  void ReceiveBlock();
  void DataClosed(bool sending, int error);
  void HandleTransferFirstReply();
  void HandleTransferSecondReply();
  void TransferCompletionCheck();
  void PostDeferredClose(int count);
  std::string StatisticsLine();

  TAsyncSocket* m_control;
  TAsyncSocket* m_data;
  TFtpReplyBuffer m_replyBuffer;
  TFtpClientState m_state = fcsReady;
  TFtpReplyPhase m_phase = frpIdle;
  TFtpDataLink m_dataLink = fdlNone;
  TTlsFailure m_tlsFailure = tlsNoFailure;
  TFtpRequest m_requestType = frqNone;
  char m_typeLetter = 'I';
  int m_shareFlag = TLocalFile::kShareExclusive;
  bool m_connected = false;
  int m_multiLineCode = 0;       // code of the multi-line reply being read, 0 outside one
  bool m_passiveData = false;    // the data connection of this transfer was made by the client
  bool m_protectData = false;    // PROT P accepted: data connections speak TLS too
  bool m_passwordInClear = false;
  bool m_dataTlsFresh = false;
  std::string m_errorMessage;
  std::string m_serverAddr;  // data connections are accepted from this address only

  TFtpStepSet m_steps = 0;
  TFtpStep m_currentStep = ftpNoStep;
  int m_finalCode = 0;
  bool m_multiStep = false;
  bool m_sequencer = false;
  bool m_completed = false;
  std::string m_savedReply;
  int m_savedCode = -1;
  std::vector<int> m_okCodes;  // empty: any code below 500 succeeds

  TLocalFile m_localFile;
  bool m_sending = false;  // the transfer running is a store (else a RETR, LIST or NLST)
  int m_dataCloseError = 0;
  std::string m_dataCommand;
  qint64 m_startTime = 0;
  std::vector<char> m_sendBlock;  // the file's next block on its way to the data socket
  int m_unsentBlocks = 0;         // the data socket's queue when last looked at
  int m_systemHeld = 0;           // and the bytes the system held for it then
  int m_transferId = 0;  // a deferred close belongs to one transfer only
};

}  // namespace qm::net

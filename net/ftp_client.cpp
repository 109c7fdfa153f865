// TCustomFtpClient: the control session (states, reply dispatch, sequencer,
// completion, abort). Steps are in ftp_steps.cpp, transfers in ftp_transfer.cpp.
#include "net/ftp_client.h"

#include <QCoreApplication>
#include <algorithm>
#include <QLoggingCategory>

#include "net/ftp_events.h"
#include "net/message_pump.h"
#include "net/socket_errors.h"

Q_LOGGING_CATEGORY(lcFtp, "qm.net.ftp", QtWarningMsg)

namespace qm::net {

namespace {
constexpr char kAbortedReply[] = "426 Operation aborted.";

void TraceChange(const char* what, const char* from, const char* to, TFtpStep step) {
  qCDebug(lcFtp, "%s %s -> %s (step %s)", what, from, to, FtpStepName(step));
}
}  // namespace

TCustomFtpClient::TCustomFtpClient(QObject* parent)
    : QObject(parent), m_control(new TAsyncSocket(this)), m_data(new TAsyncSocket(this)) {
  m_control->OnDnsLookupDone = [this](TAsyncSocket&, int error) { ControlLookupDone(error); };
  m_control->OnSessionConnected = [this](TAsyncSocket&, int error) { ControlSessionConnected(error); };
  m_control->OnDataAvailable = [this](TAsyncSocket&, int) { ControlDataAvailable(); };
  m_control->OnSessionClosed = [this](TAsyncSocket&, int error) { ControlSessionClosed(error); };
}

TCustomFtpClient::~TCustomFtpClient() {
  // No event may reach a half-destroyed client.
  m_control->OnSessionClosed = nullptr;
  m_data->OnSessionClosed = nullptr;
}

TFtpShareMode TCustomFtpClient::ShareMode() const {
  switch (m_shareFlag) {
    case TLocalFile::kShareCompat: return ftpShareCompat;
    case TLocalFile::kShareDenyWrite: return ftpShareDenyWrite;
    case TLocalFile::kShareDenyRead: return ftpShareDenyRead;
    case TLocalFile::kShareDenyNone: return ftpShareDenyNone;
    default: return ftpShareExclusive;
  }
}

void TCustomFtpClient::SetShareMode(TFtpShareMode mode) {
  static const int kFlags[] = {TLocalFile::kShareCompat, TLocalFile::kShareExclusive,
                               TLocalFile::kShareDenyWrite, TLocalFile::kShareDenyRead,
                               TLocalFile::kShareDenyNone};
  m_shareFlag = mode >= ftpShareCompat && mode <= ftpShareDenyNone ? kFlags[mode]
                                                                   : TLocalFile::kShareExclusive;
}

void TCustomFtpClient::SetState(TFtpClientState state) {
  if (state == m_state) return;
  TraceChange("state", FtpStateName(m_state), FtpStateName(state), m_currentStep);
  m_state = state;
  if (OnStateChange) OnStateChange(*this);
}

void TCustomFtpClient::SetPhase(TFtpReplyPhase phase) {
  if (phase == m_phase) return;
  TraceChange("phase", FtpReplyPhaseName(m_phase), FtpReplyPhaseName(phase), m_currentStep);
  m_phase = phase;
}

void TCustomFtpClient::SetDataLink(TFtpDataLink link) {
  if (link == m_dataLink) return;
  TraceChange("data link", FtpDataLinkName(m_dataLink), FtpDataLinkName(link), m_currentStep);
  m_dataLink = link;
}

void TCustomFtpClient::Display(const std::string& text) {
  qCDebug(lcFtp, "%s", text.c_str());
  if (!OnDisplay) return;
  std::string msg = text;
  OnDisplay(*this, msg);
}

void TCustomFtpClient::SendCommand(const std::string& line) {
  std::string command = line;
  if (OnCommand) OnCommand(*this, command);
  command = command.substr(0, command.find_first_of("\r\n"));  // one command, never two
  // The password must not reach logs or the user's screen.
  const bool password = command.compare(0, 5, "PASS ") == 0;
  Display(password ? "> PASS ****" : "> " + command);
  if (m_control->State() != wsConnected) return;
  if (password && !TlsActive()) m_passwordInClear = true;
  m_control->SendStr(command + "\r\n");
}

void TCustomFtpClient::CheckCommandLine(const std::string& line) {
  // A line break inside an operand (a user name, a remote directory from a
  // multi-line setting) would smuggle a second command onto the session.
  if (line.find_first_of("\r\n") != std::string::npos) throw FtpException("FTP command holds a line break");
}

void TCustomFtpClient::CheckOperands(TFtpStepSet steps) const {
  // Refused before the first step: a later step failing on it would be
  // swallowed inside the event loop and the request would wait for its time-out.
  constexpr TFtpStepSet kHostFile = StepBit(ftpSize) | StepBit(ftpMkd) | StepBit(ftpRmd) |
      StepBit(ftpRnfr) | StepBit(ftpDele) | StepBit(ftpRetr) | StepBit(ftpList) | StepBit(ftpNlst) |
      StepBit(ftpStor) | StepBit(ftpAppe);
  if (steps & StepBit(ftpUser)) CheckCommandLine(UserName);
  if (steps & StepBit(ftpPass)) CheckCommandLine(PassWord);
  if (steps & StepBit(ftpCwd)) CheckCommandLine(HostDirName);
  if (steps & kHostFile) CheckCommandLine(HostFileName);
  if (steps & (StepBit(ftpRnto) | StepBit(ftpQuote))) CheckCommandLine(LocalFileName);
}

void TCustomFtpClient::CheckReady() const {
  if (m_state != fcsReady && m_state != fcsBetweenSteps) throw FtpException("FTP component not ready");
}

// A step's outcome as the server's reply gave it (0: success).
void TCustomFtpClient::NoteFailure(int code) {
  FailureCode = code;
  if (code != 0 && m_errorMessage.empty()) m_errorMessage = LastReply;  // keep the first failure
}

// A failure found here, not told by the server: `line` stands in LastReply
// for the reply that did not come, ReplyCode is the code it starts with (else
// `code`), FailureCode is `code`. The caller ends the step (or the session).
void TCustomFtpClient::NoteComposedReply(int code, const std::string& line) {
  LastReply = line;
  const int lineCode = ParseReplyLine(line).Code;
  ReplyCode = lineCode != 0 ? lineCode : code;
  NoteFailure(code);
}

// The one way a step fails on our side: recorded as above, shown as "! " +
// line, and the step ends now with `code`.
void TCustomFtpClient::Fail(int code, const std::string& line) {
  NoteComposedReply(code, line);
  Display("! " + line);
  m_completed = false;
  CompleteRequest(code);
}

std::string TCustomFtpClient::SocketFailureLine(int error) const {
  return "500 " + SocketErrorText(error) + " (Winsock error #" + std::to_string(error) + ")";
}

void TCustomFtpClient::ControlLookupDone(int error) {
  if (error != 0) {
    NoteComposedReply(error, SocketFailureLine(error));
    CompleteRequest(error);
    return;
  }
  m_control->SetAddr(m_control->DnsResult());
  m_control->SetProto("tcp");
  m_control->SetPort(Port);
  SetState(fcsAwaitingWelcome);
  try {
    m_control->Connect();
  } catch (const ESocketException&) {
    // Refused at once (an unreachable network): told like a connection
    // refused later, in plain words, not as the socket's raw message.
    ControlSessionConnected(m_control->LastError() != 0 ? m_control->LastError() : kWsaENetUnreach);
  }
}

void TCustomFtpClient::ControlSessionConnected(int error) {
  if (error != 0) {
    NoteComposedReply(error, SocketFailureLine(error));
    m_sequencer = false;  // no further step may run
    CompleteRequest(error);
    m_control->Close();
    SetState(fcsReady);
    return;
  }
  m_connected = true;
  m_serverAddr = m_control->PeerAddressText();
  if (ImplicitTls)
    m_control->StartTls(HostName, nullptr, [this](int tlsError) { ControlTlsDone(tlsError); }, TlsUpTo12);
}

void TCustomFtpClient::ControlDataAvailable() {
  const int n = m_control->Receive(m_replyBuffer.FreeSpace(), m_replyBuffer.FreeSize());
  if (n == 0) {
    m_control->Close();
    return;
  }
  if (n < 0) return;
  m_replyBuffer.Commit(n);
  while (m_replyBuffer.Count() > 0 && m_replyBuffer.NextLine(LastReply)) {
    if (OnResponse) OnResponse(*this);
    Dispatch();
    if (m_control->State() != wsConnected) return;
  }
  // A full buffer without a line end can never make a reply: end the session
  // now rather than when (or if) the server sends more, saying that we did.
  if (m_replyBuffer.FreeSize() == 0) {
    // The session is over, as when a server closes it (421).
    NoteComposedReply(421, "a line of " + std::to_string(TFtpReplyBuffer::kSize) +
                               " bytes without an end, which is no FTP reply");
    m_control->Close();
  }
}

void TCustomFtpClient::Dispatch() {
  switch (m_state) {
    case fcsAwaitingWelcome:
      HandleWelcome();
      break;
    case fcsAwaitingReply:
      DispatchReply();
      break;
    default:
      Display("< " + LastReply);
  }
}

void TCustomFtpClient::DispatchReply() {
  switch (m_phase) {
    case frpStepReply:
    case frpQuitReply:
    case frpAuthReply:
    case frpPassiveReply: return HandleStepReply();
    case frpTlsHandshake:
    case frpPassiveConnecting: return IgnoreLine();  // nothing is due from the server meanwhile
    case frpTransferStart: return HandleTransferFirstReply();
    case frpTransferEnd:
    case frpTransferConfirmed: return HandleTransferSecondReply();
    case frpIdle: break;
  }
  throw FtpException("Program error: FNext is nil");
}

bool TCustomFtpClient::DisplayAndParse() {
  Display("< " + LastReply);
  if (m_multiLineCode != 0) {
    // Inside a multi-line reply only its closing line counts, whatever the
    // middle lines start with (long banners and log-in texts of real servers).
    if (!ClosesMultiLineReply(LastReply, m_multiLineCode)) return false;
    ReplyCode = m_multiLineCode;
    m_multiLineCode = 0;
    return true;
  }
  const TFtpReplyLine reply = ParseReplyLine(LastReply);
  ReplyCode = reply.Code;
  if (reply.Continuation) m_multiLineCode = reply.Code;
  return !reply.Continuation;
}

void TCustomFtpClient::IgnoreLine() { Display("< " + LastReply); }

void TCustomFtpClient::HandleWelcome() {
  if (!DisplayAndParse()) return;
  if (ReplyCode != 220) {
    NoteFailure(ReplyCode != 0 ? ReplyCode : 421);  // no code at all: no FTP server, the session ends
    m_control->Close();  // the session-closed handler completes the request
    return;
  }
  SetState(fcsConnected);
  if (OnSessionConnected) OnSessionConnected(*this, m_control->LastError());
  CompleteRequest(0);
}

void TCustomFtpClient::HandleStepReply() {
  if (!DisplayAndParse()) return;
  int failure = 0;
  if (m_okCodes.empty()) {
    failure = ReplyCode < 500 ? 0 : ReplyCode;
  } else if (std::find(m_okCodes.begin(), m_okCodes.end(), ReplyCode) == m_okCodes.end()) {
    failure = ReplyCode;
  }
  NoteFailure(failure);
  if (failure == 0) ExtractStepResult();
  switch (m_phase) {
    case frpQuitReply: return QuitAfterReply();
    case frpAuthReply: return SecureControlAfterAuth();
    case frpPassiveReply: return ConnectPassiveData();
    default: return CompleteRequest(FailureCode);
  }
}

void TCustomFtpClient::ControlSessionClosed(int error) {
  // A session lost while a step still waits for its reply must not end as a
  // success: the step failed (421, the code of a server closing the session).
  const bool lostMidRequest = !m_completed && FailureCode == 0 && m_currentStep != ftpQuit &&
      (m_state == fcsAwaitingReply || m_state == fcsAwaitingWelcome);
  if (m_connected) {
    m_connected = false;
    if (m_state != fcsAborting) SetState(fcsNotConnected);
    if (OnSessionClosed) OnSessionClosed(*this, error);
  }
  if (m_state == fcsAborting) return;
  if (lostMidRequest) NoteComposedReply(421, "421 Connection closed by server");
  SetState(fcsBetweenSteps);
  CompleteRequest(FailureCode);
}

void TCustomFtpClient::StartRequest(TFtpRequest kind) { StartRequest(kind, RequestSteps(kind)); }

void TCustomFtpClient::StartRequest(TFtpRequest kind, TFtpStepSet steps) {
  if (m_connected && (steps & StepBit(ftpOpen))) throw FtpException("FTP component already connected");
  CheckReady();
  CheckOperands(steps);
  m_savedReply = LastReply;
  m_savedCode = -1;
  m_requestType = kind;
  FailureCode = 0;
  m_steps = steps;
  m_currentStep = ftpNoStep;
  m_finalCode = 0;
  m_multiStep = true;
  LastReply.clear();
  m_errorMessage.clear();
  RunNextStep();
}

void TCustomFtpClient::RunNextStep() {
  static const TFtpStep kOrder[] = {
      ftpOpen, ftpAuth, ftpUser, ftpPass, ftpPbsz, ftpProt, ftpCwd,  ftpCdup, ftpType, ftpPort, ftpRest,
      ftpRetr, ftpStor, ftpAppe, ftpList, ftpNlst, ftpSyst, ftpMkd,  ftpRmd,
      ftpRnfr, ftpRnto, ftpSize, ftpDele, ftpPwd,  ftpQuote, ftpQuit};
  if (m_state == fcsAborting) {
    m_steps = 0;
    m_finalCode = 426;
    m_errorMessage = kAbortedReply;
  }
  m_sequencer = true;
  if (FailureCode != 0) {
    m_finalCode = FailureCode;
    // A failed step drops the rest of the request, but a session still says goodbye.
    const bool quitPending = m_currentStep != ftpQuit && (m_steps & StepBit(ftpQuit));
    m_steps = quitPending ? StepBit(ftpQuit) : 0;
  }
  for (const TFtpStep step : kOrder) {
    if (!(m_steps & StepBit(step))) continue;
    m_steps &= ~StepBit(step);
    if (!SkipStep(step)) return StartSequencedStep(step);
  }
  m_steps = 0;
  m_sequencer = false;
  m_completed = false;
  // A session whose step failed still ends with a successful QUIT; the
  // request failed all the same, and a synchronous caller must see that.
  FailureCode = m_finalCode;
  CompleteRequest(m_finalCode);
}

// Steps of a request that the session makes needless: PASS after a USER
// that logged in, CWD without a directory, the TLS steps where TLS is not
// wanted or already on.
bool TCustomFtpClient::SkipStep(TFtpStep step) const {
  switch (step) {
    case ftpPass: return m_currentStep == ftpUser && ReplyCode != 331;
    case ftpCwd: return HostDirName.empty();
    case ftpAuth: return TlsMode == ftpTlsPlain || TlsActive();
    case ftpPbsz:
    case ftpProt: return !TlsActive();
    default: return false;
  }
}

void TCustomFtpClient::StartSequencedStep(TFtpStep step) {
  if (step == ftpRetr && !(m_currentStep == ftpRest && ReplyCode == 350 && ResumeAt >= 0)) ResumeAt = 0;
  if (step == ftpQuit) {
    m_savedReply = LastReply;
    m_savedCode = ReplyCode;
  }
  // A step that cannot start fails the request now: raised from inside the
  // reply handling it would be lost, and the caller would wait for its time-out.
  if (step == ftpPass && PassWord.empty()) return Fail(530, "no password set");
  try {
    StartStep(step);
  } catch (const FtpException& e) {
    Fail(501, e.what());
  }
}

void TCustomFtpClient::CompleteRequest(int code) {
  if (m_completed) return;
  m_completed = true;
  SetPhase(frpIdle);
  if (m_sequencer) {
    if (m_state != fcsAborting) SetState(fcsBetweenSteps);
    RunNextStep();
    return;
  }
  SetState(fcsReady);
  if (m_data->State() != wsClosed) m_data->Close();
  if (m_multiStep && m_savedCode >= 0) {
    LastReply = m_savedReply;
    ReplyCode = m_savedCode;
  }
  m_multiStep = false;
  QCoreApplication::postEvent(this, new TFtpPostedEvent(TFtpPostedEvent::kRequestDone, m_requestType, code));
}

void TCustomFtpClient::Abort() {
  const TFtpClientState previous = m_state;
  SetState(fcsAborting);
  if (previous == fcsLookingUp) m_control->CancelDnsLookup();
  if (m_control->State() != wsClosed) m_control->Close();
  if (m_data->State() != wsClosed) m_data->Close();
  m_localFile.Close();
  m_connected = false;
  // A request still waiting for its reply ends here with 426.
  if (!m_completed && m_currentStep != ftpNoStep) {
    if (FailureCode == 0) FailureCode = 426;
    m_errorMessage = kAbortedReply;
    CompleteRequest(FailureCode);
  }
  m_sequencer = false;
  m_multiStep = false;
  m_steps = 0;
  SetPhase(frpIdle);
  SetState(fcsReady);
}

void TCustomFtpClient::AbortWith(const std::string& reply) {
  Abort();
  m_errorMessage = reply;
  ReplyCode = 426;
}

void TCustomFtpClient::TriggerProgress(int count, bool& abort) {
  if (OnProgress) OnProgress(*this, count, abort);
}

bool TCustomFtpClient::event(QEvent* e) {
  if (e->type() != TFtpPostedEvent::EventType()) return QObject::event(e);
  const auto* posted = static_cast<TFtpPostedEvent*>(e);
  try {
    if (posted->Kind == TFtpPostedEvent::kRequestDone) {
      if (OnRequestDone) OnRequestDone(*this, static_cast<TFtpRequest>(posted->A), posted->B);
    } else if (posted->A == m_transferId && m_data->State() != wsClosed) {
      // Passes left while the connection is still open; once it has closed
      // (the shut-down completed, or the server hung up) nothing is left to do.
      if (posted->B < 7) PostDeferredClose(posted->B + 1);
      else m_data->Close();
    }
  } catch (...) {
    StashHandlerException(std::current_exception());
  }
  return true;
}

}  // namespace qm::net

// TCustomFtpClient: starting each step of a session. A step checks its
// precondition, sends one command and names the reply codes that mean success;
// HandleStepReply (ftp_client.cpp) judges the reply.
#include "net/ftp_client.h"

#include <algorithm>

#include "net/tls_session.h"

namespace qm::net {

namespace {

// Request kind of a step started on its own.
TFtpRequest KindOfStep(TFtpStep step) {
  switch (step) {
    case ftpOpen: return frqOpen;   case ftpUser: return frqUser;   case ftpPass: return frqPass;
    case ftpCwd: return frqCwd;     case ftpSize: return frqSize;   case ftpMkd: return frqMkd;
    case ftpRmd: return frqRmd;     case ftpRnfr: return frqRnfr;   case ftpRnto: return frqRnto;
    case ftpRetr: return frqRetr;   case ftpList: return frqList;   case ftpQuit: return frqQuit;
    case ftpSyst: return frqSyst;   case ftpDele: return frqDele;   case ftpPwd: return frqPwd;
    case ftpQuote: return frqQuote; case ftpStor: return frqStor;   case ftpType: return frqType;
    case ftpRest: return frqRest;   case ftpCdup: return frqCdup;   case ftpNlst: return frqNlst;
    case ftpAppe: return frqAppe;   case ftpPort: return frqPort;   default: return frqNone;
  }
}

}  // namespace

void TCustomFtpClient::StartStep(TFtpStep step) {
  m_currentStep = step;
  switch (step) {
    case ftpOpen: return DoOpen();
    case ftpUser:
      if (UserName.empty()) throw FtpException("UserName emtpy");
      return SendStep(step, "USER " + UserName, {331, 230});
    case ftpPass:
      if (PassWord.empty()) throw FtpException("Password emtpy");
      return SendStep(step, "PASS " + PassWord, {230});
    case ftpCwd:
      if (HostDirName.empty()) throw FtpException("HostDirName emtpy");
      return SendStep(step, "CWD " + HostDirName, {250, 257});
    case ftpSize:
      RemoteFileSize = 0;
      return SendStep(step, "SIZE " + HostFileName, {213});
    case ftpMkd: return SendStep(step, "MKD " + HostFileName, {257});
    case ftpRmd: return SendStep(step, "RMD " + HostFileName, {250, 257});
    case ftpRnfr: return SendStep(step, "RNFR " + HostFileName, {350});
    case ftpRnto: return SendStep(step, "RNTO " + LocalFileName, {250, 257});
    case ftpQuit: return SendStep(step, "QUIT", {221}, frpQuitReply);
    case ftpSyst: return SendStep(step, "SYST", {215});
    case ftpDele: return SendStep(step, "DELE " + HostFileName, {250, 257});
    case ftpPwd: return SendStep(step, "PWD", {250, 257});
    case ftpQuote: return SendStep(step, LocalFileName, {});
    case ftpType: return SendStep(step, std::string("TYPE ") + m_typeLetter, {200});
    case ftpRest: return DoRest();
    case ftpCdup: return SendStep(step, "CDUP", {250});
    case ftpPort: return DoPort();
    case ftpAuth: return SendStep(step, "AUTH TLS", {234}, frpAuthReply);
    case ftpPbsz: return SendStep(step, "PBSZ 0", {200});
    case ftpProt: return SendStep(step, "PROT P", {200});
    case ftpStor:
    case ftpAppe: return DoSend(step);
    case ftpRetr:
    case ftpList:
    case ftpNlst: return DoReceive(step);
    default: throw FtpException("Unknown FTP step");
  }
}

void TCustomFtpClient::SendStep(TFtpStep step, const std::string& line, std::vector<int> codes,
                                TFtpReplyPhase phase) {
  CheckReady();
  if (!m_connected) throw FtpException("FTP component not connected");
  CheckCommandLine(line);
  if (!m_multiStep) m_requestType = KindOfStep(step);
  m_okCodes = std::move(codes);
  m_completed = false;
  SetPhase(phase);
  SetState(fcsAwaitingReply);
  SendCommand(line);
}

void TCustomFtpClient::DoOpen() {
  CheckReady();
  if (m_connected) throw FtpException("FTP component already connected");
  if (!m_multiStep) m_requestType = frqOpen;
  m_completed = false;
  m_replyBuffer.Clear();
  m_multiLineCode = 0;
  m_protectData = false;
  m_passwordInClear = false;
  m_tlsFailure = tlsNoFailure;
  FailureCode = 0;
  SetState(fcsLookingUp);
  m_control->DnsLookup(HostName);
}

void TCustomFtpClient::DoRest() {
  const long long size = TLocalFile::SizeOf(LocalFileName);
  if (size <= 0) {  // nothing to resume: the step succeeds without a command
    CheckReady();
    if (!m_multiStep) m_requestType = frqRest;
    m_completed = false;
    FailureCode = 0;
    CompleteRequest(0);
    return;
  }
  ResumeAt = static_cast<int>(std::min<long long>(size, 0x7FFFFFFF));
  SendStep(ftpRest, "REST " + std::to_string(size), {});
}

void TCustomFtpClient::QuitAfterReply() {
  m_control->Close();  // completion comes from the session-closed handler
}

void TCustomFtpClient::SecureControlAfterAuth() {
  if (FailureCode == 0) return StartControlTls();
  if (TlsMode != ftpTlsIfOffered) return CompleteRequest(FailureCode);
  Display("! The server offers no TLS: the session goes on unencrypted");
  FailureCode = 0;
  SetErrorMessage({});
  CompleteRequest(0);
}

void TCustomFtpClient::StartControlTls() {
  SetPhase(frpTlsHandshake);
  m_control->StartTls(HostName, nullptr, [this](int error) { ControlTlsDone(error); }, TlsUpTo12);
}

void TCustomFtpClient::ControlTlsDone(int error) {
  const TTlsSession* tls = m_control->Tls();
  ServerFingerprint = tls ? tls->Fingerprint() : std::string();
  std::string problem;
  if (error != 0) {
    m_tlsFailure = tlsHandshakeFailed;
    problem = "The TLS handshake with " + HostName + " failed: " + (tls ? tls->ErrorText() : "");
  } else if (tls) {
    m_tlsFailure = tls->VerifyServer(TrustedFingerprint, problem);
  }
  if (m_tlsFailure == tlsNoFailure) {
    Display("! TLS session established");
    if (m_state != fcsAwaitingReply) return;  // implicit TLS: the welcome comes next
    m_completed = false;
    return CompleteRequest(0);
  }
  NoteComposedReply(530, problem);
  m_control->Close();  // the session-closed handler completes the request
}

void TCustomFtpClient::ExtractStepResult() {
  switch (m_currentStep) {
    case ftpSize:
      RemoteFileSize = ReplyNumber(LastReply);
      break;
    case ftpProt:
      m_protectData = true;
      break;
    case ftpCwd:
    case ftpMkd:
    case ftpPwd:
    case ftpCdup:
      ReplyDirectory = ReplyQuotedName(LastReply);
      break;
    default:
      break;
  }
}

}  // namespace qm::net

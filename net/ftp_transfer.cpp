// TCustomFtpClient: the data connection. The data-port step either listens
// and announces it (PORT, or EPRT on IPv6) or connects where the server's
// PASV/EPSV reply says; STOR/APPE send the local file in blocks of
// kSendBlockSize, RETR/LIST/NLST receive into it in reads of
// kReceiveBlockSize. A transfer is complete when both the server's 226/250
// reply has arrived and the data connection has closed (frpTransferConfirmed
// and fdlClosed).
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>

#include "net/ftp_client.h"
#include "net/ftp_events.h"
#include "net/message_pump.h"
#include "net/socket_errors.h"
#include "net/tls_session.h"

namespace qm::net {

namespace {
// Servers cannot see the block size; 256 KiB keeps the event loop passes of a
// large page few (one per block) while the socket queue stays short.
constexpr int kSendBlockSize = 256 * 1024;
constexpr int kReceiveBlockSize = 2048;
// A TLS 1.3 ticket comes one round trip after the handshake; a server that
// sends none after a resumption costs each file this much, no more.
constexpr int kTicketWaitMs = 500;
// Failure code of a store cut short: FTP's "connection closed; transfer aborted".
constexpr int kCutShort = 426;

// Bytes of a connection the system still holds: not yet sent, or not yet
// acknowledged by the peer.
int SystemHeldBytes(int handle) {
  int bytes = 0;
  return handle != -1 && ioctl(handle, SIOCOUTQ, &bytes) == 0 ? bytes : 0;
}

// Our sockets reset on close (and accepted ones inherit that from the
// listener); a data connection must deliver its last bytes, however slowly
// the server reads them.
void KeepUnsentBytesOnClose(int handle) {
  const linger graceful{0, 0};
  setsockopt(handle, SOL_SOCKET, SO_LINGER, &graceful, sizeof graceful);
}

}  // namespace

void TCustomFtpClient::DoPort() {
  CheckReady();
  if (!m_connected) throw FtpException("FTP component not connected");
  ++m_transferId;  // a deferred close still pending must spare the new connection
  m_dataTlsFresh = false;
  if (m_data->State() != wsClosed) m_data->Close();
  m_data->OnSessionAvailable = nullptr;
  m_data->OnSessionClosed = nullptr;
  m_data->OnDataAvailable = nullptr;
  m_data->OnSessionConnected = nullptr;
  m_passiveData = DataMode != ftpDataActive;
  switch (DataMode) {
    case ftpDataPassive:
      // PASV can name only an IPv4 address: on IPv6 passive mode is EPSV.
      if (PassiveIsExtended()) return SendStep(ftpPort, "EPSV", {229}, frpPassiveReply);
      return SendStep(ftpPort, "PASV", {227}, frpPassiveReply);
    case ftpDataExtendedPassive:
      return SendStep(ftpPort, "EPSV", {229}, frpPassiveReply);
    default:
      return DoActivePort();
  }
}

void TCustomFtpClient::DoActivePort() {
  const bool v6 = m_control->IsIPv6();
  m_data->SetProto("tcp");
  m_data->SetAddr(v6 ? "::" : "0.0.0.0");
  m_data->SetPort("0");
  m_data->Listen();
  const int port = std::atoi(m_data->LocalPortText().c_str());
  if (v6) {  // PORT cannot name an IPv6 address: EPRT of RFC 2428 can
    return SendStep(ftpPort, "EPRT |2|" + m_control->LocalAddressText() + "|" + std::to_string(port) + "|", {200});
  }
  sockaddr_in local{};
  m_control->GetSockName(local);
  const auto* b = reinterpret_cast<const unsigned char*>(&local.sin_addr.s_addr);
  char command[64];
  if (m_control->PeerAddressText() == "127.0.0.1")
    std::snprintf(command, sizeof command, "PORT 127,0,0,1,%d,%d", port / 256, port % 256);
  else
    std::snprintf(command, sizeof command, "PORT %d,%d,%d,%d,%d,%d", b[0], b[1], b[2], b[3],
                  port / 256, port % 256);
  SendStep(ftpPort, command, {200, 227});
}

// After the 227/229 reply: the step succeeds only once the data connection is
// up, so a mode that cannot work fails here, before any STOR is pending.
void TCustomFtpClient::ConnectPassiveData() {
  if (FailureCode != 0) return CompleteRequest(FailureCode);
  std::string host = m_serverAddr;
  int port = 0;
  const bool readable = PassiveIsExtended()
                            ? ReplyExtendedPassivePort(LastReply, port)
                            : ReplyPassiveAddress(LastReply, host, port);
  if (!readable) return Fail(425, "425 Unreadable passive reply: " + LastReply);
  // The data connection goes to the host of the control connection: a PASV
  // reply naming another host would send the user's pages there (a server
  // behind NAT names its private address; a hostile one, anyone's). Only with
  // PassiveAddressFromServer is a routable address of the server's followed.
  const bool v6Session = m_serverAddr.find(':') != std::string::npos;  // PASV names IPv4 only
  if (host != m_serverAddr &&
      (!PassiveAddressFromServer || v6Session || IsUnroutableFrom(host, m_serverAddr))) {
    Display("! Passive address " + host + " ignored, using " + m_serverAddr);
    host = m_serverAddr;
  }
  SetPhase(frpPassiveConnecting);
  m_data->OnSessionConnected = [this](TAsyncSocket&, int error) { PassiveDataConnected(error); };
  try {
    m_data->SetProto("tcp");
    m_data->SetAddr(host);
    m_data->SetPort(std::to_string(port));
    m_data->Connect();
  } catch (const ESocketException&) {
    PassiveDataConnected(m_data->LastError() != 0 ? m_data->LastError() : kWsaEConnRefused);
  }
}

void TCustomFtpClient::PassiveDataConnected(int error) {
  m_data->OnSessionConnected = nullptr;
  if (error == 0) {
    KeepUnsentBytesOnClose(m_data->Handle());
    m_completed = false;
    return CompleteRequest(0);
  }
  const std::string target = m_data->Addr() + " port " + m_data->Port();
  m_data->Close();
  Fail(425, "425 Could not open the data connection to " + target + ": " + SocketErrorText(error));
}

void TCustomFtpClient::DoSend(TFtpStep step) {
  if (!m_connected) throw FtpException("STOR/APPE: not connected");
  if (LocalFileName.empty()) throw FtpException("LocalFileName empty");
  CheckCommandLine(HostFileName);
  m_requestType = step == ftpAppe ? frqAppe : frqStor;  // also inside a multi-step request
  m_sending = true;
  StartTransfer();
  bool cancel = false;
  if (OnReadyToTransmit) OnReadyToTransmit(*this, cancel);
  if (cancel) return Fail(426, "426 Transmit cancelled by application");
  if (!m_passiveData) {
    m_data->OnSessionAvailable = [this](TAsyncSocket&, int) { SendAccept(); };
    m_data->Rearm();  // the server may have connected already, right after PORT
  }
  if (!m_localFile.OpenForRead(LocalFileName, m_shareFlag, ResumeAt)) {
    m_data->Close();
    return Fail(426, "426 Unable to open local file " + LocalFileName);
  }
  SendTransferCommand((step == ftpAppe ? "APPE " : "STOR ") + HostFileName);
}

void TCustomFtpClient::DoReceive(TFtpStep step) {
  const std::string name = step == ftpRetr ? "RETR" : step == ftpList ? "LIST" : "NLST";
  if (!m_connected) throw FtpException(name + ": not connected");
  if (LocalFileName.empty()) throw FtpException("LocalFileName empty");
  CheckCommandLine(HostFileName);
  if (!m_multiStep) m_requestType = step == ftpRetr ? frqRetr : step == ftpList ? frqList : frqNlst;
  m_dataCommand = name;
  m_sending = false;
  StartTransfer();
  if (m_passiveData) {
    WireReceive();
  } else {
    m_data->OnSessionAvailable = [this](TAsyncSocket&, int) { ReceiveAccept(); };
    m_data->Rearm();
  }
  if (!m_localFile.OpenForWrite(LocalFileName, m_shareFlag, ResumeAt <= 0, ResumeAt)) {
    m_data->Close();
    return Fail(550, "Unable to open local file " + LocalFileName);
  }
  SendTransferCommand(HostFileName.empty() ? name : name + " " + HostFileName);
}

void TCustomFtpClient::StartTransfer() {
  m_completed = false;
  SetDataLink(fdlNone);
  TransferCount = 0;
  m_dataCloseError = 0;
  ++m_transferId;
}

void TCustomFtpClient::SendTransferCommand(const std::string& line) {
  m_okCodes.clear();
  SetPhase(frpTransferStart);
  SetState(fcsAwaitingReply);
  SendCommand(line);
}

int TCustomFtpClient::AcceptFromServer() {
  std::string peer;
  const int handle = m_data->Accept(&peer);
  if (handle < 0) return -1;
  // Port stealing (RFC 2577): the user's files go only to the server of this
  // session; anyone else is hung up on and the real server is still awaited.
  if (peer != m_serverAddr) {
    ::close(handle);
    Display("! Data connection from " + peer + " refused");
    return -1;
  }
  m_data->Close();  // the listening socket, before the transfer's handlers are wired
  KeepUnsentBytesOnClose(handle);
  m_startTime = TickCountMs();
  return handle;
}

void TCustomFtpClient::SendAccept() {
  const int handle = AcceptFromServer();
  if (handle < 0) return;
  m_data->Dup(handle);
  if (m_protectData) StartDataTls(true);
  else StartPassiveSend();
}

// PROT P: the data connection speaks TLS, resuming the control's session.
void TCustomFtpClient::StartDataTls(bool sending) {
  m_data->StartTls(HostName, m_control, [this, sending](int error) {
    // Refused during the handshake or after it: either way no resumption.
    m_dataTlsFresh = (error != 0 || !m_data->Tls()->Resumed()) && m_control->Tls() && m_control->Tls()->IsTls13();
    if (error != 0) {
      Display("! TLS on the data connection failed: " + SocketErrorText(error));
      m_data->Close();  // the server's reply to the transfer then ends it
    } else if (sending) {
      StartPassiveSend();
    }
  }, TlsUpTo12);
}

// The data connection is up and the server has agreed to the transfer: send.
void TCustomFtpClient::StartPassiveSend() {
  m_startTime = TickCountMs();
  SetDataLink(fdlFlowing);
  m_data->OnSessionClosed = [this](TAsyncSocket&, int error) { DataClosed(true, error); };
  m_data->OnDataAvailable = [this](TAsyncSocket& socket, int) {
    char discard[2048];
    // The server's TLS close alert: answered with ours, which ends the connection.
    if (socket.Receive(discard, sizeof discard) == 0 && socket.Tls()) return socket.Close();
    if (m_dataLink == fdlFileSent && socket.Tls() && !socket.Tls()->TicketExpected()) EndSend();
  };
  m_data->OnDataSent = [this](TAsyncSocket&, int) { SendNextBlock(); };
  // What the server sent before (a TLS session ticket right after the
  // handshake, which the next data connection needs) is read now.
  m_data->Rearm();
  // Blocks that do not fill a segment wait for the next: the system sends
  // full segments, and the shut-down at the end of the file sends the rest.
  m_data->SetHoldSmallSegments(true);
  SendNextBlock();
}

// After the file's end only our side is shut (the FIN, over TLS our close
// alert, after the last byte): the server's close ends the transfer once it
// has read everything. Closing instead, with the server's own close alert
// unread, would reset the connection and lose the file's tail in the
// server's buffers. Till the server closes, the bytes the system still holds
// can be seen leaving (a slow server is not a stalled one), and a server that
// resets the connection instead has not stored the file.
void TCustomFtpClient::EndSend() {
  if (m_dataLink != fdlFileSent) return;
  SetDataLink(fdlShutDown);
  m_data->ShutDown(1);
}

void TCustomFtpClient::EndOfFile() {
  if (m_dataLink != fdlFlowing) return;
  SetDataLink(fdlFileSent);
  // The next data connection resumes with this one's TLS ticket (servers
  // that want every data connection resumed take each ticket once): it is
  // awaited a moment before our close alert.
  if (!m_data->Tls() || !m_data->Tls()->TicketExpected()) return EndSend();
  QTimer::singleShot(kTicketWaitMs, this, [this, id = m_transferId] {
    if (id == m_transferId && m_data->Tls()) EndSend();
  });
}

void TCustomFtpClient::ReceiveAccept() {
  const int handle = AcceptFromServer();
  if (handle < 0) return;
  m_data->Dup(handle);
  WireReceive();
  if (m_protectData) StartDataTls(false);
}

void TCustomFtpClient::WireReceive() {
  m_startTime = TickCountMs();
  SetDataLink(fdlFlowing);
  m_data->OnSessionClosed = [this](TAsyncSocket&, int error) { DataClosed(false, error); };
  m_data->OnDataAvailable = [this](TAsyncSocket&, int) { ReceiveBlock(); };
  m_data->OnDataSent = nullptr;
  m_data->Rearm();  // bytes that arrived before the handler was wired
}

// Reports progress before each block; the progress handler may ask to stop the transfer,
// which closes the data connection.
bool TCustomFtpClient::AbortRequestedByProgress() {
  bool abort = false;
  TriggerProgress(TransferCount + ResumeAt, abort);
  if (abort) {
    Display("! Abort requested");
    m_data->Close();
  }
  return abort;
}

void TCustomFtpClient::SendNextBlock() {
  if (!m_localFile.IsOpen()) return;
  if (AbortRequestedByProgress()) return;
  m_sendBlock.resize(kSendBlockSize);
  char* block = m_sendBlock.data();
  const int n = m_localFile.Read(block, kSendBlockSize);
  if (n < 0) {
    Display("! Error reading file");
    m_data->Close();
    return;
  }
  if (n == 0) return EndOfFile();
  TransferCount += n;
  m_data->Send(block, n);
  m_unsentBlocks = m_data->UnsentBlocks();
  m_systemHeld = SystemHeldBytes(m_data->Handle());
}

bool TCustomFtpClient::DataMovedSinceLastAsked() {
  if (!m_sending || m_data->State() != wsConnected) return false;
  const int unsent = m_data->UnsentBlocks();
  const int held = SystemHeldBytes(m_data->Handle());
  // Our queue only shrinks while a block goes out (it is refilled after
  // TriggerProgress, which restarts the waiting anyway); the system's part
  // shrinks as the server acknowledges bytes.
  const bool moved = unsent < m_unsentBlocks || held < m_systemHeld;
  m_unsentBlocks = unsent;
  m_systemHeld = held;
  return moved;
}

void TCustomFtpClient::ReceiveBlock() {
  if (AbortRequestedByProgress()) return;
  char block[kReceiveBlockSize];
  const int n = m_data->Receive(block, kReceiveBlockSize);
  if (n > 0) {
    TransferCount += n;
    if (!m_localFile.Write(block, n)) {
      Display("! Error writing local file");
      m_data->ShutDown(2);
      return;
    }
    if (!DisplayFlag) return;
    const std::string text(block, n);
    for (size_t i = 0; i < text.size();) {
      const size_t end = std::min(text.find_first_of("\r\n", i), text.size());
      if (end > i) Display("! Data: " + text.substr(i, end - i));
      i = text.find_first_not_of("\r\n", end);
      if (i == std::string::npos) break;
    }
  } else if (n == 0 && m_data->Tls()) {
    // A TLS close alert is the end of the data. Servers wait for our alert
    // before they hang up, so the connection would never close by itself.
    m_data->Close();
  } else if (n < 0 && m_data->State() == wsConnected && m_data->LastError() != 10035) {
    Display("! Data: Receive error " + std::to_string(m_data->LastError()));
    m_data->ShutDown(2);
  }
}

void TCustomFtpClient::PostDeferredClose(int count) {
  QCoreApplication::postEvent(this, new TFtpPostedEvent(TFtpPostedEvent::kDeferredClose, m_transferId, count));
}

void TCustomFtpClient::DataClosed(bool sending, int error) {
  m_localFile.Close();
  const bool wholeFileSent = WholeFileQueued();
  SetDataLink(fdlClosed);
  m_dataCloseError = error;
  // A store whose data connection ended before the file's end, or broke,
  // has failed whatever the server answers (226 included, before or after
  // the close): only part of the file may be on the server.
  if (sending && (error != 0 || !wholeFileSent)) {
    m_dataCloseError = error != 0 ? error : kCutShort;
    if (m_errorMessage.empty())
      m_errorMessage = error != 0 ? "426 The data connection failed: " + SocketErrorText(error)
                                  : "426 The data connection ended before the whole file was sent";
  }
  TransferCompletionCheck();
}

void TCustomFtpClient::HandleTransferFirstReply() {
  if (!DisplayAndParse()) return;
  if (ReplyCode == 125 || ReplyCode == 150) {
    SetPhase(frpTransferEnd);
    if (m_passiveData && m_protectData) StartDataTls(m_sending);
    else if (m_passiveData && m_sending) StartPassiveSend();
    return;
  }
  NoteFailure(ReplyCode);
  SetPhase(frpIdle);
  m_data->Close();
  m_localFile.Close();
  ResumeAt = 0;
  CompleteRequest(ReplyCode);
}

void TCustomFtpClient::HandleTransferSecondReply() {
  if (!DisplayAndParse()) return;
  if (ReplyCode == 226 || ReplyCode == 250) {
    SetPhase(frpTransferConfirmed);
    // A server that confirmed a store and holds every byte, yet keeps the
    // data connection open, is not waited for: the close is ours.
    if (m_sending && WholeFileQueued() && SystemHeldBytes(m_data->Handle()) == 0)
      PostDeferredClose(0);
    TransferCompletionCheck();
    return;
  }
  NoteFailure(ReplyCode);
  m_localFile.Close();
  m_data->Close();
  Display(m_sending ? "! STOR Failed" : "! RETR/LIST/NLST Failed");
  CompleteRequest(ReplyCode);
}

void TCustomFtpClient::TransferCompletionCheck() {
  if (m_phase != frpTransferConfirmed || m_dataLink != fdlClosed) return;
  Display("! " + StatisticsLine());
  ResumeAt = 0;
  FailureCode = m_dataCloseError;
  CompleteRequest(m_dataCloseError);
}

std::string TCustomFtpClient::StatisticsLine() {
  const qint64 elapsed = TickCountMs() - m_startTime;
  std::string text = std::to_string(TransferCount) + " bytes received/sent in " +
                     std::to_string(elapsed / 1000) + " seconds";
  if (elapsed != 0) {
    // 32-bit arithmetic: multiply first only while that cannot overflow.
    const qint64 rate = TransferCount <= 32767 ? TransferCount * 1000LL / elapsed
                                               : (TransferCount / elapsed) * 1000LL;
    text += " (" + std::to_string(rate) + " Bytes/sec)";
  }
  return text;
}

}  // namespace qm::net

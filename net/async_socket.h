#pragma once
// TAsyncSocket: one non-blocking TCP (or UDP) socket driven by the Qt event loop.
//
// Readiness of the handle (connect done, data to read, room to write, connection
// offered, peer closed) and finished host lookups arrive as notifications on the
// thread that created the socket, and are turned into the On* events below.
// Outgoing bytes wait in a queue of TBuffer blocks and are written as the system
// accepts them; OnDataSent fires from the event loop once the whole queue has
// left, never from inside Send. Every failed system call goes through one error
// rule: OnError when assigned, else ESocketException with
// "Error <n> in function <operation>\r\n<text of n>" (Windows Sockets numbers).

#include <netinet/in.h>

#include <QObject>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/buffer.h"

class QSocketNotifier;

namespace qm::net {

class TTlsSession;

enum TSocketState {
  wsInvalidState, wsOpened, wsBound, wsConnecting, wsConnected, wsAccepting, wsListening, wsClosed
};
const char* SocketStateName(TSocketState state);

enum TSocketSendFlags { wsSendNormal, wsSendUrgent };

// What the socket's blocking operations need from a countdown control; TWait
// (a widget, in qm_net_widgets) implements it.
class TWaitControl {
 public:
  virtual ~TWaitControl() = default;
  // Shows the countdown from seconds and processes messages, calling eachPass
  // once per pass, until Stop or the end of the time; true when stopped.
  virtual bool RunModal(int seconds, const std::function<void()>& eachPass) = 0;
  virtual void Stop() = 0;
};

class TAsyncSocket : public QObject {
 public:
  using TSocketEventFn = std::function<void(TAsyncSocket& sender, int error)>;

  explicit TAsyncSocket(QObject* parent = nullptr);
  ~TAsyncSocket() override;

  // Remote address (connect) or local one (listen), port number or service name,
  // protocol name or number. Setting them is allowed only while wsClosed; the
  // value is resolved at once and counts as assigned until the next close.
  const std::string& Addr() const { return m_addrText; }
  void SetAddr(const std::string& value);
  const std::string& Port() const { return m_portText; }
  void SetPort(const std::string& value);
  const std::string& Proto() const { return m_protoText; }
  void SetProto(const std::string& value);

  const std::string& DnsResult() const { return m_dnsResult; }
  const std::vector<std::string>& DnsResultList() const { return m_dnsResultList; }
  TSocketState State() const { return m_state; }
  int ReadCount() const { return m_readCount; }
  int RcvdCount() const;  // bytes waiting, asked from the system; -1 on error
  int LastError() const { return m_lastError; }
  int Handle() const { return m_handle; }
  // Blocks of the send queue still holding unsent bytes (the last one may be
  // empty): it falls as the system takes the bytes, so a waiter can tell a
  // slow peer from a stalled one.
  int UnsentBlocks() const { return m_sendQueue.BlockCount(); }
  bool MultiThreaded = false;
  TWaitControl* WaitCtrl = nullptr;
  int FlushTimeout = 60;
  TSocketSendFlags SendFlags() const { return m_sendFlags; }
  void SetSendFlags(int value);  // refuses anything but the two flags

  TSocketEventFn OnDataAvailable;
  TSocketEventFn OnDataSent;
  TSocketEventFn OnSessionClosed;
  TSocketEventFn OnSessionAvailable;
  TSocketEventFn OnSessionConnected;
  TSocketEventFn OnDnsLookupDone;
  std::function<void(TAsyncSocket& sender, TSocketState oldState, TSocketState newState)> OnChangeState;
  std::function<void(TAsyncSocket& sender)> OnLineTooLong;
  std::function<void(TAsyncSocket& sender)> OnError;

  void DnsLookup(const std::string& hostName);
  void CancelDnsLookup();
  void Connect();
  void Close();
  void CloseWithoutShutDown();  // lets a linger-0 socket reset at once
  int Listen();                 // 0, or -1 on failure
  int Accept(std::string* peerAddr = nullptr);  // new handle or -1
  void Dup(int handle);
  int Send(const void* data, int length);  // bytes queued, -1 when not connected
  int SendStr(const std::string& text);
  int Receive(void* buffer, int size);     // count, 0 peer closed, -1 LastError set
  int ReceiveFrom(void* buffer, int size, sockaddr_in& from);
  void ShutDown(int how);                  // 0 receive, 1 send, 2 both
  // Holds small sends back until a full segment is ready, a shut-down or the
  // end of holding (TCP_CORK): a producer writing small blocks then costs the
  // peer one wake-up per segment instead of one per block.
  void SetHoldSmallSegments(bool hold);
  std::string PeerAddressText();               // dotted (or IPv6 text), "error" when not connected
  int GetPeerName(sockaddr_in& addr);
  std::string LocalPortText();                  // local port as text, "error" when unbound
  int GetSockName(sockaddr_in& addr);
  // The local address as text (IPv4 dotted or IPv6), "error" when unbound.
  std::string LocalAddressText();
  bool IsIPv6() const { return m_v6; }
  // From now on the connection speaks TLS (as a client): the handshake runs
  // from the readiness events, then Receive and Send carry plain bytes over
  // it. done(0) once the handshake is through, done(error) when it failed.
  // resumeFrom: a socket whose TLS session this one resumes. upToTls12: no
  // TLS 1.3 offered (for servers whose TLS 1.3 cannot be resumed as they require).
  void StartTls(const std::string& serverName, const TAsyncSocket* resumeFrom, std::function<void(int error)> done,
                bool upToTls12 = false);
  const TTlsSession* Tls() const { return m_tls.get(); }
  void Pause();
  void Resume();
  // Readiness that found no handler (unread data, a connection offered to a
  // listener without OnSessionAvailable) is not reported again until a
  // receive, an accept or this call, which a caller makes after assigning
  // the handler.
  void Rearm();

  // Blocking helpers, not used by the FTP client: they pump messages (or run
  // the wait control) until the condition holds or the seconds pass.
  bool Wait(int seconds, TSocketState state);
  void ReadLine(int seconds, std::string& line);
  void Flush();
  void ServeUntilClosed();

 protected:
  bool event(QEvent* e) override;

 private:
  void ResetFields();
  void ChangeState(TSocketState newState);
  void SocketError(const std::string& operation, int error);
  void RaiseException(const std::string& message);
  void ArmNotifiers(bool armWrite);
  void DisarmNotifiers();
  void AdoptHandle(int handle);
  void ConfigureStream();
  void CloseHandle(bool shutDown);
  // Notification path (async_socket_io.cpp).
  void OnReadReady();
  void OnWriteReady();
  void HandleNotification(int events, int error);
  void HandleLookupDone(int id, int error, std::vector<std::string> addrs);
  void PostNotification(int events, int error);
  void TryToSend();
  void ReadLoop(int error);
  void StallReads();
  void LineReader();
  bool PumpUntil(int seconds, const std::function<bool()>& done);
  void ContinueHandshake();
  bool SendOverTls(const char* bytes, int length, ssize_t& n);

  std::string m_addrText, m_portText, m_protoText = "tcp";
  sockaddr_in m_sin{};
  sockaddr_in6 m_sin6{};  // used instead of m_sin when Addr is an IPv6 address
  bool m_v6 = false;
  bool m_addrAssigned = false, m_portAssigned = false, m_protoAssigned = true;
  int m_proto = 6, m_type = 1;  // IPPROTO_TCP, SOCK_STREAM
  int m_localPort = 0;

  int m_handle = -1;
  TSocketState m_state = wsClosed;
  TSocketState m_expectedState = wsInvalidState;
  TSocketSendFlags m_sendFlags = wsSendNormal;
  int m_readCount = 0;
  int m_lastError = 0;
  bool m_paused = false;
  bool m_closeEventFired = false;
  bool m_destroying = false;
  bool m_readStalled = false;

  TSendQueue m_sendQueue;
  bool m_allSent = true;

  bool m_lineMode = false;
  bool m_lineReady = false;
  std::string m_lineBuffer;

  int m_lookupId = 0;
  std::string m_dnsResult;
  std::vector<std::string> m_dnsResultList;

  std::unique_ptr<TTlsSession> m_tls;
  std::function<void(int)> m_tlsDone;

  QSocketNotifier* m_readNotifier = nullptr;
  QSocketNotifier* m_writeNotifier = nullptr;
};

// The component's class name; the program uses it under its published name.
using TCustomAsyncSocket = TAsyncSocket;

}  // namespace qm::net

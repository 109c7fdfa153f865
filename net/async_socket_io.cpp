// TAsyncSocket: the notification path (readiness from the event loop turned
// into events), the send queue, receiving and the blocking helpers.
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <utility>

#include "net/async_socket.h"
#include "net/host_lookup.h"
#include "net/message_pump.h"
#include "net/socket_errors.h"
#include "net/tls_session.h"

namespace qm::net {

namespace {

// Readiness bits, numbered as the Windows Sockets notification events.
constexpr int kFdRead = 0x01;
constexpr int kFdWrite = 0x02;
constexpr int kFdAccept = 0x08;
constexpr int kFdConnect = 0x10;
constexpr int kFdClose = 0x20;

// A notification posted by the socket to itself (the write event after Send).
class TSocketNotifyEvent : public QEvent {
 public:
  static QEvent::Type EventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
  }
  TSocketNotifyEvent(int handle, int events, int error)
      : QEvent(EventType()), Handle(handle), Events(events), Error(error) {}
  int Handle, Events, Error;
};

int Readable(int handle) {
  int count = 0;
  return ioctl(handle, FIONREAD, &count) == 0 ? count : -1;
}

}  // namespace

bool TAsyncSocket::event(QEvent* e) {
  if (e->type() == TSocketNotifyEvent::EventType()) {
    const auto* n = static_cast<TSocketNotifyEvent*>(e);
    if (n->Handle == m_handle && m_handle != -1 && !m_paused) {
      try {
        HandleNotification(n->Events, n->Error);
      } catch (...) {
        StashHandlerException(std::current_exception());
      }
    }
    return true;
  }
  if (e->type() == TLookupDoneEvent::EventType()) {
    auto* done = static_cast<TLookupDoneEvent*>(e);
    try {
      HandleLookupDone(done->LookupId, done->Error, std::move(done->Addrs));
    } catch (...) {
      StashHandlerException(std::current_exception());
    }
    return true;
  }
  return QObject::event(e);
}

void TAsyncSocket::PostNotification(int events, int error) {
  QCoreApplication::postEvent(this, new TSocketNotifyEvent(m_handle, events, error));
}

void TAsyncSocket::OnReadReady() {
  if (m_paused || m_handle == -1) return;
  try {
    if (m_state == wsListening) {
      if (!OnSessionAvailable) return StallReads();  // offered again on Rearm
      return HandleNotification(kFdAccept, 0);
    }
    // A refused connect also wakes the reader; its error belongs to the connect.
    if (m_state == wsConnecting) return OnWriteReady();
    if (Readable(m_handle) > 0) return HandleNotification(kFdRead, 0);
    // Readable with nothing to read: the peer has closed or reset the connection.
    char probe = 0;
    const ssize_t n = ::recv(m_handle, &probe, 1, MSG_PEEK);
    if (n > 0) return HandleNotification(kFdRead, 0);
    if (n == 0) return HandleNotification(kFdClose, 0);
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
      HandleNotification(kFdClose, WsaErrorFromErrno(errno));
  } catch (...) {
    StashHandlerException(std::current_exception());
  }
}

void TAsyncSocket::OnWriteReady() {
  if (m_paused || m_handle == -1) return;
  try {
    if (m_state == wsConnecting) {
      int error = 0;
      socklen_t len = sizeof error;
      getsockopt(m_handle, SOL_SOCKET, SO_ERROR, &error, &len);
      m_writeNotifier->setEnabled(!m_allSent);
      return HandleNotification(kFdConnect, WsaErrorFromErrno(error));
    }
    HandleNotification(kFdWrite, 0);
  } catch (...) {
    StashHandlerException(std::current_exception());
  }
}

void TAsyncSocket::HandleNotification(int events, int error) {
  if (m_tls && !m_tls->HandshakeDone() && m_state == wsConnected) {
    if (!(events & kFdClose)) return ContinueHandshake();
    auto done = std::exchange(m_tlsDone, nullptr);  // the peer hung up mid-handshake
    if (done) done(kWsaEConnReset);
    if (m_state != wsClosed) Close();
    return;
  }
  if (events & kFdConnect) {
    ChangeState(wsConnected);
    if (OnSessionConnected) OnSessionConnected(*this, error);
    if (error != 0 && m_state != wsClosed) Close();
  }
  if ((events & kFdRead) && m_handle != -1) ReadLoop(error);
  if ((events & kFdWrite) && m_handle != -1) {
    TryToSend();
    if (m_allSent && OnDataSent) OnDataSent(*this, error);
  }
  if ((events & kFdAccept) && OnSessionAvailable) OnSessionAvailable(*this, error);
  if ((events & kFdClose) && m_state != wsConnecting && m_handle != -1) {
    ReadLoop(error);  // the peer's last bytes come before its close
    if (m_state == wsClosed) return;  // a handler closed it, and was told so
    if (m_lineMode) {
      m_lineMode = false;
      if (!MultiThreaded && WaitCtrl) WaitCtrl->Stop();
    }
    if (OnSessionClosed && !m_closeEventFired) {
      m_closeEventFired = true;
      OnSessionClosed(*this, error);
    }
    if (m_state != wsClosed) Close();
  }
}

void TAsyncSocket::ReadLoop(int error) {
  for (;;) {
    m_lastError = 0;
    try {
      if (m_lineMode) {
        LineReader();
      } else if (OnDataAvailable) {
        OnDataAvailable(*this, error);
      } else {
        break;
      }
    } catch (...) {
      break;  // a failing handler ends this pass; it is not reported further
    }
    if (m_lastError != 0 || m_handle == -1) break;
    const int remaining = Readable(m_handle);
    if (remaining < 0) {
      m_lastError = WsaErrorFromErrno(errno);
      break;
    }
    if (remaining == 0) break;
  }
  // Bytes nobody reads would wake the loop forever; like the system's read
  // notification, the next one comes only after a receive.
  if (m_handle != -1 && !m_lineMode && !OnDataAvailable && Readable(m_handle) > 0) StallReads();
}

void TAsyncSocket::StallReads() {
  m_readStalled = true;
  m_readNotifier->setEnabled(false);
}

void TAsyncSocket::Rearm() {
  if (!m_readStalled || m_handle == -1) return;
  m_readStalled = false;
  m_readNotifier->setEnabled(!m_paused);
}

int TAsyncSocket::RcvdCount() const {
  return m_handle == -1 ? -1 : Readable(m_handle);
}

void TAsyncSocket::StartTls(const std::string& serverName, const TAsyncSocket* resumeFrom,
                            std::function<void(int error)> done, bool upToTls12) {
  m_tls = std::make_unique<TTlsSession>(m_handle, serverName, resumeFrom ? resumeFrom->m_tls.get() : nullptr, upToTls12);
  m_tlsDone = std::move(done);
  Rearm();
  ContinueHandshake();  // the client speaks first
}

void TAsyncSocket::ContinueHandshake() {
  const TTlsSession::TStep step = m_tls->Handshake();
  if (step == TTlsSession::kWantRead || step == TTlsSession::kWantWrite) {
    m_writeNotifier->setEnabled(step == TTlsSession::kWantWrite && !m_paused);
    return;
  }
  auto done = std::exchange(m_tlsDone, nullptr);
  m_writeNotifier->setEnabled(!m_allSent && !m_paused);
  if (step == TTlsSession::kFailed) m_lastError = kWsaEConnReset;
  if (done) done(step == TTlsSession::kFailed ? kWsaEConnReset : 0);
  if (m_tls && m_tls->Pending() > 0) PostNotification(kFdRead, 0);
}

bool TAsyncSocket::SendOverTls(const char* bytes, int length, ssize_t& n) {
  TTlsSession::TStep step = TTlsSession::kDone;
  n = m_tls->Write(bytes, length, step);
  if (n >= 0) return true;
  if (step == TTlsSession::kFailed) Close();
  else m_writeNotifier->setEnabled(!m_paused);
  return false;
}

int TAsyncSocket::Receive(void* buffer, int size) {
  Rearm();
  if (m_tls) {
    TTlsSession::TStep step = TTlsSession::kDone;
    const int n = m_tls->Read(buffer, std::max(size, 0), step);
    if (n < 0) {
      m_lastError = step == TTlsSession::kFailed ? kWsaEConnReset : kWsaEWouldBlock;
      if (step == TTlsSession::kWantWrite) m_writeNotifier->setEnabled(!m_paused);
      return -1;
    }
    m_readCount += n;
    // Decrypted bytes waiting inside TLS do not wake the loop: ask again.
    if (m_tls->Pending() > 0) PostNotification(kFdRead, 0);
    return n;
  }
  const ssize_t n = ::recv(m_handle, buffer, static_cast<size_t>(std::max(size, 0)), 0);
  if (n < 0) {
    m_lastError = WsaErrorFromErrno(errno);
    return -1;
  }
  m_readCount += static_cast<int>(n);
  return static_cast<int>(n);
}

int TAsyncSocket::ReceiveFrom(void* buffer, int size, sockaddr_in& from) {
  socklen_t len = sizeof from;
  const ssize_t n = ::recvfrom(m_handle, buffer, static_cast<size_t>(std::max(size, 0)), 0,
                               reinterpret_cast<sockaddr*>(&from), &len);
  if (n < 0) {
    m_lastError = WsaErrorFromErrno(errno);
    return -1;
  }
  m_readCount += static_cast<int>(n);
  return static_cast<int>(n);
}

int TAsyncSocket::Send(const void* data, int length) {
  if (m_state != wsConnected) {
    SocketError("Send", kWsaENotConn);
    return -1;
  }
  m_allSent = false;
  m_sendQueue.Append(data, length);
  TryToSend();
  if (m_allSent && m_handle != -1) PostNotification(kFdWrite, 0);
  return length;
}

int TAsyncSocket::SendStr(const std::string& text) {
  return Send(text.data(), static_cast<int>(text.size()));
}

void TAsyncSocket::TryToSend() {
  if (m_handle == -1) return;
  const int flags = MSG_NOSIGNAL | (m_sendFlags == wsSendUrgent ? MSG_OOB : 0);
  for (;;) {
    int length = 0;
    const char* bytes = m_sendQueue.Front(length);
    if (!bytes) break;
    ssize_t n;
    if (m_type == SOCK_DGRAM) {
      n = ::sendto(m_handle, bytes, length, flags, reinterpret_cast<sockaddr*>(&m_sin), sizeof m_sin);
    } else if (m_tls) {
      if (!SendOverTls(bytes, length, n)) return;
    } else {
      iovec parts[64];
      msghdr message{};
      message.msg_iov = parts;
      message.msg_iovlen = m_sendQueue.Gather(parts, 64);
      length = 0;
      for (size_t i = 0; i < message.msg_iovlen; ++i) length += static_cast<int>(parts[i].iov_len);
      n = ::sendmsg(m_handle, &message, flags);
    }
    if (n < 0) {
      const int error = WsaErrorFromErrno(errno);
      if (error == kWsaEWouldBlock) return m_writeNotifier->setEnabled(!m_paused);
      if (error == kWsaEInval || error == kWsaENotSock || error == kWsaEConnReset || error == kWsaENotConn)
        return Close();
      return SocketError("TryToSend failed", error);
    }
    if (n == 0) return;
    m_sendQueue.Consume(static_cast<int>(n));
    if (n < length) return m_writeNotifier->setEnabled(!m_paused);
  }
  m_allSent = true;
  if (m_state != wsConnecting) m_writeNotifier->setEnabled(false);
}

void TAsyncSocket::LineReader() {
  while (m_state == wsConnected && m_lineMode) {
    if (Readable(m_handle) <= 0) return;  // line mode stays on until more arrives
    char c = 0;
    const ssize_t n = ::recv(m_handle, &c, 1, 0);
    if (n == 0 || (n < 0 && errno == ECONNRESET)) {
      m_lineMode = false;
      m_lineReady = true;
      Close();
      return;
    }
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      m_lastError = WsaErrorFromErrno(errno);
      return SocketError("ReadLine", m_lastError);
    }
    ++m_readCount;
    if (c == '\r') continue;
    const bool tooLong = c != '\n' && m_lineBuffer.size() >= 253;
    if (c == '\n' || tooLong) {
      m_lineMode = false;
      m_lineReady = true;
      if (!MultiThreaded && WaitCtrl) WaitCtrl->Stop();
      if (tooLong && OnLineTooLong) OnLineTooLong(*this);
      return;
    }
    m_lineBuffer += c;
  }
}

bool TAsyncSocket::PumpUntil(int seconds, const std::function<bool()>& done) {
  if (done()) return true;
  if (MultiThreaded) {
    const qint64 deadline = TickCountMs() + qint64(seconds) * 1000;
    return qm::net::PumpUntil(done, [deadline] { return deadline; });
  }
  WaitCtrl->RunModal(seconds, [] {});
  return done();
}

void TAsyncSocket::ReadLine(int seconds, std::string& line) {
  if (!MultiThreaded && !WaitCtrl) return RaiseException("No wait object assigned");
  m_lineBuffer.clear();
  m_lineReady = false;
  m_lineMode = true;
  LineReader();
  PumpUntil(seconds, [this] { return m_lineReady || m_state != wsConnected; });
  m_lineMode = false;
  line = m_lineBuffer;
}

bool TAsyncSocket::Wait(int seconds, TSocketState state) {
  if (m_state == state) return true;
  if (!MultiThreaded && !WaitCtrl) {
    SocketError("TAsyncSocket.Wait", kWsaNoData);
    return false;
  }
  m_expectedState = state;
  PumpUntil(seconds, [this, state] {
    return m_state == state || (state == wsConnected && m_state == wsClosed);
  });
  m_expectedState = wsInvalidState;
  return m_state == state;
}

void TAsyncSocket::Flush() {
  if (MultiThreaded || !WaitCtrl) {
    while (m_handle != -1 && !m_allSent) {
      TryToSend();
      if (!m_allSent) PumpMessagesOnce(TickCountMs() + 100);
    }
    return;
  }
  WaitCtrl->RunModal(FlushTimeout, [this] {
    TryToSend();
    if (m_allSent || m_handle == -1) WaitCtrl->Stop();
  });
}

void TAsyncSocket::ServeUntilClosed() {
  while (m_handle != -1 && m_state != wsClosed) PumpMessagesOnce(-1);
}

}  // namespace qm::net

// TAsyncSocket: properties, set-up, connect, listen, accept, adopt and close.
// The notification path, sending and line reading are in async_socket_io.cpp.
#include "net/async_socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cctype>
#include <cerrno>

#include "net/host_lookup.h"
#include "net/socket_errors.h"
#include "net/tls_session.h"

namespace qm::net {

namespace {

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

int LastSystemError() { return WsaErrorFromErrno(errno); }

// An IPv4 address dotted, an IPv6 one in its text form (an IPv4-mapped one as IPv4).
std::string AddressText(const sockaddr_storage& addr) {
  char text[INET6_ADDRSTRLEN] = {};
  if (addr.ss_family == AF_INET6) {
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(addr);
    if (IN6_IS_ADDR_V4MAPPED(&in6.sin6_addr)) return inet_ntop(AF_INET, &in6.sin6_addr.s6_addr[12], text, sizeof text);
    return inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text);
  }
  return inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(addr).sin_addr, text, sizeof text);
}

}  // namespace

const char* SocketStateName(TSocketState state) {
  static const char* const kNames[] = {"wsInvalidState", "wsOpened",    "wsBound",
                                       "wsConnecting",   "wsConnected", "wsAccepting",
                                       "wsListening",    "wsClosed"};
  return kNames[state];
}

TAsyncSocket::TAsyncSocket(QObject* parent) : QObject(parent) {
  m_readNotifier = new QSocketNotifier(QSocketNotifier::Read, this);
  m_writeNotifier = new QSocketNotifier(QSocketNotifier::Write, this);
  m_readNotifier->setEnabled(false);
  m_writeNotifier->setEnabled(false);
  connect(m_readNotifier, &QSocketNotifier::activated, this, [this] { OnReadReady(); });
  connect(m_writeNotifier, &QSocketNotifier::activated, this, [this] { OnWriteReady(); });
  ResetFields();
}

TAsyncSocket::~TAsyncSocket() {
  m_destroying = true;
  if (m_lookupId != 0) CancelHostLookup(m_lookupId);
  if (m_handle != -1) {
    DisarmNotifiers();
    ::close(m_handle);
  }
}

void TAsyncSocket::ResetFields() {
  m_sin = sockaddr_in{};
  m_sin.sin_family = AF_INET;
  m_sin6 = sockaddr_in6{};
  m_sin6.sin6_family = AF_INET6;
  m_v6 = false;
  m_addrAssigned = m_portAssigned = false;
  m_protoAssigned = true;
  m_proto = IPPROTO_TCP;
  m_protoText = "tcp";
  m_type = SOCK_STREAM;
  m_handle = -1;
  m_state = wsClosed;
  m_expectedState = wsInvalidState;
  m_allSent = true;
  m_sendQueue.Clear();  // bytes of a dead connection must not reach the next one
  m_lineMode = false;
  m_lineBuffer.clear();
  m_paused = false;
  m_readStalled = false;
  m_readCount = 0;
  m_closeEventFired = false;
  m_tls.reset();
  m_tlsDone = nullptr;
  FlushTimeout = 60;
}

void TAsyncSocket::ChangeState(TSocketState newState) {
  const TSocketState oldState = m_state;
  m_state = newState;
  if (OnChangeState) OnChangeState(*this, oldState, newState);
  if (!MultiThreaded && WaitCtrl &&
      (newState == m_expectedState || (m_expectedState == wsConnected && newState == wsClosed)))
    WaitCtrl->Stop();
}

void TAsyncSocket::RaiseException(const std::string& message) {
  if (OnError) {
    OnError(*this);
    return;
  }
  throw ESocketException(message);
}

void TAsyncSocket::SocketError(const std::string& operation, int error) {
  const std::string message = "Error " + std::to_string(error) + " in function " + operation +
                              "\r\n" + SocketErrorText(error);
  if (error == kWsaEConnReset || error == kWsaENotConn) {
    if (m_handle != -1) {
      DisarmNotifiers();
      ::close(m_handle);
    }
    m_handle = -1;
    if (m_state != wsClosed) ChangeState(wsClosed);
  }
  RaiseException(message);
}

void TAsyncSocket::SetSendFlags(int value) {
  if (value != wsSendNormal && value != wsSendUrgent) {
    RaiseException("Invalid SendFlags");
    return;
  }
  m_sendFlags = static_cast<TSocketSendFlags>(value);
}

void TAsyncSocket::SetAddr(const std::string& value) {
  if (value == m_addrText && m_addrAssigned) return;
  m_addrText = value;
  if (m_state != wsClosed) {
    RaiseException("Cannot change Addr if not closed");
    return;
  }
  std::string host = Trim(value);
  in_addr addr{};
  if (inet_aton(host.c_str(), &addr) == 0 && inet_pton(AF_INET6, host.c_str(), &m_sin6.sin6_addr) != 1) {
    std::vector<std::string> addrs;
    int error = 0;
    if (!ResolveHostNow(host, addrs, error))
      throw ESocketException("SetAddr: Cannot convert host address '" + value + "'");
    host = addrs.front();
    inet_aton(host.c_str(), &addr);
  }
  m_v6 = inet_pton(AF_INET6, host.c_str(), &m_sin6.sin6_addr) == 1;
  m_sin.sin_addr = addr;
  m_addrAssigned = true;
}

void TAsyncSocket::SetPort(const std::string& value) {
  if (value == m_portText && m_portAssigned) return;
  m_portText = value;
  if (m_state != wsClosed) {
    RaiseException("Cannot change Port if not closed");
    return;
  }
  m_portAssigned = false;
  const std::string service = Trim(value);
  int port = -1;
  if (!service.empty() && std::isdigit(static_cast<unsigned char>(service[0]))) {
    port = 0;
    for (size_t i = 0; i < service.size() && std::isdigit(static_cast<unsigned char>(service[i])); ++i)
      port = (port * 10 + (service[i] - '0')) & 0xFFFF;
  } else if (const servent* entry = getservbyname(service.c_str(), m_protoText.empty() ? nullptr : m_protoText.c_str())) {
    port = ntohs(static_cast<uint16_t>(entry->s_port));
  } else if (service == "ftp" && (m_protoText.empty() || m_proto == IPPROTO_TCP)) {
    port = 21;  // a system without a services file still knows the FTP port
  }
  if (port < 0) {
    SocketError("SetPort: Cannot convert port '" + value + "'", kWsaNoData);
    return;
  }
  m_sin.sin_port = htons(static_cast<uint16_t>(port));
  m_sin6.sin6_port = m_sin.sin_port;
  m_portAssigned = true;
}

void TAsyncSocket::SetProto(const std::string& value) {
  if (value == m_protoText && m_protoAssigned) return;
  m_protoText = value;
  if (m_state != wsClosed) {
    RaiseException("Cannot change Proto if not closed");
    return;
  }
  m_protoAssigned = false;
  const std::string name = Trim(value);
  int proto = -1;
  if (!name.empty() && std::isdigit(static_cast<unsigned char>(name[0]))) {
    proto = std::atoi(name.c_str());
  } else if (const protoent* entry = getprotobyname(name.c_str())) {
    proto = entry->p_proto;
  } else if (name == "tcp" || name == "udp") {
    proto = name == "tcp" ? IPPROTO_TCP : IPPROTO_UDP;
  }
  if (proto < 0) {
    SocketError("SetProto: Cannot convert protocol '" + value + "'", kWsaNoData);
    return;
  }
  m_proto = proto;
  m_type = proto == IPPROTO_UDP ? SOCK_DGRAM : SOCK_STREAM;
  m_protoAssigned = true;
}

void TAsyncSocket::DnsLookup(const std::string& hostName) {
  if (hostName.empty()) {
    RaiseException("DNS lookup: invalid host name.");
    if (OnDnsLookupDone) OnDnsLookupDone(*this, kWsaEInval);  // reached only with OnError
    return;
  }
  if (m_lookupId != 0) CancelHostLookup(std::exchange(m_lookupId, 0));
  m_dnsResult.clear();
  m_dnsResultList.clear();
  in_addr addr{};
  in6_addr addr6{};
  if (inet_aton(hostName.c_str(), &addr) != 0 || inet_pton(AF_INET6, hostName.c_str(), &addr6) == 1) {
    m_dnsResult = inet_aton(hostName.c_str(), &addr) != 0 ? std::string(inet_ntoa(addr)) : hostName;
    m_dnsResultList.push_back(m_dnsResult);
    if (OnDnsLookupDone) OnDnsLookupDone(*this, 0);
    return;
  }
  m_lookupId = StartHostLookup(this, hostName);
}

void TAsyncSocket::CancelDnsLookup() {
  if (m_lookupId == 0) return;
  // A result already on its way is ignored: it no longer matches the running id.
  CancelHostLookup(std::exchange(m_lookupId, 0));
  if (!m_destroying && OnDnsLookupDone) OnDnsLookupDone(*this, kWsaEIntr);
}

void TAsyncSocket::HandleLookupDone(int id, int error, std::vector<std::string> addrs) {
  if (id != m_lookupId) return;
  m_lookupId = 0;
  if (error == 0) {
    m_dnsResultList = std::move(addrs);
    m_dnsResult = m_dnsResultList.front();
  }
  if (OnDnsLookupDone) OnDnsLookupDone(*this, error);
}

void TAsyncSocket::ArmNotifiers(bool armWrite) {
  m_readNotifier->setSocket(m_handle);
  m_writeNotifier->setSocket(m_handle);
  m_readNotifier->setEnabled(!m_paused);
  m_writeNotifier->setEnabled(!m_paused && armWrite);
}

void TAsyncSocket::DisarmNotifiers() {
  m_readNotifier->setEnabled(false);
  m_writeNotifier->setEnabled(false);
}

void TAsyncSocket::ConfigureStream() {
  const linger noLinger{1, 0};  // closing resets the connection at once
  const int on = 1;
  if (setsockopt(m_handle, SOL_SOCKET, SO_LINGER, &noLinger, sizeof noLinger) != 0)
    return SocketError("setsockopt(SO_LINGER)", LastSystemError());
  if (setsockopt(m_handle, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0)
    return SocketError("setsockopt(SO_KEEPALIVE)", LastSystemError());
  if (setsockopt(m_handle, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
    return SocketError("setsockopt(SO_REUSEADDR)", LastSystemError());
}

void TAsyncSocket::Connect() {
  if (m_handle != -1 && m_state != wsClosed) return RaiseException("Connect: Socket already in use");
  if (!m_portAssigned) return RaiseException("Connect: No Port Specified");
  if (!m_addrAssigned) return RaiseException("Connect: No IP Address Specified");
  if (!m_protoAssigned) return RaiseException("Connect: No Protocol Specified");
  const int fd = ::socket(m_v6 ? AF_INET6 : AF_INET, m_type | SOCK_NONBLOCK | SOCK_CLOEXEC, m_proto);
  if (fd < 0) return SocketError("Connect (socket)", LastSystemError());
  m_handle = fd;
  ChangeState(wsOpened);
  if (m_type == SOCK_DGRAM) {
    sockaddr_in any{};
    any.sin_family = AF_INET;
    socklen_t len = sizeof any;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0)
      return SocketError("winsock.bind failed, error #" + std::to_string(LastSystemError()), LastSystemError());
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&any), &len) != 0)
      return SocketError("winsock.getsockname failed, error #" + std::to_string(LastSystemError()), LastSystemError());
    m_localPort = ntohs(any.sin_port);
    const int on = 1;
    if (m_sin.sin_addr.s_addr == INADDR_BROADCAST &&
        setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)
      return SocketError("setsockopt(SO_BROADCAST)", LastSystemError());
    ArmNotifiers(false);
    ChangeState(wsConnected);
    if (OnSessionConnected) OnSessionConnected(*this, 0);
    return;
  }
  ConfigureStream();
  ArmNotifiers(true);  // writability reports the end of the connect
  const bool connecting = m_v6 ? ::connect(fd, reinterpret_cast<sockaddr*>(&m_sin6), sizeof m_sin6) == 0
                               : ::connect(fd, reinterpret_cast<sockaddr*>(&m_sin), sizeof m_sin) == 0;
  if (!connecting && errno != EINPROGRESS) {
    m_lastError = LastSystemError();
    return SocketError("Connect", m_lastError);
  }
  ChangeState(wsConnecting);
}

int TAsyncSocket::Listen() {
  if (!m_portAssigned) return SocketError("listen: port not assigned", kWsaEInval), -1;
  if (!m_protoAssigned) return SocketError("listen: protocol not assigned", kWsaEInval), -1;
  if (!m_addrAssigned) return SocketError("listen: address not assigned", kWsaEInval), -1;
  const int fd = ::socket(m_v6 ? AF_INET6 : AF_INET, m_type | SOCK_NONBLOCK | SOCK_CLOEXEC, m_proto);
  if (fd < 0) return SocketError("socket", LastSystemError()), -1;
  const bool bound = m_v6 ? ::bind(fd, reinterpret_cast<sockaddr*>(&m_sin6), sizeof m_sin6) == 0
                          : ::bind(fd, reinterpret_cast<sockaddr*>(&m_sin), sizeof m_sin) == 0;
  if (!bound) {
    const int error = LastSystemError();
    ::close(fd);  // never leave a half-made listener behind, whatever OnError does
    return SocketError("Bind", error), -1;
  }
  m_handle = fd;
  ChangeState(wsBound);
  if (m_type == SOCK_STREAM) {
    if (::listen(fd, 5) != 0) return SocketError("Listen", LastSystemError()), -1;
    ArmNotifiers(false);
    ChangeState(wsListening);
  } else {
    ArmNotifiers(false);
    ChangeState(wsListening);
    ChangeState(wsConnected);
    if (OnSessionConnected) OnSessionConnected(*this, 0);
  }
  return 0;
}

int TAsyncSocket::Accept(std::string* peerAddr) {
  if (m_state != wsListening) return SocketError("not a listening socket", kWsaEInval), -1;
  Rearm();  // further offers are reported again
  sockaddr_storage peer{};
  socklen_t len = sizeof peer;
  const int fd = ::accept4(m_handle, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK) return -1;  // the offer was withdrawn
    return SocketError("Accept", LastSystemError()), -1;
  }
  if (peerAddr) *peerAddr = AddressText(peer);
  return fd;
}

void TAsyncSocket::Dup(int handle) {
  if (handle == 0 || handle == -1) return SocketError("Dup", kWsaEInval);
  if (m_state != wsClosed) {
    if (m_handle != -1) {
      DisarmNotifiers();
      ::close(m_handle);
    }
    m_handle = -1;
    ChangeState(wsClosed);
  }
  m_handle = handle;
  m_closeEventFired = false;
  m_tls.reset();
  ArmNotifiers(false);
  ChangeState(wsConnected);
}

void TAsyncSocket::Close() { CloseHandle(true); }

void TAsyncSocket::CloseWithoutShutDown() { CloseHandle(false); }

void TAsyncSocket::CloseHandle(bool shutDown) {
  if (m_handle == -1) {
    if (m_state != wsClosed) {
      ChangeState(wsClosed);
      ResetFields();
    }
    return;
  }
  if (m_state == wsClosed) {  // a handle left by a failed set-up: drop it quietly
    DisarmNotifiers();
    ::close(std::exchange(m_handle, -1));
    return;
  }
  if (shutDown && m_tls) m_tls->ShutDownTls();
  if (shutDown) ::shutdown(m_handle, SHUT_RDWR);
  DisarmNotifiers();
  // On Linux the descriptor is released even when close reports an error.
  ::close(std::exchange(m_handle, -1));
  ChangeState(wsClosed);
  const bool fire = !m_destroying && OnSessionClosed && !m_closeEventFired;
  // Reset before the event, so that a handler may reuse the socket at once.
  ResetFields();
  if (fire) OnSessionClosed(*this, 0);
}

void TAsyncSocket::ShutDown(int how) {
  if (m_handle != -1 && m_tls && how != SHUT_RD) m_tls->ShutDownTls();  // the close alert before the FIN
  if (m_handle != -1) ::shutdown(m_handle, how);
}

void TAsyncSocket::SetHoldSmallSegments(bool hold) {
  const int on = hold ? 1 : 0;
  if (m_handle != -1 && m_type == SOCK_STREAM) setsockopt(m_handle, IPPROTO_TCP, TCP_CORK, &on, sizeof on);
}

int TAsyncSocket::GetPeerName(sockaddr_in& addr) {
  if (m_state != wsConnected) return -1;
  socklen_t len = sizeof addr;
  return getpeername(m_handle, reinterpret_cast<sockaddr*>(&addr), &len) == 0 ? 0 : -1;
}

std::string TAsyncSocket::PeerAddressText() {
  if (m_state != wsConnected) return "error";
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (getpeername(m_handle, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    SocketError("GetPeerName", LastSystemError());
    return "error";
  }
  return AddressText(addr);
}

std::string TAsyncSocket::LocalAddressText() {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (m_handle == -1 || getsockname(m_handle, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return "error";
  return AddressText(addr);
}

int TAsyncSocket::GetSockName(sockaddr_in& addr) {
  socklen_t len = sizeof addr;
  if (m_handle == -1) return -1;
  return getsockname(m_handle, reinterpret_cast<sockaddr*>(&addr), &len) == 0 ? 0 : -1;
}

std::string TAsyncSocket::LocalPortText() {
  if (m_state != wsBound && m_state != wsConnected && m_state != wsListening) return "error";
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (m_handle == -1 || getsockname(m_handle, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return "error";
  const uint16_t port = addr.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(addr).sin6_port
                                                   : reinterpret_cast<const sockaddr_in&>(addr).sin_port;
  return std::to_string(ntohs(port));
}

void TAsyncSocket::Pause() {
  m_paused = true;
  DisarmNotifiers();
}

void TAsyncSocket::Resume() {
  m_paused = false;
  if (m_handle != -1) ArmNotifiers(m_state == wsConnecting || !m_allSent);
}

}  // namespace qm::net

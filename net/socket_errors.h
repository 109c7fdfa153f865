#pragma once
// Socket error numbers in the Windows Sockets numbering, which the socket's
// events, LastError and the FTP client's failure lines use, with their texts and
// the mapping from the POSIX errno and getaddrinfo codes.

#include <stdexcept>
#include <string>

namespace qm::net {

inline constexpr int kWsaEIntr = 10004;           // lookup cancelled
inline constexpr int kWsaEBadF = 10009;
inline constexpr int kWsaEInval = 10022;
inline constexpr int kWsaEWouldBlock = 10035;     // also "connect in progress"
inline constexpr int kWsaENotSock = 10038;
inline constexpr int kWsaENetUnreach = 10051;
inline constexpr int kWsaEConnReset = 10054;
inline constexpr int kWsaENotConn = 10057;
inline constexpr int kWsaEConnRefused = 10061;
inline constexpr int kWsaHostNotFound = 11001;
inline constexpr int kWsaNoData = 11004;

// Text of a Windows Sockets error number; the system's words for an errno
// without one (10000 + errno), "Unknown network error #N" for others.
std::string SocketErrorText(int error);
// Maps errno values (0 stays 0) and getaddrinfo results onto that numbering.
int WsaErrorFromErrno(int error);
int WsaErrorFromGai(int gaiError, int savedErrno);

// Raised by the socket when no OnError handler takes the failure.
class ESocketException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace qm::net

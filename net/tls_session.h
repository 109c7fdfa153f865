#pragma once
// TTlsSession: the client side of TLS (OpenSSL) over a connected non-blocking
// handle of TAsyncSocket. The socket drives it from its readiness events: the
// handshake first, then reads and writes that may ask to wait for the handle
// to become readable or writable again.
//
// The server's certificate is checked against the system's CA store
// (OpenSSL's default paths, so SSL_CERT_FILE and SSL_CERT_DIR work as in other
// programs) and the host name; a self-signed certificate passes only when its
// SHA-256 fingerprint is the one the user chose to trust.

#include <memory>
#include <string>

typedef struct ssl_st SSL;
typedef struct ssl_session_st SSL_SESSION;

namespace qm::net {

// Why a TLS session cannot be used, for callers that act on the reason (a
// certificate the user may choose to trust) rather than on the message.
enum TTlsFailure {
  tlsNoFailure,
  tlsHandshakeFailed,       // no session came about
  tlsCertificateUntrusted   // neither the CA store nor the trusted fingerprint vouches for the server
};

class TTlsSession {
 public:
  enum TStep { kDone, kWantRead, kWantWrite, kFailed };

  // resumeFrom: the control connection's session, which data connections of
  // the same FTP session reuse (servers may insist on it).
  // Under TLS 1.3 each data connection resumes with the newest
  // ticket of the FTP session, wherever it came from.
  TTlsSession(int handle, const std::string& serverName, const TTlsSession* resumeFrom, bool upToTls12 = false);
  ~TTlsSession();
  TTlsSession(const TTlsSession&) = delete;
  TTlsSession& operator=(const TTlsSession&) = delete;

  TStep Handshake();
  bool HandshakeDone() const { return m_handshakeDone; }
  // Bytes read (> 0), 0 when the peer closed, -1 with step set.
  int Read(void* buffer, int size, TStep& step);
  // Bytes written (> 0), or -1 with step set.
  int Write(const void* data, int size, TStep& step);
  int Pending() const;
  // Sends the close alert (without waiting for the peer's).
  void ShutDownTls();

  // tlsNoFailure when the certificate chain and host name check out, or when
  // the certificate's fingerprint is `trustedFingerprint`; else
  // tlsCertificateUntrusted with `problem` saying why in plain words.
  TTlsFailure VerifyServer(const std::string& trustedFingerprint, std::string& problem) const;
  // SHA-256 of the server certificate as AA:BB:...; empty before the handshake.
  std::string Fingerprint() const;
  std::string ErrorText() const { return m_error; }
  // Whether this connection resumed an earlier session.
  bool Resumed() const;
  bool IsTls13() const;
  // TLS 1.3 with a server that hands out tickets, none yet on this
  // connection: one is on its way, and it must be read before our close
  // alert, after which OpenSSL drops everything but alerts.
  bool TicketExpected() const;

  // A ticket from the server (its reference taken over), shared by the
  // control connection and every data connection resuming from it.
  void KeepSession(SSL_SESSION* session);

 private:
  TStep StepOf(int result);

  SSL* m_ssl = nullptr;
  std::string m_serverName;
  std::string m_error;
  bool m_handshakeDone = false;
  struct TTicketStore {
    SSL_SESSION* newest = nullptr;
    int received = 0;
    ~TTicketStore();
  };
  int m_ticketsHere = 0;  // tickets received on this connection
  std::shared_ptr<TTicketStore> m_tickets;  // one per FTP session, outlives either connection
};

// Fingerprints compare ignoring case, colons and blanks.
bool SameFingerprint(const std::string& a, const std::string& b);

}  // namespace qm::net

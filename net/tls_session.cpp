#include "net/tls_session.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <csignal>
#include <cctype>

namespace qm::net {

namespace {

// The TTlsSession an SSL belongs to, for the new-session callback.
int OwnerIndex() {
  static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

// TLS 1.3 hands out sessions as tickets after the handshake, each good for
// one resumption on servers that keep them single-use (proftpd, vsftpd):
// every ticket is kept for the next data connection.
int KeepNewSession(SSL* ssl, SSL_SESSION* session) {
  auto* owner = static_cast<TTlsSession*>(SSL_get_ex_data(ssl, OwnerIndex()));
  if (!owner) return 0;
  owner->KeepSession(session);
  return 1;  // the reference is now the owner's
}

SSL_CTX* ClientContext() {
  static SSL_CTX* const context = [] {
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_default_verify_paths(ctx);
    // Verified after the handshake, so that a trusted fingerprint can stand in.
    SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(ctx, KeepNewSession);
    // OpenSSL writes to the socket with write(), which raises SIGPIPE when the
    // peer has gone (a server dropping a data connection under a write): the
    // program would die without a word. The failed write is a reset instead.
    std::signal(SIGPIPE, SIG_IGN);
    return ctx;
  }();
  return context;
}

std::string OpenSslError() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "connection closed during the TLS handshake";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

std::string Normalised(const std::string& fingerprint) {
  std::string out;
  for (unsigned char c : fingerprint)
    if (std::isxdigit(c)) out += static_cast<char>(std::toupper(c));
  return out;
}

bool IsAddress(const std::string& host) {
  unsigned char buffer[16];
  return inet_pton(AF_INET, host.c_str(), buffer) == 1 || inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

}  // namespace

bool SameFingerprint(const std::string& a, const std::string& b) {
  return !Normalised(a).empty() && Normalised(a) == Normalised(b);
}

TTlsSession::TTlsSession(int handle, const std::string& serverName, const TTlsSession* resumeFrom, bool upToTls12)
    : m_ssl(SSL_new(ClientContext())), m_serverName(serverName), m_tickets(std::make_shared<TTicketStore>()) {
  SSL_set_fd(m_ssl, handle);
  SSL_set_mode(m_ssl, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  SSL_set_connect_state(m_ssl);
  SSL_set_ex_data(m_ssl, OwnerIndex(), this);
  if (upToTls12) SSL_set_max_proto_version(m_ssl, TLS1_2_VERSION);
  if (IsAddress(serverName)) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_ssl), serverName.c_str());
  } else {
    SSL_set_tlsext_host_name(m_ssl, serverName.c_str());
    SSL_set1_host(m_ssl, serverName.c_str());
  }
  if (resumeFrom) {
    // Each resumption takes the newest ticket; the tickets this connection
    // receives go to the same store, for the next data connection.
    m_tickets = resumeFrom->m_tickets;
    SSL_SESSION* session = m_tickets->newest ? m_tickets->newest : SSL_get_session(resumeFrom->m_ssl);
    // No ticket yet (TLS 1.2, or a server without tickets): the session of
    // the control connection's handshake itself.
    if (session) SSL_set_session(m_ssl, session);
  }
}

TTlsSession::~TTlsSession() {
  SSL_set_ex_data(m_ssl, OwnerIndex(), nullptr);
  SSL_free(m_ssl);
}

TTlsSession::TTicketStore::~TTicketStore() {
  if (newest) SSL_SESSION_free(newest);
}

void TTlsSession::KeepSession(SSL_SESSION* session) {
  ++m_ticketsHere;
  ++m_tickets->received;
  // Kept until a newer one comes: a server that lets a ticket serve again is
  // served by it when a data connection brings no new one.
  if (m_tickets->newest) SSL_SESSION_free(m_tickets->newest);
  m_tickets->newest = session;
}

bool TTlsSession::Resumed() const { return SSL_session_reused(m_ssl) == 1; }

bool TTlsSession::IsTls13() const { return SSL_version(m_ssl) == TLS1_3_VERSION; }

bool TTlsSession::TicketExpected() const {
  return m_handshakeDone && SSL_version(m_ssl) == TLS1_3_VERSION && m_tickets->received > 0 && m_ticketsHere == 0;
}

TTlsSession::TStep TTlsSession::StepOf(int result) {
  switch (SSL_get_error(m_ssl, result)) {
    case SSL_ERROR_WANT_READ: return kWantRead;
    case SSL_ERROR_WANT_WRITE: return kWantWrite;
    default:
      m_error = OpenSslError();
      return kFailed;
  }
}

TTlsSession::TStep TTlsSession::Handshake() {
  const int result = SSL_do_handshake(m_ssl);
  if (result == 1) {
    m_handshakeDone = true;
    return kDone;
  }
  return StepOf(result);
}

int TTlsSession::Read(void* buffer, int size, TStep& step) {
  const int n = SSL_read(m_ssl, buffer, size);
  if (n > 0) return n;
  const int error = SSL_get_error(m_ssl, n);
  if (error == SSL_ERROR_ZERO_RETURN) return 0;
  step = StepOf(n);
  // The peer hanging up without the close alert still ends the stream.
  if (step == kFailed && error == SSL_ERROR_SYSCALL) return 0;
  return -1;
}

int TTlsSession::Write(const void* data, int size, TStep& step) {
  const int n = SSL_write(m_ssl, data, size);
  if (n > 0) return n;
  step = StepOf(n);
  return -1;
}

int TTlsSession::Pending() const { return SSL_pending(m_ssl); }

void TTlsSession::ShutDownTls() {
  if (m_handshakeDone) SSL_shutdown(m_ssl);
  ERR_clear_error();
}

std::string TTlsSession::Fingerprint() const {
  X509* cert = SSL_get1_peer_certificate(m_ssl);
  if (!cert) return {};
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  X509_digest(cert, EVP_sha256(), digest, &length);
  X509_free(cert);
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, i ? ":%02X" : "%02X", digest[i]);
    text += hex;
  }
  return text;
}

TTlsFailure TTlsSession::VerifyServer(const std::string& trustedFingerprint, std::string& problem) const {
  const std::string fingerprint = Fingerprint();
  if (!trustedFingerprint.empty() && SameFingerprint(fingerprint, trustedFingerprint)) return tlsNoFailure;
  const long result = SSL_get_verify_result(m_ssl);
  if (result == X509_V_OK && !fingerprint.empty()) return tlsNoFailure;
  problem = "the certificate of " + m_serverName + " could not be verified (" +
            X509_verify_cert_error_string(result) + "); its SHA-256 fingerprint is " + fingerprint;
  return tlsCertificateUntrusted;
}

}  // namespace qm::net

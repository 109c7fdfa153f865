#include "net/tls_session.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cctype>

namespace qm::net {

namespace {

SSL_CTX* ClientContext() {
  static SSL_CTX* const context = [] {
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_default_verify_paths(ctx);
    // Verified after the handshake, so that a trusted fingerprint can stand in.
    SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT);
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

TTlsSession::TTlsSession(int handle, const std::string& serverName, const TTlsSession* resumeFrom)
    : m_ssl(SSL_new(ClientContext())), m_serverName(serverName) {
  SSL_set_fd(m_ssl, handle);
  SSL_set_mode(m_ssl, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  SSL_set_connect_state(m_ssl);
  if (IsAddress(serverName)) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_ssl), serverName.c_str());
  } else {
    SSL_set_tlsext_host_name(m_ssl, serverName.c_str());
    SSL_set1_host(m_ssl, serverName.c_str());
  }
  if (resumeFrom && resumeFrom->m_ssl) {
    if (SSL_SESSION* session = SSL_get1_session(resumeFrom->m_ssl)) {
      SSL_set_session(m_ssl, session);
      SSL_SESSION_free(session);
    }
  }
}

TTlsSession::~TTlsSession() { SSL_free(m_ssl); }

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

std::string TTlsSession::VerificationProblem(const std::string& trustedFingerprint) const {
  const std::string fingerprint = Fingerprint();
  if (!trustedFingerprint.empty() && SameFingerprint(fingerprint, trustedFingerprint)) return {};
  const long result = SSL_get_verify_result(m_ssl);
  if (result == X509_V_OK && !fingerprint.empty()) return {};
  return "the certificate of " + m_serverName + " could not be verified (" +
         X509_verify_cert_error_string(result) + "); its SHA-256 fingerprint is " + fingerprint;
}

}  // namespace qm::net

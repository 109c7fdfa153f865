#pragma once
// The "remote address" of the site setup as users type it: a bare host
// ("ftp.example.com", "192.0.2.7", "[2001:db8::1]"), host:port, or a URL
// ("ftp://host:2121/www/", "ftps://host", the latter implicit TLS on 990).

#include <string>

namespace qm::net {

struct TFtpSiteAddress {
  std::string Host;        // without brackets
  int Port = 21;
  bool ImplicitTls = false;  // ftps://: TLS from the first byte
  std::string Path;        // the URL's path without its leading '/', e.g. "www/"

  // "host port 21" for messages; brackets around IPv6 literals.
  std::string Describe() const;
};

// Throws std::invalid_argument with a plain-words message naming what is wrong.
// `defaultPort` is used when the text names none ("ftp" is 21).
TFtpSiteAddress ParseSiteAddress(const std::string& text, int defaultPort = 21);

}  // namespace qm::net

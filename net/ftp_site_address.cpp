#include "net/ftp_site_address.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace qm::net {

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

int PortNumber(const std::string& digits, const std::string& text) {
  const bool numeric = !digits.empty() && digits.size() <= 5 &&
                       std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); });
  const int port = numeric ? std::stoi(digits) : 0;
  if (port < 1 || port > 65535)
    throw std::invalid_argument("The remote address \"" + text + "\" names no valid port (1 to 65535)");
  return port;
}

}  // namespace

std::string TFtpSiteAddress::Describe() const {
  const bool v6 = Host.find(':') != std::string::npos;
  return (v6 ? "[" + Host + "]" : Host) + " port " + std::to_string(Port);
}

TFtpSiteAddress ParseSiteAddress(const std::string& text, int defaultPort) {
  TFtpSiteAddress site;
  site.Port = defaultPort;
  std::string rest = Trim(text);
  const std::string lower = Lower(rest);
  if (lower.rfind("ftps://", 0) == 0) {
    site.ImplicitTls = true;
    site.Port = 990;
    rest.erase(0, 7);
  } else if (lower.rfind("ftp://", 0) == 0) {
    rest.erase(0, 6);
  } else if (lower.find("://") != std::string::npos) {
    throw std::invalid_argument("The remote address \"" + text + "\" is not an ftp:// or ftps:// address");
  }
  const size_t slash = rest.find('/');
  if (slash != std::string::npos) {
    site.Path = rest.substr(slash + 1);
    rest.erase(slash);
  }
  if (const size_t at = rest.rfind('@'); at != std::string::npos) rest.erase(0, at + 1);  // user part
  if (!rest.empty() && rest.front() == '[') {
    const size_t close = rest.find(']');
    if (close == std::string::npos) throw std::invalid_argument("The remote address \"" + text + "\" lacks its closing ]");
    site.Host = rest.substr(1, close - 1);
    const std::string after = rest.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') throw std::invalid_argument("The remote address \"" + text + "\" has text after ]");
      site.Port = PortNumber(after.substr(1), text);
    }
  } else if (std::count(rest.begin(), rest.end(), ':') == 1) {
    const size_t colon = rest.find(':');
    site.Port = PortNumber(rest.substr(colon + 1), text);
    site.Host = rest.substr(0, colon);
  } else {
    site.Host = rest;  // a bare IPv6 literal keeps its colons
  }
  if (site.Host.empty()) throw std::invalid_argument("The remote address is empty: the site setup names no server");
  if (site.Host.find_first_of(" \t\r\n") != std::string::npos)
    throw std::invalid_argument("The remote address \"" + text + "\" holds a blank or a line break");
  return site;
}

}  // namespace qm::net

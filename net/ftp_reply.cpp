#include "net/ftp_reply.h"

#include <arpa/inet.h>

#include <cctype>
#include <cstring>

#include "net/printable_text.h"

namespace qm::net {

void TFtpReplyBuffer::Commit(int count) {
  m_count += count;
  m_data[m_count] = '\0';
}

bool TFtpReplyBuffer::NextLine(std::string& line) {
  for (int i = 0; i + 1 < m_count; ++i) {
    if (m_data[i] != '\r' || m_data[i + 1] != '\n') continue;
    // Every reply line is shown and may end up in a message: a hostile
    // server's control characters are written out here, once, for all of them.
    line = PrintableText(std::string_view(m_data, i));
    m_count -= i + 2;
    std::memmove(m_data, m_data + i + 2, m_count + 1);  // with the terminating zero
    return true;
  }
  return false;
}

namespace {
// Position after the blanks, the sign and the digits of the reply code.
size_t SkipCode(const std::string& line, int* code) {
  size_t i = 0;
  while (i < line.size() && std::strchr("\t\n\r ", line[i]) && line[i] != '\0') ++i;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) ++i;
  int value = 0;
  while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i]))) {
    if (value < 100000000) value = value * 10 + (line[i] - '0');
    ++i;
  }
  if (code) *code = value;
  return i;
}
}  // namespace

TFtpReplyLine ParseReplyLine(const std::string& line) {
  TFtpReplyLine reply;
  const size_t end = SkipCode(line, &reply.Code);
  reply.Continuation = end < line.size() && line[end] == '-';
  return reply;
}

bool ClosesMultiLineReply(const std::string& line, int code) {
  if (line.size() < 3 || (line.size() > 3 && line[3] != ' ')) return false;
  for (int i = 0; i < 3; ++i)
    if (!std::isdigit(static_cast<unsigned char>(line[i]))) return false;
  return std::stoi(line.substr(0, 3)) == code;
}

long long ReplyNumber(const std::string& line) {
  size_t i = SkipCode(line, nullptr);
  while (i < line.size() && line[i] == ' ') ++i;
  long long value = 0;
  while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])) && value < (1LL << 50))
    value = value * 10 + (line[i++] - '0');
  return value;
}

std::string ReplyQuotedName(const std::string& line) {
  size_t i = SkipCode(line, nullptr);
  while (i < line.size() && line[i] == ' ') ++i;
  if (i >= line.size() || line[i] != '"') return {};
  std::string name;
  for (++i; i < line.size(); ++i) {
    if (line[i] != '"') {
      name += line[i];
    } else if (i + 1 < line.size() && line[i + 1] == '"') {
      name += '"';
      ++i;
    } else {
      break;
    }
  }
  return name;
}

bool ReplyPassiveAddress(const std::string& line, std::string& host, int& port) {
  size_t i = SkipCode(line, nullptr);
  // The six numbers start at the first digit after the text of the reply.
  while (i < line.size() && !std::isdigit(static_cast<unsigned char>(line[i]))) ++i;
  int n[6];
  for (int k = 0; k < 6; ++k) {
    if (i >= line.size() || !std::isdigit(static_cast<unsigned char>(line[i]))) return false;
    n[k] = 0;
    while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])) && n[k] < 1000)
      n[k] = n[k] * 10 + (line[i++] - '0');
    if (n[k] > 255) return false;
    if (k < 5) {
      if (i >= line.size() || line[i] != ',') return false;
      ++i;
    }
  }
  host = std::to_string(n[0]) + "." + std::to_string(n[1]) + "." + std::to_string(n[2]) + "." +
         std::to_string(n[3]);
  port = n[4] * 256 + n[5];
  return port > 0;
}

bool ReplyExtendedPassivePort(const std::string& line, int& port) {
  const size_t open = line.find('(');
  if (open == std::string::npos || open + 4 >= line.size()) return false;
  const char d = line[open + 1];  // the delimiter the server chose, normally '|'
  if (line[open + 2] != d || line[open + 3] != d) return false;
  size_t i = open + 4;
  port = 0;
  while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])) && port < 65536)
    port = port * 10 + (line[i++] - '0');
  return i < line.size() && line[i] == d && port > 0 && port < 65536;
}

bool IsUnroutableFrom(const std::string& host, const std::string& peer) {
  in_addr a{}, p{};
  if (inet_pton(AF_INET, host.c_str(), &a) != 1) return true;
  const uint32_t h = ntohl(a.s_addr);
  const bool peerLoopback = inet_pton(AF_INET, peer.c_str(), &p) == 1 && (ntohl(p.s_addr) >> 24) == 127;
  const auto in = [h](uint32_t net, int bits) { return (h >> (32 - bits)) == (net >> (32 - bits)); };
  if (in(0x7F000000, 8)) return !peerLoopback;
  return in(0x00000000, 8) || in(0x0A000000, 8) || in(0x64400000, 10) || in(0xA9FE0000, 16) ||
         in(0xAC100000, 12) || in(0xC0A80000, 16) || in(0xE0000000, 3);
}

}  // namespace qm::net

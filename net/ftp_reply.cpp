#include "net/ftp_reply.h"

#include <cctype>
#include <cstring>

namespace qm::net {

void TFtpReplyBuffer::Commit(int count) {
  m_count += count;
  m_data[m_count] = '\0';
}

bool TFtpReplyBuffer::NextLine(std::string& line) {
  for (int i = 0; i + 1 < m_count; ++i) {
    if (m_data[i] != '\r' || m_data[i + 1] != '\n') continue;
    line.assign(m_data, i);
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

}  // namespace qm::net

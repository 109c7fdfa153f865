#pragma once
// The command/reply layer below the FTP state machine: the control
// connection's reply buffer, cut into lines, and the parsing of reply lines.
//
//   reply line:  [blanks][+|-]DDD[-]text CR LF
//                            |   |
//                            |   '-' right after the digits: continuation line
//                            '-- reply code (0 when there are no digits)
//
// Only the final line of a reply (no '-' after the code) is acted on; every
// line, continuation or final, is shown to the user.

#include <string>

namespace qm::net {

class TFtpReplyBuffer {
 public:
  static constexpr int kSize = 4096;  // a longer line without CR LF ends the session

  char* FreeSpace() { return m_data + m_count; }
  int FreeSize() const { return kSize - m_count; }
  void Commit(int count);
  // Takes the text before the first CR LF out of the buffer; false when the
  // buffer holds no complete line yet.
  bool NextLine(std::string& line);
  void Clear() { m_count = 0; }
  int Count() const { return m_count; }

 private:
  char m_data[kSize + 1] = {};
  int m_count = 0;
};

struct TFtpReplyLine {
  int Code = 0;
  bool Continuation = false;
};

TFtpReplyLine ParseReplyLine(const std::string& line);
// The number after the reply code ("213 1024" gives 1024); 0 when none.
long long ReplyNumber(const std::string& line);
// The quoted name after the reply code ("257 \"/a \"\"b\"\"\" created" gives
// /a "b"); empty when no double quote follows the code and its blanks.
std::string ReplyQuotedName(const std::string& line);

}  // namespace qm::net

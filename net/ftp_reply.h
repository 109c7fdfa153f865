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
  // Takes the text before the first CR LF out of the buffer, its control
  // characters written out (net/printable_text.h); false when the buffer
  // holds no complete line yet.
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
// RFC 959 4.2: a reply opened by "xyz-" ends only at a line that starts with
// the same three digits and a blank (or is those digits alone); the lines in
// between may start with anything, digits included.
bool ClosesMultiLineReply(const std::string& line, int code);
// The number after the reply code ("213 1024" gives 1024); 0 when none.
long long ReplyNumber(const std::string& line);
// The quoted name after the reply code ("257 \"/a \"\"b\"\"\" created" gives
// /a "b"); empty when no double quote follows the code and its blanks.
std::string ReplyQuotedName(const std::string& line);
// The address of a 227 reply ("227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)",
// the parentheses optional) as dotted text and port; false when unreadable.
bool ReplyPassiveAddress(const std::string& line, std::string& host, int& port);
// The port of a 229 reply ("229 Entering Extended Passive Mode (|||port|)",
// RFC 2428); false when unreadable.
bool ReplyExtendedPassivePort(const std::string& line, int& port);
// Whether a dotted address named by a server reached at `peer` cannot be
// meant for us: unparsable, "this network", private (RFC 1918), shared
// (RFC 6598), link-local, multicast or reserved, or loopback of a remote peer.
bool IsUnroutableFrom(const std::string& host, const std::string& peer);

}  // namespace qm::net

// Feeds the input to the control connection's reply buffer in pieces whose
// sizes come from the input's first bytes, as the socket would deliver a
// server's replies, and parses every line that comes out, checking that no
// control character of the server's reaches it.
#include <algorithm>
#include <cstring>
#include <string>

#include "fuzz/fuzz_files.h"
#include "net/ftp_reply.h"
#include "net/printable_text.h"

using namespace qm::net;

namespace {

void ParseLine(const std::string& line, int& openCode) {
  // Every line a server sends is shown: none may carry a control character
  // (written out, it reads the same when written out again).
  if (PrintableText(line) != line) __builtin_trap();
  const TFtpReplyLine parsed = ParseReplyLine(line);
  if (openCode != 0 && ClosesMultiLineReply(line, openCode)) openCode = 0;
  else if (openCode == 0 && parsed.Continuation) openCode = parsed.Code;
  (void)ReplyNumber(line);
  (void)ReplyQuotedName(line);
  std::string host;
  int port = 0;
  if (ReplyPassiveAddress(line, host, port)) (void)IsUnroutableFrom(host, "127.0.0.1");
  (void)ReplyExtendedPassivePort(line, port);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view splits, stream;
  qm::fuzz::SplitInput(data, size, splits, stream);
  if (splits.empty()) splits = "\x40";
  TFtpReplyBuffer buffer;
  int openCode = 0;
  std::string line;
  for (size_t at = 0, piece = 0; at < stream.size(); ++piece) {
    if (buffer.FreeSize() == 0) buffer.Clear();  // a line too long ends the session
    const size_t want = 1 + static_cast<uint8_t>(splits[piece % splits.size()]);
    const size_t n = std::min({want, stream.size() - at, static_cast<size_t>(buffer.FreeSize())});
    std::memcpy(buffer.FreeSpace(), stream.data() + at, n);
    buffer.Commit(static_cast<int>(n));
    at += n;
    while (buffer.NextLine(line)) ParseLine(line, openCode);
  }
  return 0;
}

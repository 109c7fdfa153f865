// Line operations on the memo buffer: a memo seen as lines ending in a hard
// return (CR), a soft return (0x8D, a wrap point the editor inserted) or the
// end of the text. Soft returns never reach the file: saving removes them.
#include <cstring>
#include <vector>

#include "dbf/memo_file.h"

namespace qm::dbf {
namespace {

using memo::kHardReturn;
using memo::kLineFeed;
using memo::kSoftReturn;

struct LineSpan {
  std::size_t start;
  std::size_t length;  // without the line end
  std::size_t next;    // start of the next line
};

std::vector<LineSpan> SplitLines(const std::string& text) {
  std::vector<LineSpan> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != kHardReturn && text[i] != kSoftReturn) continue;
    std::size_t next = i + 1;
    if (next < text.size() && text[next] == kLineFeed) ++next;
    lines.push_back({start, i - start, next});
    start = next;
    i = next - 1;
  }
  if (start < text.size()) lines.push_back({start, text.size() - start, text.size()});
  return lines;
}

// Breaks one line longer than the width at its last blank or hyphen before
// the width (at the width when it has none), with a soft line end.
std::string WrapLine(std::string_view line) {
  std::string out;
  while (line.size() > memo::kLineWidth) {
    std::size_t cut = line.substr(0, memo::kLineWidth).find_last_of(" -");
    cut = cut == std::string_view::npos || cut == 0 ? memo::kLineWidth : cut + 1;
    out.append(line.substr(0, cut));
    out += kSoftReturn;
    out += kLineFeed;
    line.remove_prefix(cut);
  }
  out.append(line);
  return out;
}

}  // namespace

bool TbrMemoFile::LoadLines(uint32_t block) {
  std::string text(MemoLength(block), '\0');
  text.resize(ReadMemo(block, text.data(), static_cast<uint32_t>(text.size())));
  for (std::size_t i = 0; i + 1 < text.size(); ++i)
    if (text[i] == '\0') text[i] = '~';
  std::string wrapped;
  for (const LineSpan& line : SplitLines(text)) {
    wrapped += WrapLine(std::string_view(text).substr(line.start, line.length));
    wrapped.append(text, line.start + line.length, line.next - line.start - line.length);
  }
  if (wrapped.size() + m_headerSize + 1 > memo::kMaxMemoLength)
    return Check(code::kMemoBuffer, subcode::kMemoBufferSize);
  m_lines = std::move(wrapped);
  return true;
}

int32_t TbrMemoFile::LineCount() const { return static_cast<int32_t>(SplitLines(m_lines).size()); }

std::string TbrMemoFile::Line(int32_t n) const {
  const std::vector<LineSpan> lines = SplitLines(m_lines);
  if (n < 1 || n > static_cast<int32_t>(lines.size())) return {};
  return m_lines.substr(lines[n - 1].start, lines[n - 1].length);
}

bool TbrMemoFile::InsertLine(int32_t n, std::string_view text, LineEnd end) {
  if (n < -1) return Check(code::kMemoBuffer, subcode::kMemoLineInsert);
  std::string piece(text);
  if (end == LineEnd::Hard) piece += {kHardReturn, kLineFeed};
  if (end == LineEnd::Soft) piece += {kSoftReturn, kLineFeed};
  if (m_lines.size() + piece.size() + m_headerSize + 1 > memo::kMaxMemoLength)
    return Check(code::kMemoBuffer, subcode::kMemoBufferSize);
  const std::vector<LineSpan> lines = SplitLines(m_lines);
  const bool append = n <= 0 || n > static_cast<int32_t>(lines.size());
  m_lines.insert(append ? m_lines.size() : lines[n - 1].start, piece);
  return true;
}

std::optional<uint32_t> TbrMemoFile::SaveLines(uint32_t oldBlock) {
  std::string text;
  text.reserve(m_lines.size());
  for (std::size_t i = 0; i < m_lines.size(); ++i) {
    if (m_lines[i] != kSoftReturn) {
      text += m_lines[i];
      continue;
    }
    if (i + 1 < m_lines.size() && m_lines[i + 1] == kLineFeed) ++i;
  }
  if (text.empty()) {
    m_currentBlock = 0;
    m_currentBlocks = 0;
    return 0u;
  }
  return WriteMemo(oldBlock, text);
}

}  // namespace qm::dbf

// The key sorter's work file: writing sorted runs and merging them back.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <vector>

#include "dbf/disk_io.h"
#include "dbf/disk_file.h"
#include "index/cpl_format.h"
#include "index/key_sorter.h"

namespace qm::index {

namespace {

TbrSortError SystemError(int32_t subCode, const std::string& what, const std::string& name) {
  int err = errno;
  return TbrSortError(dbf::OsErrorCode(err), subCode, what + " " + name + ": " + std::strerror(err));
}

TbrSortError Damaged(const std::string& name, const std::string& what) {
  return TbrSortError(dbf::code::kNotATable, dbf::subcode::kRead, "Sort work file " + name + " " + what);
}

uint32_t ReadU32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void WriteU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

// Decodes the prefix-compressed entries of one run, block by block.
struct TbrKeySorter::RunReader {
  int fd;
  const std::string* name;
  uint64_t block;  // offset of the block in `buffer`
  uint64_t end;    // offset behind the run's last block
  int pos = cpl::kLinkSize;
  uint8_t buffer[cpl::kBlockSize];
  std::string current;
  std::string_view key;  // the key part of `current`
  bool done = false;

  void Load() {
    ssize_t got = dbf::Disk().ReadAt(fd, buffer, sizeof buffer, static_cast<off_t>(block));
    if (got < 0) throw SystemError(dbf::subcode::kRead, "Cannot read sort work file", *name);
    if (got < static_cast<ssize_t>(sizeof buffer))
      throw Damaged(*name, "is shorter than its runs");
    pos = cpl::kLinkSize;
  }

  // Moves to the next sort string; false when the run is exhausted.
  bool Next() {
    while (pos + 2 > cpl::kBlockLimit || (buffer[pos] == 0 && buffer[pos + 1] == 0)) {
      block += cpl::kBlockSize;
      if (block >= end) return !(done = true);
      Load();
    }
    int shared = buffer[pos];
    int rest = buffer[pos + 1];
    if (shared > static_cast<int>(current.size()) || pos + 2 + rest > cpl::kBlockLimit)
      throw Damaged(*name, "is damaged");
    current.resize(shared);
    current.append(reinterpret_cast<const char*>(buffer + pos + 2), rest);
    key = KeyPart(current);
    pos += 2 + rest;
    return true;
  }
};

void TbrKeySorter::OpenWorkFile() {
  for (int attempt = 0; attempt < 1000 && m_fd < 0; ++attempt) {
    // Eight hexadecimal digits nobody can guess in advance, created exclusively:
    // nothing planted under the name (a link, another sorter's file) is used.
    const auto value = static_cast<uint32_t>(dbf::UnguessableNumber());
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", value);
    m_workName = m_workDir + hex + ".CPL";
    m_fd = dbf::CreateExclusive(m_workName, 0600);
    if (m_fd < 0 && errno != EEXIST)
      throw SystemError(dbf::subcode::kCreate, "Cannot create sort work file", m_workName);
  }
  if (m_fd < 0) throw SystemError(dbf::subcode::kCreate, "Cannot create a sort work file in", m_workDir);
}

void TbrKeySorter::WriteAt(const void* data, size_t size, uint64_t offset) {
  ssize_t done = dbf::Disk().WriteAt(m_fd, data, size, static_cast<off_t>(offset));
  if (done != static_cast<ssize_t>(size))
    throw SystemError(dbf::subcode::kWrite, "Cannot write sort work file", m_workName);
}

// Writes the trie as one run at the end of the work file and empties the trie.
void TbrKeySorter::Spill() {
  if (m_fd < 0) OpenWorkFile();
  uint64_t runStart = m_fileEnd;
  uint8_t block[cpl::kBlockSize] = {};
  int pos = cpl::kLinkSize;
  std::string previous;
  // Finished blocks are written 64 at a time.
  std::vector<uint8_t> pending;
  uint64_t pendingStart = m_fileEnd;
  auto writePending = [&] {
    if (!pending.empty()) WriteAt(pending.data(), pending.size(), pendingStart);
    pendingStart += pending.size();
    pending.clear();
  };
  auto flush = [&] {
    pending.insert(pending.end(), block, block + sizeof block);
    m_fileEnd += cpl::kBlockSize;
    std::memset(block, 0, sizeof block);
    pos = cpl::kLinkSize;
    if (pending.size() >= 64 * cpl::kBlockSize) writePending();
  };
  auto write = [&](std::string_view s) {
    size_t shared = 0;
    while (shared < previous.size() && shared < s.size() && previous[shared] == s[shared])
      ++shared;
    size_t rest = s.size() - shared;
    if (pos + rest + 2 >= cpl::kBlockLimit) flush();
    block[pos] = static_cast<uint8_t>(shared);
    block[pos + 1] = static_cast<uint8_t>(rest);
    std::memcpy(block + pos + 2, s.data() + shared, rest);
    pos += static_cast<int>(rest + 2);
    previous.assign(s);
  };
  std::string prefix;
  Walk(0, prefix, write);
  if (pos > cpl::kLinkSize) flush();
  writePending();
  uint8_t link[cpl::kLinkSize];
  WriteU32(link, static_cast<uint32_t>(m_fileEnd));
  WriteAt(link, sizeof link, runStart);
  m_runStarts.push_back(runStart);
  ClearTrie();
}

// A reader on each run of the work file, standing on its first string (empty
// runs left out); a run whose link does not lead to the next one is damage.
std::vector<std::unique_ptr<TbrKeySorter::RunReader>> TbrKeySorter::OpenRuns() {
  std::vector<std::unique_ptr<RunReader>> readers;
  for (size_t r = 0; r < m_runStarts.size(); ++r) {
    auto reader = std::make_unique<RunReader>();
    reader->fd = m_fd;
    reader->name = &m_workName;
    reader->block = m_runStarts[r];
    reader->end = r + 1 < m_runStarts.size() ? m_runStarts[r + 1] : m_fileEnd;
    reader->current.reserve(m_longest + 32);
    reader->Load();
    if (r + 1 < m_runStarts.size() && ReadU32(reader->buffer) != m_runStarts[r + 1])
      throw Damaged(m_workName, "is damaged");
    if (reader->Next()) readers.push_back(std::move(reader));
  }
  return readers;
}

// Delivers the smallest current string of all runs until every run is exhausted;
// among equal strings the earlier run goes first.
void TbrKeySorter::Merge() {
  std::vector<std::unique_ptr<RunReader>> readers = OpenRuns();
  // A unique key may sit in several runs with different record numbers: runs are
  // compared on the key alone, and only the earliest run's pair is delivered.
  auto order = [this](const RunReader& r) {
    return m_unique ? r.key : std::string_view(r.current);
  };
  // A tree of losers: the run that comes first sits at the top, and a run that moved
  // on plays its way up once, log2(runs) comparisons per string. Index `count`
  // stands for a player that beats everyone, so that the tree fills from empty;
  // an exhausted run loses to everyone.
  const size_t count = readers.size();
  auto first = [&](size_t a, size_t b) {
    if (a == count || b == count) return a == count;
    if (readers[a]->done || readers[b]->done) return !readers[a]->done;
    int c = order(*readers[a]).compare(order(*readers[b]));
    if (!m_ascending) c = -c;
    return c != 0 ? c < 0 : a < b;
  };
  std::vector<size_t> tree(std::max<size_t>(count, 1), count);
  auto replay = [&](size_t run) {
    size_t winner = run;
    for (size_t node = (run + count) / 2; node > 0; node /= 2) {
      if (first(tree[node], winner)) std::swap(tree[node], winner);
    }
    tree[0] = winner;
  };
  for (size_t r = count; r-- > 0;) replay(r);
  std::string lastKey;
  bool any = false;
  while (count > 0 && !readers[tree[0]]->done) {
    RunReader& reader = *readers[tree[0]];
    if (!m_unique || !any || reader.key != lastKey) {
      Deliver(reader.current);
      if (m_unique) lastKey.assign(reader.key);
      any = true;
    }
    reader.Next();
    replay(tree[0]);
  }
}

}  // namespace qm::index

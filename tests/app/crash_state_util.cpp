#include "crash_state_util.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "app/core/product_table.h"
#include "dbf/table.h"
#include "index/index_walk.h"
#include "index/ndx_file.h"

namespace qm::catalog::test {

namespace fs = std::filesystem;

namespace {

std::string TrimRight(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

bool IsTableFile(const std::string& name) {
  return name == "CATALOG.DBF" || name == "CATALOG.DBT" || name == "CATALOG.NDX";
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

TableState ReadTableState(const std::string& dir) {
  TableState state;
  try {
    dbf::TbrTable table(dir + "/CATALOG.DBF", dbf::kOpenSharedReadOnly);
    if (!table.Usable() || !table.OpenTable()) {
      state.error = "the table does not open";
      return state;
    }
    for (bool ok = table.GoTo(dbf::kGoTop); ok; ok = table.GoTo(dbf::kGoNext))
      state.records.push_back({TrimRight(table.Text(1)), TrimRight(table.Text(2)), table.MemoText(3), table.Deleted()});
    if (static_cast<int32_t>(state.records.size()) != table.RecordCount())
      state.error = "read " + std::to_string(state.records.size()) + " of " + std::to_string(table.RecordCount()) +
                    " records";
    const std::string head = Slurp(dir + "/CATALOG.DBF").substr(0, 8);
    for (int i = 7; i >= 4; --i) state.headerCount = state.headerCount << 8 | static_cast<uint8_t>(head[i]);
    const auto size = static_cast<int64_t>(fs::file_size(dir + "/CATALOG.DBF"));
    const int64_t counted = table.HeaderLength() + int64_t{table.RecordLength()} * state.headerCount;
    if (size == counted || size == counted + 1)
      state.count = CountState::Exact;
    else if (size == counted + table.RecordLength() || size == counted + table.RecordLength() + 1)
      state.count = CountState::OnePast;
  } catch (const std::exception& e) {
    state.error = e.what();
  }
  return state;
}

IndexState ReadIndexState(const std::string& dir) {
  IndexState state;
  try {
    index::WalkInIndexOrder(dir + "/CATALOG.DBF", catalog::kProductIndexFile, [&](dbf::TbrTable& t) {
      state.entries.push_back({TrimRight(t.Text(1)), t.RecNo()});
    }, true);
  } catch (const std::exception& e) {
    state.error = e.what();
  }
  state.current = ProductTable(dir).IndexIsCurrent();
  state.marked = fs::exists(dir + "/CATALOG.NDX") && !index::NdxFileSound(dir + "/CATALOG.NDX");
  return state;
}

std::vector<IndexEntry> ExpectedIndex(const Products& records) {
  std::vector<IndexEntry> entries;
  std::set<std::string> seen;
  for (size_t i = 0; i < records.size(); ++i)
    if (!records[i].deleted && seen.insert(records[i].code).second)
      entries.push_back({records[i].code, static_cast<int32_t>(i + 1)});
  std::sort(entries.begin(), entries.end(), [](const IndexEntry& a, const IndexEntry& b) { return a.key < b.key; });
  return entries;
}

std::vector<std::string> PageFaults(const std::string& dir) {
  std::vector<std::string> faults;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (EndsWith(name, ".htm") && !EndsWith(Slurp(entry.path()), "</BODY>\r\n</HTML>\r\n"))
      faults.push_back(name + " is not complete");
  }
  const std::string catalog = Slurp(dir + "/catalog.htm");
  const std::string href = "HREF=\"";
  std::vector<std::string> missing;
  for (size_t at = catalog.find(href); at != std::string::npos; at = catalog.find(href, at + 1)) {
    const size_t start = at + href.size();
    const std::string target = catalog.substr(start, catalog.find('"', start) - start);
    if (EndsWith(target, ".htm") && !fs::exists(dir + "/" + target)) missing.push_back(target);
  }
  if (!missing.empty())
    faults.push_back("catalog.htm links " + std::to_string(missing.size()) + " missing pages, " + missing[0] +
                     " the first");
  std::ifstream list(dir + "/upload.txt");
  for (std::string line; std::getline(list, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && !fs::exists(dir + "/" + line)) faults.push_back("upload.txt names the missing " + line);
  }
  return faults;
}

std::vector<std::string> StrayFiles(const std::string& dir) {
  std::vector<std::string> strays;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (!IsTableFile(name) && name != "upload.txt" && !EndsWith(name, ".htm")) strays.push_back(name);
  }
  std::sort(strays.begin(), strays.end());
  return strays;
}

RunOutcome RunKilled(const std::vector<std::string>& args, const std::string& dir, const std::string& log,
                     long killAfterUs) {
  std::vector<std::string> words = args;
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out >= 0) {
      ::dup2(out, 1);
      ::dup2(out, 2);
    }
    if (::chdir(dir.c_str()) == 0) ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  RunOutcome outcome;
  if (pid < 0) return outcome;
  if (killAfterUs >= 0) {
    const timespec pause{killAfterUs / 1000000, (killAfterUs % 1000000) * 1000};
    ::nanosleep(&pause, nullptr);
    ::kill(pid, SIGKILL);  // harmless on a process that has ended but is not yet waited for
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  outcome.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  outcome.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

std::string PeerLine(const Product& p) {
  return std::string(p.deleted ? "*" : "-") + "\t" + Hex(p.code) + "\t" + Hex(p.name) + "\t" + Hex(p.notes);
}

std::string WalkLine(const IndexEntry& e) { return e.key + "\t" + std::to_string(e.recNo); }

}  // namespace qm::catalog::test

// Locks as another process sees them: each protocol's regions at their exact
// offsets, the retry period, and two processes appending to one shared table.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "dbf/dbf_format.h"
#include "dbf/memo_file.h"
#include "dbf/table.h"
#include "dbf_test_util.h"

namespace qm::dbf {
namespace {

using test::FieldSpec;

const std::vector<FieldSpec> kFields = {{"NAME", 'C', 20}, {"SNOTES", 'M', 10}};

// Runs probe in a child process with its own open of path and returns what
// the child wrote to the pipe.
template <typename Probe>
std::string FromOtherProcess(const std::string& path, Probe probe) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return "pipe failed";
  const pid_t child = fork();
  if (child == 0) {
    close(pipeFds[0]);
    const int fd = open(path.c_str(), O_RDWR);
    const std::string answer = probe(fd);
    (void)!write(pipeFds[1], answer.data(), answer.size());
    _exit(0);
  }
  close(pipeFds[1]);
  std::string answer;
  char buffer[256];
  ssize_t n;
  while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0)
    answer.append(buffer, static_cast<size_t>(n));
  close(pipeFds[0]);
  waitpid(child, nullptr, 0);
  return answer;
}

// "held" when region is locked by exactly that region and the bytes just
// before and after it are free; else what was found.
std::string ProbeRegion(int fd, TbrLockRegion region) {
  auto query = [fd](int64_t offset, int64_t length) {
    struct flock request {};
    request.l_type = F_WRLCK;
    request.l_whence = SEEK_SET;
    request.l_start = offset;
    request.l_len = length;
    if (fcntl(fd, F_OFD_GETLK, &request) != 0) return std::string("error");
    if (request.l_type == F_UNLCK) return std::string("free");
    return std::to_string(request.l_start) + "+" + std::to_string(request.l_len);
  };
  const std::string exact = query(region.offset, region.length);
  if (exact != std::to_string(region.offset) + "+" + std::to_string(region.length)) return exact;
  if (region.offset > 0 && query(region.offset - 1, 1) != "free") return "wider before";
  if (query(int64_t{region.offset} + region.length, 1) != "free") return "wider after";
  return "held";
}

class LockingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<std::string> records;
    for (int i = 0; i < 6; ++i) records.push_back(test::RecordBytes(kFields, {"item"}));
    test::WriteFileBytes(m_dir.File("LOCKS.DBF"), test::TableBytes(0x83, kFields, records));
    test::WriteFileBytes(m_dir.File("LOCKS.DBT"), test::EmptyDb3Memo());
  }
  std::string Probe(TbrLockRegion region) {
    return FromOtherProcess(m_dir.File("LOCKS.DBF"),
                            [region](int fd) { return ProbeRegion(fd, region); });
  }
  test::ScratchDir m_dir;
};

TEST_F(LockingTest, EveryProtocolsRegionsAreSeenByAnotherProcess) {
  for (int protocol = 0; protocol <= 3; ++protocol) {
    SCOPED_TRACE(protocol);
    TbrTable table(m_dir.File("locks"), kOpenSharedReadWrite);
    ASSERT_TRUE(table.OpenTable());
    table.SetTableLockingProtocol(protocol);
    const auto p = static_cast<TbrLokProtocol>(protocol);
    ASSERT_TRUE(table.GoTo(5));
    ASSERT_TRUE(table.LockRecord());
    EXPECT_EQ(Probe(RecordLockRegion(p, 97, 31, 5, false)), "held");
    ASSERT_TRUE(table.UnlockTable());
    ASSERT_TRUE(table.LockAppend());
    EXPECT_EQ(Probe(AppendLockRegion(p)), "held");
    ASSERT_TRUE(table.UnlockTable());
    ASSERT_TRUE(table.LockFile());
    EXPECT_EQ(Probe(FileLockRegion(p)), "held");
    ASSERT_TRUE(table.UnlockTable());
    EXPECT_EQ(Probe(FileLockRegion(p)), "free");
  }
}

TEST_F(LockingTest, ExactRegionsOfTheDefaultProtocol) {
  TbrTable table(m_dir.File("LOCKS.DBF"), kOpenSharedReadWrite);
  ASSERT_TRUE(table.OpenTable());
  ASSERT_EQ(table.HeaderLength(), 97u);
  ASSERT_TRUE(table.GoTo(5));
  ASSERT_TRUE(table.LockRecord());
  EXPECT_EQ(Probe({0x40000000u + 97 + 4 * 31, 1}), "held");
  ASSERT_TRUE(table.UnlockTable());
  ASSERT_TRUE(table.HeaderLock());
  EXPECT_EQ(Probe({0, 32}), "held");
  ASSERT_TRUE(table.HeaderUnlock());
  EXPECT_EQ(Probe({0, 32}), "free");
  ASSERT_TRUE(table.LockWholeFile());
  EXPECT_EQ(Probe({0, 0xFFFFFFFFu}), "held");
}

TEST_F(LockingTest, MemoLockOfEachProtocolInTheMemoFile) {
  for (int protocol = 0; protocol <= 3; ++protocol) {
    const auto p = static_cast<TbrLokProtocol>(protocol);
    TbrDiskFile memo(m_dir.File("LOCKS.DBT"), kOpenSharedReadWrite);
    ASSERT_TRUE(memo.Open());
    const TbrLockRegion region = MemoLockRegion(p);
    ASSERT_TRUE(memo.Lock(region.offset, region.length));
    EXPECT_EQ(FromOtherProcess(m_dir.File("LOCKS.DBT"),
                               [region](int fd) { return ProbeRegion(fd, region); }),
              "held");
  }
}

// A child process that holds region of path until released, or, given
// whileHeld, until that has run on its open of the file.
class HeldElsewhere {
 public:
  HeldElsewhere(const std::string& path, TbrLockRegion region,
                const std::function<void(int fd)>& whileHeld = {}) {
    if (pipe(m_ready) != 0 || pipe(m_done) != 0) return;
    m_child = fork();
    if (m_child == 0) {
      const int fd = open(path.c_str(), O_RDWR);
      struct flock request {};
      request.l_type = F_WRLCK;
      request.l_start = region.offset;
      request.l_len = region.length;
      fcntl(fd, F_OFD_SETLK, &request);
      (void)!write(m_ready[1], "x", 1);
      char c;
      if (whileHeld)
        whileHeld(fd);
      else
        (void)!read(m_done[0], &c, 1);
      _exit(0);
    }
    char c;
    m_held = read(m_ready[0], &c, 1) == 1;
  }
  ~HeldElsewhere() {
    (void)!write(m_done[1], "x", 1);
    waitpid(m_child, nullptr, 0);
  }
  bool Held() const { return m_held; }

 private:
  int m_ready[2] = {-1, -1};
  int m_done[2] = {-1, -1};
  pid_t m_child = -1;
  bool m_held = false;
};

TEST_F(LockingTest, LockHeldElsewhereIsRetriedThenRefusedWith33) {
  test::ReportRecorder recorder;
  HeldElsewhere holder(m_dir.File("LOCKS.DBF"), AppendLockRegion(TbrLokProtocol::Default));
  ASSERT_TRUE(holder.Held());
  int pumped = 0;
  MessagePump previous = SetMessagePump([&pumped] { ++pumped; });
  TbrTable table(m_dir.File("LOCKS.DBF"), kOpenSharedReadWrite);
  ASSERT_TRUE(table.OpenTable());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(table.LockAppend());
  const double waited =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  SetMessagePump(previous);
  EXPECT_GE(waited, 1.9);
  EXPECT_LT(waited, 4.0);
  EXPECT_GT(pumped, 0);
  ASSERT_FALSE(recorder.Reports().empty());
  EXPECT_EQ(recorder.Reports().back().code, 33);
  EXPECT_EQ(recorder.Reports().back().subCode, 1112);
  EXPECT_EQ(table.LockCount(), 0);
}

TEST_F(LockingTest, AppendWithoutTheHeaderLockWritesNothing) {
  test::ReportRecorder recorder;
  const std::string before = test::ReadFileBytes(m_dir.File("LOCKS.DBF"));
  TbrTable table(m_dir.File("LOCKS.DBF"), kOpenSharedReadWrite);
  ASSERT_TRUE(table.OpenTable());
  ASSERT_TRUE(table.GoTo(2));
  HeldElsewhere holder(m_dir.File("LOCKS.DBF"), kHeaderLockRegion);
  ASSERT_TRUE(holder.Held());
  table.FieldPut(1, "lost");
  EXPECT_FALSE(table.AppendRecord());
  ASSERT_FALSE(recorder.Reports().empty());
  EXPECT_EQ(recorder.Reports().back().code, 33);
  EXPECT_EQ(recorder.Reports().back().subCode, 1201);
  EXPECT_EQ(test::ReadFileBytes(m_dir.File("LOCKS.DBF")), before);
  EXPECT_EQ(table.RecordCount(), 6);
  EXPECT_EQ(table.RecNo(), 2);
  EXPECT_EQ(table.State(), TbrTableState::Open);
}

// With the default handler every refusal raises; nothing may stay locked.
TEST_F(LockingTest, RefusedWritesUnderTheRaisingHandlerLeaveNoLockBehind) {
  const std::string path = m_dir.File("LOCKS.DBF");
  TbrTable table(path, kOpenSharedReadWrite);
  ASSERT_TRUE(table.OpenTable());
  table.SetLockBeforeWrite(true);
  ASSERT_TRUE(table.GoTo(3));
  table.FieldPut(1, "refused");
  {
    HeldElsewhere holder(path, AppendLockRegion(TbrLokProtocol::Default));
    ASSERT_TRUE(holder.Held());
    EXPECT_THROW(table.AppendRecord(), EEngineIoError);
    EXPECT_EQ(Probe(kHeaderLockRegion), "free");
  }
  {
    HeldElsewhere holder(path, RecordLockRegion(TbrLokProtocol::Default, 97, 31, 3, false));
    ASSERT_TRUE(holder.Held());
    EXPECT_THROW(table.ReplaceRecord(3), EEngineIoError);
    EXPECT_EQ(Probe(kHeaderLockRegion), "free");
  }
  EXPECT_EQ(table.LockCount(), 0);
  EXPECT_EQ(table.RecNo(), 3);
  EXPECT_TRUE(table.ReplaceRecord(3));
  EXPECT_TRUE(table.AppendRecord());
  EXPECT_EQ(Probe(kHeaderLockRegion), "free");
  EXPECT_EQ(Probe(AppendLockRegion(TbrLokProtocol::Default)), "free");
  EXPECT_EQ(table.RecordCount(), 7);
}

// Another writer holds the header lock while it appends: the replace waiting
// for that lock must count the new record, not undo it in the header.
TEST_F(LockingTest, ReplaceCountsAnAppendMadeWhileItWaitedForTheHeaderLock) {
  const std::string path = m_dir.File("LOCKS.DBF");
  TbrTable table(path, kOpenSharedReadWrite);
  ASSERT_TRUE(table.OpenTable());
  ASSERT_TRUE(table.GoTo(2));
  HeldElsewhere writer(path, kHeaderLockRegion, [](int fd) {
    usleep(300000);
    const std::string record = test::RecordBytes(kFields, {"appended elsewhere"}) + "\x1A";
    (void)!pwrite(fd, record.data(), record.size(), 97 + 6 * 31);
    uint8_t count[4];
    layout::PutU32(count, 7);
    (void)!pwrite(fd, count, sizeof count, 4);
  });
  ASSERT_TRUE(writer.Held());
  table.FieldPut(1, "replaced");
  ASSERT_TRUE(table.ReplaceRecord(2));
  const std::string bytes = test::ReadFileBytes(path);
  EXPECT_EQ(layout::GetU32(reinterpret_cast<const uint8_t*>(bytes.data()) + 4), 7u);
  EXPECT_EQ(table.RecordCount(), 7);
}

// An import refused the header lock must not leave its memo behind.
TEST_F(LockingTest, NoMemoIsWrittenWhileAnotherProgramHoldsTheHeaderLock) {
  test::ReportRecorder recorder;
  const std::string memo = test::ReadFileBytes(m_dir.File("LOCKS.DBT"));
  TbrTable table(m_dir.File("LOCKS.DBF"), kOpenSharedReadWrite);
  ASSERT_TRUE(table.OpenTable());
  table.BlankRecord();
  HeldElsewhere holder(m_dir.File("LOCKS.DBF"), kHeaderLockRegion);
  ASSERT_TRUE(holder.Held());
  EXPECT_FALSE(table.WriteMemo(2, "would be an orphan"));
  ASSERT_FALSE(recorder.Reports().empty());
  EXPECT_EQ(recorder.Reports().back().subCode, subcode::kHeaderLock);
  EXPECT_EQ(test::ReadFileBytes(m_dir.File("LOCKS.DBT")), memo);
  EXPECT_EQ(table.MemoBlock(2), 0);
}

// The disk fills up in the middle of an append (a file size limit stands in
// for it): the partial record is cut off again and the error is raised.
TEST_F(LockingTest, AppendThatRunsOutOfSpaceLeavesNoTornRecord) {
  const std::string path = m_dir.File("LOCKS.DBF");
  const std::string before = test::ReadFileBytes(path);
  const pid_t child = fork();
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{before.size() + 10, before.size() + 10};
    setrlimit(RLIMIT_FSIZE, &limit);
    TbrTable table(path, kOpenSharedReadWrite);
    if (!table.OpenTable()) _exit(2);
    table.BlankRecord();
    table.FieldPut(1, "torn");
    try {
      table.AppendRecord();
    } catch (const EEngineIoError& e) {
      _exit(e.Code() == 112 && e.SubCode() == subcode::kWrite ? 0 : 3);
    }
    _exit(4);
  }
  int status = -1;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(test::ReadFileBytes(path), before);
}

// A process answering open and close requests for one table, forked before
// the test opens anything (a child forked later would share the parent's opens).
class PeerProcess {
 public:
  explicit PeerProcess(const std::string& path) {
    if (pipe(m_requests) != 0 || pipe(m_answers) != 0) return;
    m_child = fork();
    if (m_child == 0) {
      Serve(path);
      _exit(0);
    }
  }
  ~PeerProcess() {
    (void)!write(m_requests[1], "q", 1);
    waitpid(m_child, nullptr, 0);
    for (int fd : {m_requests[0], m_requests[1], m_answers[0], m_answers[1]}) close(fd);
  }
  // 'o' open shared, 'x' open exclusive, 'c' close: "opened", "closed" or the report.
  std::string Ask(char request) {
    if (write(m_requests[1], &request, 1) != 1) return "no peer";
    std::string answer;
    char c;
    while (read(m_answers[0], &c, 1) == 1 && c != '\n') answer += c;
    return answer;
  }

 private:
  void Serve(const std::string& path) {
    test::ReportRecorder reports;
    std::unique_ptr<TbrTable> table;
    char request;
    while (read(m_requests[0], &request, 1) == 1 && request != 'q') {
      std::string answer = "closed";
      table.reset();
      if (request != 'c') {
        table = std::make_unique<TbrTable>(
            path, request == 'x' ? kOpenExclusiveReadWrite : kOpenSharedReadWrite);
        answer = table->OpenTable() ? "opened"
                                    : std::to_string(reports.Reports().back().code) + " " +
                                          reports.Reports().back().text;
      }
      answer += '\n';
      (void)!write(m_answers[1], answer.data(), answer.size());
    }
  }
  int m_requests[2] = {-1, -1};
  int m_answers[2] = {-1, -1};
  pid_t m_child = -1;
};

TEST_F(LockingTest, ExclusiveOpenKeepsOtherProcessesOut) {
  const std::string path = m_dir.File("LOCKS.DBF");
  const std::string inUse = "32 " + path + " (in use by another program)";
  PeerProcess peer(path);
  {
    TbrTable mine(path, kOpenExclusiveReadWrite);
    ASSERT_TRUE(mine.OpenTable());
    EXPECT_EQ(peer.Ask('o'), inUse);
    EXPECT_EQ(peer.Ask('x'), inUse);
    mine.BlankRecord();
    ASSERT_TRUE(mine.AppendRecord());  // its own locks stay inside its whole-file lock
    ASSERT_TRUE(mine.LockRecord());
    ASSERT_TRUE(mine.UnlockTable());
    EXPECT_EQ(Probe({0, 1}), "0+0");  // the whole file, through any length
  }
  EXPECT_EQ(peer.Ask('o'), "opened");
  test::ReportRecorder reports;
  TbrTable exclusive(path, kOpenExclusiveReadWrite);
  EXPECT_FALSE(exclusive.OpenTable());
  ASSERT_EQ(reports.Reports().size(), 1u);
  EXPECT_EQ(std::to_string(reports.Reports()[0].code) + " " + reports.Reports()[0].text, inUse);
  TbrTable shared(path, kOpenSharedReadWrite);
  EXPECT_TRUE(shared.OpenTable());
  EXPECT_EQ(peer.Ask('c'), "closed");
  shared.CloseTable();
  TbrTable again(path, kOpenExclusiveReadWrite);
  EXPECT_TRUE(again.OpenTable());
}

void AppendMany(const std::string& path, const std::string& prefix, int count) {
  TbrTable table(path, kOpenSharedReadWrite);
  if (!table.OpenTable()) _exit(2);
  table.SetLockBeforeWrite(true);
  for (int i = 0; i < count; ++i) {
    table.BlankRecord();
    const std::string name = prefix + std::to_string(i);
    table.PutText(1, name);
    if (!table.WriteMemo(2, "memo of " + name + std::string(static_cast<size_t>(i % 700), '.')))
      _exit(3);
    if (!table.AppendRecord()) _exit(4);
  }
  table.CloseTable();
}

TEST_F(LockingTest, TwoProcessesAppendingToOneSharedTable) {
  constexpr int kEach = 2000;
  const std::string path = m_dir.File("LOCKS.DBF");
  pid_t children[2];
  for (int k = 0; k < 2; ++k) {
    children[k] = fork();
    if (children[k] == 0) {
      try {
        AppendMany(path, k == 0 ? "A" : "B", kEach);
      } catch (...) {
        _exit(5);
      }
      _exit(0);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  const std::string bytes = test::ReadFileBytes(path);
  const uint32_t count = layout::GetU32(reinterpret_cast<const uint8_t*>(bytes.data()) + 4);
  EXPECT_EQ(count, 6u + 2 * kEach);
  EXPECT_EQ(bytes.size(), 97u + count * 31u + 1);
  EXPECT_EQ(bytes.back(), '\x1A');
  TbrTable table(path, kOpenSharedReadOnly);
  ASSERT_TRUE(table.OpenTable());
  std::set<std::string> names;
  for (bool ok = table.GoTo(7); ok; ok = table.GoTo(kGoNext)) {
    const std::string name = table.Text(1);
    const int i = std::stoi(name.substr(1));
    EXPECT_EQ(table.MemoText(2),
              "memo of " + name + std::string(static_cast<size_t>(i % 700), '.'));
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 2u * kEach);
}

}  // namespace
}  // namespace qm::dbf

// Random appends, replaces, deletions and recalls on a table with a unique and a
// non-unique index, both checked after every step against a model: from one table
// object, and from two table objects and a second process sharing the files.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "table_fixture_util.h"

namespace qm::index {
namespace {

using Pairs = std::vector<std::pair<std::string, int32_t>>;

// Both indexes are walked in full after every step; the sanitized build walks
// about twenty times slower, so it runs a shorter sequence of the same mix.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QM_MODEL_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(QM_MODEL_SANITIZED)
constexpr int kSteps = 1500;
constexpr int kSharedSteps = 300;
#else
constexpr int kSteps = 10000;
constexpr int kSharedSteps = 1500;
#endif

struct Record {
  std::string name;
  std::string group;
  bool deleted = false;
};

// What the indexes must hold. A unique key enters once, from the record that brought
// it first, and leaves only with that record's entry; equal keys of the non-unique
// index sit in record-number order, as a build puts them.
struct Model {
  std::map<std::string, int32_t> unique;
  std::map<std::string, std::set<int32_t>> groups;

  void Add(const Record& r, int32_t recNo) {
    unique.emplace(r.name, recNo);
    groups[r.group].insert(recNo);
  }
  // Every rewrite (deletion and recall too) brings the record's key again: a
  // unique key that has left the index enters from the record written.
  void Change(const Record& before, const Record& after, int32_t recNo) {
    if (before.name != after.name) {
      auto it = unique.find(before.name);
      if (it != unique.end() && it->second == recNo) unique.erase(it);
    }
    unique.emplace(after.name, recNo);
    if (before.group != after.group) {
      groups[before.group].erase(recNo);
      groups[after.group].insert(recNo);
    }
  }
  Pairs UniquePairs() const { return Pairs(unique.begin(), unique.end()); }
  Pairs GroupPairs() const {
    Pairs out;
    for (const auto& [key, recs] : groups) {
      for (int32_t r : recs) out.emplace_back(key, r);
    }
    return out;
  }
};

// One write as the model and every writer see it.
struct Write {
  char kind;        // 'A'ppend, 'R'eplace, 'D'elete, re'C'all
  int32_t recNo;    // 0 for an append
  Record record;    // the record as written
};

void Apply(TbrIndexTable& table, const Write& w) {
  if (w.kind != 'A') {
    ASSERT_TRUE(table.GoTo(w.recNo));
  }
  switch (w.kind) {
    case 'A':
      table.BlankRecord();
      [[fallthrough]];
    case 'R':
      table.FieldPut(1, w.record.name);
      table.FieldPut(2, w.record.group);
      ASSERT_TRUE(w.kind == 'A' ? table.AppendRecord() : table.ReplaceRecord(w.recNo));
      break;
    case 'D':
      ASSERT_TRUE(table.MarkDeleted());
      break;
    default:
      ASSERT_TRUE(table.Recall());
  }
}

// A second process on the same table and indexes: reads one command per line,
// answers with lines closed by ".". "W" answers "tag key record" per entry.
class PeerProcess {
 public:
  explicit PeerProcess(const std::string& table) {
    int toPeer[2], fromPeer[2];
    if (::pipe(toPeer) != 0 || ::pipe(fromPeer) != 0) return;
    m_pid = ::fork();
    if (m_pid == 0) {
      ::close(toPeer[1]);
      ::close(fromPeer[0]);
      Serve(table, ::fdopen(toPeer[0], "r"), ::fdopen(fromPeer[1], "w"));
      ::_exit(0);
    }
    ::close(toPeer[0]);
    ::close(fromPeer[1]);
    m_to = ::fdopen(toPeer[1], "w");
    m_from = ::fdopen(fromPeer[0], "r");
  }
  ~PeerProcess() {
    if (m_to != nullptr) std::fclose(m_to);
    if (m_from != nullptr) std::fclose(m_from);
    if (m_pid > 0) ::waitpid(m_pid, nullptr, 0);
  }
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  std::vector<std::string> Ask(const std::string& command) {
    std::vector<std::string> answer;
    if (m_from == nullptr) return {"no peer process"};
    std::fprintf(m_to, "%s\n", command.c_str());
    std::fflush(m_to);
    char line[512];
    while (std::fgets(line, sizeof line, m_from) != nullptr && std::string(line) != ".\n") {
      answer.emplace_back(line);
      answer.back().pop_back();
    }
    return answer;
  }

  std::string Write(const ::qm::index::Write& w) {
    std::ostringstream command;
    command << w.kind << ' ' << w.recNo << ' ' << w.record.name << ' ' << w.record.group;
    std::vector<std::string> answer = Ask(command.str());
    return answer.empty() ? std::string() : answer.front();
  }

  std::vector<Pairs> Walk() {
    std::vector<Pairs> walks(2);
    for (const std::string& line : Ask("W")) {
      std::istringstream in(line);
      int tag = 0;
      std::pair<std::string, int32_t> pair;
      if (in >> tag >> pair.first >> pair.second && (tag == 1 || tag == 2))
        walks[tag - 1].push_back(pair);
    }
    return walks;
  }

 private:
  static void Serve(const std::string& path, FILE* in, FILE* out) {
    TbrIndexTable table(path, dbf::kOpenSharedReadWrite);
    bool open = table.OpenTable() && table.OpenIndexList("U G", "U") == 0;
    char line[512];
    while (open && std::fgets(line, sizeof line, in) != nullptr) {
      std::istringstream command(line);
      ::qm::index::Write w{};
      command >> w.kind >> w.recNo >> w.record.name >> w.record.group;
      try {
        if (w.kind == 'W') {
          for (int tag = 1; tag <= 2; ++tag) {
            for (const auto& [key, recNo] : test::WalkTag(*table.TagByNumber(tag)))
              std::fprintf(out, "%d %s %d\n", tag, key.c_str(), recNo);
          }
        } else {
          Apply(table, w);
          std::fprintf(out, "%s\n", ::testing::Test::HasFailure() ? "failed" : "ok");
        }
      } catch (const std::exception& error) {
        std::fprintf(out, "error %s\n", error.what());
      }
      std::fprintf(out, ".\n");
      std::fflush(out);
    }
  }

  pid_t m_pid = -1;
  FILE* m_to = nullptr;
  FILE* m_from = nullptr;
};

class IndexModel : public test::TableFixture {
 protected:
  void SetUp() override {
    Create({{"NAME", 'C', 8}, {"GRP", 'C', 3}});
    ASSERT_TRUE(m_table->BuildIndex("U", "", "NAME", "", 0, 0));
    ASSERT_TRUE(m_table->BuildIndex("G", "", "GRP", "", 1, 0));
    ASSERT_EQ(m_table->OpenIndexList("U G", "U"), 0);
  }

  Record RandomRecord() {
    return {"N" + std::to_string(m_rng() % 1500), "G" + std::to_string(m_rng() % 12)};
  }

  // The next random write, entered in the model.
  Write NextWrite(bool append = false) {
    int op = m_rng() % 100;
    if (m_records.empty() || op < 35 || append) {
      Write w{'A', 0, RandomRecord()};
      m_records.push_back(w.record);
      m_model.Add(w.record, static_cast<int32_t>(m_records.size()));
      return w;
    }
    int32_t recNo = static_cast<int32_t>(m_rng() % m_records.size()) + 1;
    Record& current = m_records[recNo - 1];
    Record before = current;
    char kind = 'R';
    if (op < 70) {
      Record next = RandomRecord();
      if (op < 50) current.name = next.name;  // key of the unique index changes
      if (op % 2 == 0) current.group = next.group;
    } else {
      kind = op < 85 ? 'D' : 'C';
      current.deleted = kind == 'D';
    }
    m_model.Change(before, current, recNo);
    return {kind, recNo, current};
  }

  void ExpectModel(TbrIndexTable& table, const std::string& who) {
    ASSERT_EQ(test::FirstDifference(test::WalkTag(*table.TagByNumber(1)), m_model.UniquePairs()), "")
        << "unique index seen by " << who;
    ASSERT_EQ(test::FirstDifference(test::WalkTag(*table.TagByNumber(2)), m_model.GroupPairs()), "")
        << "group index seen by " << who;
  }

  Pairs FreshBuild(bool unique, bool byName, bool withDeleted) const {
    Pairs pairs;
    for (size_t i = 0; i < m_records.size(); ++i) {
      if (withDeleted || !m_records[i].deleted)
        pairs.emplace_back(byName ? m_records[i].name : m_records[i].group,
                           static_cast<int32_t>(i + 1));
    }
    return test::ReferenceSort(pairs, true, unique);
  }

  std::mt19937 m_rng{20261208};
  std::vector<Record> m_records;
  Model m_model;
};

TEST_F(IndexModel, RandomWritesKeepBothIndexesInStepAndReindexMatchesAFreshBuild) {
  for (int i = 0; i < 400; ++i) ASSERT_NO_FATAL_FAILURE(Apply(*m_table, NextWrite(true)));
  for (int step = 1; step <= kSteps; ++step) {
    ASSERT_NO_FATAL_FAILURE(Apply(*m_table, NextWrite())) << "step " << step;
    ASSERT_NO_FATAL_FAILURE(ExpectModel(*m_table, "the writer")) << "step " << step;
  }
  // The table's own moves in unique-key order skip the deleted records.
  std::vector<int32_t> visible;
  for (const auto& [key, recNo] : m_model.unique) {
    if (!m_records[recNo - 1].deleted) visible.push_back(recNo);
  }
  EXPECT_EQ(Walk(), visible);

  ASSERT_TRUE(m_table->Reindex());
  EXPECT_EQ(test::FirstDifference(test::WalkTag(*m_table->TagByNumber(1)), FreshBuild(true, true, false)), "");
  EXPECT_EQ(test::FirstDifference(test::WalkTag(*m_table->TagByNumber(2)), FreshBuild(false, false, false)), "");
}

// Writes from two table objects of this process and from a second process, in
// random turns: after every write all three see both indexes as the model has them.
// A reindex then gives the maintained key sequence of the non-unique index again,
// and Perl XBase walks every index whole, before and after.
TEST_F(IndexModel, TwoObjectsAndTwoProcessesSharingTheIndexesAgreeWithTheModel) {
  m_table.reset();  // the second process starts with no file of ours open
  PeerProcess peer(m_dir.File("T.DBF"));
  m_table = std::make_unique<TbrIndexTable>(m_dir.File("T.DBF"), dbf::kOpenSharedReadWrite);
  TbrIndexTable other(m_dir.File("T.DBF"), dbf::kOpenSharedReadWrite);
  for (TbrIndexTable* table : {m_table.get(), &other}) {
    ASSERT_TRUE(table->OpenTable());
    ASSERT_EQ(table->OpenIndexList("U G", "U"), 0);
  }
  for (int step = 1; step <= kSharedSteps; ++step) {
    Write w = NextWrite();
    int writer = static_cast<int>(m_rng() % 3);
    if (writer == 2) {
      ASSERT_EQ(peer.Write(w), "ok") << "step " << step;
    } else {
      ASSERT_NO_FATAL_FAILURE(Apply(writer == 0 ? *m_table : other, w)) << "step " << step;
    }
    ASSERT_NO_FATAL_FAILURE(ExpectModel(*m_table, "the first object")) << "step " << step;
    ASSERT_NO_FATAL_FAILURE(ExpectModel(other, "the second object")) << "step " << step;
    std::vector<Pairs> seen = peer.Walk();
    ASSERT_EQ(test::FirstDifference(seen[0], m_model.UniquePairs()), "") << "peer, step " << step;
    ASSERT_EQ(test::FirstDifference(seen[1], m_model.GroupPairs()), "") << "peer, step " << step;
  }
  std::vector<Pairs> perl = test::PerlWalk({m_dir.File("U.NDX"), m_dir.File("G.NDX")});
  EXPECT_EQ(test::FirstDifference(perl[0], m_model.UniquePairs()), "");
  EXPECT_EQ(test::FirstDifference(perl[1], m_model.GroupPairs()), "");

  Pairs maintained = m_model.GroupPairs();
  m_table->SetUseDeleted(true);  // the maintained indexes hold deleted records too
  ASSERT_TRUE(m_table->Reindex());
  EXPECT_EQ(test::FirstDifference(test::WalkTag(*other.TagByNumber(2)), maintained), "");
  EXPECT_EQ(test::FirstDifference(peer.Walk()[1], maintained), "");
  Pairs rebuilt = FreshBuild(true, true, true);
  EXPECT_EQ(test::FirstDifference(peer.Walk()[0], rebuilt), "");
  perl = test::PerlWalk({m_dir.File("U.NDX"), m_dir.File("G.NDX")});
  EXPECT_EQ(test::FirstDifference(perl[0], rebuilt), "");
  EXPECT_EQ(test::FirstDifference(perl[1], maintained), "");
}

}  // namespace
}  // namespace qm::index

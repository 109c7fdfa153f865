// Crash consistency: quillmart-cli is SIGKILLed at random moments while it
// imports, sets, reindexes and builds. After every kill the table must read the
// same in Quillmart's engine, python3-dbf and dbfread; every record the killed
// command had finished is intact with its memo and the one it was writing is
// wholly there or wholly absent; the header count is exact or one appended
// record behind, repaired by the next append; CATALOG.NDX walks clean in the
// engine and in Perl XBase and, when Quillmart takes it as current, holds
// exactly the first live record of each key; every page is complete and
// catalog.htm and upload.txt name only pages that exist.
//
// Knobs (environment): QM_KILL_COUNT kills (at least 200 by default),
// QM_KILL_ROWS products in the starting table, QM_KILL_SEED, QM_KILL_PEER_EVERY
// (every n-th snapshot goes to the peers). bench/run-kill.sh runs it full-size.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "app/core/product_table.h"
#include "dbf/table.h"
#include "crash_state_util.h"

namespace qm::catalog::test {
namespace {

namespace fs = std::filesystem;

enum class Command { Import, Set, SetNew, Reindex, Build };
constexpr const char* kCommandNames[] = {"import", "set", "set --new", "reindex", "build"};
constexpr int kCommands = 5;
constexpr size_t kPeerBatch = 100;  // snapshots per python3 / perl run

int EnvInt(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::atoi(value) : fallback;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string Quoted(const std::string& s) {
  std::string out = "\"";
  for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::string Describe(const Product& p) {
  return (p.deleted ? "*" : "") + p.code + "/" + p.name + "/notes of " + std::to_string(p.notes.size()) + " bytes";
}

// What one command was asked to do, so the table after it can be judged.
struct Change {
  Command command;
  Products appended;  // import rows in CSV order, or the one new product
  int target = -1;    // set: the record (0-based) it changes
  Product changed;    // set: that record as the command writes it
};

struct CommandStats {
  int runs = 0, kills = 0, strays = 0;
  double estimateMs = 30;  // running average of the runs that ended by themselves
};

class KillScenario {
 public:
  KillScenario(const std::string& root, int rows, unsigned seed)
      : m_root(root), m_work(root + "/work"), m_rows(rows), m_random(seed) {
    for (const char* d : {"/work", "/template", "/side", "/snaps", "/logs", "/config"}) fs::create_directories(root + d);
    ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    ::setenv("LC_ALL", "C", 1);
  }

  // The starting table: duplicate keys, deleted products, a current index and pages.
  void MakeTemplate() {
    const std::string dir = m_root + "/template";
    Cli({"create", "CODE:8", "NAME:24"}, dir);
    Cli({"settings", "set", "Stacked Pages", "usestackedpages", "1"}, dir);
    Products rows, repeated;
    for (int i = 0; i < m_rows; ++i)
      (i % 25 == 24 ? repeated : rows).push_back({i % 25 == 24 ? Key('B', i - 10) : Key('B', i), "Base " + std::to_string(i), Notes(900)});
    WriteCsv(rows);
    Cli({"import", m_root + "/side/import.csv"}, dir);
    {
      // Repeated keys, as another program may write them: quillmart-cli refuses to.
      dbf::TbrTable table(dir + "/CATALOG.DBF", dbf::kOpenSharedReadWrite);
      ASSERT_TRUE(table.OpenTable());
      for (const Product& p : repeated) {
        table.BlankRecord();
        table.FieldPut(1, p.code);
        table.FieldPut(2, p.name);
        ASSERT_TRUE(table.WriteMemo(3, p.notes) && table.AppendRecord());
      }
    }
    for (int i : {14, 40, 77}) Cli({"delete", Key('B', i)}, dir);
    Cli({"reindex"}, dir);
    Cli({"build"}, dir);
    const TableState t = ReadTableState(dir);
    ASSERT_EQ(t.error, "");
    ASSERT_EQ(ReadIndexState(dir).entries, ExpectedIndex(t.records));
    m_template = t.records;
    Reset();
  }

  void Run(int kills, int peerEvery) {
    const auto start = std::chrono::steady_clock::now();
    // One run of each to its end times the commands, so the kills spread over the whole run.
    for (int c = 0; c < kCommands; ++c) Step(static_cast<Command>(c), false);
    int total = 0;
    while (total < kills && m_faults.size() < 50) {
      if (m_model.size() > static_cast<size_t>(3 * m_rows)) Reset();
      if (Step(static_cast<Command>(Pick()))) {
        ++total;
        if (total % peerEvery == 0) Snapshot();
      }
      if (m_snapshots.size() >= kPeerBatch) CheckWithPeers();
    }
    // Every command once more, to its end: whatever the kills left is repaired or ignored.
    for (Command c : {Command::SetNew, Command::Reindex, Command::Build, Command::Import}) Step(c, false);
    Snapshot();
    CheckWithPeers();
    m_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

  std::string Summary() const {
    std::ostringstream out;
    int kills = 0, runs = 0, strays = 0;
    out << "kills:";
    for (int c = 0; c < kCommands; ++c) {
      out << " " << kCommandNames[c] << " " << m_stats[c].kills << "/" << m_stats[c].runs;
      kills += m_stats[c].kills;
      runs += m_stats[c].runs;
      strays += m_stats[c].strays;
    }
    out << "\ntotal: " << kills << " kills in " << runs << " runs, " << m_faults.size() << " faults, " << m_marked
        << " kills left CATALOG.NDX marked mid-change (" << m_markedWrong
        << " of them not holding the table's keys), " << m_countPending
        << " checks found a record past the header count, "
        << m_peerChecked << " snapshots checked by python3-dbf, dbfread and Perl XBase, " << strays
        << " work files left by killed runs (" << m_straysRemaining << " still there at the end"
        << "), " << m_seconds << " s";
    out << m_markedWhere;
    for (const std::string& kind : m_strayKinds) out << "\nleft by a killed run: " << kind;
    return out.str();
  }
  const std::vector<std::string>& Faults() const { return m_faults; }

 private:
  static std::string Key(char letter, int n) {
    char key[16];
    std::snprintf(key, sizeof key, "%c%05d", letter, n);
    return key;
  }

  std::string Notes(int maxLength) {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz ,.;-ABCDEFGHIJ0123456789";
    std::string text = "n" + std::to_string(m_serial++) + " ";
    const int length = std::uniform_int_distribution<int>(0, maxLength)(m_random);
    for (int i = 0; i < length; ++i) text += letters[m_random() % (sizeof letters - 1)];
    return text + ".";  // the peers drop trailing blanks of every value, memos too
  }

  int Pick() {
    // import, set, set --new, reindex, build
    static const std::discrete_distribution<int> weights{20, 30, 15, 15, 20};
    std::discrete_distribution<int> pick = weights;
    return pick(m_random);
  }

  static std::vector<std::string> Cli(std::vector<std::string> args) {
    args.insert(args.begin(), QM_CLI);
    return args;
  }

  void Cli(const std::vector<std::string>& args, const std::string& dir) {
    const RunOutcome r = RunKilled(Cli(args), dir, m_root + "/logs/setup.txt", -1);
    ASSERT_EQ(r.status, 0) << args[0] << ": " << ReadFile(m_root + "/logs/setup.txt");
  }

  void WriteCsv(const Products& rows) {
    std::string csv = "CODE,NAME,SNOTES\r\n";
    for (const Product& p : rows) csv += Quoted(p.code) + "," + Quoted(p.name) + "," + Quoted(p.notes) + "\r\n";
    WriteFile(m_root + "/side/import.csv", csv);
  }

  void Reset() {
    fs::remove_all(m_work);
    fs::copy(m_root + "/template", m_work);
    m_model = m_template;
  }

  // The command's arguments; fills `change` with what it is asked to do.
  std::vector<std::string> Prepare(Command c, Change& change) {
    change.command = c;
    const std::string notesFile = m_root + "/side/notes.txt";
    switch (c) {
      case Command::Import: {
        const int count = std::uniform_int_distribution<int>(5, std::max(6, m_rows / 2))(m_random);
        for (int i = 0; i < count; ++i)
          change.appended.push_back({Key('I', m_serial), "Imported " + std::to_string(m_serial), Notes(1200)});
        WriteCsv(change.appended);
        return {"import", m_root + "/side/import.csv"};
      }
      case Command::Set: {
        const std::vector<IndexEntry> keys = ExpectedIndex(m_model);
        change.target = keys[m_random() % keys.size()].recNo - 1;
        change.changed = m_model[change.target];
        change.changed.name = "Set " + std::to_string(m_serial);
        change.changed.notes = Notes(1400);
        WriteFile(notesFile, change.changed.notes);
        return {"set", change.changed.code, "NAME=" + change.changed.name, "SNOTES=@" + notesFile};
      }
      case Command::SetNew: {
        const Product p{Key('N', m_serial), "New " + std::to_string(m_serial), Notes(1400)};
        change.appended = {p};
        WriteFile(notesFile, p.notes);
        return {"set", "--new", p.code, "NAME=" + p.name, "SNOTES=@" + notesFile};
      }
      case Command::Reindex:
        return {"reindex"};
      case Command::Build:
        return {"build"};
    }
    return {};
  }

  // Runs one command, killed at a random moment unless `kill` is false, and
  // checks what it left. True when the kill found it running.
  bool Step(Command c, bool kill = true) {
    Change change;
    const std::vector<std::string> args = Prepare(c, change);
    CommandStats& stats = m_stats[static_cast<int>(c)];
    const double window = stats.estimateMs * 1250;  // microseconds: kills land before, during and after the work
    const long delay = kill ? static_cast<long>(std::uniform_real_distribution<double>(0, window)(m_random)) : -1;
    const std::string log = m_root + "/logs/run.txt";
    const RunOutcome r = RunKilled(Cli(args), m_work, log, delay);
    ++stats.runs;
    if (r.killed) ++stats.kills;
    else stats.estimateMs += (r.ms - stats.estimateMs) / std::min(stats.runs, 8);
    m_step = std::string(kCommandNames[static_cast<int>(c)]) + (r.killed ? " killed" : " run") + " #" +
             std::to_string(stats.runs) + ": ";
    if (!r.killed && r.status != 0) Fault("exit status " + std::to_string(r.status) + ": " + ReadFile(log));
    Check(change, !r.killed);
    return r.killed;
  }

  void Fault(const std::string& what) { m_faults.push_back(m_step + what); }

  void Check(const Change& change, bool completed) {
    m_table = ReadTableState(m_work);
    if (!m_table.error.empty()) {
      Fault("the table does not read: " + m_table.error);
      Reset();
      return;
    }
    CheckRecords(change, completed);
    m_model = m_table.records;
    CheckCount(change, completed);
    CheckIndex(change.command, completed);
    if (change.command == Command::Build)
      for (const std::string& f : PageFaults(m_work)) Fault(f);
    CheckStrays(change.command, completed);
  }

  void CheckRecords(const Change& change, bool completed) {
    const Products& before = m_model;
    const Products& after = m_table.records;
    size_t keep = before.size();
    size_t least = before.size(), most = before.size() + change.appended.size();
    if (completed) least = most;
    if (after.size() < least || after.size() > most) {
      Fault("holds " + std::to_string(after.size()) + " records, expected " + std::to_string(least) + " to " +
            std::to_string(most));
      keep = std::min(keep, after.size());
    }
    for (size_t i = 0; i < std::min(after.size(), before.size()); ++i) {
      if (static_cast<int>(i) == change.target) {
        if (after[i] != change.changed && (completed || after[i] != before[i]))
          Fault("record " + std::to_string(i + 1) + " is " + Describe(after[i]) + ", neither " +
                Describe(before[i]) + (completed ? "" : " nor ") + (completed ? "" : Describe(change.changed)));
      } else if (i < keep && after[i] != before[i]) {
        Fault("record " + std::to_string(i + 1) + " changed from " + Describe(before[i]) + " to " +
              Describe(after[i]));
      }
    }
    for (size_t i = before.size(); i < after.size() && i - before.size() < change.appended.size(); ++i)
      if (after[i] != change.appended[i - before.size()])
        Fault("appended record " + std::to_string(i + 1) + " is " + Describe(after[i]) + ", not " +
              Describe(change.appended[i - before.size()]));
  }

  // A record written behind the header's count (killed before the count was
  // updated) is read by the engine and dbfread, not by python3-dbf; the next write
  // of the table takes it in and updates the count.
  void CheckCount(const Change& change, bool completed) {
    const bool writes = Writes(change.command);
    if (m_table.count == CountState::Wrong) Fault("the header count does not match the file's length");
    if (m_table.count == CountState::OnePast && completed && writes)
      Fault("a record past the header count was not taken in by this write");
    if (m_table.count == CountState::OnePast) ++m_countPending;
  }
  static bool Writes(Command c) { return c == Command::Import || c == Command::Set || c == Command::SetNew; }

  void CheckIndex(Command c, bool completed) {
    m_index = ReadIndexState(m_work);
    if (!m_index.error.empty()) {
      Fault("CATALOG.NDX does not walk: " + m_index.error);
      return;
    }
    const bool exact = m_index.entries == ExpectedIndex(m_table.records);
    if (m_index.marked) ++m_marked;
    if (m_index.marked && !exact && m_markedWrong++ < 3) m_markedWhere += "\nmarked and differing after " + m_step;
    if (m_index.current && !exact) Fault("CATALOG.NDX is taken as current but does not hold the table's keys");
    const bool keyed = c == Command::Set || c == Command::SetNew || c == Command::Reindex;
    if (completed && keyed && !(m_index.current && exact)) Fault("CATALOG.NDX is not current after the command");
  }

  // A work file left by a killed run must not trouble a later one (every run that
  // ends by itself must succeed, above); the next build removes those of pages,
  // the next reindex those of the index.
  void CheckStrays(Command c, bool completed) {
    const std::vector<std::string> strays = StrayFiles(m_work);
    for (const std::string& s : strays)
      if (completed && ((c == Command::Build && s.find(".qm") != std::string::npos) ||
                        (c == Command::Reindex && s.rfind("CATALOG.NDX.", 0) == 0)))
        Fault("the work file " + s + " of a killed run is still there");
    for (const std::string& s : strays) {
      if (!m_seenStrays.insert(s).second) continue;
      ++m_stats[static_cast<int>(c)].strays;
      std::string kind = std::string(kCommandNames[static_cast<int>(c)]) + ": ";
      for (char ch : s) kind += std::isdigit(static_cast<unsigned char>(ch)) ? '9' : ch;
      m_strayKinds.insert(kind);
    }
    m_straysRemaining = strays.size();
  }

  void Snapshot() {
    const std::string dir = m_root + "/snaps/" + std::to_string(m_snapshotSerial++);
    fs::create_directories(dir);
    for (const char* f : {"/CATALOG.DBF", "/CATALOG.DBT", "/CATALOG.NDX"})
      if (fs::exists(m_work + f)) fs::copy_file(m_work + f, dir + f);
    std::string expected, walk;
    for (const Product& p : m_table.records) expected += PeerLine(p) + "\n";
    for (const IndexEntry& e : m_index.entries) walk += WalkLine(e) + "\n";
    WriteFile(dir + "/expected.txt", expected);
    WriteFile(dir + "/walk.txt", m_index.error.empty() ? walk : "(no walk)\n");
    WriteFile(dir + "/count.txt", std::to_string(m_table.headerCount));
    m_snapshots.push_back({dir, m_step});
  }

  // One python3 run reads every snapshot with python3-dbf and dbfread, one Perl
  // run walks every snapshot's index with XBase::Index.
  void CheckWithPeers() {
    if (m_snapshots.empty()) return;
    std::string list;
    std::vector<std::string> perl{"/usr/bin/perl", QM_TEST_DATA "/index/walk_ndx.pl"};
    for (const auto& [dir, step] : m_snapshots) {
      list += dir + "/CATALOG.DBF\t" + dir + "/expected.txt\t" + ReadFile(dir + "/count.txt") + "\n";
      perl.push_back(dir + "/CATALOG.NDX");
    }
    WriteFile(m_root + "/side/peers.txt", list);
    const std::string peerLog = m_root + "/logs/peers.txt";
    const RunOutcome py = RunPeer({"/usr/bin/python3", QM_SOURCE_DIR "/tests/dbf/interop_peer.py", "check-list",
                                   m_root + "/side/peers.txt"}, peerLog);
    if (py.status != 0) m_faults.push_back("python3-dbf / dbfread disagree with the engine:\n" + ReadFile(peerLog));
    RunPeer(perl, peerLog);
    CheckPerlWalks(ReadFile(peerLog));
    m_peerChecked += m_snapshots.size();
    if (py.status == 0 || EnvInt("QM_KILL_KEEP", 0) == 0)
      for (const auto& [dir, step] : m_snapshots) fs::remove_all(dir);
    m_snapshots.clear();
  }

  RunOutcome RunPeer(const std::vector<std::string>& argv, const std::string& log) {
    return RunKilled(argv, m_root, log, -1);
  }

  void CheckPerlWalks(const std::string& output) {
    std::map<std::string, std::string> walks;  // snapshot folder -> Perl's lines
    // The walker names each file only when it is given several.
    std::string current = m_snapshots.size() == 1 ? m_snapshots[0].first : std::string();
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("==> ", 0) == 0) current = fs::path(line.substr(4)).parent_path().string();
      else walks[current] += line + "\n";
    }
    for (const auto& [dir, step] : m_snapshots) {
      const std::string expected = ReadFile(dir + "/walk.txt");
      if (expected != "(no walk)\n" && walks[dir] != expected)
        m_faults.push_back(step + "Perl XBase walks CATALOG.NDX differently from the engine:\n" + walks[dir]);
    }
  }

  std::string m_root, m_work;
  int m_rows;
  std::mt19937 m_random;
  int m_serial = 0;
  Products m_template, m_model;
  TableState m_table;
  IndexState m_index;
  std::string m_step, m_markedWhere;
  CommandStats m_stats[kCommands];
  std::set<std::string> m_seenStrays, m_strayKinds;
  size_t m_straysRemaining = 0;
  int m_countPending = 0, m_marked = 0, m_markedWrong = 0;
  std::vector<std::pair<std::string, std::string>> m_snapshots;
  int m_snapshotSerial = 0;
  size_t m_peerChecked = 0;
  std::vector<std::string> m_faults;
  double m_seconds = 0;
};

TEST(CrashConsistencyTest, KilledCommandsLeaveWholeTablesIndexesAndPages) {
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  root.setAutoRemove(EnvInt("QM_KILL_KEEP", 0) == 0);  // kept for a look at what a fault left
  const unsigned seed = static_cast<unsigned>(EnvInt("QM_KILL_SEED", static_cast<int>(std::random_device{}() >> 1)));
  KillScenario scenario(root.path().toStdString(), EnvInt("QM_KILL_ROWS", 150), seed);
  scenario.MakeTemplate();
  ASSERT_FALSE(HasFatalFailure());
  scenario.Run(EnvInt("QM_KILL_COUNT", 210), std::max(1, EnvInt("QM_KILL_PEER_EVERY", 1)));
  std::printf("crash consistency in %s, seed %u\n%s\n", root.path().toUtf8().constData(), seed,
              scenario.Summary().c_str());
  for (const std::string& f : scenario.Faults()) ADD_FAILURE() << f;
}

// What a set killed between two page writes leaves: the change mark in the
// header and a leaf without the new key, the file newer than the table. The next
// set must not trust it: it rebuilds, finds the product and clears the mark.
TEST(CrashConsistencyTest, IndexLeftMidChangeIsRebuiltByTheNextCommand) {
  QTemporaryDir root;
  KillScenario scenario(root.path().toStdString(), 0, 1);  // for its environment only
  const std::string dir = root.path().toStdString() + "/work";
  auto cli = [&](std::vector<std::string> args) {
    args.insert(args.begin(), QM_CLI);
    return RunKilled(args, dir, root.path().toStdString() + "/logs/run.txt", -1).status;
  };
  ASSERT_EQ(cli({"create", "CODE:8", "NAME:24"}), 0);
  for (const char* key : {"A", "B", "C"}) ASSERT_EQ(cli({"set", "--new", key, "NAME=x", "SNOTES=notes"}), 0);
  std::string ndx = ReadFile(dir + "/CATALOG.NDX");
  ASSERT_EQ(ndx[8], 0);
  ndx[8] = 1;
  const size_t rootPage = static_cast<uint8_t>(ndx[0]) * size_t{512};
  ASSERT_EQ(ndx[rootPage], 3);  // the root is the only leaf: A, B, C
  ndx[rootPage] = 2;            // C's entry not yet written
  WriteFile(dir + "/CATALOG.NDX", ndx);
  EXPECT_FALSE(ProductTable(dir).IndexIsCurrent());
  EXPECT_EQ(cli({"set", "C", "NAME=changed"}), 0) << ReadFile(root.path().toStdString() + "/logs/run.txt");
  const TableState table = ReadTableState(dir);
  const IndexState index = ReadIndexState(dir);
  EXPECT_EQ(index.error, "");
  EXPECT_EQ(index.entries, ExpectedIndex(table.records));
  EXPECT_TRUE(index.current);
  EXPECT_EQ(ReadFile(dir + "/CATALOG.NDX")[8], 0);
}

}  // namespace
}  // namespace qm::catalog::test

// The disk failing under the table engine. Every write that an append or a
// replace makes to the table and to its memo file fails once, as no space, as
// an I/O error and as a write that stops half way. Each time the failure is
// reported naming the file, the table counts only what was written, the
// record is wholly old or wholly new, python3-dbf and dbfread read the files,
// and the same write done again on a healthy disk works.

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "dbf/char_tables.h"
#include "dbf/table.h"
#include "dbf/table_creator.h"
#include "dbf_test_util.h"
#include "faulty_disk.h"
#include "process_run_util.h"

namespace qm::dbf {
namespace {

namespace fs = std::filesystem;

struct Product {
  std::string code, name, notes;
  bool operator==(const Product&) const = default;
  friend std::ostream& operator<<(std::ostream& out, const Product& p) {
    return out << p.code << "|" << p.name << "|" << p.notes.size() << " memo bytes";
  }
};

const std::vector<Product> kStock = {
    {"P-1", "Lamp", "brass, 40 cm"}, {"P-2", "Chair", std::string(700, 'c')}, {"P-3", "Desk", ""}};
const Product kAdded = {"P-4", "Shelf", "oak\r\nthree boards"};
const Product kChanged = {"P-2", "Armchair", std::string(1200, 'a')};

bool Put(TbrTable& table, const Product& p) {
  table.FieldPut(1, p.code);
  table.FieldPut(2, p.name);
  return table.WriteMemo(3, p.notes);
}

// The products as the engine reads them from a fresh open, in file order.
std::vector<Product> ReadBack(const std::string& path, int32_t* count) {
  TbrTable table(path, kOpenSharedReadOnly);
  std::vector<Product> rows;
  if (!table.OpenTable()) return rows;
  *count = table.RecordCount();
  for (int32_t n = 1; n <= table.RecordCount() && table.GoTo(n); ++n)
    rows.push_back({table.Text(1), table.Text(2), table.MemoText(3)});
  return rows;
}

std::string Hex(const std::string& text) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : Cp437ToUtf8(text)) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

class InjectedFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(m_dir.File("stock"));
    const std::string table = Stock();
    TbrTableCreator creator(table, TbrDBFTypes::DBaseIII);
    creator.AddField("CODE", 'C', 8, 0);
    creator.AddField("NAME", 'C', 20, 0);
    creator.AddField("SNOTES", 'M', 10, 0);
    ASSERT_TRUE(creator.Create());
    TbrTable t(table, kOpenSharedReadWrite);
    ASSERT_TRUE(t.OpenTable());
    for (const Product& p : kStock) {
      t.BlankRecord();
      ASSERT_TRUE(Put(t, p) && t.AppendRecord());
    }
  }

  std::string Stock() const { return m_dir.File("stock/CATALOG.DBF"); }

  // A fresh copy of the stock table for one case.
  std::string Copy(const std::string& name) {
    const fs::path dir = m_dir.File(name);
    fs::create_directories(dir);
    for (const auto& entry : fs::directory_iterator(m_dir.File("stock")))
      fs::copy_file(entry.path(), dir / entry.path().filename());
    return (dir / "CATALOG.DBF").string();
  }

  // A copy of the table's folder as it stands now.
  std::string Snapshot(const std::string& table, const std::string& name) {
    const fs::path dir = m_dir.File(name);
    fs::copy(fs::path(table).parent_path(), dir);
    return (dir / fs::path(table).filename()).string();
  }

  // Adds the table to the peers' list with the products it must hold.
  void ForPeers(const std::string& table, const std::vector<Product>& rows) {
    std::string lines;
    for (const Product& p : rows)
      lines += "-\t" + Hex(p.code) + "\t" + Hex(p.name) + "\t" + Hex(p.notes) + "\n";
    test::WriteFileBytes(table + ".expected", lines);
    m_peerList += table + "\t" + table + ".expected\n";
  }

  void CheckWithPeers() {
    test::WriteFileBytes(m_dir.File("peers.list"), m_peerList);
    const test::ProcessResult r =
        test::RunPeerScript("interop_peer.py", {"check-list", m_dir.File("peers.list")}, m_dir.Path());
    EXPECT_EQ(r.status, 0) << r.out << r.err;
  }

  // One write, done with the nth write to `file` failing; then checks what the
  // failure left and does the write again on a healthy disk.
  template <typename Change>
  void Sweep(const char* what, const char* file, Change change, const std::vector<Product>& after) {
    int writes = 0;
    {
      const std::string table = Copy(std::string(what) + "-" + file + "-count");
      test::FaultyDisk counting(file, 0, test::DiskFault::kNoSpace);
      TbrTable t(table, kOpenSharedReadWrite);
      ASSERT_TRUE(t.OpenTable());
      ASSERT_TRUE(change(t));
      writes = counting.Writes();
    }
    ASSERT_GT(writes, 0) << what << " writes nothing to " << file;
    for (int nth = 1; nth <= writes; ++nth) {
      for (test::DiskFault fault : test::kEveryDiskFault) {
        const std::string name = std::string(what) + "-" + file + "-" + std::to_string(nth) + "-" +
                                 std::to_string(static_cast<int>(fault));
        SCOPED_TRACE(name + " (" + test::FaultName(fault) + ")");
        const std::string table = Copy(name);
        test::ReportRecorder reports;
        bool done;
        {
          test::FaultyDisk disk(file, nth, fault);
          TbrTable t(table, kOpenSharedReadWrite);
          ASSERT_TRUE(t.OpenTable());
          done = change(t);
          ASSERT_TRUE(disk.Fired());
        }
        int32_t count = -1;
        const std::vector<Product> rows = ReadBack(table, &count);
        if (done) {
          // A failed write the engine could repeat in full is no failure.
          EXPECT_EQ(rows, after);
        } else {
          ASSERT_FALSE(reports.Reports().empty()) << "a failure nobody was told of";
          const std::string& text = reports.Reports().front().text;
          EXPECT_NE(text.find(file), std::string::npos) << "the report names another file: " << text;
          // Wholly before or wholly after; never a record counted that was not written.
          EXPECT_TRUE(rows == kStock || rows == after) << "a torn write: " << rows.size() << " rows";
          EXPECT_EQ(count, static_cast<int32_t>(rows.size()));
        }
        ForPeers(Snapshot(table, name + "-as-left"), rows);
        TbrTable again(table, kOpenSharedReadWrite);
        ASSERT_TRUE(again.OpenTable());
        if (rows == kStock) {
          ASSERT_TRUE(change(again)) << "the write fails on a healthy disk";
        }
        again.CloseTable();
        int32_t recounted = -1;
        EXPECT_EQ(ReadBack(table, &recounted), after);
        ForPeers(table, after);
      }
    }
  }

  test::ScratchDir m_dir;
  std::string m_peerList;
};

TEST_F(InjectedFaults, EveryWriteOfAnAppendOrAReplaceMayFail) {
  auto append = [](TbrTable& t) {
    t.BlankRecord();
    return Put(t, kAdded) && t.AppendRecord();
  };
  auto replace = [](TbrTable& t) {
    return t.GoTo(2) && Put(t, kChanged) && t.ReplaceRecord(2);
  };
  std::vector<Product> appended = kStock;
  appended.push_back(kAdded);
  std::vector<Product> replaced = kStock;
  replaced[1] = kChanged;
  Sweep("append", "CATALOG.DBF", append, appended);
  Sweep("append", "CATALOG.DBT", append, appended);
  Sweep("replace", "CATALOG.DBF", replace, replaced);
  Sweep("replace", "CATALOG.DBT", replace, replaced);
  CheckWithPeers();
}

}  // namespace
}  // namespace qm::dbf

// The disk failing under the product table's index, its rebuild and the
// settings store, at every write they make, in three ways (no space, an I/O
// error, a write that stops half way); and a real full disk under an import.
// Each failure is reported naming the file, what was stored stays readable
// (Perl XBase walks the index the next open leaves), and the next operation
// works.

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/core/product_import.h"
#include "app/core/product_table.h"
#include "app/core/settings_store.h"
#include "dbf/scope_exit.h"
#include "cli_run_util.h"
#include "tests/dbf/faulty_disk.h"

namespace qm::catalog {
namespace {

namespace fs = std::filesystem;
using dbf::test::DiskFault;
using dbf::test::FaultyDisk;

std::string Key(int n) {
  char text[16];
  std::snprintf(text, sizeof text, "K%05d", n);
  return text;
}

// Copies a folder keeping modification times: an index copied after its table
// must not look newer or older than it was.
void CopyFolder(const fs::path& from, const fs::path& to) {
  fs::create_directories(to);
  for (const auto& entry : fs::directory_iterator(from)) {
    const fs::path target = to / entry.path().filename();
    fs::copy_file(entry.path(), target, fs::copy_options::overwrite_existing);
    fs::last_write_time(target, fs::last_write_time(entry.path()));
  }
}

std::string RunText(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class InjectedFaults : public ::testing::Test {
 protected:
  std::string Dir(const std::string& name) const { return (fs::path(m_work.path().toStdString()) / name).string(); }

  // The live products in key order through the module (rebuilding the index when the
  // last write left it out of step), and the same as Perl XBase walks CATALOG.NDX.
  std::vector<std::string> KeyOrder(const std::string& dir) {
    std::vector<std::string> keys;
    ProductTable table(dir);
    table.Open(ProductOrder::Key);
    auto& ds = table.DataSet();
    for (ds.First(); !ds.Eof(); ds.Next()) keys.push_back(ds.Fields(0).AsString());
    table.Close();
    std::istringstream walk(RunText("/usr/bin/perl " QM_SOURCE_DIR "/tests/data/index/walk_ndx.pl '" + dir +
                                    "/CATALOG.NDX' 2>&1"));
    std::vector<std::string> walked;
    for (std::string line; std::getline(walk, line);) walked.push_back(line.substr(0, line.find('\t')));
    EXPECT_EQ(walked, keys) << "Perl XBase walks another index than the table's";
    return keys;
  }

  // Appends one product through the module; the error's text when it fails.
  static std::string AddProduct(const std::string& dir, int n) {
    try {
      ProductTable table(dir);
      table.Open(ProductOrder::Key);
      table.DataSet().Append();
      table.KeyField().SetAsString(Key(n));
      table.DataSet().Fields(1).SetAsString("name " + std::to_string(n));
      table.DataSet().Post();
      return {};
    } catch (const std::exception& e) {
      return std::string(e.what()).empty() ? "?" : e.what();
    }
  }

  // Rebuilds CATALOG.NDX through the module; the error's text when it fails.
  static std::string Rebuild(const std::string& dir) {
    try {
      ProductTable table(dir);
      table.Open(ProductOrder::Entry);
      table.EnsureIndex(IndexRebuild::Always);
      return {};
    } catch (const std::exception& e) {
      return e.what();
    }
  }

  QTemporaryDir m_work;
};

TEST_F(InjectedFaults, EveryWriteOfAnIndexPageSplitMayFail) {
  const std::string stock = Dir("stock");
  fs::create_directories(stock);
  ProductTable::Create({{"CODE", 8}, {"NAME", 12}}, false, stock);
  // Products go in until an append makes more index writes than a plain one: it
  // splits a page, and its writes are swept.
  int products = 0, writes = 0, plain = 0;
  for (;; ++products) {
    ASSERT_LT(products, 200) << "no append split a page";
    CopyFolder(stock, Dir("probe"));
    {
      FaultyDisk counting("CATALOG.NDX", 0, DiskFault::kNoSpace);
      ASSERT_EQ(AddProduct(Dir("probe"), products), "");
      writes = counting.Writes();
    }
    if (products == 5) plain = writes;
    if (plain != 0 && writes > plain) break;
    ASSERT_EQ(AddProduct(stock, products), "");
  }
  std::vector<std::string> before = KeyOrder(stock);
  std::vector<std::string> after = before;
  after.push_back(Key(products));
  for (int nth = 1; nth <= writes; ++nth) {
    for (DiskFault fault : dbf::test::kEveryDiskFault) {
      const std::string dir = Dir("split-" + std::to_string(nth) + "-" + dbf::test::FaultName(fault));
      SCOPED_TRACE(dir);
      CopyFolder(stock, dir);
      ProductTable window(dir);  // open on the same table before the fault, as a window is
      window.Open(ProductOrder::Key);
      std::string error;
      {
        FaultyDisk disk("CATALOG.NDX", nth, fault);
        error = AddProduct(dir, products);
        ASSERT_TRUE(disk.Fired());
      }
      EXPECT_NE(error.find("CATALOG.NDX"), std::string::npos) << "not reported naming the index: " << error;
      // The window goes on adding; its writes must not make the index look current.
      window.DataSet().Append();
      window.KeyField().SetAsString(Key(products + 1));
      window.DataSet().Post();
      window.Close();
      // The failed product is in (its record was written before the index) or out (the
      // first index write failed, so nothing was); the next open rebuilds the index
      // around what the table holds.
      const std::vector<std::string> found = KeyOrder(dir);
      std::vector<std::string> more = std::count(found.begin(), found.end(), Key(products)) ? after : before;
      more.push_back(Key(products + 1));
      EXPECT_EQ(found, more);
      EXPECT_EQ(AddProduct(dir, products + 2), "");
      more.push_back(Key(products + 2));
      EXPECT_EQ(KeyOrder(dir), more);
    }
  }
}

TEST_F(InjectedFaults, EveryWriteOfAnIndexRebuildMayFail) {
  const std::string stock = Dir("stock");
  fs::create_directories(stock);
  ProductTable::Create({{"CODE", 8}, {"NAME", 12}}, false, stock);
  for (int n = 300; n > 0; --n) ASSERT_EQ(AddProduct(stock, n * 8 % 301), "");  // each key once
  const std::vector<std::string> keys = KeyOrder(stock);
  int writes = 0;
  {
    CopyFolder(stock, Dir("probe"));
    FaultyDisk counting("CATALOG.NDX", 0, DiskFault::kNoSpace);  // the work file and the copy into place
    ASSERT_EQ(Rebuild(Dir("probe")), "");
    writes = counting.Writes();
  }
  ASSERT_GT(writes, 2);
  for (int nth = 1; nth <= writes; ++nth) {
    for (DiskFault fault : dbf::test::kEveryDiskFault) {
      const std::string dir = Dir("rebuild-" + std::to_string(nth) + "-" + dbf::test::FaultName(fault));
      SCOPED_TRACE(dir);
      CopyFolder(stock, dir);
      std::string error;
      {
        FaultyDisk disk("CATALOG.NDX", nth, fault);
        error = Rebuild(dir);
        ASSERT_TRUE(disk.Fired());
      }
      EXPECT_NE(error.find("CATALOG.NDX"), std::string::npos) << "not reported naming the index: " << error;
      EXPECT_EQ(KeyOrder(dir), keys);
      for (const auto& entry : fs::directory_iterator(dir))
        EXPECT_TRUE(entry.path().extension() != ".TMP" && entry.path().extension() != ".CPL")
            << "work file left behind: " << entry.path();
    }
  }
}

// A rebuild large enough to spill its keys to a sort work file (.CPL), failing
// at that file's first and last write.
TEST_F(InjectedFaults, ASortWorkFileThatFailsLeavesTheIndexAsItWas) {
  const std::string stock = Dir("stock");
  fs::create_directories(stock);
  ProductTable::Create({{"CODE", 8}, {"NAME", 12}}, false, stock);
  std::string csv = "CODE,NAME\n";
  for (int n = 40000; n > 0; --n) csv += Key(n * 7919 % 40009) + ",p\n";
  std::ofstream(Dir("rows.csv")) << csv;
  ImportProducts(Dir("rows.csv"), stock + "/" + kProductTableName, {});
  const std::vector<std::string> keys = KeyOrder(stock);
  ASSERT_EQ(keys.size(), 40000u);
  int writes = 0;
  {
    FaultyDisk counting(".CPL", 0, DiskFault::kNoSpace);
    ASSERT_EQ(Rebuild(stock), "");
    writes = counting.Writes();
  }
  ASSERT_GT(writes, 0) << "the rebuild did not spill";
  for (int nth : {1, writes}) {
    for (DiskFault fault : dbf::test::kEveryDiskFault) {
      SCOPED_TRACE(std::to_string(nth) + " " + dbf::test::FaultName(fault));
      const std::string index = ReadFile(stock + "/" + kProductIndexFile);
      std::string error;
      {
        FaultyDisk disk(".CPL", nth, fault);
        error = Rebuild(stock);
        ASSERT_TRUE(disk.Fired());
      }
      EXPECT_NE(error.find(".CPL"), std::string::npos) << "not reported naming the work file: " << error;
      EXPECT_EQ(ReadFile(stock + "/" + kProductIndexFile), index) << "a failed sort touched the index";
      for (const auto& entry : fs::directory_iterator(fs::current_path()))
        EXPECT_NE(entry.path().extension(), ".CPL") << "sort work file left behind: " << entry.path();
    }
  }
  EXPECT_EQ(KeyOrder(stock), keys);
}

TEST_F(InjectedFaults, EveryWriteOfASettingsSaveMayFail) {
  const QString path = QString::fromStdString(Dir("settings/quillmart.ini"));
  {
    SettingsStore store(path);
    store.WriteString("Site", "Host", "ftp.example.org");
    store.WriteString("Site", "User", "shop");
  }
  const std::string file = path.toStdString();
  std::ifstream in(file, std::ios::binary);
  const std::string saved((std::istreambuf_iterator<char>(in)), {});
  for (DiskFault fault : dbf::test::kEveryDiskFault) {
    SCOPED_TRACE(dbf::test::FaultName(fault));
    SettingsStore store(path);
    {
      FaultyDisk disk("quillmart.ini", 1, fault);
      try {
        store.WriteString("Site", "Host", "ftp.changed.example");
        ADD_FAILURE() << "a failed save reported as done";
      } catch (const SettingsError& e) {
        EXPECT_NE(std::string(e.what()).find("Host"), std::string::npos) << e.what();
        EXPECT_EQ(e.StorePath(), file);
      }
      ASSERT_TRUE(disk.Fired());
    }
    std::ifstream again(file, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(again)), {}), saved);
    EXPECT_EQ(store.ReadString("Site", "Host", ""), "ftp.example.org") << "the store claims what it did not write";
    const auto entries = std::distance(fs::directory_iterator(fs::path(file).parent_path()), {});
    EXPECT_EQ(entries, 1) << "a work file is left beside the store";
  }
  SettingsStore store(path);
  store.WriteString("Site", "Host", "ftp.changed.example");
  EXPECT_EQ(SettingsStore(path).ReadString("Site", "Host", ""), "ftp.changed.example");
}

// A real disk that fills up under an import: a small file system mounted for
// the test where that is permitted, else a file size limit on the companion.
// A product's write that the disk refuses after its notes went to the memo
// file: the notes go again, so the refused change leaves both files as they
// were, and the message names what failed (never a bare engine word).
TEST_F(InjectedFaults, ARefusedProductWriteTakesItsNotesBack) {
  const std::string dir = Dir("notes");
  fs::create_directories(dir);
  ProductTable::Create({{"CODE", 8}, {"NAME", 20}}, false, dir);
  ASSERT_EQ(AddProduct(dir, 1), "");
  const std::string table = ReadFile(dir + "/CATALOG.DBF");
  const std::string memo = ReadFile(dir + "/CATALOG.DBT");
  for (DiskFault fault : dbf::test::kEveryDiskFault) {
    for (bool append : {false, true}) {
      SCOPED_TRACE(std::string(dbf::test::FaultName(fault)) + (append ? ", new product" : ", edit"));
      std::string message;
      {
        ProductTable products(dir);
        products.Open(ProductOrder::Key);
        auto& ds = products.DataSet();
        FaultyDisk disk("CATALOG.DBF", 1, fault);
        try {
          if (append) {
            ds.Append();
            products.KeyField().SetAsString(Key(2));
          } else {
            ASSERT_TRUE(products.FindProduct(Key(1)));
            ds.Edit();
          }
          products.MemoField()->SetAsString(std::string(700, 'n'));
          ds.Post();
        } catch (const std::exception& e) {
          message = e.what();
        }
        EXPECT_TRUE(disk.Fired());
      }
      EXPECT_FALSE(message.empty());
      EXPECT_NE(message, "Bramble Error");
      EXPECT_NE(message.find("CATALOG.DBF"), std::string::npos) << message;
      EXPECT_EQ(ReadFile(dir + "/CATALOG.DBT"), memo) << "the refused write left its notes behind";
      EXPECT_EQ(ReadFile(dir + "/CATALOG.DBF"), table);
    }
  }
}

TEST_F(InjectedFaults, AFullDiskStopsAnImportWithAClearMessageAndAReadableTable) {
  test::CliScratch cli;
  const QString shop = cli.Path("shop");
  QDir().mkpath(shop);
  const bool mounted = ::mount("tmpfs", shop.toLocal8Bit().constData(), "tmpfs", 0, "size=256k") == 0;
  dbf::TbrScopeExit unmount([&] {
    if (mounted) ::umount2(shop.toLocal8Bit().constData(), MNT_DETACH);
  });
  ASSERT_EQ(cli.Run({"create", "CODE:8", "NAME:20"}, shop).status, 0);
  QByteArray csv = "CODE,NAME,SNOTES\r\n";
  for (int n = 1; n <= 400; ++n)
    csv += QByteArray(Key(n).c_str()) + ",Product " + QByteArray::number(n) + "," + QByteArray(1500, 'x') + "\r\n";
  cli.Write("rows.csv", csv);
  const QString limit = mounted ? QString() : QStringLiteral("trap '' XFSZ; ulimit -f 256; ");
  const test::CliResult r =
      cli.Shell(limit + "cd '" + shop + "' && " QM_CLI " import ../rows.csv");
  const std::string err = r.err.toStdString();
  EXPECT_EQ(r.status, 1) << err;
  EXPECT_NE(err.find("disk full"), std::string::npos) << err;
  const auto at = err.find("not appended; ");
  ASSERT_NE(at, std::string::npos) << "the message does not say how far the import got: " << err;
  const int appended = std::stoi(err.substr(at + 14));
  EXPECT_GT(appended, 0);
  // Exactly the rows it says went in, read back by the companion and by dbfread.
  const test::CliResult dump = cli.Run({"dump"}, shop);
  EXPECT_EQ(dump.status, 0) << dump.err.toStdString();
  EXPECT_EQ(dump.out.count('\n'), appended + 1) << "header line plus one line per row";
  const std::string counted = RunText("/usr/bin/python3 -c \"import dbfread; print(len(dbfread.DBF('" +
                                      shop.toStdString() + "/CATALOG.DBF', encoding='cp437')))\"");
  EXPECT_EQ(counted, std::to_string(appended) + "\n");
}

}  // namespace
}  // namespace qm::catalog

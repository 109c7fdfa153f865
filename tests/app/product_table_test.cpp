// The product table module and the companion's set, delete and recall, as a
// user runs them in a scratch folder; two companions editing one table at once.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "app/core/engine_record_source.h"
#include "app/core/plain_messages.h"
#include "dbf/errors.h"
#include "app/core/product_table.h"
#include "dataset/bramble_engine.h"
#include "dbf/lock_regions.h"
#include "record_source_util.h"

namespace qm::catalog {
namespace {

class ProductTableTest : public ::testing::Test {
 protected:
  struct Result {
    int status;
    std::string out, err;
  };
  Result Cli(const QStringList& args) {
    const test::CliResult r = test::RunCli(work.path(), work.path(), args);
    return {r.status, r.out.toStdString(), r.err.toStdString()};
  }
  std::string Dir() const { return work.path().toStdString(); }
  std::string Bytes(const char* name) const {
    std::ifstream in(Dir() + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // Products in key order as the module's dataset shows them: "KEY=NAME|notes;".
  std::string KeyOrder() {
    ProductTable table(Dir());
    table.Open(ProductOrder::Key);
    std::string out;
    auto& ds = table.DataSet();
    for (ds.First(); !ds.Eof(); ds.Next())
      out += ds.Fields(0).AsString() + "=" + ds.Fields(1).AsString() + "|" + table.MemoField()->AsString() + ";";
    return out;
  }
  void ExpectRefused(const QStringList& args, const std::string& text) {
    const std::string table = Bytes("CATALOG.DBF"), memo = Bytes("CATALOG.DBT");
    const Result r = Cli(args);
    EXPECT_EQ(r.status, 1) << args.join(' ').toStdString();
    EXPECT_NE(r.err.find(text), std::string::npos) << r.err;
    EXPECT_EQ(Bytes("CATALOG.DBF"), table);
    EXPECT_EQ(Bytes("CATALOG.DBT"), memo);
  }
  QTemporaryDir work;
};

TEST_F(ProductTableTest, FieldRulesAreCheckedInTheUsersTerms) {
  auto message = [&](const std::vector<ProductField>& fields) {
    try {
      ProductTable::Create(fields, true, Dir());
    } catch (const ProductTableError& e) {
      return std::string(e.what());
    }
    return std::string("(created)");
  };
  EXPECT_NE(message({{"CODE", 101}}).find("at most 100 characters wide"), std::string::npos);
  EXPECT_NE(message({{"A", 1}, {"B", 1}, {"C", 1}, {"D", 1}, {"E", 1}, {"F", 1}}).find("five"), std::string::npos);
  EXPECT_NE(message({{"CODE", 8}, {"code", 8}}).find("given twice"), std::string::npos);
  EXPECT_NE(message({{"SNOTES", 8}}).find("notes field"), std::string::npos);
  EXPECT_FALSE(QFile::exists(work.filePath("CATALOG.DBF")));
  EXPECT_EQ(message({{"CODE", 100}, {"NAME", 20}}), "(created)");
  ProductTable table(Dir());
  table.Open(ProductOrder::Entry);
  EXPECT_EQ(table.ProductFieldCount(), 2);
  ASSERT_NE(table.MemoField(), nullptr);
  EXPECT_EQ(table.MemoField()->FieldName(), kProductMemoField);
  EXPECT_NE(table.DataSet().TablePath().find("catalog.dbf"), std::string::npos);
}

// A character field as wide as a table can hold, 255, is made, filled to its
// last character, published, and read back the same by python3-dbf and dbfread.
TEST_F(ProductTableTest, AFieldOf255CharactersIsMadeFilledAndReadByThePeers) {
  Result r = Cli({"create", "CODE:8", "WIDE:256"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("field WIDE must be 1 to 255 characters wide, not 256"), std::string::npos) << r.err;
  ASSERT_EQ(Cli({"create", "CODE:8", "WIDE:255"}).status, 0);
  const std::string wide = std::string(251, 'w') + "\xC3\xA9\xC3\xA8\xC3\xA7\xC3\xB1";  // 255 characters
  r = Cli({"set", "--new", "A1", QString::fromStdString("WIDE=" + wide)});
  ASSERT_EQ(r.status, 0) << r.err;
  ExpectRefused({"set", "A1", QString::fromStdString("WIDE=x" + wide)}, "WIDE holds at most 255 characters; the value has 256");
  EXPECT_NE(Cli({"dump"}).out.find(wide), std::string::npos);
  ASSERT_EQ(Cli({"settings", "set", "Database", "Columns", "2"}).status, 0);
  ASSERT_EQ(Cli({"build"}).status, 0);
  EXPECT_NE(Bytes("catalog.htm").find(wide), std::string::npos);

  auto hex = [](const std::string& text) { return QByteArray::fromStdString(text).toHex().toStdString(); };
  std::ofstream(Dir() + "/expected.txt") << "-\t" << hex("A1") << "\t" << hex(wide) << "\t\n";
  QProcess peers;
  peers.start("/usr/bin/python3", {QM_SOURCE_DIR "/tests/dbf/interop_peer.py", "check",
                                   work.filePath("CATALOG.DBF"), work.filePath("expected.txt")});
  ASSERT_TRUE(peers.waitForFinished(60000));
  EXPECT_EQ(peers.exitCode(), 0) << peers.readAllStandardOutput().toStdString()
                                 << peers.readAllStandardError().toStdString();
}

TEST_F(ProductTableTest, SetDeleteRecallThroughTheKeyIndex) {
  ASSERT_EQ(Cli({"create", "CODE:6", "NAME:10"}).status, 0);
  EXPECT_EQ(Cli({"set", "B2", "NAME=Bee", "--new"}).out, "Product B2 added\n");
  std::ofstream(Dir() + "/notes.txt") << "Line one\r\nLine two caf\xC3\xA9";
  ASSERT_EQ(Cli({"set", "A1", "NAME=Ant", "SNOTES=@notes.txt", "--new"}).status, 0);
  EXPECT_EQ(KeyOrder(), "A1=Ant|Line one\r\nLine two caf\xC3\xA9;B2=Bee|;");
  EXPECT_EQ(Cli({"set", "B2", "name=Bumble"}).out, "Product B2 changed\n");

  ExpectRefused({"set", "C3", "NAME=x"}, "No product has the key C3");
  ExpectRefused({"set", "A1", "NAME=x", "--new"}, "A product with the key A1 exists already");
  ExpectRefused({"set", "A1", "PRICE=3"}, "Unknown field PRICE; the product table has CODE, NAME, SNOTES");
  ExpectRefused({"set", "A1", "NAME=far too long a name"}, "NAME holds at most 10 characters; the value has 19");
  ExpectRefused({"set", "A1", "NAME=\xE2\x82\xAC"}, "cannot be stored");
  ExpectRefused({"set", "A1", "CODE=B2"}, "A product with the key B2 exists already");
  ExpectRefused({"set", "A1", "SNOTES=@missing.txt"}, "Cannot read the notes file missing.txt");
  ExpectRefused({"set", "LONGKEY7", "NAME=x", "--new"}, "CODE holds at most 6 characters");

  EXPECT_EQ(Cli({"delete", "A1"}).out, "Product A1 deleted\n");
  EXPECT_EQ(KeyOrder(), "B2=Bumble|;");
  ExpectRefused({"set", "A1", "NAME=x"}, "The product A1 is deleted; recall it first");
  ExpectRefused({"set", "A1", "NAME=x", "--new"}, "A deleted product holds the key A1");
  ExpectRefused({"delete", "A1"}, "No product has the key A1");
  EXPECT_EQ(Cli({"recall", "A1"}).out, "Product A1 recalled\n");
  EXPECT_EQ(Cli({"recall", "A1"}).out, "Product A1 is not deleted\n");
  EXPECT_EQ(KeyOrder(), "A1=Ant|Line one\r\nLine two caf\xC3\xA9;B2=Bumble|;");
}

TEST_F(ProductTableTest, KeyOrderRebuildsAMissingOrOlderIndexAndRecordSourcesFollowTheOrder) {
  ProductTable::Create({{"CODE", 6}, {"NAME", 10}}, false, Dir());
  {
    ProductTable table(Dir());
    table.Open(ProductOrder::Entry);
    auto& ds = table.DataSet();
    for (const char* code : {"PEAR", "APPLE", "FIG"}) {
      ds.Append();
      ds.Fields(0).SetAsString(code);
      ds.Fields(1).SetAsString(std::string("n") + code);
      ds.Post();
    }
    ds.Append();
    ds.Fields(0).SetAsString("APPLE");
    EXPECT_THROW(ds.Post(), ProductTableError) << "the product table keeps one product per key";
    ds.Cancel();
    EXPECT_FALSE(table.IndexIsCurrent());
  }
  {
    // Another program writes the key twice.
    dbf::TbrTable plain(Dir() + "/CATALOG.DBF", dbf::kOpenSharedReadWrite);
    ASSERT_TRUE(plain.OpenTable());
    plain.BlankRecord();
    plain.FieldPut(1, "APPLE");
    plain.FieldPut(2, "nAPPLE");
    ASSERT_TRUE(plain.AppendRecord());
  }
  auto walk = [&](EngineRecordSource& source) {
    QStringList keys;
    for (source.First(); !source.Eof(); source.Next()) keys << source.FieldText(1);
    return keys.join(',');
  };
  {
    EngineRecordSource entry(work.filePath("catalog.dbf"));
    EXPECT_EQ(walk(entry), "PEAR,APPLE,FIG,APPLE");
    EngineRecordSource keyed(work.filePath("catalog.dbf"), ProductOrder::Key);
    EXPECT_EQ(walk(keyed), "APPLE,FIG,PEAR");
    EXPECT_TRUE(QFile::exists(work.filePath("CATALOG.NDX")));
  }

  // Another program appends without touching the index: the next keyed open rebuilds.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  {
    ProductTable table(Dir());
    table.Open(ProductOrder::Entry);
    table.DataSet().Append();
    table.DataSet().Fields(0).SetAsString("BANANA");
    table.DataSet().Post();
  }
  ProductTable table(Dir());
  table.Open(ProductOrder::Key);
  EXPECT_TRUE(table.IndexIsCurrent());
  EXPECT_TRUE(table.FindProduct("BANANA"));
  EXPECT_FALSE(table.FindProduct("BAN"));

  // The window's dataset: the source walks it and puts its cursor back.
  table.FindProduct("FIG");
  {
    EngineRecordSource shared(table.DataSet());
    EXPECT_EQ(walk(shared), "APPLE,BANANA,FIG,PEAR");
  }
  EXPECT_EQ(table.KeyField().AsString(), "FIG");
}

// A companion that meets another program's lock gives up after its retries,
// names the locked file in plain words and writes nothing.
TEST_F(ProductTableTest, ALockHeldByAnotherProgramIsRefusedInPlainWordsAndChangesNothing) {
  ASSERT_EQ(Cli({"create", "CODE:6", "NAME:10"}).status, 0);
  ASSERT_EQ(Cli({"set", "A1", "NAME=Ant", "--new"}).status, 0);
  std::ofstream(Dir() + "/notes.txt") << "Notes that must not be left behind";
  auto hold = [&](const char* name, dbf::TbrLockRegion region) {
    const int fd = ::open((Dir() + "/" + name).c_str(), O_RDWR);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_start = region.offset;
    lock.l_len = region.length;
    EXPECT_EQ(::fcntl(fd, F_OFD_SETLK, &lock), 0);
    return fd;
  };
  int held = hold("CATALOG.NDX", dbf::FileLockRegion(dbf::TbrLokProtocol::Default));
  ExpectRefused({"set", "A1", "NAME=Bee", "SNOTES=@notes.txt"}, "CATALOG.NDX is locked by another program");
  ::close(held);
  held = hold("CATALOG.DBF", dbf::kHeaderLockRegion);
  ExpectRefused({"set", "B2", "NAME=Bee", "SNOTES=@notes.txt", "--new"}, "CATALOG.DBF is locked by another program");
  ::close(held);
  EXPECT_EQ(KeyOrder(), "A1=Ant|;");
  // Such plain words quoted inside a longer message (a reader's refused rebuild)
  // stay as they are when the message is reported.
  const std::string quoted = "CATALOG.NDX could not be rebuilt (" +
                             PlainEngineMessage(dbf::code::kLockViolation, 1112, "CATALOG.NDX") +
                             "); quillmart-cli reindex rebuilds it";
  EXPECT_EQ(PlainMessage(std::runtime_error(quoted)), quoted);
}

// Another program rebuilds CATALOG.NDX when it finds it does not describe the table
// and, under the table's whole-file lock, still older. While an append puts its
// key in, either the index must already look current or the table must be
// locked; otherwise the index is rebuilt under the appender's feet.
TEST_F(ProductTableTest, AnAppendUnderWayNeverLetsAnotherProgramTakeTheIndexForStale) {
  ProductTable::Create({{"CODE", 6}, {"NAME", 10}}, false, Dir());
  ProductTable writer(Dir());
  writer.Open(ProductOrder::Key);
  auto& ds = writer.DataSet();
  // Whether any program holds a lock the whole-file lock would wait for.
  auto tableLocked = [&] {
    const int fd = ::open(writer.TablePath().c_str(), O_RDONLY);
    struct flock probe = {};
    probe.l_type = F_WRLCK;
    probe.l_len = 0xFFFFFFFFll;
    const bool locked = ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    ::close(fd);
    return locked;
  };
  int looks = 0;
  ds.Engine()->OnFormula = [&](std::string_view, std::string_view, std::string&, char&, bool&) {
    ++looks;  // asked for the key while it is being put in
    EXPECT_TRUE(ProductTable(Dir()).IndexIsCurrent() || tableLocked());
    return false;
  };
  for (const char* code : {"PEAR", "APPLE", "FIG"}) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a later time stamp than the index's
    ds.Append();
    ds.Fields(0).SetAsString(code);
    ds.Post();
  }
  EXPECT_GE(looks, 3);
  EXPECT_TRUE(writer.IndexIsCurrent());
}

// Two companions edit different products of one table at the same time.
TEST_F(ProductTableTest, TwoProcessesEditingDifferentProductsLoseNothing) {
  ASSERT_EQ(Cli({"create", "CODE:6", "NAME:10"}).status, 0);
  for (const char* key : {"A", "B", "C"}) ASSERT_EQ(Cli({"set", key, "NAME=0", "--new"}).status, 0);
  constexpr int kEdits = 60;
  auto editor = [&](const std::string& key) {
    std::string script = "cd '" + Dir() + "' && for i in $(seq 1 " + std::to_string(kEdits) + "); do " QM_CLI
                         " set " + key + " NAME=$i SNOTES=note$i >/dev/null || exit 1; done";
    return std::system(script.c_str());
  };
  int first = -1, second = -1;
  std::thread a([&] { first = editor("A"); });
  std::thread c([&] { second = editor("C"); });
  a.join();
  c.join();
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 0);
  const std::string n = std::to_string(kEdits);
  EXPECT_EQ(KeyOrder(), "A=" + n + "|note" + n + ";B=0|;C=" + n + "|note" + n + ";");
  QProcess perl;
  perl.start("/usr/bin/perl", {QM_TEST_DATA "/index/walk_ndx.pl", work.filePath("CATALOG.NDX")});
  ASSERT_TRUE(perl.waitForFinished(30000));
  EXPECT_EQ(perl.readAllStandardOutput().toStdString(), "A\t1\nB\t2\nC\t3\n");
}

}  // namespace
}  // namespace qm::catalog

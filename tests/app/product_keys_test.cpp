// One product per key, whoever writes: quillmart-cli beside another process
// that renames, deletes, appends or holds a lock at the worst moment, beside
// python3-dbf, and on tables another program wrote (keys twice, bytes past the
// last record). Each scenario starts from five products K0001..K0005 with
// CATALOG.NDX built.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QThread>

#include <functional>

#include "app/core/product_table.h"
#include "cli_run_util.h"
#include "dataset/dataset.h"
#include "dbf/table.h"

namespace qm::catalog {
namespace {

using test::CliResult;
using test::CliScratch;

class ProductKeys : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(cli.Run({"create", "CODE:8", "NAME:20", "PRICE:10"}).status, 0);
    cli.Write("five.csv", "CODE,NAME,SNOTES\nK0001,a,notes a\nK0002,b,\nK0003,c,\nK0004,d,\nK0005,e,\n");
    ASSERT_EQ(cli.Run({"import", "five.csv"}).status, 0);
    ASSERT_EQ(cli.Run({"reindex"}).status, 0);
  }

  // quillmart-cli in the background; Finish waits for it.
  void Start(const QString& name, const QString& args) const {
    cli.Shell(QStringLiteral("( %1 %2 >%3.out 2>%3.err; echo $? >%3.rc ) >/dev/null 2>&1 &")
                  .arg(QM_CLI, args, name));
  }
  CliResult Finish(const QString& name) const {
    for (int i = 0; i < 600 && !QFile::exists(cli.Path(name + ".rc")); ++i) QThread::msleep(50);
    QThread::msleep(50);  // the status line is written
    return {cli.Read(name + ".rc").trimmed().toInt(), cli.Read(name + ".out"), cli.Read(name + ".err")};
  }

  QByteArray Dump(const QStringList& more = {}) const { return cli.Run(QStringList{"dump"} + more).out; }
  std::string Dir() const { return cli.Path().toStdString(); }
  void Python(const QString& code) const {
    const CliResult r = cli.Shell("/usr/bin/python3 -c '" + code + "'");
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
  }
  void PythonAppend(const QString& key, const QString& name) const {
    Python(QStringLiteral("import dbf\nt = dbf.Table(\"CATALOG.DBF\")\nt.open(dbf.READ_WRITE)\n"
                          "t.append({\"code\": \"%1\", \"name\": \"%2\"})\nt.close()")
               .arg(key, name));
  }
  // Holds the whole-file lock a rebuild holds (or any region) on a file while `meanwhile` runs.
  static void HoldLock(const QString& path, off_t start, off_t length, const std::function<void()>& meanwhile) {
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_CLOEXEC);  // not held on by the children
    ASSERT_GE(fd, 0);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = start;
    lock.l_len = length;
    ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &lock), 0);
    meanwhile();
    ::close(fd);
  }

  CliScratch cli;
};

// Another program holds the record lock while the command waits for it, and
// changes the product meanwhile: the command must act on the product its key
// names once it has the lock, or refuse.
TEST_F(ProductKeys, AnEditAfterTheRecordLockActsOnlyOnTheProductItsKeyStillNames) {
  ProductTable other(Dir());
  other.Open(ProductOrder::Key);
  dataset::TBrambleDataSet& ds = other.DataSet();
  auto changeWhileLocked = [&](const QString& key, const QString& command,
                               const std::function<void()>& change) -> CliResult {
    EXPECT_TRUE(other.FindProduct(key.toStdString()));
    ds.Edit();  // the record lock, held while the command starts and waits
    Start("cmd", command);
    QThread::msleep(900);
    change();
    if (ds.State() == dataset::TDataSetState::dsEdit) ds.Post();
    return Finish("cmd");
  };
  CliResult r = changeWhileLocked("K0003", "set K0003 NAME=meant-for-K0003", [&] {
    other.KeyField().SetAsString("RENAMED");
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quillmart-cli: No product has the key K0003\n");
  QFile::remove(cli.Path("cmd.rc"));
  r = changeWhileLocked("RENAMED", "delete RENAMED", [&] { other.KeyField().SetAsString("AGAIN"); });
  EXPECT_EQ(r.err, "quillmart-cli: No product has the key RENAMED\n");
  QFile::remove(cli.Path("cmd.rc"));
  // Deleted under the lock (the mark written straight into the record), then let go.
  r = changeWhileLocked("AGAIN", "set AGAIN NAME=x", [&] {
    QFile table(cli.Path("CATALOG.DBF"));
    ASSERT_TRUE(table.open(QIODevice::ReadWrite));
    const int headerLength = 32 * 4 + 33, recordLength = 1 + 8 + 20 + 10 + 10;
    table.seek(headerLength + 2 * recordLength);
    table.write("*");
    table.close();
    ds.Cancel();
  });
  EXPECT_EQ(r.err, "quillmart-cli: The product AGAIN is deleted; recall it first\n");
  other.Close();
  EXPECT_EQ(Dump({"--deleted"}), "_deleted,CODE,NAME,PRICE,SNOTES\r\n,K0001,a,,notes a\r\n,K0002,b,,\r\n"
                                 "*,AGAIN,c,,\r\n,K0004,d,,\r\n,K0005,e,,\r\n");

  // The window's edit of a product found before another program renamed it.
  ProductTable window(Dir());
  window.Open(ProductOrder::Key);
  ASSERT_TRUE(window.FindProduct("K0004"));
  ASSERT_EQ(cli.Run({"set", "K0004", "CODE=MOVED"}).status, 0);
  EXPECT_THROW(window.DataSet().Edit(), ProductChangedError);
  EXPECT_EQ(window.DataSet().State(), dataset::TDataSetState::dsBrowse);
  ASSERT_TRUE(window.FindProduct("K0005"));
  ASSERT_EQ(cli.Run({"set", "K0005", "CODE=GONE"}).status, 0);
  EXPECT_THROW(window.DataSet().Delete(), ProductChangedError);
  EXPECT_EQ(cli.Run({"dump"}).out.count("GONE"), 1) << "not deleted";
  EXPECT_TRUE(window.FindProduct("MOVED"));
  window.DataSet().Edit();  // found again: the lock is free and the edit goes ahead
  window.DataSet().Fields(1).SetAsString("moved");
  window.DataSet().Post();
}

// Two writers adding one key at once, lined up behind another program's
// header lock: one adds it, the other is refused, whichever way they come.
TEST_F(ProductKeys, TwoWritersAddingOneKeyAtOnceAddItOnce) {
  cli.Write("dup.csv", "CODE,NAME\nDUP2,by import\n");
  HoldLock(cli.Path("CATALOG.DBF"), 0, 32, [&] {
    Start("a", "set --new DUP NAME=first");
    Start("b", "set --new DUP NAME=second");
    Start("c", "import dup.csv");
    Start("d", "set --new DUP2 NAME=by-set");
    QThread::msleep(1000);
  });
  const CliResult a = Finish("a"), b = Finish("b"), c = Finish("c"), d = Finish("d");
  EXPECT_EQ((a.status == 0) + (b.status == 0), 1) << a.err.toStdString() << b.err.toStdString();
  EXPECT_TRUE((a.status ? a : b).err.contains("A product with the key DUP exists already"));
  EXPECT_EQ((c.status == 0) + (d.status == 0), 1) << c.err.toStdString() << d.err.toStdString();
  const QByteArray dump = Dump();
  EXPECT_EQ(dump.count("\r\nDUP,"), 1) << dump.toStdString();
  EXPECT_EQ(dump.count("\r\nDUP2,"), 1) << dump.toStdString();
}

TEST_F(ProductKeys, TrailingBlanksAreNoPartOfAKey) {
  CliResult r = cli.Run({"set", "--new", "K0001 ", "NAME=twin"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quillmart-cli: A product with the key K0001 exists already\n");
  r = cli.Run({"set", "K0002", "CODE=K0003 "});
  EXPECT_EQ(r.err, "quillmart-cli: A product with the key K0003 exists already\n");
  r = cli.Run({"set", "K0001 ", "NAME=found"});
  EXPECT_EQ(r.status, 0) << r.err.toStdString();
  EXPECT_EQ(r.out, "Product K0001 changed\n");
  EXPECT_EQ(cli.Run({"delete", "K0005  "}).status, 0);
  EXPECT_EQ(cli.Run({"set", "--new", "K0005", "NAME=x"}).err,
            "quillmart-cli: A deleted product holds the key K0005; recall it or choose another key\n");
  EXPECT_EQ(cli.Run({"recall", "K0005 "}).out, "Product K0005 recalled\n");
  EXPECT_EQ(Dump(), "CODE,NAME,PRICE,SNOTES\r\nK0001,found,,notes a\r\nK0002,b,,\r\nK0003,c,,\r\n"
                    "K0004,d,,\r\nK0005,e,,\r\n");
}

// python3-dbf appends while a writer has the table open; a backup's index
// comes back with its times: neither index may be trusted.
TEST_F(ProductKeys, AnIndexIsTrustedOnlyWhileItDescribesTheTable) {
  {
    ProductTable writer(Dir());
    writer.Open(ProductOrder::Key);
    PythonAppend("ZNEW1", "appended");
    ASSERT_TRUE(writer.FindProduct("K0001"));
    writer.DataSet().Edit();
    writer.DataSet().Fields(1).SetAsString("edited");
    writer.DataSet().Post();
    EXPECT_FALSE(writer.IndexIsCurrent()) << "the edit made an index that lacks ZNEW1 look current";
  }
  EXPECT_EQ(cli.Run({"set", "ZNEW1", "NAME=found"}).status, 0);
  EXPECT_EQ(cli.Run({"set", "--new", "ZNEW1", "NAME=x"}).status, 1);
  EXPECT_TRUE(ProductTable(Dir()).IndexIsCurrent());

  ASSERT_EQ(cli.Shell("mkdir backup && cp -p CATALOG.DBF CATALOG.DBT CATALOG.NDX backup/").status, 0);
  ASSERT_EQ(cli.Run({"set", "--new", "A0000", "NAME=first"}).status, 0);
  ASSERT_EQ(cli.Shell("cp -p backup/CATALOG.NDX . && touch CATALOG.NDX").status, 0);
  EXPECT_FALSE(ProductTable(Dir()).IndexIsCurrent());
  EXPECT_TRUE(cli.Run({"dump", "--index", "CATALOG.NDX"}).out.startsWith("CODE,NAME,PRICE,SNOTES\r\nA0000,"));
  ASSERT_EQ(cli.Shell("cp -p backup/CATALOG.DBF backup/CATALOG.DBT .").status, 0);
  EXPECT_FALSE(ProductTable(Dir()).IndexIsCurrent()) << "the index of the newer table";
  EXPECT_EQ(cli.Run({"set", "A0000", "NAME=x"}).err, "quillmart-cli: No product has the key A0000\n");
}

// A reader never fails because a writer is rebuilding; a marked index is
// rebuilt first (the product index) or refused (any other).
TEST_F(ProductKeys, ReadersWaitForARebuildAndNeverWalkAMarkedIndex) {
  const QByteArray whole = Dump({"--index", "CATALOG.NDX"});
  const QByteArray index = cli.Read("CATALOG.NDX");
  HoldLock(cli.Path("CATALOG.NDX"), 0, 0, [&] {
    // Half way through copying a new tree over the file: marked, pages missing.
    QByteArray half = index.left(512);
    half[8] = 1;
    cli.Write("CATALOG.NDX", half);
    Start("reader", "dump --index CATALOG.NDX");
    QThread::msleep(800);
    cli.Write("CATALOG.NDX", index);
  });
  const CliResult reader = Finish("reader");
  EXPECT_EQ(reader.status, 0) << reader.err.toStdString();
  EXPECT_EQ(reader.out, whole);

  QByteArray marked = index;
  marked[8] = 1;
  cli.Write("OTHER.NDX", marked);
  CliResult r = cli.Run({"dump", "--index", "OTHER.NDX"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.contains("OTHER.NDX was left part way through a change")) << r.err.toStdString();
  EXPECT_TRUE(r.out.isEmpty());
  cli.Write("CATALOG.NDX", marked);
  r = cli.Run({"dump", "--index", "CATALOG.NDX"});
  EXPECT_EQ(r.status, 0) << r.err.toStdString();
  EXPECT_EQ(r.out, whole);
  EXPECT_EQ(cli.Read("CATALOG.NDX").at(8), 0) << "rebuilt";
}

TEST_F(ProductKeys, BytesPastTheLastRecordAreNoProduct) {
  QFile table(cli.Path("CATALOG.DBF"));
  ASSERT_TRUE(table.open(QIODevice::Append));
  table.write(QByteArray(100, '\0'));
  table.close();
  EXPECT_EQ(Dump().count("\r\n"), 6) << Dump().toStdString();
  ASSERT_EQ(cli.Run({"set", "--new", "K0010", "NAME=ten"}).status, 0);
  Python("import dbf, dbfread\nt = dbf.Table(\"CATALOG.DBF\")\nt.open(dbf.READ_ONLY)\nassert len(t) == 6, len(t)\n"
         "assert [r[\"CODE\"] for r in dbfread.DBF(\"CATALOG.DBF\")][-1] == \"K0010\"");
  // What a killed append leaves, a whole record with its flag, is a record.
  const QByteArray bytes = cli.Read("CATALOG.DBF");
  const int headerLength = 161, recordLength = 49;
  QByteArray sixth = bytes.mid(headerLength + 5 * recordLength, recordLength);
  sixth.replace(1, 5, "K0011");
  cli.Write("CATALOG.DBF", bytes.left(headerLength + 6 * recordLength) + sixth);
  EXPECT_TRUE(Dump().endsWith("K0010,ten,,\r\nK0011,ten,,\r\n")) << Dump().toStdString();
}

TEST_F(ProductKeys, ImportsCannotDoubleTheTable) {
  CliResult r = cli.Run({"import", "five.csv"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quillmart-cli: Row 2: a product with the key \"K0001\" exists already (--update changes it, "
                   "--skip-existing leaves it)\n");
  cli.Write("twice.csv", "CODE,NAME\nN1,one\nN1 ,again\n");
  EXPECT_EQ(cli.Run({"import", "twice.csv"}).err,
            "quillmart-cli: Row 3: the key \"N1\" is given again (row 2 has it)\n");
  cli.Write("more.csv", "CODE,NAME\nK0002,bee\nN2,new\n");
  r = cli.Run({"import", "--skip-existing", "more.csv"});
  EXPECT_EQ(r.out, "1 record appended to CATALOG.DBF; 1 row left out (their keys exist)\n");
  cli.Write("more.csv", "CODE,NAME\nK0002,bee\nN3,newer\n");
  r = cli.Run({"import", "--update", "more.csv"});
  EXPECT_EQ(r.out, "1 record appended to CATALOG.DBF; 1 product changed\n");
  EXPECT_EQ(Dump(), "CODE,NAME,PRICE,SNOTES\r\nK0001,a,,notes a\r\nK0002,bee,,\r\nK0003,c,,\r\nK0004,d,,\r\n"
                    "K0005,e,,\r\nN2,new,,\r\nN3,newer,,\r\n");
  // Old Mac line ends; a refused value is quoted short.
  cli.Write("cr.csv", "CODE,NAME,SNOTES\rM1,mac,\"two\rlines\"\rM2,mac,\r");
  EXPECT_EQ(cli.Run({"import", "cr.csv"}).status, 0);
  EXPECT_TRUE(Dump().contains("M1,mac,,\"two\rlines\"\r\nM2,mac,,\r\n"));
  cli.Write("long.csv", "CODE,NAME\nL1," + QByteArray(120000, 'x') + "\n");
  r = cli.Run({"import", "long.csv"});
  EXPECT_EQ(r.status, 1);
  EXPECT_LT(r.err.size(), 300) << r.err.left(300).toStdString();
  EXPECT_TRUE(r.err.contains("(120000 bytes) is longer than the field's 20 characters"));
}

TEST_F(ProductKeys, DumpThenImportGivesTheSameBytes) {
  QDir(cli.Path()).mkdir("from");
  QDir(cli.Path()).mkdir("to");
  Python("import dbf\nfor d in (\"from\", \"to\"):\n"
         "  t = dbf.Table(d + \"/catalog.dbf\", \"CODE C(6); OK L; PRICE N(10,2); SNOTES M\", dbf_type=\"db3\")\n"
         "  t.open(dbf.READ_WRITE)\n"
         "  if d == \"from\":\n"
         "    t.append((\"A1\", None, None, \"n\")); t.append((\"A2\", True, 12.5, \"\")); t.append((\"A3\",))\n"
         "  t.close()\n"
         "f = open(\"from/catalog.dbf\", \"r+b\"); f.seek(161 + 1 + 6); f.write(b\"y\"); f.close()");
  const CliResult dump = cli.Run({"-C", "from", "dump"});
  ASSERT_EQ(dump.status, 0) << dump.err.toStdString();
  EXPECT_EQ(dump.out, "CODE,OK,PRICE,SNOTES\r\nA1,y,,n\r\nA2,T,12.50,\r\nA3,?,,\r\n");
  cli.Write("peer.csv", dump.out);
  const CliResult import = cli.Run({"-C", "to", "import", "../peer.csv"});
  ASSERT_EQ(import.status, 0) << import.err.toStdString();
  const QByteArray from = cli.Read("from/catalog.dbf"), to = cli.Read("to/catalog.dbf");
  const int records = 161, recordLength = 1 + 6 + 1 + 10 + 10;
  // Every field but the memo's block number (where the memo file puts it).
  for (int r = 0; r < 3; ++r)
    EXPECT_EQ(from.mid(records + r * recordLength, 18), to.mid(records + r * recordLength, 18)) << "record " << r + 1;
}

TEST_F(ProductKeys, BuildPublishesARepeatedKeyOnce) {
  PythonAppend("K0002", "second");
  cli.Run({"settings", "set", "Stacked Pages", "usestackedpages", "1"});
  cli.Run({"settings", "set", "Database", "Columns", "2"});
  const CliResult r = cli.Run({"build"});
  ASSERT_EQ(r.status, 0) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains("more than one product has the key K0002")) << r.err.toStdString();
  EXPECT_EQ(cli.Read("catalog.htm").count("K0002.htm"), 1);
  EXPECT_EQ(cli.Read("upload.txt").count("K0002.htm"), 1);
  EXPECT_TRUE(cli.Read("K0002.htm").contains("</B>b")) << "the first product of the key";
}

TEST_F(ProductKeys, NotesAreStoredWholeOrRefusedInPlainWords) {
  const QByteArray before = cli.Read("CATALOG.DBF") + cli.Read("CATALOG.DBT");
  cli.Write("notes.txt", "before \x1A after");
  CliResult r = cli.Run({"set", "K0001", "SNOTES=@notes.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.contains("holds the byte 0x1A")) << r.err.toStdString();
  cli.Write("notes.txt", QByteArray(70000, 'n'));
  r = cli.Run({"set", "K0001", "SNOTES=@notes.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.contains("has 70000 bytes; a memo of this table holds at most 65519")) << r.err.toStdString();
  EXPECT_FALSE(r.err.contains("Bramble Error"));
  EXPECT_EQ(cli.Read("CATALOG.DBF") + cli.Read("CATALOG.DBT"), before);
  // The window's memo editor takes the same path.
  ProductTable window(Dir());
  window.Open(ProductOrder::Key);
  ASSERT_TRUE(window.FindProduct("K0001"));
  window.DataSet().Edit();
  EXPECT_THROW(window.MemoField()->SetAsString("cut \x1A here"), std::exception);
  window.DataSet().Cancel();
  window.Close();

  // A damaged page of the index: named as the index, with the way out.
  QByteArray index = cli.Read("CATALOG.NDX");
  index.replace(512, 4, QByteArray("\xFF\xFF\x00\x00", 4));
  cli.Write("CATALOG.NDX", index);
  r = cli.Run({"set", "K0002", "NAME=x"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.contains("the index ") && r.err.contains("is damaged") &&
              r.err.contains("quillmart-cli reindex rebuilds it"))
      << r.err.toStdString();
}

}  // namespace
}  // namespace qm::catalog

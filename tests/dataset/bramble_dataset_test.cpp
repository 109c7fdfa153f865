// The dataset component over real table files: field mapping, navigation,
// bookmarks, editing with locks and staged memos, indexes, errors and the
// table creation component.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "dataset/bramble_alias.h"
#include "dataset/bramble_blob_stream.h"
#include "dataset/bramble_create.h"
#include "dataset/bramble_dataset.h"
#include "dbf/calendar.h"
#include "dbf/table_creator.h"
#include "index_test_util.h"

namespace qm::dataset {
namespace {

void MakeTable(const std::string& name, const std::vector<std::string>& lines) {
  std::vector<dbf::TbrFieldDef> defs;
  size_t bad = 0;
  ASSERT_TRUE(dbf::ParseFieldList(lines, defs, bad));
  dbf::TbrTableCreator creator(name, dbf::TbrDBFTypes::DBaseIII);
  for (const auto& d : defs) creator.AddField(d.name, d.type, d.length, d.decimals);
  ASSERT_TRUE(creator.Create());
}

std::string Message(const std::function<void()>& f) {
  try {
    f();
  } catch (const EDatabaseError& e) {
    return e.what();
  }
  return "(nothing raised)";
}

void AddProduct(TBrambleDataSet& ds, const std::string& code, const std::string& name, const std::string& memo = {}) {
  ds.Append();
  ds.FieldByName("CODE").SetAsString(code);
  ds.FieldByName("NAME").SetAsString(name);
  if (!memo.empty()) ds.FieldByName("SNOTES").SetAsString(memo);
  ds.Post();
}

class BrambleDataSetTest : public ::testing::Test {
 protected:
  void SetUp() override { MakeTable("catalog.dbf", {"CODE;C;8;0", "NAME;C;20;0", "Snotes;M;10;0"}); }
  void OpenProducts(TBrambleDataSet& ds) {
    ds.SetTableName("catalog.dbf");
    ds.Open();
  }
  index::test::TempDir m_dir;
};

TEST_F(BrambleDataSetTest, EmptyTableAndClosedDataSet) {
  TBrambleDataSet ds;
  EXPECT_EQ(Message([&] { ds.Open(); }), "Table name missing");
  EXPECT_EQ(Message([&] { ds.RecordCount(); }), "Cannot perform this operation on a closed dataset");
  ds.SetTableName("nothere");
  EXPECT_EQ(Message([&] { ds.Open(); }), "Cannot find file " + m_dir.File("nothere.DBF"));
  ds.SetTableName("catalog.dbf");
  ds.Open();
  EXPECT_EQ(ds.OpenMode(), 66);
  EXPECT_TRUE(ds.Eof());
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(ds.RecordCount(), 0);
  EXPECT_FALSE(ds.Locate("CODE", "A1", {}));
  EXPECT_EQ(Message([&] { ds.FieldByName("CODE").SetAsString("x"); }), "Dataset not in edit or insert mode");
  EXPECT_EQ(ds.About(), "Bramble Version 1.0");
}

TEST_F(BrambleDataSetTest, FieldMappingTable) {
  MakeTable("types.dbf", {"S;C;12;0", "SMALL;N;4;0", "INT;N;5;0", "PRICE;N;8;2", "DAY;D;8;0", "FLAG;L;1;0",
                          "NOTE;M;10;0", "F0;F;3;0"});
  TBrambleDataSet ds;
  ds.SetTableName("types");
  ds.Open();
  EXPECT_EQ(ds.TableName(), "types.DBF");
  const std::vector<std::pair<TFieldType, int>> want = {
      {TFieldType::ftString, 12}, {TFieldType::ftSmallint, 0}, {TFieldType::ftInteger, 0}, {TFieldType::ftFloat, 0},
      {TFieldType::ftDate, 0},    {TFieldType::ftBoolean, 0},  {TFieldType::ftMemo, 0},    {TFieldType::ftSmallint, 0}};
  ASSERT_EQ(ds.FieldCount(), 8);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(ds.Fields(i).DataType(), want[i].first) << i;
    EXPECT_EQ(ds.Fields(i).Size(), want[i].second) << i;
    EXPECT_EQ(ds.Fields(i).FieldNo(), i + 1);
  }
  // Record layout: image, no calculated fields, 19-byte info area.
  EXPECT_EQ(ds.RecordInfoStart(), ds.RecordSize());
  EXPECT_EQ(ds.BookmarkStart(), ds.RecordSize() + 8);

  ds.Append();
  ds.FieldByName("SMALL").SetAsFloat(2.5);  // halves to even
  ds.FieldByName("INT").SetAsInteger(31337);
  ds.FieldByName("PRICE").SetAsFloat(12.25);
  ds.FieldByName("DAY").SetAsDate(dbf::DayNumber(2026, 12, 9));
  ds.FieldByName("FLAG").SetAsBoolean(true);
  ds.Post();
  EXPECT_EQ(ds.FieldByName("SMALL").AsInteger(), 2);
  EXPECT_EQ(ds.FieldByName("INT").AsInteger(), 31337);
  EXPECT_DOUBLE_EQ(ds.FieldByName("PRICE").AsFloat(), 12.25);
  EXPECT_EQ(ds.FieldByName("DAY").AsString(), "20261209");
  EXPECT_TRUE(ds.FieldByName("FLAG").AsBoolean());
  EXPECT_TRUE(ds.FieldByName("S").IsNull());
  ds.Edit();
  ds.FieldByName("DAY").Clear();  // no value: 8 blanks
  ds.Post();
  EXPECT_TRUE(ds.FieldByName("DAY").IsNull());
  EXPECT_EQ(ds.Engine()->RawText(5), "        ");
}

TEST_F(BrambleDataSetTest, NavigationBookmarksAndFirstPending) {
  TBrambleDataSet ds;
  OpenProducts(ds);
  for (int i = 1; i <= 12; ++i) AddProduct(ds, "P" + std::to_string(i), "name");
  ds.First();
  EXPECT_EQ(ds.RecNo(), 1);
  EXPECT_EQ(ds.MoveBy(8), 8);
  const TBookmark nine = ds.GetBookmark();
  ds.Next();
  const TBookmark ten = ds.GetBookmark();
  EXPECT_EQ(nine, std::string("         9", 10) + '\0');
  EXPECT_EQ(ds.CompareBookmarks(nine, ten), -1);
  EXPECT_EQ(ds.CompareBookmarks(ten, nine), 1);
  EXPECT_EQ(ds.CompareBookmarks({}, nine), -1);
  EXPECT_EQ(ds.CompareBookmarks({}, {}), 0);
  ds.Last();
  EXPECT_EQ(ds.FieldByName("CODE").AsString(), "P12");
  ds.Next();
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.RecNo(), 12);
  ds.GotoBookmark(nine);
  EXPECT_EQ(ds.FieldByName("CODE").AsString(), "P9");
  EXPECT_EQ(Message([&] { ds.GotoBookmark("        99"); }), "Bookmark is invalid for table catalog.dbf");
  EXPECT_EQ(Message([&] { ds.GotoBookmark("abc"); }), "Bookmark is invalid for table catalog.dbf");
  EXPECT_EQ(ds.FieldByName("CODE").AsString(), "P9");
}

// A dataset that lets the test call the fetch hooks as the generic dataset does.
class HookDataSet : public TBrambleDataSet {
 public:
  using TBrambleDataSet::GetRecord;
  using TBrambleDataSet::InternalFirst;
};

TEST_F(BrambleDataSetTest, CurrentFetchFailsUntilNextAfterFirst) {
  {
    TBrambleDataSet ds;
    OpenProducts(ds);
    AddProduct(ds, "A", "a");
  }
  HookDataSet ds;
  OpenProducts(ds);
  std::vector<char> buffer = ds.ActiveBufferCopy();
  ds.InternalFirst();
  EXPECT_NE(ds.GetRecord(buffer.data(), TFetchStep::fsCurrent, false), TFetchResult::frOK);
  EXPECT_EQ(ds.GetRecord(buffer.data(), TFetchStep::fsNext, false), TFetchResult::frOK);
  EXPECT_EQ(ds.GetRecord(buffer.data(), TFetchStep::fsCurrent, false), TFetchResult::frOK);
  EXPECT_EQ(ds.GetRecord(buffer.data(), TFetchStep::fsNext, false), TFetchResult::frEOF);
}

TEST_F(BrambleDataSetTest, ReadOnlyOpenModes) {
  TBrambleDataSet ds;
  ds.SetTableName("catalog.dbf");
  ds.SetReadOnly(true);
  EXPECT_EQ(ds.OpenMode(), 64);
  ds.SetExclusive(true);
  EXPECT_EQ(ds.OpenMode(), 16);
  ds.SetExclusive(false);
  ds.Open();
  EXPECT_FALSE(ds.CanModify());
  EXPECT_EQ(Message([&] { ds.Append(); }), "Cannot modify a read-only dataset");
}

TEST_F(BrambleDataSetTest, DeletingOnlyVisibleRecordLeavesEmptyViewAndRecallBringsItBack) {
  TBrambleDataSet ds;
  OpenProducts(ds);
  AddProduct(ds, "A", "a");
  ds.Delete();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_EQ(ds.RecordCount(), 1);
  ds.SetUseDeleted(true);
  ds.First();
  ASSERT_FALSE(ds.IsEmpty());
  EXPECT_TRUE(ds.CurrentRecordDeleted());
  ds.Undelete();
  ds.SetUseDeleted(false);
  ds.First();
  EXPECT_EQ(ds.FieldByName("CODE").AsString(), "A");
}

TEST_F(BrambleDataSetTest, EditLocksReadsFreshAndRefusesSecondEditor) {
  TBrambleDataSet first, second;
  OpenProducts(first);
  AddProduct(first, "A", "old");
  AddProduct(first, "B", "other");
  OpenProducts(second);
  second.First();  // second shows record 1 as "old"
  first.First();
  first.Edit();
  first.FieldByName("NAME").SetAsString("new");
  first.Post();
  EXPECT_FALSE(first.EditLockHeld());
  EXPECT_EQ(second.FieldByName("NAME").AsString(), "old");  // what it fetched before
  second.Edit();
  EXPECT_EQ(second.FieldByName("NAME").AsString(), "new");  // read again under the lock
  second.Cancel();
  EXPECT_EQ(second.Engine()->LockCount(), 0);
}

// Record locks belong to the open file, which datasets of one process share:
// the other program is a child process.
TEST_F(BrambleDataSetTest, RecordHeldByAnotherProgram) {
  {
    TBrambleDataSet setup;
    OpenProducts(setup);
    AddProduct(setup, "A", "a");
    AddProduct(setup, "B", "b");
  }  // nothing open at the fork: the child's files are its own
  int ready[2], done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  const pid_t child = fork();
  if (child == 0) {
    TBrambleDataSet editor;
    editor.SetTableName("catalog.dbf");
    editor.Open();
    editor.Edit();  // holds record 1
    char c = 1;
    (void)!write(ready[1], &c, 1);
    (void)!read(done[0], &c, 1);
    editor.Cancel();
    _exit(0);
  }
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  TBrambleDataSet first;
  OpenProducts(first);
  EXPECT_EQ(Message([&] { first.Edit(); }), "Record is locked by another user");
  EXPECT_EQ(first.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(first.Engine()->LockCount(), 0);
  EXPECT_EQ(Message([&] { first.Delete(); }), "Record is locked by another user");
  first.Next();
  first.Edit();  // another record: no conflict
  first.FieldByName("NAME").SetAsString("changed");
  first.Post();
  (void)!write(done[1], &c, 1);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(status, 0);
  first.First();
  first.Edit();  // free again
  first.Cancel();
}

TEST_F(BrambleDataSetTest, MemoWritesAreStagedUntilPost) {
  TBrambleDataSet ds;
  OpenProducts(ds);
  AddProduct(ds, "A", "a", "stored memo");
  const std::string before = index::test::ReadFile(m_dir.File("CATALOG.DBT"));
  ds.Edit();
  ds.FieldByName("SNOTES").SetAsString("replacement that is longer than the old one");
  EXPECT_EQ(ds.FieldByName("SNOTES").AsString(), "replacement that is longer than the old one");
  EXPECT_EQ(index::test::ReadFile(m_dir.File("CATALOG.DBT")), before);
  ds.Cancel();
  EXPECT_EQ(index::test::ReadFile(m_dir.File("CATALOG.DBT")), before);
  EXPECT_EQ(ds.FieldByName("SNOTES").AsString(), "stored memo");
  ds.Edit();
  {
    auto stream = ds.CreateBlobStream(ds.FieldByName("SNOTES"), TBlobAccess::baWrite);
  }  // opened for write, nothing written: an empty memo
  ds.Post();
  EXPECT_TRUE(ds.FieldByName("SNOTES").IsNull());
  ds.Edit();
  ds.FieldByName("SNOTES").SetAsString("caf\xC3\xA9 au lait");  // translated to code page 437
  ds.Post();
  ds.Close();
  ds.Open();
  EXPECT_EQ(ds.FieldByName("SNOTES").AsString(), "caf\xC3\xA9 au lait");
  EXPECT_NE(index::test::ReadFile(m_dir.File("CATALOG.DBT")).find("caf\x82 au lait"), std::string::npos);
  ds.Edit();
  {
    auto writer = ds.CreateBlobStream(ds.FieldByName("SNOTES"), TBlobAccess::baReadWrite);
    writer->Seek(0, TSeekFrom::sfEnd);
    EXPECT_THROW(writer->Write("\x1A", 1), EDatabaseError);  // a dBASE III memo cannot hold its end mark
  }
  EXPECT_EQ(ds.FieldByName("SNOTES").AsString(), "caf\xC3\xA9 au lait");
  ds.Cancel();

  auto stream = ds.CreateBlobStream(ds.FieldByName("SNOTES"), TBlobAccess::baRead);
  char buffer[64];
  stream->Seek(-4, TSeekFrom::sfEnd);
  EXPECT_EQ(stream->Read(buffer, 60), 4);
  EXPECT_EQ(stream->Read(buffer, 60), 0);
  EXPECT_EQ(Message([&] { ds.CreateBlobStream(ds.FieldByName("SNOTES"), TBlobAccess::baWrite); }),
            "Dataset not in edit or insert mode");
}

TEST_F(BrambleDataSetTest, UniqueIndexOrderLocateAndLookup) {
  TBrambleDataSet ds;
  OpenProducts(ds);
  for (const char* code : {"M", "C", "X", "C", "A"}) AddProduct(ds, code, std::string("n") + code);
  bool busySeen = false;
  ds.OnIndexProgress = [&](int, int, int32_t) {
    if (!busySeen) busySeen = Message([&] { ds.RecordCount(); }) == "Table is busy building an index";
  };
  ASSERT_TRUE(ds.IndexOn("CATALOG.NDX", "", "CODE", "", index::kIndexUnique, index::kIndexAscending));
  EXPECT_TRUE(busySeen);
  ds.SetIndexFiles({"catalog"});  // no extension: CATALOG.NDX
  ds.SetIndexName("CATALOG");
  EXPECT_EQ(ds.TagCount(), 1);
  EXPECT_EQ(ds.TagName(1), "CATALOG");
  EXPECT_EQ(ds.TagKey(1), "CODE");
  EXPECT_EQ(ds.TagName(2), "");
  EXPECT_FALSE(ds.IsSequenced());
  std::string order;
  for (ds.First(); !ds.Eof(); ds.Next()) order += ds.FieldByName("CODE").AsString();
  EXPECT_EQ(order, "ACMX");  // the second C has no entry in a unique index
  EXPECT_TRUE(ds.Locate("code", "M", {}));
  EXPECT_EQ(ds.RecNo(), 1);
  EXPECT_FALSE(ds.Locate("CODE", "Q", {}));
  EXPECT_EQ(ds.RecNo(), 1);
  EXPECT_TRUE(ds.Locate("NAME", "nX", {}));  // no tag on NAME: sequential search
  EXPECT_EQ(ds.RecNo(), 3);
  EXPECT_TRUE(ds.Locate("NAME", "N", {true, true}));
  EXPECT_EQ(std::get<std::string>(ds.Lookup("CODE", "A", "NAME")), "nA");
  EXPECT_TRUE(std::holds_alternative<std::monostate>(ds.Lookup("CODE", "Q", "NAME")));
  EXPECT_EQ(ds.FieldByName("CODE").AsString(), "M");
  ds.Next();
  EXPECT_EQ(ds.FieldByName("CODE").AsString(), "X");  // the cursor went on from where it stood
  EXPECT_EQ(Message([&] { ds.SetIndexFiles({"missing"}); }), "Cannot find file " + m_dir.File("missing.NDX"));
  ds.Close();
  EXPECT_EQ(Message([&] { ds.SetIndexFiles({"absent.ndx"}); }), "Cannot find file " + m_dir.File("absent.ndx"));
  ds.SetIndexFiles({"CATALOG.NDX"});  // checked on the table opened for the moment, then closed again
  EXPECT_FALSE(ds.Active());
  ds.Open();
  EXPECT_EQ(ds.CurrentTagName(), "CATALOG");
}

TEST_F(BrambleDataSetTest, CalculatedFieldsAndFilter) {
  TBrambleDataSet ds;
  TField& label = ds.AddCalculatedField("LABEL", TFieldType::ftString, 30);
  ds.OnCalcFields = [&](TDataSet& d) { label.SetAsString(d.FieldByName("CODE").AsString() + "/" + d.FieldByName("NAME").AsString()); };
  OpenProducts(ds);
  EXPECT_EQ(ds.RecordInfoStart(), ds.RecordSize() + 1 + 31);  // has-value byte and the text
  for (const char* code : {"P1", "Q2", "P3"}) AddProduct(ds, code, std::string("n") + code);
  ds.First();
  EXPECT_EQ(label.AsString(), "P1/nP1");
  EXPECT_EQ(Message([&] { label.SetAsString("x"); }), "Dataset not in edit or insert mode");
  ds.OnFilterRecord = [](TDataSet& d, bool& accept) {
    EXPECT_EQ(d.State(), TDataSetState::dsFilter);
    accept = d.FieldByName("CODE").AsString()[0] == 'P';
  };
  ds.SetFiltered(true);
  EXPECT_FALSE(ds.IsSequenced());
  std::string seen;
  for (ds.First(); !ds.Eof(); ds.Next()) seen += label.AsString() + ";";
  EXPECT_EQ(seen, "P1/nP1;P3/nP3;");
  EXPECT_EQ(ds.RecordCount(), 3);  // the count ignores the filter
}

// The component's events in the order each operation raises them, the error
// events' answers (raise, stop quietly, run again), and the properties that
// take effect on an open table.
TEST_F(BrambleDataSetTest, EventsFireAndPropertiesTakeEffect) {
  TBrambleDataSet ds;
  std::string log;
  auto record = [&log](const char* name) { return [&log, name](TDataSet&) { log += std::string(name) + " "; }; };
  ds.BeforeOpen = record("BeforeOpen"), ds.AfterOpen = record("AfterOpen");
  ds.BeforeClose = record("BeforeClose"), ds.AfterClose = record("AfterClose");
  ds.BeforeInsert = record("BeforeInsert"), ds.AfterInsert = record("AfterInsert");
  ds.OnNewRecord = record("OnNewRecord");
  ds.BeforeEdit = record("BeforeEdit"), ds.AfterEdit = record("AfterEdit");
  ds.BeforePost = record("BeforePost"), ds.AfterPost = record("AfterPost");
  ds.BeforeCancel = record("BeforeCancel"), ds.AfterCancel = record("AfterCancel");
  ds.BeforeDelete = record("BeforeDelete"), ds.AfterDelete = record("AfterDelete");
  ds.BeforeScroll = record("BeforeScroll"), ds.AfterScroll = record("AfterScroll");
  ds.SetTableName("catalog.dbf");
  ds.SetActive(true);
  EXPECT_TRUE(ds.Active());
  EXPECT_EQ(log, "BeforeOpen AfterOpen ");
  for (const char* code : {"A", "B", "C"}) AddProduct(ds, code, "caf\xC3\xA9");
  log.clear();
  ds.Insert();
  ds.Cancel();
  EXPECT_EQ(log, "BeforeInsert BeforeScroll OnNewRecord AfterInsert AfterScroll BeforeCancel AfterCancel ");
  ds.SetRecNo(2);
  EXPECT_EQ(ds.RecNo(), 2);
  EXPECT_EQ(ds.FieldByName("CODE").AsString(), "B");
  log.clear();
  ds.Edit();
  ds.Post();
  ds.Delete();
  EXPECT_EQ(log, "BeforeEdit AfterEdit BeforePost AfterPost BeforeDelete BeforeScroll AfterDelete AfterScroll ");

  // Refusals inside Edit, Post and Delete are offered to their error events.
  int refusals = 0;
  ds.OnRecordLocked = [&](const char*, const char*) {
    if (refusals-- > 0) throw EDatabaseError("refused");
  };
  std::vector<TErrorAnswer> answers;
  auto answer = [&](TDataSet&, EDatabaseError& e, TErrorAnswer& a) {
    EXPECT_STREQ(e.what(), "refused");
    a = answers.at(0);
    answers.erase(answers.begin());
  };
  ds.OnEditError = ds.OnDeleteError = ds.OnPostError = answer;
  ds.First();
  refusals = 1, answers = {TErrorAnswer::eaRunAgain};
  ds.Edit();  // the second run finds the record
  EXPECT_EQ(ds.State(), TDataSetState::dsEdit);
  ds.OnBeforeWrite = [](const char*, const char*, int32_t) { throw EDatabaseError("refused"); };
  answers = {TErrorAnswer::eaRaise};
  EXPECT_EQ(Message([&] { ds.Post(); }), "refused");
  ds.OnBeforeWrite = nullptr;
  ds.Cancel();
  refusals = 1, answers = {TErrorAnswer::eaStopQuietly};
  EXPECT_THROW(ds.Delete(), EAbort);
  EXPECT_FALSE(ds.CurrentRecordDeleted());
  EXPECT_TRUE(answers.empty());

  // Locking protocol, user number and translation reach the open table at once.
  ds.SetLockProtocol(TbrLokProtocol::DB4Lock);
  ds.SetUserID(7);
  EXPECT_EQ(ds.Engine()->LockingProtocol(), TbrLokProtocol::DB4Lock);
  EXPECT_EQ(ds.Engine()->UserNumber(), 7);
  EXPECT_EQ(ds.FieldByName("NAME").AsString(), "caf\xC3\xA9");
  ds.SetTranslateASCII(false);
  EXPECT_EQ(ds.FieldByName("NAME").AsString(), "caf\x82");  // code page 437 as stored
  log.clear();
  ds.SetActive(false);
  EXPECT_EQ(log, "BeforeClose AfterClose ");
}

TEST_F(BrambleDataSetTest, EngineErrorsAreComposedOrSuppressed) {
  MakeTable("nums.dbf", {"SMALL;N;4;0"});
  TBrambleDataSet ds;
  ds.SetTableName("nums.dbf");
  ds.Open();
  ds.Append();
  const std::string message = Message([&] { ds.FieldByName("SMALL").SetAsInteger(123456); });
  EXPECT_EQ(message.rfind("Bramble Error 1011, Subcode 1261  ", 0), 0u) << message;
  EXPECT_EQ(ds.LastErrorMessage(), message);
  int calls = 0;
  ds.OnBrambleError = [&](int32_t& code, int32_t info, const std::string&) {
    ++calls;
    EXPECT_EQ(info, 1261);
    code = 0;
  };
  EXPECT_EQ(Message([&] { ds.FieldByName("SMALL").SetAsInteger(123456); }), "(nothing raised)");
  EXPECT_EQ(calls, 1);
  ds.Cancel();
}

TEST_F(BrambleDataSetTest, DatabaseDirectoryAndAliases) {
  EXPECT_EQ(DatabaseDirectory("default DIRECTORY"), ExecutableDirectory());
  EXPECT_EQ(DatabaseDirectory(""), "");
  std::ofstream(m_dir.File("bramble.cfg")) << "[Other]\nSHOP=/nowhere\n[Alias]\nshop=" << m_dir.Path() << "/data\n";
  ReloadAliasTable(m_dir.Path());
  ASSERT_EQ(AliasTable().size(), 2u);
  EXPECT_EQ(AliasTable()[0], "Default Directory");
  EXPECT_EQ(DatabaseDirectory("Shop"), m_dir.Path() + "/data/");
  TBrambleDataSet ds;
  ds.SetDatabaseName("shop");
  ds.SetTableName("catalog.dbf");
  EXPECT_EQ(Message([&] { ds.Open(); }), "Cannot find file " + m_dir.Path() + "/data/catalog.dbf");
  ReloadAliasTable("/nonexistent");
}

TEST_F(BrambleDataSetTest, CreateComponentChecksTheFieldList) {
  TBrambleDataSet ds;
  TCreateBrambleDataSet create;
  EXPECT_EQ(Message([&] { create.CreateTable(); }), "A table is not assigned");
  create.DBFTable = &ds;
  ds.SetTableName("new.dbf");
  create.CreateFields = {"CODE;CC;8;0"};
  EXPECT_EQ(Message([&] { create.CreateTable(); }), "Field list is invalid");
  create.CreateFields = {"CODE;C;8;"};
  EXPECT_EQ(Message([&] { create.CreateTable(); }), "Field list is invalid");
  create.CreateFields = {"Code;C;8;0", "CODE;C;4;0"};
  EXPECT_EQ(Message([&] { create.CreateTable(); }), "Field list is invalid");
  create.CreateFields = {"CODE;C;8;0", "Snotes;M;10;0"};
  ASSERT_TRUE(create.CreateTable());
  EXPECT_TRUE(ds.Active());
  EXPECT_EQ(Message([&] { create.CreateTable(); }), "Cannot perform this operation on an open table");
  ds.Append();
  ds.FieldByName("CODE").SetAsString("KEEP");
  ds.Post();
  ds.Close();
  const std::string before = index::test::ReadFile(m_dir.File("NEW.DBF"));
  std::string asked;
  create.OnConfirmOverwrite = [&](const std::string& text, const std::string& caption) {
    asked = caption + ": " + text;
    return false;
  };
  EXPECT_FALSE(create.CreateTable());
  EXPECT_EQ(asked, "Warning: Table exists.  Do you want to overwrite?");
  EXPECT_EQ(index::test::ReadFile(m_dir.File("NEW.DBF")), before);
}

}  // namespace
}  // namespace qm::dataset

// Random edits through the dataset with the unique key index attached,
// checked against an in-memory model after every step (and after reopening
// now and then); at the end independent readers (python3 dbfread, Perl XBase)
// read the table, its memos and its index and must agree with the model.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "dataset/bramble_dataset.h"
#include "dbf/table_creator.h"
#include "index_test_util.h"

namespace qm::dataset {
namespace {

struct Product {
  std::string code, name, memo;
  int qty = 0;
  bool deleted = false;
};

class DataSetModel : public ::testing::Test {
 protected:
  void SetUp() override {
    dbf::TbrTableCreator creator("catalog.dbf", dbf::TbrDBFTypes::DBaseIII);
    creator.AddField("CODE", 'C', 8, 0);
    creator.AddField("NAME", 'C', 20, 0);
    creator.AddField("QTY", 'N', 6, 0);
    creator.AddField("SNOTES", 'M', 10, 0);
    ASSERT_TRUE(creator.Create());
    Reopen();
  }

  void Reopen() {
    m_ds.Close();
    m_ds.SetTableName("catalog.dbf");
    m_ds.Open();
    if (!m_indexBuilt) {
      ASSERT_TRUE(m_ds.IndexOn("CATALOG.NDX", "", "CODE", "", index::kIndexUnique, index::kIndexAscending));
      m_indexBuilt = true;
    }
    m_ds.IndexFileOpen("CATALOG.NDX", "CATALOG");
  }

  std::string Text(int length) {
    static const std::string letters = "abcdefghij klmnopq\xC3\xA9";  // é is one CP437 byte
    std::string s;
    while (static_cast<int>(s.size()) < length) {
      size_t i = m_rng() % (letters.size() - 1);
      s += letters[i] == '\xC3' ? std::string("\xC3\xA9") : std::string(1, letters[i]);
    }
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  }

  std::string FreshKey() { return "K" + std::to_string(m_nextKey++ * 7919 % 100000); }

  void Fill(Product& p, bool keyToo) {
    if (keyToo) p.code = FreshKey();
    p.name = Text(static_cast<int>(m_rng() % 12));
    p.qty = static_cast<int>(m_rng() % 200000) - 99999;
    p.memo = m_rng() % 3 == 0 ? std::string() : Text(static_cast<int>(m_rng() % 900));
  }

  void Put(const Product& p) {
    m_ds.FieldByName("CODE").SetAsString(p.code);
    m_ds.FieldByName("NAME").SetAsString(p.name);
    m_ds.FieldByName("QTY").SetAsInteger(p.qty);
    m_ds.FieldByName("SNOTES").SetAsString(p.memo);
  }

  // The visible products in key order, as the dataset shows them.
  void ExpectSameAsModel(int step) {
    std::map<std::string, const Product*> visible;
    for (const Product& p : m_model)
      if (!p.deleted) visible[p.code] = &p;
    ASSERT_EQ(m_ds.RecordCount(), static_cast<int32_t>(m_model.size())) << step;
    auto it = visible.begin();
    for (m_ds.First(); !m_ds.Eof(); m_ds.Next(), ++it) {
      ASSERT_NE(it, visible.end()) << "step " << step << ": more records than the model";
      ASSERT_EQ(m_ds.FieldByName("CODE").AsString(), it->first) << step;
      const Product& p = *it->second;
      ASSERT_EQ(m_ds.FieldByName("NAME").AsString(), p.name) << step;
      ASSERT_EQ(m_ds.FieldByName("QTY").AsInteger(), p.qty) << step;
      ASSERT_EQ(m_ds.FieldByName("SNOTES").AsString(), p.memo) << step;
    }
    ASSERT_EQ(it, visible.end()) << "step " << step << ": fewer records than the model";
  }

  const Product* RandomVisible() {
    std::vector<const Product*> live;
    for (const Product& p : m_model)
      if (!p.deleted) live.push_back(&p);
    return live.empty() ? nullptr : live[m_rng() % live.size()];
  }

  void Step(int step) {
    const int op = static_cast<int>(m_rng() % 10);
    const Product* target = RandomVisible();
    if (op <= 2 || target == nullptr) {  // append, posted or cancelled
      Product p;
      Fill(p, true);
      m_ds.Append();
      Put(p);
      if (op == 2) {
        m_ds.Cancel();
      } else {
        m_ds.Post();
        m_model.push_back(p);
        ASSERT_EQ(m_ds.RecNo(), static_cast<int32_t>(m_model.size()));
      }
      return;
    }
    ASSERT_TRUE(m_ds.Locate("CODE", target->code, {})) << step;
    Product& stored = m_model[static_cast<size_t>(m_ds.RecNo() - 1)];
    ASSERT_EQ(stored.code, target->code);
    if (op <= 6) {  // edit, posted or cancelled; sometimes the key changes
      Product changed = stored;
      Fill(changed, op == 3);
      m_ds.Edit();
      Put(changed);
      if (op == 6) {
        m_ds.Cancel();
        ASSERT_EQ(m_ds.FieldByName("NAME").AsString(), stored.name);
      } else {
        m_ds.Post();
        stored = changed;
      }
    } else if (op == 7) {
      m_ds.Delete();
      stored.deleted = true;
    } else {
      const int32_t before = m_ds.RecNo();
      ASSERT_FALSE(m_ds.Locate("CODE", "NOPE", {}));
      ASSERT_EQ(m_ds.RecNo(), before);
    }
  }

  index::test::TempDir m_dir;
  TBrambleDataSet m_ds;
  std::vector<Product> m_model;  // by record number
  std::mt19937 m_rng{20261209};
  int m_nextKey = 1;
  bool m_indexBuilt = false;
};

constexpr const char* kDumpScript = R"(
import sys
from dbfread import DBF
table = DBF(sys.argv[1], encoding='cp437', load=True)
for deleted, records in ((0, table.records), (1, table.deleted)):
    for r in records:
        print('%s|%d|%s|%d|%s' % (r['CODE'], deleted, r['NAME'], r['QTY'] or 0, r['SNOTES'] or ''))
)";

TEST_F(DataSetModel, RandomEditsAgreeWithModelAndIndependentReaders) {
  for (int step = 0; step < 1200; ++step) {
    ASSERT_NO_FATAL_FAILURE(Step(step));
    ASSERT_NO_FATAL_FAILURE(ExpectSameAsModel(step));
    if (step % 97 == 96) {
      ASSERT_NO_FATAL_FAILURE(Reopen());
    }
  }
  m_ds.Close();

  std::ofstream(m_dir.File("dump.py")) << kDumpScript;
  std::istringstream rows(index::test::RunCommand("PYTHONIOENCODING=utf-8 /usr/bin/python3 dump.py CATALOG.DBF"));
  std::vector<std::string> got, want;
  for (std::string line; std::getline(rows, line);) got.push_back(line);
  for (const Product& p : m_model)
    want.push_back(p.code + "|" + (p.deleted ? "1" : "0") + "|" + p.name + "|" + std::to_string(p.qty) + "|" + p.memo);
  std::sort(got.begin(), got.end());
  std::sort(want.begin(), want.end());
  EXPECT_EQ(got, want);

  // The index holds every record's key (deleted ones too), in key order.
  std::map<std::string, int32_t> keys;
  for (size_t i = 0; i < m_model.size(); ++i) keys[m_model[i].code] = static_cast<int32_t>(i + 1);
  std::string expected;
  for (const auto& [key, recNo] : keys) expected += key + "\t" + std::to_string(recNo) + "\n";
  EXPECT_EQ(index::test::RunCommand("/usr/bin/perl " QM_TEST_DATA "/index/walk_ndx.pl CATALOG.NDX"), expected);
}

}  // namespace
}  // namespace qm::dataset

// 10,000 random appends, replaces, deletions and recalls (1,500 under sanitizers) on a
// table with a unique and a non-unique index, both checked after every step against a model.
#include <gtest/gtest.h>

#include <list>
#include <map>
#include <random>

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
#else
constexpr int kSteps = 10000;
#endif

struct Record {
  std::string name;
  std::string group;
  bool deleted = false;
};

// What the indexes must hold. A unique key enters once, from the record that brought
// it first, and leaves only with that record's entry; equal keys of the non-unique
// index sit in the order they were inserted.
struct Model {
  std::map<std::string, int32_t> unique;
  std::map<std::string, std::list<int32_t>> groups;

  void Add(const Record& r, int32_t recNo) {
    unique.emplace(r.name, recNo);
    groups[r.group].push_back(recNo);
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
      groups[before.group].remove(recNo);
      groups[after.group].push_back(recNo);
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

  void Put(const Record& r) {
    m_table->FieldPut(1, r.name);
    m_table->FieldPut(2, r.group);
  }

  void Step() {
    int op = m_rng() % 100;
    if (m_records.empty() || op < 35) {
      Record r = RandomRecord();
      m_table->BlankRecord();
      Put(r);
      ASSERT_TRUE(m_table->AppendRecord());
      m_records.push_back(r);
      m_model.Add(r, static_cast<int32_t>(m_records.size()));
      return;
    }
    int32_t recNo = static_cast<int32_t>(m_rng() % m_records.size()) + 1;
    Record& current = m_records[recNo - 1];
    Record before = current;
    ASSERT_TRUE(m_table->GoTo(recNo));
    if (op < 70) {
      Record next = RandomRecord();
      if (op < 50) current.name = next.name;  // key of the unique index changes
      if (op % 2 == 0) current.group = next.group;
      Put(current);
      ASSERT_TRUE(m_table->ReplaceRecord(recNo));
      m_model.Change(before, current, recNo);
    } else if (op < 85) {
      ASSERT_TRUE(m_table->MarkDeleted());
      current.deleted = true;
      m_model.Change(before, current, recNo);
    } else {
      ASSERT_TRUE(m_table->Recall());
      current.deleted = false;
      m_model.Change(before, current, recNo);
    }
  }

  Pairs FreshBuild(bool unique, bool byName) const {
    Pairs pairs;
    for (size_t i = 0; i < m_records.size(); ++i) {
      if (!m_records[i].deleted)
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
  for (int i = 0; i < 400; ++i) {
    m_table->BlankRecord();
    Record r = RandomRecord();
    Put(r);
    ASSERT_TRUE(m_table->AppendRecord());
    m_records.push_back(r);
    m_model.Add(r, static_cast<int32_t>(m_records.size()));
  }
  for (int step = 1; step <= kSteps; ++step) {
    ASSERT_NO_FATAL_FAILURE(Step()) << "step " << step;
    ASSERT_EQ(test::FirstDifference(test::WalkTag(*m_table->TagByNumber(1)), m_model.UniquePairs()), "")
        << "unique index, step " << step;
    ASSERT_EQ(test::FirstDifference(test::WalkTag(*m_table->TagByNumber(2)), m_model.GroupPairs()), "")
        << "group index, step " << step;
  }
  // The table's own moves in unique-key order skip the deleted records.
  std::vector<int32_t> visible;
  for (const auto& [key, recNo] : m_model.unique) {
    if (!m_records[recNo - 1].deleted) visible.push_back(recNo);
  }
  EXPECT_EQ(Walk(), visible);

  ASSERT_TRUE(m_table->Reindex());
  EXPECT_EQ(test::FirstDifference(test::WalkTag(*m_table->TagByNumber(1)), FreshBuild(true, true)), "");
  EXPECT_EQ(test::FirstDifference(test::WalkTag(*m_table->TagByNumber(2)), FreshBuild(false, false)), "");
}

}  // namespace
}  // namespace qm::index

// CATALOG.NDX written by Quillmart, walked by an independent reader (Perl XBase).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "index/ndx_key.h"
#include "table_fixture_util.h"

namespace qm::index {
namespace {

using Pairs = std::vector<std::pair<std::string, int32_t>>;

Pairs PerlWalk(const std::string& ndx) { return test::PerlWalk({ndx}).front(); }

// Our walk with numeric keys shown as Perl shows them (the number).
Pairs OwnWalk(TbrNdxTag& tag, bool numeric) {
  Pairs pairs = test::WalkTag(tag);
  if (numeric) {
    for (auto& [key, recNo] : pairs) {
      std::ostringstream text;
      text << DoubleFromOrdered(key);
      key = text.str();
    }
  }
  return pairs;
}

class NdxInterop : public test::TableFixture {};

TEST_F(NdxInterop, PerlXBaseWalksCatalogIndexAfterBuildAndAfterSplits) {
  Create({{"KEYNAME", 'C', 12}, {"PRICE", 'N', 9, 2}}, "catalog.dbf");
  std::mt19937 rng(11);
  auto put = [&](int32_t recNo) {
    std::string key = "P" + std::to_string(rng() % 5000);
    std::string price = std::to_string(static_cast<int>(rng() % 20000) - 10000) + ".25";
    if (recNo == 0) Append({key, price}); else Replace(recNo, {key, price});
  };
  for (int i = 0; i < 700; ++i) put(0);
  ASSERT_TRUE(m_table->BuildIndex("CATALOG.NDX", "", "KEYNAME", "", 0, 0));
  ASSERT_TRUE(m_table->BuildIndex("PRICE.NDX", "", "PRICE", "", 1, 0));
  ASSERT_EQ(m_table->OpenIndexList("CATALOG.NDX PRICE.NDX", "CATALOG"), 0);
  TbrNdxTag& catalog = *m_table->TagByNumber(1);
  TbrNdxTag& price = *m_table->TagByNumber(2);
  Pairs built = test::WalkTag(catalog);
  ASSERT_GT(built.size(), 500u);
  EXPECT_EQ(test::FirstDifference(PerlWalk(m_dir.File("CATALOG.NDX")), built), "");
  EXPECT_EQ(test::FirstDifference(PerlWalk(m_dir.File("PRICE.NDX")), OwnWalk(price, true)), "");

  // Maintained appends and replaces split leaves and inner pages.
  for (int i = 0; i < 2500; ++i) put(i % 4 == 3 ? static_cast<int32_t>(rng() % 700) + 1 : 0);
  Pairs maintained = test::WalkTag(catalog);
  EXPECT_GT(maintained.size(), 2 * built.size());
  EXPECT_EQ(test::FirstDifference(PerlWalk(m_dir.File("CATALOG.NDX")), maintained), "");
  EXPECT_EQ(test::FirstDifference(PerlWalk(m_dir.File("PRICE.NDX")), OwnWalk(price, true)), "");
}

// Distinct keys of `length` letters in scrambled order: i times a number prime to
// 26 modulo 26^length is a bijection.
std::string SweepKey(uint64_t i, int length) {
  uint64_t space = 1;
  for (int p = 0; p < length; ++p) space *= 26;
  uint64_t v = (i * 2654435761ull + 12345) % space;
  std::string key(length, 'A');
  for (int p = length - 1; p >= 0; --p, v /= 26) key[p] = static_cast<char>('A' + v % 26);
  return key;
}

// A table of `count` records with one character field KEY, written directly.
void WriteSweepTable(const std::string& path, int length, int count) {
  test::WriteEmptyTable(path, {{"KEY", 'C', length}});
  std::string bytes = test::ReadFile(path);
  bytes.pop_back();  // end-of-file mark
  for (int i = 0; i < 4; ++i) bytes[4 + i] = static_cast<char>(count >> (8 * i));
  for (int i = 0; i < count; ++i) bytes += ' ' + SweepKey(static_cast<uint64_t>(i), length);
  std::ofstream(path, std::ios::binary) << bytes << '\x1A';
}

// Table sizes around the page boundaries where a bottom-up build ends a level with
// a lone entry (m keys per page: m*m*k + 1 records and so on), and some others.
// QM_NDX_SWEEP_FULL=1 (bench/run-index.sh sweep) widens the sweep to many more
// boundaries and random sizes up to 100,000 records.
std::vector<int> SweepSizes(int m, std::mt19937& rng) {
  const bool full = std::getenv("QM_NDX_SWEEP_FULL") != nullptr;
  std::vector<int> sizes = {1, 2, m - 1, m, m + 1, 2 * m + 1};
  for (int k = 1; k <= (full ? 40 : 2); ++k) {
    for (int extra : {0, 1, m / 2, m, m + 1}) sizes.push_back(m * m * k + extra);
  }
  for (int i = 0; i < (full ? 40 : 8); ++i)
    sizes.push_back(static_cast<int>(rng() % (full ? 100000 : 4000)) + 3);
  return sizes;
}

// Perl XBase walks every index of a sweep of table sizes up to 100,000 records
// (unique 10-character and non-unique 8-character keys) with nothing missing.
TEST(NdxInteropSweep, PerlXBaseWalksIndexesOfManyTableSizes) {
  test::TempDir dir;
  std::mt19937 rng(2026);
  struct Case {
    int length;
    int count;
  };
  std::vector<Case> cases;
  for (int size : SweepSizes(25, rng)) cases.push_back({10, size});
  for (int size : SweepSizes(31, rng)) cases.push_back({8, size});
  for (int size : {25 * 25 * 25 + 1, 25 * 25 * 26 + 1, 100000}) cases.push_back({10, size});
  for (int size : {31 * 31 * 31 + 1}) cases.push_back({8, size});
  ASSERT_GE(cases.size(), 50u);
  std::vector<std::string> files;
  std::vector<Pairs> expected;
  for (const Case& c : cases) {
    std::string name = "S" + std::to_string(c.length) + "_" + std::to_string(c.count);
    WriteSweepTable(dir.File(name + ".DBF"), c.length, c.count);
    TbrIndexTable table(dir.File(name + ".DBF"), dbf::kOpenSharedReadWrite);
    ASSERT_TRUE(table.OpenTable());
    ASSERT_TRUE(table.BuildIndex(name, "", "KEY", "", c.length == 10 ? 0 : 1, 0));
    files.push_back(dir.File(name + ".NDX"));
    Pairs pairs;
    for (int i = 0; i < c.count; ++i) pairs.emplace_back(SweepKey(static_cast<uint64_t>(i), c.length), i + 1);
    expected.push_back(test::ReferenceSort(pairs, true, false));
  }
  std::vector<Pairs> walks = test::PerlWalk(files);
  for (size_t i = 0; i < files.size(); ++i)
    EXPECT_EQ(test::FirstDifference(walks[i], expected[i]), "") << files[i];
}

// Replaces that move keys from one end of the tree to the other empty leaves and
// then inner pages, until an inner page is left with a single child; Perl XBase
// walks the maintained index whole all the way.
TEST_F(NdxInterop, PerlXBaseWalksIndexWhileReplacesDrainItsPages) {
  Create({{"KEY", 'C', 10}});
  const int count = 2000;
  for (int i = 0; i < count; ++i) Append({SweepKey(static_cast<uint64_t>(i), 10)});
  ASSERT_TRUE(m_table->BuildIndex("T", "", "KEY", "", 0, 0));
  ASSERT_EQ(m_table->OpenIndexList("T", "T"), 0);
  std::vector<std::pair<std::string, int32_t>> byKey = test::WalkTag(*m_table->CurrentTag());
  std::mt19937 rng(5);
  // The build fills leaves of 25 keys and inner pages of 25 children: moving the
  // lowest 2 * 625 - 25 keys behind all others (in random order) leaves the second
  // inner page of the lowest level with its last leaf alone.
  std::vector<int32_t> moved;
  for (size_t i = 0; i < 2 * 625 - 25; ++i) moved.push_back(byKey[i].second);
  std::shuffle(moved.begin(), moved.end(), rng);
  for (size_t i = 0; i < moved.size(); ++i) {
    Replace(moved[i], {"Z" + SweepKey(i, 9)});
    if (i % 150 != 149 && i + 1 != moved.size()) continue;
    Pairs ours = test::WalkTag(*m_table->CurrentTag());
    ASSERT_EQ(ours.size(), static_cast<size_t>(count));
    ASSERT_EQ(test::FirstDifference(PerlWalk(m_dir.File("T.NDX")), ours), "") << "after " << i + 1;
  }
}

}  // namespace
}  // namespace qm::index

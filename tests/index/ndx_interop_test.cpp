// CATALOG.NDX written by Quillmart, walked by an independent reader (Perl XBase).
#include <gtest/gtest.h>

#include <cmath>
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

}  // namespace
}  // namespace qm::index

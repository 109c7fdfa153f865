#include "index/key_sorter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "index_test_util.h"

namespace qm::index {
namespace {

struct Collect : TbrKeySink {
  std::vector<std::pair<std::string, int32_t>> pairs;
  void Output(int32_t recNo, std::string_view key) override { pairs.emplace_back(key, recNo); }
};

using Pairs = std::vector<std::pair<std::string, int32_t>>;

Pairs Sort(const Pairs& in, bool ascending, bool unique) {
  Collect out;
  TbrKeySorter sorter(out, "", ascending, unique);
  for (const auto& [key, recNo] : in) sorter.Add(recNo, key);
  sorter.Finish();
  return out.pairs;
}

TEST(KeySorter, EqualKeysComeOutByRecordNumberDigitCountFirst) {
  test::TempDir dir;
  Pairs in = {{"K", 100}, {"K", 9}, {"K", 10}};
  EXPECT_EQ(Sort(in, true, false), (Pairs{{"K", 9}, {"K", 10}, {"K", 100}}));
  EXPECT_EQ(Sort(in, false, false), (Pairs{{"K", 100}, {"K", 10}, {"K", 9}}));
}

TEST(KeySorter, TrailingBlanksDoNotCountAndUniqueKeepsFirst) {
  test::TempDir dir;
  Pairs in = {{"AB  ", 1}, {"AB", 2}, {"ABC", 3}, {"A", 4}, {"", 5}, {"   ", 6}};
  EXPECT_EQ(Sort(in, true, true), (Pairs{{"", 5}, {"A", 4}, {"AB", 1}, {"ABC", 3}}));
  EXPECT_EQ(Sort(in, false, true), (Pairs{{"ABC", 3}, {"AB", 1}, {"A", 4}, {"", 5}}));
  EXPECT_EQ(Sort(in, true, false),
            (Pairs{{"", 5}, {"", 6}, {"A", 4}, {"AB", 1}, {"AB", 2}, {"ABC", 3}}));
}

TEST(KeySorter, PackedTailsSplitWhereKeysBranch) {
  test::TempDir dir;
  // Long shared tails that later keys cut at every position.
  Pairs in = {{"ABCDEFGH", 1}, {"ABCD", 2}, {"ABCDEFGZ", 3}, {"ABX", 4}, {"ABCDEF", 5},
              {"B", 6},        {"ABCDEFGH", 7}, {"AA", 8}};
  Pairs expected = in;
  std::stable_sort(expected.begin(), expected.end());
  EXPECT_EQ(Sort(in, true, false), expected);
}

TEST(KeySorter, SpillingBuildMatchesInMemorySortAndRemovesWorkFile) {
  test::TempDir dir;
  std::mt19937 rng(7);
  Pairs in;
  for (int32_t r = 1; r <= 60000; ++r) {
    std::string key = test::RandomKey(rng, 8);
    if (r % 7 == 0) key = in[rng() % in.size()].first;  // duplicates
    in.emplace_back(key, r);
  }
  for (bool unique : {false, true}) {
    for (bool ascending : {true, false}) {
      Collect out;
      std::string workName;
      {
        TbrKeySorter sorter(out, dir.Path(), ascending, unique);
        for (const auto& [key, recNo] : in) sorter.Add(recNo, key);
        sorter.Finish();
        EXPECT_GE(sorter.RunCount(), 3);
        EXPECT_LE(sorter.PeakNodeBytes(), 512u * 1024u);
        workName = sorter.WorkFileName();
        EXPECT_TRUE(std::filesystem::exists(workName));
      }
      EXPECT_FALSE(std::filesystem::exists(workName));
      EXPECT_EQ(out.pairs, test::ReferenceSort(in, ascending, unique));
    }
  }
}

// Decodes the runs of a work file as another reader of the format would.
std::vector<std::vector<std::string>> ReadRuns(const std::string& bytes) {
  auto u32 = [&](size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8 |
                                 static_cast<uint8_t>(bytes[at + 2]) << 16 |
                                 static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3])) << 24);
  };
  std::vector<std::vector<std::string>> runs;
  size_t start = 0;
  for (;;) {
    size_t next = u32(start);
    size_t end = next == 0 ? bytes.size() : next;
    std::vector<std::string> run;
    std::string previous;
    for (size_t block = start; block < end; block += 1024) {
      if (block != start) {
        EXPECT_EQ(u32(block), 0u);
      }
      for (size_t pos = block + 4; pos + 2 <= block + 1020 && (bytes[pos] || bytes[pos + 1]);) {
        size_t shared = static_cast<uint8_t>(bytes[pos]), rest = static_cast<uint8_t>(bytes[pos + 1]);
        EXPECT_LE(pos + 2 + rest, block + 1020);  // an entry never crosses a block
        EXPECT_LE(shared, previous.size());
        std::string s = previous.substr(0, shared) + bytes.substr(pos + 2, rest);
        EXPECT_LT(previous, s);
        run.push_back(previous = s);
        pos += 2 + rest;
      }
    }
    runs.push_back(run);
    if (next == 0) return runs;
    EXPECT_GT(next, start);
    start = next;
  }
}

TEST(KeySorter, WorkFileHoldsLinkedPrefixCompressedRuns) {
  test::TempDir dir;
  std::mt19937 rng(5);
  Collect out;
  TbrKeySorter sorter(out, "", true, false);
  for (int32_t r = 1; r <= 40000; ++r) sorter.Add(r, test::RandomKey(rng, 10));
  sorter.Finish();
  std::string name = sorter.WorkFileName();
  EXPECT_EQ(name.size(), 12u);  // 8 hex digits and ".CPL", in the current directory
  EXPECT_EQ(name.substr(8), ".CPL");
  auto runs = ReadRuns(test::ReadFile(name));
  EXPECT_EQ(static_cast<int>(runs.size()), sorter.RunCount());
  size_t total = 0;
  for (const auto& run : runs) total += run.size();
  EXPECT_EQ(total, 40000u);
  // A run's entry: the key, then the digit count of the record number and its digits.
  const std::string& entry = runs[0][0];
  size_t digits = static_cast<uint8_t>(entry[10]);
  EXPECT_EQ(entry.size(), 11 + digits);
}

TEST(KeySorter, WorkFileRemovedWhenBuildAbandoned) {
  test::TempDir dir;
  std::mt19937 rng(3);
  Collect out;
  std::string workName;
  {
    TbrKeySorter sorter(out, dir.Path(), true, false);
    for (int32_t r = 1; sorter.RunCount() == 0; ++r) sorter.Add(r, test::RandomKey(rng, 12));
    workName = sorter.WorkFileName();
    EXPECT_THROW(sorter.Add(1, std::string(300, 'x')), TbrSortError);
  }
  EXPECT_FALSE(std::filesystem::exists(workName));
}

TEST(KeySorter, WorkFileThatCannotBeCreatedIsAnEngineError) {
  Collect out;
  TbrKeySorter sorter(out, "/nonexistent-qm-dir", true, false);
  std::mt19937 rng(9);
  try {
    for (int32_t r = 1; r < 200000; ++r) sorter.Add(r, test::RandomKey(rng, 12));
    ADD_FAILURE() << "the sorter never spilled";
  } catch (const TbrSortError& error) {
    EXPECT_EQ(error.Code(), 2);  // file not found, as the engine numbers it
    EXPECT_EQ(error.SubCode(), 1108);
    EXPECT_NE(std::string(error.what()).find("/nonexistent-qm-dir/"), std::string::npos);
  }
}

}  // namespace
}  // namespace qm::index

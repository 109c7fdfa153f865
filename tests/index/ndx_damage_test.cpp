// Damaged index files give an error naming the damage: never a crash or endless loop.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "dbf/errors.h"
#include "index/ndx_page.h"
#include "table_fixture_util.h"

namespace qm::index {
namespace {

class NdxDamage : public test::TableFixture {
 protected:
  void SetUp() override {
    Create({{"NAME", 'C', 10}});
    for (int i = 0; i < 100; ++i) Append({"K" + std::to_string(1000 + i * 7 % 100)});
    ASSERT_TRUE(m_table->BuildIndex("T", "", "NAME", "", 1, 0));
    m_bytes = test::ReadFile(m_dir.File("T.NDX"));
    m_root = GetU32(Bytes(0));
  }

  uint8_t* Bytes(size_t at) { return reinterpret_cast<uint8_t*>(m_bytes.data()) + at; }
  uint32_t FirstChild(uint32_t block) { return GetU32(Bytes(block * 512 + 4)); }
  // Points every child entry of inner page `block` at `child`.
  void PointAllChildrenAt(uint32_t block, uint32_t child) {
    uint32_t count = GetU32(Bytes(block * 512));
    for (uint32_t i = 0; i <= count; ++i) PutU32(Bytes(block * 512 + 4 + i * 20), child);
  }

  // Writes the damaged bytes, then opens the index and walks it both ways and
  // appends a record; expects the damage to be reported with `reason` in the text.
  void ExpectDamage(const std::string& reason) {
    std::ofstream(m_dir.File("T.NDX"), std::ios::binary) << m_bytes;
    try {
      if (m_table->OpenIndexList("T", "T") == 0) {
        Walk();
        WalkBack();
        Append({"K0000"});
      }
      FAIL() << "no error for " << reason;
    } catch (const dbf::EEngineIoError& error) {
      EXPECT_NE(std::string(error.what()).find(reason), std::string::npos) << error.what();
    }
  }

  std::string m_bytes;
  uint32_t m_root = 0;
};

TEST_F(NdxDamage, CountAboveThePageMaximum) {
  PutU32(Bytes(FirstChild(m_root) * 512), 26);
  ExpectDamage("above the page maximum");
}

TEST_F(NdxDamage, RootCountAboveThePageMaximum) {
  PutU32(Bytes(m_root * 512), 0xFFFF);
  ExpectDamage("above the page maximum");
}

TEST_F(NdxDamage, ChildBlockPastTheEnd) {
  PutU32(Bytes(m_root * 512 + 4 + 20), 4000);
  ExpectDamage("outside the file");
}

TEST_F(NdxDamage, PageThatPointsBackAtTheRoot) {
  // The first leaf becomes an inner page whose children are all the root.
  PointAllChildrenAt(FirstChild(m_root), m_root);
  ExpectDamage("cycle");
}

TEST_F(NdxDamage, RootBlockPastTheEnd) {
  PutU32(Bytes(0), 99);
  ExpectDamage("root block 99 outside the file");
}

TEST_F(NdxDamage, KeySizesThatDoNotFitAPage) {
  PutU16(Bytes(14), 200);  // keys per page
  ExpectDamage("key sizes");
}

TEST_F(NdxDamage, FileCutInsideAPage) {
  m_bytes.resize(m_bytes.size() - 300);
  ExpectDamage("outside the file");
}

TEST_F(NdxDamage, RecordNumberZeroInALeaf) {
  PutU32(Bytes(FirstChild(m_root) * 512 + 4 + 3 * 20 + 4), 0);
  ExpectDamage("block " + std::to_string(FirstChild(m_root)) + ": record number 0");
}

TEST_F(NdxDamage, KeySizesWhoseProductOverflows) {
  PutU16(Bytes(14), 0xFFFF);  // keys per page
  PutU16(Bytes(18), 0xFFFF);  // entry size
  ExpectDamage("key sizes");
}

TEST_F(NdxDamage, InnerEntriesSharingOneSubtree) {
  // Every child of the root is the first leaf: no cycle, but a walk would repeat it.
  PointAllChildrenAt(m_root, FirstChild(m_root));
  ExpectDamage("reached twice");
}

// Random bytes changed anywhere in the file: every open, walk and find either works
// or reports an engine error; none crashes or hangs (the sanitized run checks reads).
TEST_F(NdxDamage, RandomlyChangedBytesNeverCrash) {
  const std::string sound = m_bytes;
  std::mt19937 rng(13);
  for (int round = 0; round < 400; ++round) {
    m_bytes = sound;
    for (int n = 1 + static_cast<int>(rng() % 6); n > 0; --n) {
      // Half the changes go to the header's sizes and root, half anywhere.
      size_t at = rng() % 2 ? rng() % 24 : rng() % m_bytes.size();
      m_bytes[at] = static_cast<char>(rng() % 4 == 0 ? 0xFF : rng());
    }
    std::ofstream(m_dir.File("T.NDX"), std::ios::binary) << m_bytes;
    try {
      if (m_table->OpenIndexList("T", "T") == 0) {
        Walk();
        WalkBack();
        m_table->FindKey("K10");
      }
    } catch (const dbf::EEngineIoError&) {
    }
  }
}

}  // namespace
}  // namespace qm::index

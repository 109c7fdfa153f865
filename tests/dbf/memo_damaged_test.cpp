// Damaged memo files: every case gives an empty value or a clear engine
// error, never a crash, a hang or an absurd allocation, and never overwrites
// memos already in the file.
#include <gtest/gtest.h>

#include "dbf/dbf_format.h"
#include "dbf/memo_bytes.h"
#include "dbf/memo_file.h"
#include "dbf_test_util.h"

namespace qm::dbf {
namespace {

using test::ReadFileBytes;
using test::WriteFileBytes;

class MemoDamaged : public ::testing::Test {
 protected:
  // Writes the memo file and opens it as the memo of a table of this version.
  std::unique_ptr<TbrMemoFile> Open(const std::string& bytes, uint8_t version = 0x83) {
    const bool fox = version == 0xF5;
    WriteFileBytes(m_dir.File(fox ? "T.FPT" : "T.DBT"), bytes);
    return std::make_unique<TbrMemoFile>(nullptr, m_dir.File("T.DBF"), kOpenSharedReadWrite,
                                         version, 0, TbrLokProtocol::Default);
  }
  static std::string Db4Header(uint32_t nextFree, uint32_t blockSize) {
    std::string h(512, '\0');
    auto* p = reinterpret_cast<uint8_t*>(h.data());
    layout::PutU32(p, nextFree);
    p[18] = 2;
    p[19] = 1;
    layout::PutU32(p + 20, blockSize);
    return h;
  }
  static std::string FoxHeader(uint32_t nextFree, uint32_t blockSize) {
    std::string h(512, '\0');
    auto* p = reinterpret_cast<uint8_t*>(h.data());
    bytes::PutBe32(p, nextFree);
    bytes::PutBe16(p + 6, blockSize);
    return h;
  }

  test::ScratchDir m_dir;
  test::ReportRecorder m_reports;
};

TEST_F(MemoDamaged, BlockPastEndOfFileReadsEmpty) {
  auto memo = Open(test::EmptyDb3Memo());
  ASSERT_TRUE(memo->Usable());
  for (uint32_t block : {2u, 1000u, 0xFFFFFFFFu}) {
    EXPECT_EQ(memo->MemoLength(block), 0u);
    EXPECT_EQ(memo->ReadMemoText(block), "");
  }
  EXPECT_TRUE(m_reports.Reports().empty());
}

TEST_F(MemoDamaged, MemoWithoutTerminatorEndsAtEndOfFile) {
  auto memo = Open(test::EmptyDb3Memo().substr(0, 512) + std::string(300, 'x'));
  EXPECT_EQ(memo->ReadMemoText(1), std::string(300, 'x'));
}

TEST_F(MemoDamaged, MemoWithoutTerminatorStopsAt65519Bytes) {
  auto memo = Open(test::EmptyDb3Memo().substr(0, 512) + std::string(70000, 'y'));
  EXPECT_EQ(memo->MemoLength(1), 65519u);
  EXPECT_EQ(memo->ReadMemoText(1).size(), 65519u);
}

TEST_F(MemoDamaged, AbsurdBlockSizeMakesTheMemoFileUnusable) {
  for (uint32_t size : {0u, 0x7FFFFFFFu}) {
    m_reports.Clear();
    auto memo = Open(Db4Header(1, size), 0x8B);
    EXPECT_FALSE(memo->Usable()) << size;
    ASSERT_EQ(m_reports.Reports().size(), 1u);
    EXPECT_EQ(m_reports.Reports()[0].code, code::kNotTextMemo);
    EXPECT_EQ(m_reports.Reports()[0].subCode, subcode::kMemoOpen);
  }
  m_reports.Clear();
  EXPECT_FALSE(Open(FoxHeader(8, 0), 0xF5)->Usable());
  EXPECT_EQ(m_reports.Reports().size(), 1u);
}

TEST_F(MemoDamaged, TruncatedHeader) {
  EXPECT_FALSE(Open(Db4Header(1, 512).substr(0, 10), 0x8B)->Usable());
  EXPECT_FALSE(Open(FoxHeader(8, 64).substr(0, 5), 0xF5)->Usable());
  // dBASE III reads need no header; a write refuses and leaves the file alone.
  m_reports.Clear();
  auto memo = Open(std::string("\x01\x00", 2), 0x83);
  ASSERT_TRUE(memo->Usable());
  EXPECT_EQ(memo->ReadMemoText(1), "");
  EXPECT_FALSE(memo->WriteMemo(0, "text").has_value());
  ASSERT_EQ(m_reports.Reports().size(), 1u);
  EXPECT_EQ(m_reports.Reports()[0].code, code::kNotTextMemo);
  EXPECT_EQ(ReadFileBytes(m_dir.File("T.DBT")), std::string("\x01\x00", 2));
}

TEST_F(MemoDamaged, BlockHeaderThatIsNotATextMemo) {
  std::string db4 = Db4Header(2, 512) + std::string(512, '\0');
  db4.replace(512, 8, "\x01\x02\x08\x00\x10\x00\x00\x00", 8);
  EXPECT_EQ(Open(db4, 0x8B)->MemoLength(1), 0u);
  std::string fox = FoxHeader(9, 64) + std::string(64, '\0');
  fox.replace(512, 8, "\x00\x00\x00\x07\x00\x00\x00\x04", 8);
  EXPECT_EQ(Open(fox, 0xF5)->MemoLength(8), 0u);
  ASSERT_EQ(m_reports.Reports().size(), 2u);
  for (const test::Report& r : m_reports.Reports()) {
    EXPECT_EQ(r.code, code::kNotTextMemo);
    EXPECT_EQ(r.subCode, subcode::kMemoBlockHeader);
  }
}

TEST_F(MemoDamaged, HugeLengthInBlockHeaderIsCutToTheFile) {
  std::string fox = FoxHeader(9, 64) + std::string(8, '\0') + "twenty bytes of text";
  fox.replace(512, 8, "\x00\x00\x00\x01\x7F\xFF\xFF\xFF", 8);
  EXPECT_EQ(Open(fox, 0xF5)->ReadMemoText(8), "twenty bytes of text");
}

TEST_F(MemoDamaged, StaleNextFreeBlockNeverHandsOutBlocksInUse) {
  auto memo = Open(test::EmptyDb3Memo());
  const uint32_t first = *memo->WriteMemo(0, std::string(600, 'a'));
  std::string bytes = ReadFileBytes(m_dir.File("T.DBT"));
  bytes[0] = 1;  // the header forgets the memo
  WriteFileBytes(m_dir.File("T.DBT"), bytes);
  memo = Open(bytes);
  EXPECT_EQ(memo->WriteMemo(0, "new"), 3u);
  EXPECT_EQ(memo->ReadMemoText(first), std::string(600, 'a'));
}

TEST_F(MemoDamaged, CircularFreeChainIsCutNotFollowed) {
  // dBASE IV: chain head 1, and block 1 links back to itself.
  std::string db4 = Db4Header(3, 512) + std::string(1024, '\0');
  auto* p = reinterpret_cast<uint8_t*>(db4.data());
  layout::PutU32(p + 24, 1);
  layout::PutU32(p + 512, 1);
  layout::PutU32(p + 516, 1);
  auto memo = Open(db4, 0x8B);
  ASSERT_TRUE(memo->Usable());
  const std::optional<uint32_t> block = memo->WriteMemo(0, "after the loop");
  ASSERT_TRUE(block.has_value());
  EXPECT_EQ(memo->ReadMemoText(*block), "after the loop");
}

}  // namespace
}  // namespace qm::dbf

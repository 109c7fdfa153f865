// The disk file object: path resolution, shared handles, access modes,
// transfers and the single-region lock bookkeeping.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "dbf/disk_file.h"
#include "dbf/disk_io.h"
#include "dbf_test_util.h"

namespace qm::dbf {
namespace {

using test::ScratchDir;
using test::WriteFileBytes;

TEST(PathNormalization, ExistingFileMatchesIgnoringCaseAndDirectoryStays) {
  ScratchDir dir;
  WriteFileBytes(dir.File("catalog.dbt"), "x");
  EXPECT_EQ(NormalizePath(dir.File("CATALOG.DBT")), dir.File("catalog.dbt"));
  EXPECT_EQ(NormalizePath(dir.Path() + "/./sub/../Catalog.Dbt"), dir.File("catalog.dbt"));
}

TEST(PathNormalization, NewFileNameIsUpperCasedAndExactNameWins) {
  ScratchDir dir;
  WriteFileBytes(dir.File("Exact.dbf"), "x");
  WriteFileBytes(dir.File("EXACT.DBF"), "y");
  EXPECT_EQ(NormalizePath(dir.File("Exact.dbf")), dir.File("Exact.dbf"));
  EXPECT_EQ(NormalizePath(dir.File("new.ndx")), dir.File("NEW.NDX"));
}

TEST(DiskFile, TwoObjectsOnOnePathShareOneHandle) {
  ScratchDir dir;
  WriteFileBytes(dir.File("t.dbf"), "0123456789");
  TbrDiskFile first(dir.File("t.dbf"), kOpenSharedReadWrite);
  TbrDiskFile second(dir.File("T.DBF"), kOpenSharedReadWrite);
  ASSERT_TRUE(first.Open());
  ASSERT_TRUE(second.Open());
  EXPECT_EQ(first.Handle(), second.Handle());
  first.Close();
  char buffer[4] = {};
  EXPECT_TRUE(second.Read(2, buffer, 3));
  EXPECT_STREQ(buffer, "234");
}

TEST(DiskFile, ReadOnlyAttributeMakesObjectReadOnlyAndWritesFail) {
  test::ReportRecorder recorder;
  ScratchDir dir;
  WriteFileBytes(dir.File("ro.dbf"), "abc");
  chmod(dir.File("ro.dbf").c_str(), 0444);
  TbrDiskFile file(dir.File("ro.dbf"), kOpenSharedReadWrite);
  EXPECT_TRUE(file.ReadOnly());
  EXPECT_EQ(file.OpenMode(), 64);
  ASSERT_TRUE(file.Open());
  EXPECT_FALSE(file.Write(0, "z", 1));
  EXPECT_EQ(file.LastCode(), 5);
  EXPECT_EQ(recorder.Reports().back().subCode, 1102);
}

TEST(DiskFile, ShortReadStoresCode221WithoutReport) {
  test::ReportRecorder recorder;
  ScratchDir dir;
  WriteFileBytes(dir.File("s.dbf"), "abc");
  TbrDiskFile file(dir.File("s.dbf"), kOpenCreate);
  ASSERT_TRUE(file.Open());
  char buffer[8];
  EXPECT_FALSE(file.Read(1, buffer, 8));
  EXPECT_EQ(file.LastCode(), 221);
  EXPECT_EQ(file.BytesTransferred(), 2u);
  EXPECT_TRUE(recorder.Reports().empty());
}

TEST(DiskFile, PositionFollowsTransfersForOffsetMinusOne) {
  ScratchDir dir;
  TbrDiskFile file(dir.File("p.dat"), kOpenCreate);
  ASSERT_TRUE(file.CreateFile());
  ASSERT_TRUE(file.Write(-1, "abc", 3));
  ASSERT_TRUE(file.Write(-1, "def", 3));
  EXPECT_EQ(file.FileSize(), 6);
  EXPECT_EQ(test::ReadFileBytes(dir.File("P.DAT")), "abcdef");
}

TEST(DiskFile, ReadCacheServesAWindowAndForgetsItOnWrite) {
  ScratchDir dir;
  WriteFileBytes(dir.File("c.dat"), "0123456789");
  TbrDiskFile file(dir.File("c.dat"), kOpenSharedReadWrite);
  ASSERT_TRUE(file.Open());
  file.SetReadCache(8);
  char buffer[4] = {};
  ASSERT_TRUE(file.Read(1, buffer, 3));
  EXPECT_STREQ(buffer, "123");
  ASSERT_TRUE(file.Write(2, "x", 1));
  ASSERT_TRUE(file.Read(1, buffer, 3));
  EXPECT_STREQ(buffer, "1x3");
  EXPECT_FALSE(file.Read(8, buffer, 3));  // past the end: short, as without the cache
  EXPECT_EQ(file.LastCode(), 221);
  EXPECT_EQ(file.BytesTransferred(), 2u);
}

TEST(DiskFile, CreateOfAFileOpenInThisProcessIsRefusedWith12) {
  test::ReportRecorder recorder;
  ScratchDir dir;
  WriteFileBytes(dir.File("T.DBF"), "keep");
  TbrDiskFile open(dir.File("T.DBF"), kOpenSharedReadWrite);
  ASSERT_TRUE(open.Open());
  TbrDiskFile creator(dir.File("t.dbf"), kOpenCreate);
  EXPECT_FALSE(creator.CreateFile());
  EXPECT_EQ(creator.LastCode(), 12);
  EXPECT_EQ(recorder.Reports().back().subCode, 1108);
  EXPECT_EQ(test::ReadFileBytes(dir.File("T.DBF")), "keep");
}

TEST(DiskFile, TruncateNeedsTheWholeFileLockWhenShared) {
  test::ReportRecorder recorder;
  ScratchDir dir;
  WriteFileBytes(dir.File("t.dat"), "0123456789");
  TbrDiskFile file(dir.File("t.dat"), kOpenSharedReadWrite);
  ASSERT_TRUE(file.Open());
  EXPECT_FALSE(file.Truncate(4));
  EXPECT_EQ(file.LastCode(), 5);
  ASSERT_TRUE(file.Lock(0, kWholeFileLength));
  EXPECT_TRUE(file.WholeFileLocked());
  EXPECT_TRUE(file.Truncate(4));
  EXPECT_EQ(file.FileSize(), 4);
}

TEST(DiskFile, OneRegionPerObject) {
  ScratchDir dir;
  WriteFileBytes(dir.File("t.dat"), "x");
  TbrDiskFile file(dir.File("t.dat"), kOpenSharedReadWrite);
  ASSERT_TRUE(file.Open());
  ASSERT_TRUE(file.Lock(0x40000129u, 1));
  EXPECT_TRUE(file.Lock(0x40000129u, 1));
  EXPECT_FALSE(file.Lock(0x4000012Au, 1));
  EXPECT_EQ(file.LastCode(), 33);
  EXPECT_TRUE(file.Unlock());
  EXPECT_TRUE(file.Lock(0x4000012Au, 1));
}

TEST(DiskFile, LockWithoutLockingIsCode1) {
  ScratchDir dir;
  WriteFileBytes(dir.File("t.dat"), "x");
  TbrDiskFile file(dir.File("t.dat"), kOpenCreate);
  ASSERT_TRUE(file.Open());
  EXPECT_FALSE(file.LockingActive());
  EXPECT_FALSE(file.Lock(0, 1));
  EXPECT_EQ(file.LastCode(), 1);
}

TEST(LockRegions, RecordLockOffsetsOfEachProtocol) {
  EXPECT_EQ(RecordLockRegion(TbrLokProtocol::Default, 97, 50, 5, false),
            (TbrLockRegion{0x40000129u, 1}));
  EXPECT_EQ(RecordLockRegion(TbrLokProtocol::Default, 97, 50, 5, true),
            (TbrLockRegion{0x7FFFFFF9u, 1}));
  EXPECT_EQ(RecordLockRegion(TbrLokProtocol::FoxLock, 97, 50, 5, true),
            (TbrLockRegion{0x7FFFFFF9u, 1}));
  EXPECT_EQ(RecordLockRegion(TbrLokProtocol::DB4Lock, 97, 50, 5, false),
            (TbrLockRegion{0xEFFFFFF9u, 1}));
  EXPECT_EQ(RecordLockRegion(TbrLokProtocol::ClipLock, 97, 50, 5, true),
            (TbrLockRegion{1000000005u, 1}));
}

TEST(LockRegions, FileLockCoversRecordAndAppendLocks) {
  for (auto protocol :
       {TbrLokProtocol::Default, TbrLokProtocol::DB4Lock, TbrLokProtocol::ClipLock}) {
    const TbrLockRegion file = FileLockRegion(protocol);
    const uint64_t end = uint64_t{file.offset} + file.length;
    const TbrLockRegion append = AppendLockRegion(protocol);
    const TbrLockRegion record = RecordLockRegion(protocol, 97, 50, 1000, true);
    EXPECT_GE(append.offset, file.offset);
    EXPECT_LE(uint64_t{append.offset} + 1, end);
    EXPECT_GE(record.offset, file.offset);
    EXPECT_LE(uint64_t{record.offset} + 1, end);
  }
  EXPECT_EQ(MemoLockRegion(TbrLokProtocol::DB4Lock), (TbrLockRegion{0xEFFFFFFEu, 2}));
}

// Work files in a folder neighbours can write: names nobody can guess, created
// exclusively, so a link planted under a name is never followed; and only the
// left-overs of processes that are gone are cleared away.
TEST(WorkFiles, AreNewUnguessableAndNeverFollowLinks) {
  ScratchDir dir;
  const std::string target = dir.File("CATALOG.NDX");
  std::string first, second;
  const int a = CreateWorkFile(target, 0600, first);
  const int b = CreateWorkFile(target, 0600, second);
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  Disk().Close(a);
  Disk().Close(b);
  EXPECT_NE(first, second);
  const std::string prefix = target + ".qm" + std::to_string(::getpid()) + "-";
  for (const std::string& name : {first, second}) {
    ASSERT_EQ(name.rfind(prefix, 0), 0u) << name;
    EXPECT_GE(name.size(), prefix.size() + 4 + 6) << "too few random digits: " << name;
  }

  WriteFileBytes(dir.File("victim"), "precious");
  ASSERT_EQ(::symlink(dir.File("victim").c_str(), dir.File("planted").c_str()), 0);
  EXPECT_EQ(CreateExclusive(dir.File("planted"), 0600), -1);
  EXPECT_EQ(errno, EEXIST);
  TbrDiskFile work(dir.File("planted"), kOpenSharedReadWrite);
  {
    test::ReportRecorder reports;
    EXPECT_FALSE(work.CreateFile());
  }
  EXPECT_EQ(test::ReadFileBytes(dir.File("victim")), "precious");

  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  const std::string left = target + ".QM" + std::to_string(gone) + "-17.TMP";  // as the engine names it
  WriteFileBytes(left, "left by a killed rebuild");
  WriteFileBytes(dir.File("CATALOG.NDX.qm1x-2.tmp"), "not a work file name");
  EXPECT_EQ(RemoveLeftWorkFiles(dir.Path(), "CATALOG.NDX"), 1);
  EXPECT_FALSE(std::filesystem::exists(left));
  EXPECT_TRUE(std::filesystem::exists(first)) << "a running process keeps its work files";
  EXPECT_TRUE(std::filesystem::exists(dir.File("CATALOG.NDX.qm1x-2.tmp")));
}

}  // namespace
}  // namespace qm::dbf

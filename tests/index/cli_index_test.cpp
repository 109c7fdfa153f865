// The companion's index commands: reindex, dump --index and build --key-order.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "index_test_util.h"

namespace qm::index {
namespace {

std::string Cli(const std::string& args) {
  return test::RunCommand("XDG_CONFIG_HOME=$PWD/cfg " QM_CLI " " + args + " 2>&1");
}

// The output and then "exit N" with the exit status.
std::string CliStatus(const std::string& args) {
  return test::RunCommand("XDG_CONFIG_HOME=$PWD/cfg " QM_CLI " " + args + " 2>&1; echo \"exit $?\"");
}

TEST(CliIndex, ReindexDumpAndKeyOrderBuildShareOneUniqueKeyOrder) {
  test::TempDir dir;
  Cli("create keyname:10 price:8 --force");
  // The key twice, as another program may write it: quillmart-cli refuses to.
  std::ofstream("in.csv") << "keyname,price\nPEAR,1\nAPPLE,2\nFIG,3\n";
  Cli("import in.csv");
  test::RunCommand("/usr/bin/python3 -c 'import dbf\nt = dbf.Table(\"CATALOG.DBF\")\nt.open(dbf.READ_WRITE)\n"
                   "t.append({\"keyname\": \"APPLE\", \"price\": \"4\"})\nt.close()'");
  std::ofstream("more.csv") << "keyname,price\nBANANA,5\n";
  Cli("import more.csv");
  EXPECT_EQ(Cli("reindex"), "CATALOG.NDX: 4 keys on KEYNAME\n");
  EXPECT_EQ(Cli("dump --index CATALOG.NDX"),
            "KEYNAME,PRICE,SNOTES\r\nAPPLE,2,\r\nBANANA,5,\r\nFIG,3,\r\nPEAR,1,\r\n");
  EXPECT_EQ(test::RunCommand("/usr/bin/perl " QM_TEST_DATA "/index/walk_ndx.pl CATALOG.NDX"),
            "APPLE\t2\nBANANA\t5\nFIG\t3\nPEAR\t1\n");

  Cli("build --key-order");
  std::string page = test::ReadFile("catalog.htm");
  size_t apple = page.find(">APPLE<");
  size_t banana = page.find(">BANANA<");
  size_t pear = page.find(">PEAR<");
  EXPECT_LT(apple, banana);
  EXPECT_LT(banana, pear);
  EXPECT_EQ(page.find(">APPLE<", apple + 1), std::string::npos);  // the repeated key is left out
  std::string failure = test::RunCommand(QM_CLI " dump --index NOSUCH.NDX 2>&1 || true");
  EXPECT_NE(failure.find("Bramble Error 2, SubCode -7"), std::string::npos) << failure;
}

// A failed rebuild keeps the index that was there; an index that cannot be used
// fails dump --index and build --key-order with exit status 1.
TEST(CliIndex, FailuresKeepTheIndexAndExitWithStatusOne) {
  test::TempDir dir;
  Cli("create keyname:10 price:8 --force");
  std::ofstream("in.csv") << "keyname,price\nPEAR,1\nAPPLE,2\n";
  Cli("import in.csv");
  Cli("reindex");
  const std::string index = test::ReadFile("CATALOG.NDX");
  ASSERT_EQ(index.size(), 1024u);
  ASSERT_EQ(::chmod("CATALOG.DBF", 0444), 0);
  // A table newer than its index makes build --key-order rebuild it first.
  std::filesystem::last_write_time("CATALOG.DBF",
                                   std::filesystem::last_write_time("CATALOG.NDX") + std::chrono::minutes(1));
  for (const char* command : {"reindex", "build --key-order"}) {
    std::string out = CliStatus(command);
    EXPECT_NE(out.find("exit 1"), std::string::npos) << command << ": " << out;
    EXPECT_NE(out.find("CATALOG.NDX"), std::string::npos) << command << ": " << out;
    EXPECT_EQ(test::ReadFile("CATALOG.NDX"), index) << command;
  }
  ASSERT_EQ(::chmod("CATALOG.DBF", 0644), 0);
  ASSERT_EQ(Cli("reindex"), "CATALOG.NDX: 2 keys on KEYNAME\n");  // current again, then damaged

  std::string damaged = test::ReadFile("CATALOG.NDX");
  damaged[512 + 8] = 0;  // the first entry's record number becomes 0
  std::ofstream("CATALOG.NDX", std::ios::binary) << damaged;
  std::string out = CliStatus("dump --index CATALOG.NDX");
  EXPECT_NE(out.find("Error 1001"), std::string::npos) << out;
  EXPECT_NE(out.find("CATALOG.NDX: block 1: record number 0"), std::string::npos) << out;
  EXPECT_NE(out.find("exit 1"), std::string::npos) << out;
  out = CliStatus("dump --index NOSUCH.NDX");
  EXPECT_NE(out.find("exit 1"), std::string::npos) << out;
}

}  // namespace
}  // namespace qm::index

// The error path: the default handler's message, suppression, the hook and
// the fatal stop for internal faults.
#include <gtest/gtest.h>

#include <cerrno>

#include "dbf/disk_file.h"
#include "dbf/errors.h"
#include "dbf_test_util.h"

namespace qm::dbf {
namespace {

TEST(DefaultHandler, RaisesExactMessageWithCodeSubcodeAndPath) {
  try {
    DefaultErrorHandler(1001, 1204, "/data/CATALOG.DBF");
    FAIL() << "no exception";
  } catch (const EEngineIoError& e) {
    EXPECT_STREQ(e.what(), "Bramble Error 1001, SubCode 1204  /data/CATALOG.DBF");
    EXPECT_EQ(e.Code(), 1001);
    EXPECT_EQ(e.SubCode(), 1204);
  }
}

TEST(DefaultHandler, MessageWithoutTextKeepsTheTwoBlanks) {
  EXPECT_EQ(BrambleErrorMessage(12, 1108, nullptr), "Bramble Error 12, SubCode 1108  ");
  EXPECT_EQ(BrambleErrorMessage(1004, -7, "Invalid date in field T->D (19000229)"),
            "Bramble Error 1004, SubCode -7  Invalid date in field T->D (19000229)");
}

TEST(DefaultHandler, CodeZeroDoesNothingWhateverTheSubcode) {
  EXPECT_NO_THROW(DefaultErrorHandler(0, 1101, "x"));
  EXPECT_NO_THROW(DefaultErrorHandler(0, -1, nullptr));
}

TEST(DefaultHandlerDeathTest, InternalFaultStopsTheProgramWithTheCode) {
  EXPECT_EXIT(DefaultErrorHandler(213, -1, nullptr), testing::ExitedWithCode(213),
              "Runtime error 213");
}

TEST(ErrorPath, SuppressedOpenFailsQuietlyAndKeepsItsCode) {
  test::ScratchDir dir;
  TbrDiskFile file(dir.File("missing.dbf"), kOpenSharedReadWrite);
  file.SuppressErrors();
  EXPECT_FALSE(file.Open());  // would raise without suppression
  EXPECT_EQ(file.LastCode(), 2);
  file.AllowErrors();
  EXPECT_THROW(file.Open(), EEngineIoError);
}

TEST(ErrorPath, ReportGoesThroughTheInstalledHookAndStoresErrno) {
  test::ReportRecorder recorder;
  test::ScratchDir dir;
  TbrDiskFile file(dir.File("missing.dbf"), kOpenSharedReadWrite);
  errno = 0;
  EXPECT_FALSE(file.Open());
  EXPECT_EQ(errno, 2);
  ASSERT_EQ(recorder.Reports().size(), 1u);
  EXPECT_EQ(recorder.Reports()[0].code, 2);
  EXPECT_EQ(recorder.Reports()[0].subCode, 1107);
  EXPECT_EQ(recorder.Reports()[0].text, dir.File("MISSING.DBF"));
}

TEST(ErrorPath, OverriddenErrorOperationReplacesTheHook) {
  struct Reporter : TbrErrorReporter {
    int32_t seen = 0;
    void Error(int32_t code, int32_t, const char*) override { seen = code; }
  } reporter;
  EXPECT_TRUE(reporter.Check(0, 1101));
  EXPECT_FALSE(reporter.Check(33, 1112));
  EXPECT_EQ(reporter.seen, 33);
  EXPECT_EQ(reporter.LastCode(), 33);
}

TEST(ErrorPath, EmptyHookRestoresTheDefaultHandler) {
  SetErrorHook([](int32_t, int32_t, const char*) {});
  EXPECT_NO_THROW(CallErrorHook(5, 1109, "x"));
  SetErrorHook(nullptr);
  EXPECT_THROW(CallErrorHook(5, 1109, "x"), EEngineIoError);
}

}  // namespace
}  // namespace qm::dbf

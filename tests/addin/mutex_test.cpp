// The add-in's mutex guard messages, as a debug viewer sees them.
#include <gtest/gtest.h>

#include <string>

#include "addin/mutex_access.h"
#include "support/debug_sink.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

TEST(AddinMutex, SecondCreateIsReportedAndKeepsTheFirstHandle) {
    UseFreshEnvironment();
    TAutoMutex mutex;
    mutex.Create("UADDKELDAMUTEXRS232");
    void* const hFirst = mutex.Handle();
    ASSERT_NE(hFirst, nullptr);
    EXPECT_EQ(DebugTextOf([&] { mutex.Create("UADDKELDAMUTEXRS232"); }),
              "*** TAutoMutex \"UADDKELDAMUTEXRS232\" Attempted second Create ***\r\n");
    EXPECT_EQ(mutex.Handle(), hFirst);
}

TEST(AddinMutex, FailedCreateAndWaitAreReportedAndTheOperationGoesOn) {
    UseFreshEnvironment();
    const char kBadName[] = "UADDKELDA\\MUTEX";  // no object name holds a backslash past its prefix
    TAutoMutex mutex;
    EXPECT_EQ(DebugTextOf([&] { mutex.Create(kBadName); }),
              std::string("*** TAutoMutex \"") + kBadName + "\" Create Failed ***\r\n");
    EXPECT_EQ(mutex.Handle(), nullptr);
    bool bRan = false;
    EXPECT_EQ(DebugTextOf([&] {
                  TMutexAccess access(mutex);
                  bRan = true;
              }),
              "*** TMutexAccess Wait Failed ***\r\n");
    EXPECT_TRUE(bRan);
}

}  // namespace
}  // namespace test
}  // namespace linkbay

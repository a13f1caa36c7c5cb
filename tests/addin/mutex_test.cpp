// The add-in's mutex guard messages, as a debug viewer sees them.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#if !defined(_WIN32)
#include <signal.h>
#endif

#include "addin/mutex_access.h"
#include "support/child_process.h"
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
    const std::string sCreateText = DebugTextOf([&] { mutex.Create(kBadName); });
    const std::string sFailed = std::string("*** TAutoMutex \"") + kBadName + "\" Create Failed ***\r\n";
    EXPECT_EQ(sCreateText.substr(0, sFailed.size()), sFailed);
    EXPECT_NE(sCreateText.find("Linkbay: no shared lock ("), std::string::npos)
        << sCreateText;
    EXPECT_EQ(mutex.Handle(), nullptr);
    bool bRan = false;
    EXPECT_EQ(DebugTextOf([&] {
                  TMutexAccess access(mutex);
                  bRan = true;
              }),
              "*** TMutexAccess Wait Failed ***\r\n");
    EXPECT_TRUE(bRan);
}

#if !defined(_WIN32)
// A holder stopped (as by a debugger or Ctrl-Z) blocks every host: after 5 s
// the waiter names it once, and takes the mutex when it is let go.
TEST(AddinMutex, AWaitPastFiveSecondsNamesTheHolderOnceAndGoesOn) {
    UseFreshEnvironment();
    const char kName[] = "UADDKELDAMUTEXRS232";
    ChildProcess holder({"lock-mutex", kName, "initial"});
    ASSERT_EQ(holder.readLine(), "CREATED 0");
    ASSERT_EQ(kill(holder.pid(), SIGSTOP), 0);
    TAutoMutex mutex;
    mutex.Create(kName);
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(6500));
        kill(holder.pid(), SIGCONT);
        holder.writeLine("release");
    });
    bool bTaken = false;
    const std::string sText = DebugTextOf([&] {
        TMutexAccess access(mutex);
        bTaken = true;
    });
    release.join();
    EXPECT_TRUE(bTaken);
    EXPECT_EQ(sText, "*** The add-in's shared mutex has been held for more than 5 s by process " +
                         std::to_string(holder.pid()) + " (linkbay_platfor); still waiting ***\r\n");
}
#endif

}  // namespace
}  // namespace test
}  // namespace linkbay

// The add-in's mutex guard messages and the interrogation throttle, driven
// through the platform's test seams instead of clocks and stderr.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "addin/linkbay.h"
#include "addin/mutex_access.h"
#include "platform/test_hooks.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

class Captured {
public:
    Captured() { platform::SetDebugCapture(&Captured::Collect, this); }
    ~Captured() { platform::SetDebugCapture(nullptr, nullptr); }
    const std::vector<std::string>& texts() const { return m_texts; }
    size_t count(const std::string& sPart) const {
        size_t n = 0;
        for (const std::string& sText : m_texts) n += sText.find(sPart) != std::string::npos ? 1 : 0;
        return n;
    }

private:
    static void Collect(const char* pszText, void* pContext) {
        static_cast<Captured*>(pContext)->m_texts.push_back(pszText);
    }
    std::vector<std::string> m_texts;
};

TEST(AddinMutex, SecondCreateIsReportedAndKeepsTheFirstHandle) {
    UseFreshEnvironment();
    TAutoMutex mutex;
    mutex.Create("UADDKELDAMUTEXRS232");
    void* const hFirst = mutex.Handle();
    ASSERT_NE(hFirst, nullptr);
    Captured captured;
    mutex.Create("UADDKELDAMUTEXRS232");
    EXPECT_EQ(mutex.Handle(), hFirst);
    EXPECT_EQ(captured.texts(), (std::vector<std::string>{"*** TAutoMutex \"", "UADDKELDAMUTEXRS232",
                                                          "\" Attempted second Create ***\r\n"}));
}

TEST(AddinMutex, FailedCreateAndWaitAreReportedAndTheOperationGoesOn) {
    UseFreshEnvironment();
    const std::string sTooLong(300, 'M');  // no platform takes a name this long
    Captured captured;
    TAutoMutex mutex;
    mutex.Create(sTooLong.c_str());
    EXPECT_EQ(mutex.Handle(), nullptr);
    ASSERT_EQ(captured.texts().size(), 3u);
    EXPECT_EQ(captured.texts()[2], "\" Create Failed ***\r\n");
    bool bRan = false;
    {
        TMutexAccess access(mutex);
        bRan = true;
    }
    EXPECT_TRUE(bRan);
    EXPECT_EQ(captured.texts().back(), "*** TMutexAccess Wait Failed ***\r\n");
}

DWORD FakeTicks(void* pContext) { return *static_cast<DWORD*>(pContext); }

// With a configured port whose device is missing, every interrogation that
// runs reports its failed open; a throttled one says nothing.
TEST(AddinDiscovery, InterrogationRunsAtMostOnceIn2000Ms) {
    const std::string sDir = UseFreshEnvironment();
    std::ofstream(sDir + "/DETHUB.INI") << "[CONFIG]\nCOM1=generic\n";
    setenv("LINKBAY_COM1", "/dev/linkbay-no-such-port", 1);
    DWORD dwNow = 0xfffff000u;  // across the wrap of the tick counter
    platform::SetTickSource(FakeTicks, &dwNow);
    Linkbay addin;
    addin.ReadConfiguration();
    Captured captured;
    const char* const kFailure = "Linkbay::InterrogateMCB(): Tried to open COM1 but failed\r\n";
    addin.InterrogateMCB(97);
    EXPECT_EQ(captured.count(kFailure), 1u);
    struct Step {
        DWORD dwAdvance;
        size_t nExpected;
    };
    const Step kSteps[] = {{1999, 1}, {1, 2}, {0, 2}, {1999, 2}, {5000, 3}};
    for (const Step& step : kSteps) {
        dwNow += step.dwAdvance;
        addin.InterrogateMCB(97);
        EXPECT_EQ(captured.count(kFailure), step.nExpected) << "after " << step.dwAdvance << " ms";
    }
    platform::SetTickSource(nullptr, nullptr);
}

}  // namespace
}  // namespace test
}  // namespace linkbay

// Duplication from another process the way unprivileged users get it on the
// POSIX layer (reopening /proc/<pid>/fd/<n>), chosen through its test hook;
// process_test.cpp covers the ordinary way.
#include <gtest/gtest.h>

#include "platform/process_cases.h"
#include "platform/test_hooks.h"

namespace linkbay {
namespace test {
namespace {

using platform::DuplicateMethod;

class DuplicateByReopenTest : public DuplicateTest {
protected:
    void SetUp() override {
        DuplicateTest::SetUp();
        platform::SetDuplicateMethod(DuplicateMethod::Reopen);
    }
    void TearDown() override { platform::SetDuplicateMethod(DuplicateMethod::Automatic); }
};

TEST_F(DuplicateByReopenTest, DuplicateOfLiveOwnersPortReadsAndWritesTheDevice) {
    DuplicateOfLiveOwnersPortReadsAndWritesTheDevice();
}

TEST_F(DuplicateByReopenTest, DuplicationFromAnOwnerThatHasEndedFails) { DuplicationFromAnOwnerThatHasEndedFails(); }

}  // namespace
}  // namespace test
}  // namespace linkbay

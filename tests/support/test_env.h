// Gives each test process its own IPC namespace and Windows directory, so
// tests run in parallel without seeing each other's objects or files.
#pragma once

#include <string>

namespace linkbay {
namespace test {

// Sets LINKBAY_IPC_NAMESPACE and LINKBAY_WINDIR to fresh values (the
// directory is created) and returns the directory. Call again for another set.
std::string UseFreshEnvironment();

// Milliseconds on a monotonic clock, for measuring how long a call took.
long long NowMs();

}  // namespace test
}  // namespace linkbay

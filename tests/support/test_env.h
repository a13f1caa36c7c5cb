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

// Where a case holds, for the few where the platforms part: some behaviour
// is the POSIX layer's own (a refusal where Win32 would go on), and Wine,
// which stands in for Windows here, words or does a few things unlike
// Windows. Each such case says why where it is marked.
enum class Holds { Everywhere, NotUnderWine, OnPosixLayerOnly };
bool Applies(Holds holds);

}  // namespace test
}  // namespace linkbay

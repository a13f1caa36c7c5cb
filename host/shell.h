// linkbay shell: command lines to one detector, with line editing, history
// and completion of the family's command words (libedit; Linux builds
// only). Each answer is shown as the raw record and in words, the error pair
// explained. Without a terminal it reads lines from standard input, so that
// it scripts.
#pragma once

#include <cstdint>

namespace linkbay_host {

class AddinLibrary;

// 0 when every line was served without error, else 1.
int RunShell(AddinLibrary& library, int32_t nMcb, int32_t nDet);

}  // namespace linkbay_host

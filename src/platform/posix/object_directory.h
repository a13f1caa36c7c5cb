// Where this user's named objects live: a directory nobody else can write,
// so that no other user can create one of our names before we do.
#pragma once

#include <cstddef>

namespace linkbay {
namespace platform {
namespace posix {

// Opens the directory of named objects, creating it (mode 0700) when it is
// missing. $LINKBAY_IPC_DIR when set; else $XDG_RUNTIME_DIR/linkbay when the
// runtime directory is private to us; else linkbay-<uid> in /dev/shm (or
// /tmp). A directory that is not ours alone is refused, never used: then -1,
// the last error set and the reason in pszWhyNot.
int OpenObjectDirectory(char* pszWhyNot, size_t cchWhyNot);

}  // namespace posix
}  // namespace platform
}  // namespace linkbay

// Scoped hold of the add-in's named mutex across threads and processes.
#pragma once

#include "linkbay/addin.h"
#include "platform/platform.h"

namespace linkbay {

// Waits without limit; a failed wait is reported and the operation goes on
// unserialised, an abandoned mutex counts as taken.
class TMutexAccess {
public:
    explicit TMutexAccess(const TAutoMutex& mutex);
    ~TMutexAccess();
    TMutexAccess(const TMutexAccess&) = delete;
    TMutexAccess& operator=(const TMutexAccess&) = delete;

private:
    HANDLE m_hMutex;
};

}  // namespace linkbay

// The interface class: construction, open and close, and the operations
// every add-in inherits.
#include <cstdio>
#include <cstring>

#include "addin/addin_state.h"
#include "addin/mutex_access.h"
#include "addin/process_marks.h"
#include "linkbay/addin.h"
#include "serial/debug_output.h"

using linkbay::TMutexAccess;

AddinBase::AddinBase()
    : m_nFirstMCB(LINKBAY_FIRST_MCB), m_nMCBCount(LINKBAY_MCB_COUNT), m_nHostValue(1),
      m_pMcbTable(nullptr), m_szName(), m_pnProcesses(nullptr) {
    strncpy(m_szName, "RS232", sizeof m_szName);
    m_szName[sizeof m_szName - 1] = '\0';
    linkbay::SharedArea* pArea = linkbay::MapSharedArea(m_szName);
    m_pMcbTable = pArea->mcb;
    m_pnProcesses = &pArea->nProcesses;
    char szMutexName[32];
    snprintf(szMutexName, sizeof szMutexName, "UADDKELDAMUTEX%s", m_szName);
    m_mutex.Create(szMutexName);
}

AddinBase::~AddinBase() = default;

// The first-process and last-process decisions, and the configuration read,
// happen under the named mutex so that two processes never both take them.
// Processes that ended without Close stop counting first, so an Open that
// finds only such ones is the first.
bool AddinBase::Open() {
    if (linkbay::g_nOpenCount != 0) {
        ++linkbay::g_nOpenCount;
        return true;
    }
    TMutexAccess access(m_mutex);
    linkbay::SharedArea& area = linkbay::AreaOfProcessCount(m_pnProcesses);
    const uint32_t dwSelf = GetCurrentProcessId();
    linkbay::ForgetEndedOpeners(area, dwSelf);
    if (*m_pnProcesses <= 0) {
        ReadConfiguration();
        OpenDetectors(1);
        *m_pnProcesses = 1;
    } else {
        OpenDetectors(0);
        ++*m_pnProcesses;
    }
    // Marked just after the count rises, for the same reason as in Close.
    if (!linkbay::MarkOpener(area, dwSelf))
        linkbay::DebugPrint(0, "Linkbay: %d processes have the add-in open already; if this one ends without "
                               "Close, it counts until every process has closed\r\n",
                            linkbay::kOpenerSlots);
    linkbay::g_nOpenCount = 1;
    return true;
}

bool AddinBase::Close() {
    if (linkbay::g_nOpenCount > 1) {
        --linkbay::g_nOpenCount;
        return true;
    }
    TMutexAccess access(m_mutex);
    const bool bLast = *m_pnProcesses <= 1;
    if (bLast) {
        CloseDetectors(1);
        OnLastClose();
    } else {
        CloseDetectors(0);
    }
    // Unmarked just before the count drops: an end between the two leaves
    // one process too many counted, never one too few.
    linkbay::UnmarkOpener(linkbay::AreaOfProcessCount(m_pnProcesses), GetCurrentProcessId());
    *m_pnProcesses = bLast ? 0 : *m_pnProcesses - 1;
    linkbay::g_nOpenCount = 0;
    return true;
}

int32_t AddinBase::SetDebugLevel(int32_t nLevel) {
    const int32_t nPrevious = linkbay::g_nDebugLevel;
    if (nLevel >= 0) linkbay::g_nDebugLevel = nLevel;
    return nPrevious;
}

void AddinBase::NoOperation(uint32_t) {}

void* AddinBase::Destroy(uint32_t nFlags) {
    if ((nFlags & 1u) != 0) {
        this->AddinBase::~AddinBase();  // not virtual: the Destroy slot stands for it
        ::operator delete(static_cast<void*>(this));
    } else {
        m_mutex.Close();
    }
    return this;
}

void AddinBase::OpenDetectors(uint32_t) {}
void AddinBase::CloseDetectors(uint32_t) {}
void AddinBase::ReadConfiguration() {}
void AddinBase::OnLastClose() {}

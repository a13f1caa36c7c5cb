#include "addin/process_marks.h"

#include <cstddef>

namespace linkbay {
namespace {

uint32_t& PidOf(PortHolder& mark) { return mark.dwPid; }
uint32_t& PidOf(uint32_t& mark) { return mark; }

// The slot of dwPid, else a free one, else one whose process has ended
// (emptied first); null when every slot names a running process.
template <class Mark, size_t N>
Mark* SlotFor(Mark (&marks)[N], uint32_t dwPid) {
    for (Mark& mark : marks)
        if (PidOf(mark) == dwPid) return &mark;
    for (Mark& mark : marks)
        if (PidOf(mark) == 0) return &mark;
    for (Mark& mark : marks) {
        if (IsProcessAlive(PidOf(mark))) continue;
        mark = Mark{};
        return &mark;
    }
    return nullptr;
}

}  // namespace

bool IsProcessAlive(uint32_t dwPid) {
    if (dwPid == 0) return false;
    if (dwPid == GetCurrentProcessId()) return true;
    const HANDLE hProcess = OpenProcess(SYNCHRONIZE, FALSE, dwPid);
    // Another user's process may refuse us, but it exists.
    if (hProcess == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
    const bool bRuns = WaitForSingleObject(hProcess, 0) == WAIT_TIMEOUT;
    CloseHandle(hProcess);
    return bRuns;
}

bool MarkHolder(HolderMarks& marks, uint32_t dwPid, HANDLE hPort) {
    const bool bHolds = hPort != INVALID_HANDLE_VALUE && hPort != nullptr;
    for (PortHolder& mark : marks)
        if (!bHolds && mark.dwPid == dwPid) mark = PortHolder{};
    if (!bHolds) return true;
    PortHolder* pMark = SlotFor(marks, dwPid);
    if (pMark == nullptr) return false;
    *pMark = PortHolder{dwPid, hPort};
    return true;
}

const PortHolder* FindLiveHolder(HolderMarks& marks, uint32_t dwExcept) {
    for (PortHolder& mark : marks) {
        if (mark.dwPid == 0 || mark.dwPid == dwExcept) continue;
        if (IsProcessAlive(mark.dwPid)) return &mark;
        mark = PortHolder{};
    }
    return nullptr;
}

void ClearHolders(SharedArea& area) {
    for (HolderMarks& marks : area.holders)
        for (PortHolder& mark : marks) mark = PortHolder{};
}

void ForgetEndedOpeners(SharedArea& area, uint32_t dwSelf) {
    int32_t nEnded = 0;
    for (uint32_t& dwPid : area.dwOpeners) {
        if (dwPid == 0 || (dwPid != dwSelf && IsProcessAlive(dwPid))) continue;
        dwPid = 0;
        ++nEnded;
    }
    area.nProcesses = area.nProcesses > nEnded ? area.nProcesses - nEnded : 0;
}

bool MarkOpener(SharedArea& area, uint32_t dwPid) {
    uint32_t* pMark = SlotFor(area.dwOpeners, dwPid);
    if (pMark != nullptr) *pMark = dwPid;
    return pMark != nullptr;
}

void UnmarkOpener(SharedArea& area, uint32_t dwPid) {
    for (uint32_t& dwMark : area.dwOpeners)
        if (dwMark == dwPid) dwMark = 0;
}

}  // namespace linkbay

#include "addin/process_marks.h"

#include <cstddef>

namespace linkbay {
namespace {

ProcessMark& MarkOf(PortHolder& holder) { return holder.process; }
ProcessMark& MarkOf(ProcessMark& mark) { return mark; }

// The id runs: it opens and has not signalled its end. Another user's
// process may refuse us, but it exists.
bool IdRuns(uint32_t dwPid) {
    const HANDLE hProcess = OpenProcess(SYNCHRONIZE, FALSE, dwPid);
    if (hProcess == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
    const bool bRuns = WaitForSingleObject(hProcess, 0) == WAIT_TIMEOUT;
    CloseHandle(hProcess);
    return bRuns;
}

// The mark of dwPid, else a free one, else one whose process has ended
// (emptied first); null when every slot names a running process.
template <class Slot, size_t N>
Slot* SlotFor(Slot (&slots)[N], uint32_t dwPid) {
    for (Slot& slot : slots)
        if (MarkOf(slot).dwPid == dwPid) return &slot;
    for (Slot& slot : slots)
        if (MarkOf(slot).dwPid == 0) return &slot;
    for (Slot& slot : slots) {
        if (IsRunning(MarkOf(slot))) continue;
        slot = Slot{};
        return &slot;
    }
    return nullptr;
}

// Ours for a mark of dwPid: this process knows when it started, of others
// only the id is known here.
ProcessMark MarkFor(uint32_t dwPid) {
    return dwPid == GetCurrentProcessId() ? OwnMark() : ProcessMark{dwPid, 0};
}

}  // namespace

ProcessMark OwnMark() {
    static const ProcessMark s_mark = [] {
        ProcessMark mark{GetCurrentProcessId(), 0};
        if (!platform::ProcessStartStamp(mark.dwPid, &mark.qwStart)) mark.qwStart = 0;
        return mark;
    }();
    return s_mark;
}

bool IsRunning(const ProcessMark& mark) {
    if (mark.dwPid == 0) return false;
    if (mark.dwPid == GetCurrentProcessId()) return mark.qwStart == 0 || mark.qwStart == OwnMark().qwStart;
    // A start is told only of a running process; one the system will not
    // tell (or a mark without it) leaves the id to decide.
    uint64_t qwStart = 0;
    if (mark.qwStart != 0 && platform::ProcessStartStamp(mark.dwPid, &qwStart)) return qwStart == mark.qwStart;
    return IdRuns(mark.dwPid);
}

bool MarkHolder(HolderMarks& marks, uint32_t dwPid, HANDLE hPort) {
    const bool bHolds = hPort != INVALID_HANDLE_VALUE && hPort != nullptr;
    for (PortHolder& holder : marks)
        if (!bHolds && holder.process.dwPid == dwPid) holder = PortHolder{};
    if (!bHolds) return true;
    PortHolder* pHolder = SlotFor(marks, dwPid);
    if (pHolder == nullptr) return false;
    *pHolder = PortHolder{MarkFor(dwPid), hPort};
    return true;
}

const PortHolder* FindLiveHolder(HolderMarks& marks, uint32_t dwExcept) {
    for (PortHolder& holder : marks) {
        if (holder.process.dwPid == 0 || holder.process.dwPid == dwExcept) continue;
        if (IsRunning(holder.process)) return &holder;
        holder = PortHolder{};
    }
    return nullptr;
}

bool IsOwnerRunning(const HolderMarks& marks, uint32_t dwOwnerPid) {
    for (const PortHolder& holder : marks)
        if (holder.process.dwPid == dwOwnerPid) return IsRunning(holder.process);
    return IsRunning(ProcessMark{dwOwnerPid, 0});
}

void ClearHolders(SharedArea& area) {
    for (HolderMarks& marks : area.holders)
        for (PortHolder& holder : marks) holder = PortHolder{};
}

void ForgetEndedOpeners(SharedArea& area, uint32_t dwSelf) {
    int32_t nEnded = 0;
    for (ProcessMark& mark : area.openers) {
        if (mark.dwPid == 0 || (mark.dwPid != dwSelf && IsRunning(mark))) continue;
        mark = ProcessMark{};
        ++nEnded;
    }
    area.nProcesses = area.nProcesses > nEnded ? area.nProcesses - nEnded : 0;
}

bool MarkOpener(SharedArea& area, uint32_t dwPid) {
    ProcessMark* pMark = SlotFor(area.openers, dwPid);
    if (pMark != nullptr) *pMark = MarkFor(dwPid);
    return pMark != nullptr;
}

void UnmarkOpener(SharedArea& area, uint32_t dwPid) {
    for (ProcessMark& mark : area.openers)
        if (mark.dwPid == dwPid) mark = ProcessMark{};
}

}  // namespace linkbay

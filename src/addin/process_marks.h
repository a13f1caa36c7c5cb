// Marks in the shared area of the processes that hold each port and of those
// that have the add-in open. A process can end without taking its mark away
// (killed, crashed), so a mark counts only while its process runs.
//
// The tables are bounded. A new mark takes a free slot, else the slot of a
// process that has ended; when every slot names a running process the new
// one goes unrecorded: a holder then cannot hand its port over, an opener
// killed without Close keeps counting until every process has closed.
#pragma once

#include "addin/addin_state.h"

namespace linkbay {

// Whether the marked process runs: its id runs and, when the mark knows its
// start, it started then (an id the system has since given to a later
// process does not count).
bool IsRunning(const ProcessMark& mark);
// This process's mark.
ProcessMark OwnMark();

using HolderMarks = PortHolder[kHoldersPerMcb];

// Records this process's handle of the port; an invalid handle takes the
// mark away. False when the mark was needed and no slot was left for it.
bool MarkHolder(HolderMarks& marks, uint32_t dwPid, HANDLE hPort);
// A running holder other than dwExcept; the marks of ended holders met on
// the way are dropped. Null when nobody else runs with the port.
const PortHolder* FindLiveHolder(HolderMarks& marks, uint32_t dwExcept);
// Whether the process that owns a port runs, told by its holder mark when it
// has one, else by its id alone.
bool IsOwnerRunning(const HolderMarks& marks, uint32_t dwOwnerPid);
void ClearHolders(SharedArea& area);

// Takes the marks of openers that ended without Close off the list and off
// the process count. A mark of this very process id is such a leftover too,
// since this process is not open when it calls.
void ForgetEndedOpeners(SharedArea& area, uint32_t dwSelf);
// False when the list was full: this process then counts but is not listed.
bool MarkOpener(SharedArea& area, uint32_t dwPid);
void UnmarkOpener(SharedArea& area, uint32_t dwPid);

}  // namespace linkbay

// Why a command found no detector: the configuration file and each port's
// device examined from outside the add-in, one line per cause. Also whether
// the add-in has what processes share (its lock and its table), and the
// one wait for the interrogation interval that every detector command makes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace linkbay_host {

class AddinLibrary;

// What is wrong with the sharing of the loaded add-in, one line for a person
// (what, what it risks, how to see why); empty when it has its shared lock
// and its shared table.
std::string SharingProblem(const AddinLibrary& library);
// Whether the add-in's table of ports lies in memory shared between processes.
bool HasSharedTable(const AddinLibrary& library);

// Where the progress word goes while a command waits for a port.
enum class Progress { Stdout, Stderr, Silent };

// Another host may have asked a port moments ago, and the add-in asks a port
// again only once its interval is over: when one of the MCBs given is
// configured but has no detector yet, waits that out once and asks again.
// Call with the add-in open.
void AwaitInterrogation(AddinLibrary& library, const std::vector<int32_t>& mcbs, Progress progress);

// Why no MCB has a detector (for list): the configuration's cause when no
// port is configured, else one line for each configured port without one.
std::vector<std::string> NoDetectorCauses(AddinLibrary& library);
// Why DET of MCB is no working detector (for send, read and the others).
std::vector<std::string> DetectorCauses(AddinLibrary& library, int32_t nMcb, int32_t nDet);
// "no detector DET on MCB MCB:" and its causes, a line each, for messages.
std::string NoDetectorText(AddinLibrary& library, int32_t nMcb, int32_t nDet);

// Where the add-in looks for DETHUB.INI, and its full path.
std::string ConfigurationDirectory();
std::string ConfigurationFile();

// What a look at a port's device found, without opening it.
enum class PortFault { Missing, NotTerminal, NoAccess, Held, Unexamined, Silent };
struct PortCheck {
    PortFault fault = PortFault::Silent;
    std::string sDevice;  // the path or name the add-in opens
    std::string sDetail;  // what kind of file, which holder, or the system's reason
};
// dwSharingPid: the process the add-in lets share the port, never a cause.
PortCheck CheckPortDevice(int nPort, uint32_t dwSharingPid);
// How to point the add-in at another device for this port.
std::string DeviceRemedy(int nPort);
// Whether the memory at p is mapped shared between processes.
bool IsSharedMemory(const void* p);

}  // namespace linkbay_host

#include "diagnosis.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>

#include "commands.h"
#include "library_loader.h"
#include "linkbay/families.h"

namespace linkbay_host {
namespace {

// A little over the add-in's 2000 ms between two interrogations of a port.
constexpr auto kInterrogationInterval = std::chrono::milliseconds(2100);
// The add-in reads no larger DETHUB.INI.
constexpr std::uintmax_t kLargestConfiguration = 16u << 20;

const McbEntry& EntryOf(const AddinLibrary& library, int32_t nMcb) {
    return library.header()->m_pMcbTable[nMcb - LINKBAY_FIRST_MCB];
}

bool IsConfigured(const AddinLibrary& library, int32_t nMcb) {
    return EntryOf(library, nMcb).nDeviceType != LINKBAY_DEVICE_NONE;
}

bool IsSilent(AddinLibrary& library, int32_t nMcb) {
    return IsConfigured(library, nMcb) && library.addin()->GetInputCount(nMcb) < 1;
}

bool AnyPortConfigured(const AddinLibrary& library) {
    for (int32_t nMcb = LINKBAY_FIRST_MCB; nMcb < LINKBAY_FIRST_MCB + LINKBAY_MCB_COUNT; ++nMcb)
        if (IsConfigured(library, nMcb)) return true;
    return false;
}

std::string FamilyKeywords() {
    std::string sWords;
    for (const LinkbayFamily& family : kLinkbayFamilies) sWords += (sWords.empty() ? "" : ", ") + std::string(family.pszKeyword);
    return sWords;
}

// Reading one byte tells what the add-in's read would meet, with the
// system's own words for it; special files other than directories are
// never opened (a FIFO would block).
std::string ReadProblem(const std::string& sPath, std::filesystem::file_type type) {
    if (type == std::filesystem::file_type::directory) return strerror(EISDIR);
    if (type != std::filesystem::file_type::regular) return "not a regular file";
    errno = 0;
    FILE* pFile = fopen(sPath.c_str(), "rb");
    if (pFile == nullptr) return strerror(errno != 0 ? errno : EACCES);
    char ch = 0;
    const bool bFailed = fread(&ch, 1, 1, pFile) != 1 && ferror(pFile) != 0;
    const int err = errno;
    fclose(pFile);
    return bFailed ? strerror(err != 0 ? err : EIO) : "";
}

std::string ConfigurationCause() {
    const std::string sPath = ConfigurationFile();
    const std::string sExample = "add a [CONFIG] section with a line for each port, such as COM1=KORV (families: " +
                                 FamilyKeywords() + ")";
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(sPath, error);
    if (status.type() == std::filesystem::file_type::not_found)
        return sPath + " does not exist: create it and " + sExample;
    if (error) return sPath + " cannot be read (" + error.message() + "): check the folder's permissions";
    const std::string sProblem = ReadProblem(sPath, status.type());
    if (!sProblem.empty())
        return sPath + " cannot be read (" + sProblem + "): make it a file this user can read, then " + sExample;
    const std::uintmax_t cbSize = std::filesystem::file_size(sPath, error);
    if (!error && cbSize > kLargestConfiguration)
        return sPath + " is " + std::to_string(cbSize >> 20) + " MiB, more than the " +
               std::to_string(kLargestConfiguration >> 20) + " MiB the add-in reads: shorten it to its settings";
    return sPath + " configures no port: " + sExample;
}

// One line for each fault a port's device can show, {device} and {detail}
// filled in from the check, {family} the configured one.
struct PortFaultText {
    PortFault fault;
    const char* pszText;
};
constexpr PortFaultText kPortFaultTexts[] = {
    {PortFault::Missing, "{device} does not exist: connect the instrument, or {remedy}"},
    {PortFault::NotTerminal, "{device} is not a serial line ({detail}): {remedy}"},
    {PortFault::NoAccess, "{device} cannot be opened by this user ({detail}): give the user read and write access "
                          "to it (often membership of its group, e.g. dialout)"},
    {PortFault::Held, "{device} is held by another program ({detail}): end it or let it free the port, then try "
                      "again"},
    {PortFault::Unexamined, "{device} cannot be examined ({detail}): {remedy}"},
    {PortFault::Silent, "{device} is there, but no {family} instrument answered: check that the instrument is "
                        "switched on and cabled, its line settings, and that it is a {family}"},
};

void Replace(std::string& sText, const std::string& sField, const std::string& sValue) {
    for (size_t n = sText.find(sField); n != std::string::npos; n = sText.find(sField, n + sValue.size()))
        sText.replace(n, sField.size(), sValue);
}

std::string PortCause(AddinLibrary& library, int32_t nMcb) {
    const McbEntry& entry = EntryOf(library, nMcb);
    const int nPort = nMcb - LINKBAY_FIRST_MCB + 1;
    const PortCheck check = CheckPortDevice(nPort, entry.dwOwnerPid);
    std::string sText;
    for (const PortFaultText& row : kPortFaultTexts)
        if (row.fault == check.fault) sText = row.pszText;
    Replace(sText, "{device}", check.sDevice);
    Replace(sText, "{detail}", check.sDetail);
    Replace(sText, "{family}", FamilyName(entry.nDeviceType));
    Replace(sText, "{remedy}", DeviceRemedy(nPort));
    return PortName(nMcb) + " (" + FamilyName(entry.nDeviceType) + "): " + sText;
}

}  // namespace

std::string SharingProblem(const AddinLibrary& library) {
    std::string sMissing;
    if (library.header()->m_hMutex == nullptr)
        sMissing = "no shared lock (its named mutex could not be had), so two hosts at once could mix their commands "
                   "on one line and read wrong data";
    if (!HasSharedTable(library))
        sMissing += std::string(sMissing.empty() ? "" : ", and with ") +
                    "no shared table of ports (its shared memory could not be mapped), so each process would see "
                    "only its own ports and fail on those another one holds";
    if (sMissing.empty()) return "";
    return "stopped: the add-in runs with " + sMissing + "; run again with LINKBAY_DEBUG_OUTPUT=stderr to see why";
}

bool HasSharedTable(const AddinLibrary& library) { return IsSharedMemory(library.header()->m_pMcbTable); }

void AwaitInterrogation(AddinLibrary& library, const std::vector<int32_t>& mcbs, Progress progress) {
    bool bAnySilent = false;
    for (int32_t nMcb : mcbs) bAnySilent = bAnySilent || IsSilent(library, nMcb);
    if (!bAnySilent) return;
    if (progress != Progress::Silent) {
        FILE* pOut = progress == Progress::Stdout ? stdout : stderr;
        fprintf(pOut, "a configured port did not answer yet; asking again in 2 s ...\n");
        fflush(pOut);
    }
    std::this_thread::sleep_for(kInterrogationInterval);
    library.addin()->EnumerateDetectors();
}

std::vector<std::string> NoDetectorCauses(AddinLibrary& library) {
    if (!AnyPortConfigured(library)) return {ConfigurationCause()};
    std::vector<std::string> causes;
    for (int32_t nMcb = LINKBAY_FIRST_MCB; nMcb < LINKBAY_FIRST_MCB + LINKBAY_MCB_COUNT; ++nMcb)
        if (IsSilent(library, nMcb)) causes.push_back(PortCause(library, nMcb));
    return causes;
}

std::vector<std::string> DetectorCauses(AddinLibrary& library, int32_t nMcb, int32_t nDet) {
    if (!AnyPortConfigured(library)) return {ConfigurationCause()};
    if (!IsConfigured(library, nMcb))
        return {PortName(nMcb) + " is not configured: add " + PortName(nMcb) + "=FAMILY (" + FamilyKeywords() +
                ") to the [CONFIG] section of " + ConfigurationFile()};
    const int32_t nInputs = library.addin()->GetInputCount(nMcb);
    if (nInputs < 1 || nDet <= nInputs) return {PortCause(library, nMcb)};
    return {PortName(nMcb) + " has " + std::to_string(nInputs) + " detector" + (nInputs == 1 ? "" : "s") + ": " +
            std::to_string(nDet) + " is none of them"};
}

std::string NoDetectorText(AddinLibrary& library, int32_t nMcb, int32_t nDet) {
    std::string sText = "no detector " + std::to_string(nDet) + " on MCB " + std::to_string(nMcb) + ":";
    for (const std::string& sCause : DetectorCauses(library, nMcb, nDet)) sText += "\n" + sCause;
    return sText;
}

}  // namespace linkbay_host

// Configuration and port discovery: DETHUB.INI into the shared table, and
// each MCB's port, driver and identity in this process.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "addin/driver_factory.h"
#include "addin/guess.h"
#include "addin/linkbay.h"
#include "addin/mutex_access.h"
#include "addin/process_marks.h"
#include "cmdlang/numbers.h"
#include "cmdlang/upper_case.h"
#include "linkbay/families.h"
#include "serial/detector_profile.h"
#include "serial/rs232ci.h"

namespace linkbay {
namespace {

constexpr DWORD kThrottleMs = 2000;
constexpr uint16_t kDefaultChannels = 16384;
constexpr int32_t kConfigValueSize = 260;

enum class NameKind { Keyword, Library };

int32_t FamilyOf(char* pszValue, NameKind kind, int32_t nOtherwise) {
    UpperCaseCp1252(pszValue, strlen(pszValue));
    // Rows in their order: the first name found wins.
    for (const LinkbayFamily& family : kLinkbayFamilies) {
        const char* pszName = kind == NameKind::Keyword ? family.pszKeyword : family.pszLibrary;
        if (pszName != nullptr && strstr(pszValue, pszName) != nullptr) return family.nDeviceType;
    }
    return nOtherwise;
}

void ResetIdentity(McbEntry& entry) {
    entry.nInputs = 0;
    entry.bFourInput = 0;
    entry.wTotalChannels = 0;
    entry.wInputChannels[0] = 0;
    snprintf(entry.szVersion, sizeof entry.szVersion, "0000-000");
}

void ReleaseEntry(McbEntry& entry) {
    entry.hPort = INVALID_HANDLE_VALUE;
    entry.dwOwnerPid = 0;
}

bool OwnedByThisProcess(const McbEntry& entry) { return entry.dwOwnerPid == GetCurrentProcessId(); }

bool HasOwner(const McbEntry& entry) {
    return entry.dwOwnerPid != 0 && RS232CI::IsPortHandle(entry.hPort);
}


// Runs one identification line; true when it was served and its answer has
// a length in [nMinLength, nMaxLength]. The answer is then text of exactly
// that length, whatever else the driver left in the buffer.
bool Ask(RS232CI& driver, int32_t nDet, const char* pszLine, char* pszResponse, int32_t nSize,
         int32_t nMinLength, int32_t nMaxLength) {
    int32_t nLength = 0;
    int32_t nMac = 0;
    int32_t nMic = 0;
    memset(pszResponse, 0, static_cast<size_t>(nSize));
    if (!driver.ExecLine(nDet, pszLine, nSize, pszResponse, &nLength, &nMac, &nMic)) return false;
    if (nLength < nMinLength || nLength > nMaxLength || nLength >= nSize) return false;
    pszResponse[nLength] = '\0';
    return true;
}

// Reads unsigned decimal numbers that follow the first blank or tab, each
// from where the previous one ended.
bool ReadNumbersAfterBlank(const char* pszResponse, uint32_t* pdwValues, int nCount) {
    const char* p = strpbrk(pszResponse, " \t");
    if (p == nullptr) return false;
    for (int i = 0; i < nCount; ++i) pdwValues[i] = ToUnsigned32(p, &p);
    return true;
}

// A five-digit decimal field at 1-based character nFrom.
uint32_t FiveDigits(const char* pszResponse, int nFrom) {
    char szField[6];
    memcpy(szField, pszResponse + nFrom - 1, 5);
    szField[5] = '\0';
    return ToUnsigned32(szField);
}

}  // namespace

void Linkbay::ReadConfiguration() {
    TMutexAccess access(m_mutex);
    memset(m_pMcbTable, 0, sizeof(McbEntry) * LINKBAY_MCB_COUNT);
    ClearHolders(AreaOfProcessCount(m_pnProcesses));
    int32_t nDefaultFamily = LINKBAY_DEVICE_NONE;
    char szValue[kConfigValueSize];
    ReportUnreadConfigFile();
    if (GetPrivateProfileIntA("CONFIG", "COMMCBS", 0, kConfigFile) != 0) {
        GetPrivateProfileStringA("CONFIG", "ComLib", "", szValue, sizeof szValue, kConfigFile);
        if (szValue[0] != '\0') nDefaultFamily = FamilyOf(szValue, NameKind::Library, LINKBAY_DEVICE_NONE);
    }
    for (int32_t k = 1; k <= LINKBAY_MCB_COUNT; ++k) {
        char szKey[16];
        snprintf(szKey, sizeof szKey, "COM%u", static_cast<unsigned>(k));
        GetPrivateProfileStringA("CONFIG", szKey, "", szValue, sizeof szValue, kConfigFile);
        McbEntry& entry = m_pMcbTable[k - 1];
        entry.nDeviceType =
            szValue[0] != '\0' ? FamilyOf(szValue, NameKind::Keyword, nDefaultFamily) : nDefaultFamily;
        entry.dwLastQuery = GetTickCount() - 1000000u;  // the first interrogation is never held back
    }
}

void Linkbay::DestroyDriver(int32_t nMcb) {
    delete Driver(nMcb);
    Driver(nMcb) = nullptr;
    NoteHolding(nMcb);
}

// This process's holder mark follows its driver's handle, and an owner whose
// driver has lost the port gives the entry up.
void Linkbay::NoteHolding(int32_t nMcb) {
    const HANDLE hPort = Driver(nMcb) != nullptr ? Driver(nMcb)->m_hPort : INVALID_HANDLE_VALUE;
    if (!MarkHolder(Holders(nMcb), GetCurrentProcessId(), hPort))
        DebugPrint(0, "Linkbay: COM%d has %d holders already; this process's port cannot be handed over to others\r\n",
                   nMcb - kMcbPortOffset, kHoldersPerMcb);
    McbEntry& entry = Entry(nMcb);
    if (!RS232CI::IsPortHandle(hPort) && OwnedByThisProcess(entry)) ReleaseEntry(entry);
}

// An owner that was killed leaves its entry behind: it has gone all the same.
bool Linkbay::HasLiveOwner(int32_t nMcb) {
    const McbEntry& entry = Entry(nMcb);
    return HasOwner(entry) && IsOwnerRunning(Holders(nMcb), entry.dwOwnerPid);
}

// The owner has gone: a running holder of the port becomes the owner, so
// that its handle is the one duplicated; else nobody owns the port.
void Linkbay::HandOverToLiveHolder(int32_t nMcb) {
    McbEntry& entry = Entry(nMcb);
    const PortHolder* pHolder = FindLiveHolder(Holders(nMcb), GetCurrentProcessId());
    entry.dwOwnerPid = pHolder != nullptr ? pHolder->process.dwPid : 0;
    entry.hPort = pHolder != nullptr ? pHolder->hPort : INVALID_HANDLE_VALUE;
}

// A port handle for this process: a duplicate of the owner's, or the port
// itself when nobody runs with it. INVALID_HANDLE_VALUE when neither works.
HANDLE Linkbay::ObtainPort(int32_t nMcb) {
    McbEntry& entry = Entry(nMcb);
    const int32_t nCom = nMcb - kMcbPortOffset;
    if (!HasLiveOwner(nMcb)) HandOverToLiveHolder(nMcb);
    if (entry.dwOwnerPid != 0) {
        HANDLE hPort = INVALID_HANDLE_VALUE;
        const HANDLE hOwner = OpenProcess(PROCESS_ALL_ACCESS, TRUE, entry.dwOwnerPid);
        if (hOwner != nullptr) {
            if (!DuplicateHandle(hOwner, entry.hPort, GetCurrentProcess(), &hPort, 0, TRUE,
                                 DUPLICATE_SAME_ACCESS))
                hPort = INVALID_HANDLE_VALUE;
            CloseHandle(hOwner);
        }
        if (RS232CI::COMCheck(hPort)) {
            DebugPrint(0, "Linkbay::InterrogateMCB(): Duplicated COM%d\r\n", nCom);
            return hPort;
        }
        DebugPrint(0, "Linkbay::InterrogateMCB(): Tried to duplicate COM%d but failed\r\n", nCom);
        MarkHolder(Holders(nMcb), entry.dwOwnerPid, INVALID_HANDLE_VALUE);  // not offered again
        return INVALID_HANDLE_VALUE;
    }
    const HANDLE hPort = RS232CI::COMOpen(nCom);
    if (RS232CI::COMCheck(hPort)) {
        entry.hPort = hPort;
        entry.dwOwnerPid = GetCurrentProcessId();
        DebugPrint(0, "Linkbay::InterrogateMCB(): Opened COM%d and became owner\r\n", nCom);
        return hPort;
    }
    DebugPrint(0, "Linkbay::InterrogateMCB(): Tried to open COM%d but failed\r\n", nCom);
    return INVALID_HANDLE_VALUE;
}

bool Linkbay::Identify(int32_t nMcb) {
    McbEntry& entry = Entry(nMcb);
    RS232CI& driver = *Driver(nMcb);
    if (!driver.IsUnitPresent(1)) return false;
    char szResponse[128];
    if (!Ask(driver, 1, "SHOW_VERS", szResponse, 16, 10, 12) || strncmp(szResponse, "$F", 2) != 0)
        return false;
    memcpy(entry.szVersion, szResponse + 2, 8);
    entry.szVersion[8] = '\0';
    entry.bFourInput = strncmp(entry.szVersion, "0746", 4) == 0 ? 1 : 0;
    entry.wTotalChannels = kDefaultChannels;
    entry.wInputChannels[0] = kDefaultChannels;
    if (entry.bFourInput) {
        for (int d = 1; d < 4; ++d) entry.wInputChannels[d] = kDefaultChannels;
        entry.nInputs = 4;
    } else {
        entry.nInputs = 1;
        if (Ask(driver, 1, "SHOW_CONF", szResponse, 100, 95, 97) && strncmp(szResponse, "$J", 2) == 0) {
            const uint32_t nInputs = FiveDigits(szResponse, 8);
            entry.nInputs = (nInputs < 1 || nInputs > LINKBAY_MAX_DETECTORS) ? 1 : static_cast<int32_t>(nInputs);
            entry.wTotalChannels = static_cast<uint16_t>(FiveDigits(szResponse, 3));
            if (entry.wTotalChannels < 256) entry.wTotalChannels = kDefaultChannels;
            for (int32_t d = 0; d < entry.nInputs; ++d)
                entry.wInputChannels[d] = static_cast<uint16_t>(entry.wTotalChannels / entry.nInputs);
        }
    }
    DebugPrint(1, "MCB %d has %u dets, %u total channels and %u chans per dev/seg\r\n", nMcb,
               static_cast<unsigned>(entry.nInputs), static_cast<unsigned>(entry.wTotalChannels),
               static_cast<unsigned>(entry.wInputChannels[0]));
    return true;
}

void Linkbay::ReadFeaturesAndMasks(int32_t nMcb) {
    McbEntry& entry = Entry(nMcb);
    RS232CI* pDriver = Driver(nMcb);
    for (int32_t d = 1; d <= entry.nInputs; ++d) {
        uint32_t* pdwFeatures = entry.dwFeatures[d - 1];
        const bool bOwnFeatures = d == 1 || (entry.dwFeatures[0][1] & 8192u) != 0;
        if (!bOwnFeatures) {
            memcpy(pdwFeatures, entry.dwFeatures[0], sizeof entry.dwFeatures[0]);
            entry.dwConfMask1[d - 1] = entry.dwConfMask1[0];
            entry.dwConfMask2[d - 1] = entry.dwConfMask2[0];
            continue;
        }
        LocalGuessFeatures(entry.szVersion, d, pdwFeatures, LINKBAY_FEATURE_WORDS);
        LocalGuessMasks(entry.szVersion, d, &entry.dwConfMask1[d - 1], &entry.dwConfMask2[d - 1]);
        if (pDriver == nullptr) continue;
        char szResponse[128];
        if (!Ask(*pDriver, d, "SHOW_FEAT", szResponse, 128, 11, 127) || strncmp(szResponse, "FEAT", 4) != 0 ||
            !ReadNumbersAfterBlank(szResponse, pdwFeatures, 4))
            continue;
        if ((pdwFeatures[3] & 0x80000000u) != 0 &&
            Ask(*pDriver, d, "SHOW_FEAT_EXTE", szResponse, 128, 11, 127) && strncmp(szResponse, "FEAT", 4) == 0)
            ReadNumbersAfterBlank(szResponse, pdwFeatures + 4, 4);
        uint32_t dwMasks[2];
        if (Ask(*pDriver, d, "SHOW_CONF_MASK", szResponse, 128, 13, 127) && strncmp(szResponse, "CO", 2) == 0 &&
            strncmp(szResponse + 5, "MAS", 3) == 0 && ReadNumbersAfterBlank(szResponse, dwMasks, 2)) {
            entry.dwConfMask1[d - 1] = dwMasks[0];
            entry.dwConfMask2[d - 1] = dwMasks[1];
        }
    }
}

void Linkbay::InterrogateMCB(int32_t nMcb) {
    TMutexAccess access(m_mutex);
    McbEntry& entry = Entry(nMcb);
    const DWORD dwNow = GetTickCount();
    if (dwNow - entry.dwLastQuery < kThrottleMs) return;
    entry.dwLastQuery = dwNow;

    if (DriverServes(nMcb, 1)) {
        if (!HasLiveOwner(nMcb)) {
            entry.dwOwnerPid = GetCurrentProcessId();
            entry.hPort = Driver(nMcb)->m_hPort;
        }
        NoteHolding(nMcb);
        ReadFeaturesAndMasks(nMcb);
        return;
    }
    DestroyDriver(nMcb);  // closes this process's handle, if any, and gives up its marks
    if (entry.nDeviceType == LINKBAY_DEVICE_NONE) {
        ResetIdentity(entry);
        ReadFeaturesAndMasks(nMcb);
        return;
    }
    const HANDLE hPort = ObtainPort(nMcb);
    if (RS232CI::IsPortHandle(hPort)) {
        Driver(nMcb) = CreateDriver(entry.nDeviceType, nMcb);
        if (Driver(nMcb) != nullptr)
            Driver(nMcb)->Attach(hPort);
        else
            CloseHandle(hPort);
    }
    if (Driver(nMcb) == nullptr) {
        ResetIdentity(entry);
        ReleaseEntry(entry);
    } else if (!Identify(nMcb)) {
        ResetIdentity(entry);
        ReleaseEntry(entry);
        Driver(nMcb)->Detach();
        DestroyDriver(nMcb);
    }
    NoteHolding(nMcb);
    ReadFeaturesAndMasks(nMcb);
}

bool Linkbay::EnumerateDetectors() {
    TMutexAccess access(m_mutex);
    int32_t nTotal = 0;
    for (int32_t nMcb = m_nFirstMCB; nMcb < m_nFirstMCB + m_nMCBCount; ++nMcb) {
        InterrogateMCB(nMcb);
        nTotal += Entry(nMcb).nInputs;
    }
    if (nTotal < 1) {
        DebugPrint(0, "Linkbay: No detectors for local access\r\n");
        return true;
    }
    RefreshDetectorInfo();
    DebugPrint(0, "Linkbay: %d detectors for local access\r\n", nTotal);
    return true;
}

void Linkbay::OpenDetectors(uint32_t) {
    TMutexAccess access(m_mutex);
    for (RS232CI*& pDriver : g_pDrivers) pDriver = nullptr;
    EnumerateDetectors();
}

void Linkbay::CloseDetectors(uint32_t) {
    TMutexAccess access(m_mutex);
    for (int32_t nMcb = m_nFirstMCB; nMcb < m_nFirstMCB + m_nMCBCount; ++nMcb) {
        if (Driver(nMcb) != nullptr) DestroyDriver(nMcb);  // gives up the entry if this process owns it
    }
    for (int32_t nMcb = m_nFirstMCB; nMcb < m_nFirstMCB + m_nMCBCount; ++nMcb) {
        McbEntry& entry = Entry(nMcb);
        if (!OwnedByThisProcess(entry) || !RS232CI::IsPortHandle(entry.hPort)) continue;
        CloseHandle(entry.hPort);
        ReleaseEntry(entry);
    }
}

}  // namespace linkbay

// Reloads the cached lock identifiers and start times and clears the shared
// words; each GetDataApp takes the mutex itself.
void AddinBase::RefreshDetectorInfo() {
    for (int32_t nMcb = m_nFirstMCB; nMcb < m_nFirstMCB + m_nMCBCount; ++nMcb) {
        McbEntry& entry = m_pMcbTable[nMcb - m_nFirstMCB];
        for (int32_t d = 1; d <= entry.nInputs && d <= LINKBAY_MAX_DETECTORS; ++d) {
            char szValue[128];
            if (GetDataApp(nMcb, d, "@LOCK", "", szValue, sizeof szValue) != 0)
                entry.dwLockId[d - 1] = linkbay::ToUnsigned32(szValue);
            entry.tStart[d - 1] = 0;
            if (GetDataApp(nMcb, d, "@START", "", szValue, sizeof szValue) != 0)
                entry.tStart[d - 1] = linkbay::ToSigned32(szValue);
            entry.dwSharedWord[d - 1] = 0;
        }
    }
}

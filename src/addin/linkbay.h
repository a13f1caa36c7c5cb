// The add-in object: the host interface with this library's own operations.
#pragma once

#include <cstdint>

#include "addin/addin_state.h"
#include "linkbay/addin.h"

namespace linkbay {

class Linkbay : public AddinBase {
public:
    Linkbay();

    bool IsValidDetector(int32_t nMcb, int32_t nDet) override;
    bool Dialog(int32_t nMcb, int32_t nDet, const char* pszLine, int32_t nResponseSize,
                char* pszResponse, int32_t* pnResponseLength, int32_t* pnMac, int32_t* pnMic) override;
    bool EnumerateDetectors() override;
    int32_t SetROI(int32_t nMcb, int32_t nDet, uint32_t dwFirst, uint32_t dwCount, uint32_t nIgnored,
                   int32_t* pnMac, int32_t* pnMic) override;
    int32_t ClearROI(int32_t nMcb, int32_t nDet, uint32_t dwFirst, uint32_t dwCount, uint32_t nIgnored,
                     int32_t* pnMac, int32_t* pnMic) override;
    int32_t ReadSpectrum(int32_t nMcb, int32_t nDet, uint32_t* pdwMask1, uint32_t* pdwMask2,
                         uint32_t nIgnored, int32_t nFirst, int32_t nCount, int32_t nSegment,
                         uint32_t* pdwData) override;
    int32_t WriteSpectrum(int32_t nMcb, int32_t nDet, uint32_t nIgnored, int32_t nFirst, int32_t nCount,
                          int32_t nSegment, const uint32_t* pdwData) override;
    bool IsDetectorActive(int32_t nMcb, int32_t nDet, int32_t* pnStatus) override;
    void OpenDetectors(uint32_t nFirstProcess) override;
    void CloseDetectors(uint32_t nLastProcess) override;
    void ReadConfiguration() override;

    // Brings one MCB to life in this process: port, driver, identification.
    void InterrogateMCB(int32_t nMcb);

private:
    McbEntry& Entry(int32_t nMcb) { return m_pMcbTable[nMcb - LINKBAY_FIRST_MCB]; }
    RS232CI*& Driver(int32_t nMcb) { return g_pDrivers[nMcb - LINKBAY_FIRST_MCB]; }
    PortHolder (&Holders(int32_t nMcb))[kHoldersPerMcb] {
        return AreaOfProcessCount(m_pnProcesses).holders[nMcb - LINKBAY_FIRST_MCB];
    }
    bool DriverServes(int32_t nMcb, int32_t nDet);
    int32_t SendRoiLine(int32_t nMcb, int32_t nDet, const char* pszLine, int32_t* pnMac, int32_t* pnMic,
                        bool bReportFailure);
    HANDLE ObtainPort(int32_t nMcb);
    bool HasLiveOwner(int32_t nMcb);
    void HandOverToLiveHolder(int32_t nMcb);
    void NoteHolding(int32_t nMcb);
    bool Identify(int32_t nMcb);
    void ReadFeaturesAndMasks(int32_t nMcb);
    void DestroyDriver(int32_t nMcb);
};

}  // namespace linkbay

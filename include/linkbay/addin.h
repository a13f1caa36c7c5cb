/* The Linkbay host interface: everything a host needs to load the add-in
 * library, find its one exported object and call its operations.
 *
 * The library exports one data symbol, AAPI_Addin. Its first word points at
 * a table of 32 operations (slot k-1 holds operation k, LINKBAY_OP_* below);
 * the header fields follow it. C++ hosts use the AddinBase class; C hosts use
 * LinkbayAddinHeader and the function types of the slots. On 32-bit Windows
 * the operations use the thiscall convention (the object in ECX).
 */
#ifndef LINKBAY_ADDIN_H
#define LINKBAY_ADDIN_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64) && defined(__GNUC__)
#define LINKBAY_THISCALL __attribute__((thiscall))
#elif defined(_WIN32) && !defined(_WIN64)
#define LINKBAY_THISCALL __thiscall
#else
#define LINKBAY_THISCALL
#endif

#define LINKBAY_EXPORT_NAME "AAPI_Addin"
#define LINKBAY_FIRST_MCB 97
#define LINKBAY_MCB_COUNT 5
#define LINKBAY_MAX_DETECTORS 32
#define LINKBAY_FEATURE_WORDS 16

/* Device types of McbEntry.nDeviceType. */
#define LINKBAY_DEVICE_NONE (-1)
#define LINKBAY_DEVICE_GENERIC 0
#define LINKBAY_DEVICE_KORV 1
#define LINKBAY_DEVICE_ZEPH 2
#define LINKBAY_DEVICE_PELLUX 3
#define LINKBAY_DEVICE_TAVO 4

/* Operation numbers: slot = number - 1. */
enum LinkbayOperation {
    LINKBAY_OP_OPEN = 1,
    LINKBAY_OP_CLOSE,
    LINKBAY_OP_SET_DEBUG_LEVEL,
    LINKBAY_OP_IS_VALID_DETECTOR,
    LINKBAY_OP_DIALOG,
    LINKBAY_OP_ENUMERATE_DETECTORS,
    LINKBAY_OP_NO_OPERATION,
    LINKBAY_OP_GET_LOCK,
    LINKBAY_OP_SET_LOCK,
    LINKBAY_OP_GET_SHARED_WORD,
    LINKBAY_OP_SET_SHARED_WORD,
    LINKBAY_OP_GET_VERSION,
    LINKBAY_OP_GET_CHANNELS,
    LINKBAY_OP_GET_INPUT_COUNT,
    LINKBAY_OP_GET_DATA_APP,
    LINKBAY_OP_SET_DATA_APP,
    LINKBAY_OP_LOCAL_GET_START_TIME,
    LINKBAY_OP_MARK_START_TIME,
    LINKBAY_OP_GET_DESCRIPTION,
    LINKBAY_OP_GET_DETECTOR_ID,
    LINKBAY_OP_SET_ROI,
    LINKBAY_OP_CLEAR_ROI,
    LINKBAY_OP_READ_SPECTRUM,
    LINKBAY_OP_WRITE_SPECTRUM,
    LINKBAY_OP_IS_DETECTOR_ACTIVE,
    LINKBAY_OP_GET_FEATURES,
    LINKBAY_OP_DESTROY,
    LINKBAY_OP_REFRESH_DETECTOR_INFO,
    LINKBAY_OP_OPEN_DETECTORS,
    LINKBAY_OP_CLOSE_DETECTORS,
    LINKBAY_OP_READ_CONFIGURATION,
    LINKBAY_OP_ON_LAST_CLOSE,
    LINKBAY_OP_COUNT = LINKBAY_OP_ON_LAST_CLOSE
};

/* One MCB of the table shared by every process that has the add-in open. */
typedef struct McbEntry {
    int32_t nInputs;
    uint16_t wTotalChannels;
    uint32_t dwConfMask1[LINKBAY_MAX_DETECTORS];
    uint32_t dwConfMask2[LINKBAY_MAX_DETECTORS];
    uint16_t wInputChannels[LINKBAY_MAX_DETECTORS];
    int32_t tStart[LINKBAY_MAX_DETECTORS];
    uint32_t dwLockId[LINKBAY_MAX_DETECTORS];
    uint32_t dwSharedWord[LINKBAY_MAX_DETECTORS];
    char szVersion[12];
    uint32_t dwFeatures[LINKBAY_MAX_DETECTORS][LINKBAY_FEATURE_WORDS];
    void* hPort;
    uint32_t dwOwnerPid;
    uint32_t dwLastQuery;
    int32_t nDeviceType;
    uint8_t bFourInput;
} McbEntry;

/* The header a C host reads through the AAPI_Addin symbol. */
typedef struct LinkbayAddinHeader {
    void* const* pOperations;
    int32_t m_nFirstMCB;
    int32_t m_nMCBCount;
    int32_t m_nHostValue;
    void* m_hMutex;
    McbEntry* m_pMcbTable;
    char m_szName[16];
    int32_t* m_pnProcesses;
} LinkbayAddinHeader;

/* Function types of the slots for C hosts; self is the AAPI_Addin object.
 * "bool" results are one byte. */
typedef struct LinkbayAddinHeader LinkbaySelf;
typedef uint8_t(LINKBAY_THISCALL* LinkbayOpenFn)(LinkbaySelf* self);
typedef uint8_t(LINKBAY_THISCALL* LinkbayCloseFn)(LinkbaySelf* self);
typedef int32_t(LINKBAY_THISCALL* LinkbaySetDebugLevelFn)(LinkbaySelf* self, int32_t nLevel);
typedef uint8_t(LINKBAY_THISCALL* LinkbayIsValidDetectorFn)(LinkbaySelf* self, int32_t nMcb, int32_t nDet);
typedef uint8_t(LINKBAY_THISCALL* LinkbayDialogFn)(LinkbaySelf* self, int32_t nMcb, int32_t nDet,
                                                  const char* pszLine, int32_t nResponseSize,
                                                  char* pszResponse, int32_t* pnResponseLength,
                                                  int32_t* pnMac, int32_t* pnMic);
typedef uint8_t(LINKBAY_THISCALL* LinkbayEnumerateDetectorsFn)(LinkbaySelf* self);
typedef void(LINKBAY_THISCALL* LinkbayNoOperationFn)(LinkbaySelf* self, uint32_t nValue);
typedef uint32_t(LINKBAY_THISCALL* LinkbayGetLockFn)(LinkbaySelf* self, int32_t nMcb, int32_t nDet,
                                                    char* pszOwner, int32_t nOwnerSize);
typedef void(LINKBAY_THISCALL* LinkbaySetLockFn)(LinkbaySelf* self, int32_t nMcb, int32_t nDet,
                                                uint32_t dwLockId, const char* pszOwner);
typedef uint32_t(LINKBAY_THISCALL* LinkbayGetSharedWordFn)(LinkbaySelf* self, int32_t nMcb, int32_t nDet);
typedef void(LINKBAY_THISCALL* LinkbaySetSharedWordFn)(LinkbaySelf* self, int32_t nMcb, int32_t nDet,
                                                      uint32_t dwValue);
typedef uint8_t(LINKBAY_THISCALL* LinkbayGetVersionFn)(LinkbaySelf* self, int32_t nMcb, char* pszBuffer,
                                                      int32_t nSize);
typedef int32_t(LINKBAY_THISCALL* LinkbayGetChannelsFn)(LinkbaySelf* self, int32_t nMcb, int32_t nDet);
typedef int32_t(LINKBAY_THISCALL* LinkbayGetInputCountFn)(LinkbaySelf* self, int32_t nMcb);
typedef int32_t(LINKBAY_THISCALL* LinkbayGetDataAppFn)(LinkbaySelf* self, int32_t nMcb, int32_t nDet,
                                                      const char* pszKey, const char* pszDefault,
                                                      char* pszBuffer, int32_t nSize);
typedef uint8_t(LINKBAY_THISCALL* LinkbaySetDataAppFn)(LinkbaySelf* self, int32_t nMcb, int32_t nDet,
                                                      const char* pszKey, const char* pszValue);
typedef int32_t(LINKBAY_THISCALL* LinkbayLocalGetStartTimeFn)(LinkbaySelf* self, int32_t nMcb,
                                                             int32_t nDet, int32_t* ptNow);
typedef void(LINKBAY_THISCALL* LinkbayMarkStartTimeFn)(LinkbaySelf* self, int32_t nMcb, int32_t nDet,
                                                      uint32_t nIgnored);
typedef uint8_t(LINKBAY_THISCALL* LinkbayGetDescriptionFn)(LinkbaySelf* self, int32_t nMcb, int32_t nDet,
                                                          char* pszBuffer, int32_t nSize,
                                                          uint8_t* pbIsDefault);
typedef uint8_t(LINKBAY_THISCALL* LinkbayGetDetectorIdFn)(LinkbaySelf* self, int32_t nMcb, int32_t nDet,
                                                         uint32_t* pdwId, uint8_t* pbIsDefault);
typedef int32_t(LINKBAY_THISCALL* LinkbaySetRoiFn)(LinkbaySelf* self, int32_t nMcb, int32_t nDet,
                                                  uint32_t dwFirst, uint32_t dwCount, uint32_t nIgnored,
                                                  int32_t* pnMac, int32_t* pnMic);
typedef LinkbaySetRoiFn LinkbayClearRoiFn;
typedef int32_t(LINKBAY_THISCALL* LinkbayReadSpectrumFn)(LinkbaySelf* self, int32_t nMcb, int32_t nDet,
                                                        uint32_t* pdwMask1, uint32_t* pdwMask2,
                                                        uint32_t nIgnored, int32_t nFirst,
                                                        int32_t nCount, int32_t nSegment,
                                                        uint32_t* pdwData);
typedef int32_t(LINKBAY_THISCALL* LinkbayWriteSpectrumFn)(LinkbaySelf* self, int32_t nMcb, int32_t nDet,
                                                         uint32_t nIgnored, int32_t nFirst,
                                                         int32_t nCount, int32_t nSegment,
                                                         const uint32_t* pdwData);
typedef uint8_t(LINKBAY_THISCALL* LinkbayIsDetectorActiveFn)(LinkbaySelf* self, int32_t nMcb,
                                                            int32_t nDet, int32_t* pnStatus);
typedef uint8_t(LINKBAY_THISCALL* LinkbayGetFeaturesFn)(LinkbaySelf* self, int32_t nMcb, int32_t nDet,
                                                       uint32_t* pdwFeatures, int32_t nWords);
typedef void*(LINKBAY_THISCALL* LinkbayDestroyFn)(LinkbaySelf* self, uint32_t nFlags);
typedef void(LINKBAY_THISCALL* LinkbayRefreshDetectorInfoFn)(LinkbaySelf* self);
typedef void(LINKBAY_THISCALL* LinkbayOpenDetectorsFn)(LinkbaySelf* self, uint32_t nFirstProcess);
typedef void(LINKBAY_THISCALL* LinkbayCloseDetectorsFn)(LinkbaySelf* self, uint32_t nLastProcess);
typedef void(LINKBAY_THISCALL* LinkbayReadConfigurationFn)(LinkbaySelf* self);
typedef void(LINKBAY_THISCALL* LinkbayOnLastCloseFn)(LinkbaySelf* self);

#ifdef __cplusplus

/* The mutex member as the host sees it: one handle. */
class TAutoMutex {
public:
    TAutoMutex() : m_hMutex(0) {}
    ~TAutoMutex();
    void Create(const char* pszName);
    void Close();
    void* Handle() const { return m_hMutex; }

private:
    TAutoMutex(const TAutoMutex&);
    TAutoMutex& operator=(const TAutoMutex&);
    void* m_hMutex;
};

/* The add-in object. Operation k is the k-th virtual function below. */
class AddinBase {
public:
    virtual bool Open();
    virtual bool Close();
    virtual int32_t SetDebugLevel(int32_t nLevel);
    virtual bool IsValidDetector(int32_t nMcb, int32_t nDet) = 0;
    virtual bool Dialog(int32_t nMcb, int32_t nDet, const char* pszLine, int32_t nResponseSize,
                        char* pszResponse, int32_t* pnResponseLength, int32_t* pnMac,
                        int32_t* pnMic) = 0;
    virtual bool EnumerateDetectors() = 0;
    virtual void NoOperation(uint32_t nValue);
    virtual uint32_t GetLock(int32_t nMcb, int32_t nDet, char* pszOwner, int32_t nOwnerSize);
    virtual void SetLock(int32_t nMcb, int32_t nDet, uint32_t dwLockId, const char* pszOwner);
    virtual uint32_t GetSharedWord(int32_t nMcb, int32_t nDet);
    virtual void SetSharedWord(int32_t nMcb, int32_t nDet, uint32_t dwValue);
    virtual bool GetVersion(int32_t nMcb, char* pszBuffer, int32_t nSize);
    virtual int32_t GetChannels(int32_t nMcb, int32_t nDet);
    virtual int32_t GetInputCount(int32_t nMcb);
    virtual int32_t GetDataApp(int32_t nMcb, int32_t nDet, const char* pszKey,
                               const char* pszDefault, char* pszBuffer, int32_t nSize);
    virtual bool SetDataApp(int32_t nMcb, int32_t nDet, const char* pszKey, const char* pszValue);
    virtual int32_t LocalGetStartTime(int32_t nMcb, int32_t nDet, int32_t* ptNow);
    virtual void MarkStartTime(int32_t nMcb, int32_t nDet, uint32_t nIgnored);
    virtual bool GetDescription(int32_t nMcb, int32_t nDet, char* pszBuffer, int32_t nSize,
                                uint8_t* pbIsDefault);
    virtual bool GetDetectorId(int32_t nMcb, int32_t nDet, uint32_t* pdwId, uint8_t* pbIsDefault);
    virtual int32_t SetROI(int32_t nMcb, int32_t nDet, uint32_t dwFirst, uint32_t dwCount,
                           uint32_t nIgnored, int32_t* pnMac, int32_t* pnMic) = 0;
    virtual int32_t ClearROI(int32_t nMcb, int32_t nDet, uint32_t dwFirst, uint32_t dwCount,
                             uint32_t nIgnored, int32_t* pnMac, int32_t* pnMic) = 0;
    virtual int32_t ReadSpectrum(int32_t nMcb, int32_t nDet, uint32_t* pdwMask1, uint32_t* pdwMask2,
                                 uint32_t nIgnored, int32_t nFirst, int32_t nCount, int32_t nSegment,
                                 uint32_t* pdwData) = 0;
    virtual int32_t WriteSpectrum(int32_t nMcb, int32_t nDet, uint32_t nIgnored, int32_t nFirst,
                                  int32_t nCount, int32_t nSegment, const uint32_t* pdwData) = 0;
    virtual bool IsDetectorActive(int32_t nMcb, int32_t nDet, int32_t* pnStatus) = 0;
    virtual bool GetFeatures(int32_t nMcb, int32_t nDet, uint32_t* pdwFeatures, int32_t nWords);
    /* The destructor's one slot: destroys the object, and frees it when bit
     * 0 of the flags is set. Returns the object's address. */
    virtual void* Destroy(uint32_t nFlags);
    virtual void RefreshDetectorInfo();
    virtual void OpenDetectors(uint32_t nFirstProcess);
    virtual void CloseDetectors(uint32_t nLastProcess);
    virtual void ReadConfiguration();
    virtual void OnLastClose();

    int32_t m_nFirstMCB;
    int32_t m_nMCBCount;
    int32_t m_nHostValue;
    TAutoMutex m_mutex;
    McbEntry* m_pMcbTable;
    char m_szName[16];
    int32_t* m_pnProcesses;

protected:
    AddinBase();
    /* Not virtual: the Destroy slot stands for the destructor in the table. */
    ~AddinBase();

private:
    AddinBase(const AddinBase&);
    AddinBase& operator=(const AddinBase&);
};

#endif /* __cplusplus */

#endif /* LINKBAY_ADDIN_H */

// What the numbered-command driver knows itself: settings given in
// engineering units, rounded to the instrument's step and sent as register
// values (and shown back), VERIFY, the LIST texts, the label tables and the
// answers given without asking the instrument. Each kind is a table.
#include <cmath>
#include <cstring>

#include "cmdlang/records.h"
#include "cmdlang/result_codes.h"
#include "drivers/mmcmd/mmcmd_handlers.h"
#include "drivers/mmcmd/mmcmd_tables.h"

namespace linkbay {
namespace mmcmd {
namespace {

namespace code = mmcmd_code;

constexpr double kFineStep = 1.0 / 196608;
constexpr double kFractionStep = 1.0 / 8388608;  // 2^-23
constexpr uint32_t kFractionMiddle = 8388608;
constexpr uint32_t kTextSize = 64;


// ---- converted settings -------------------------------------------------------------

uint32_t BlrestoreRegister(double q, int32_t) {
    return static_cast<uint32_t>((1.0 - std::exp(-0.1 / q)) * 2048 + 0.5);
}
uint32_t IndexRegister(double, int32_t nIndex) { return static_cast<uint32_t>(nIndex); }
uint32_t FlattopRegister(double, int32_t nIndex) { return static_cast<uint32_t>(nIndex + 3); }
uint32_t RisetimeRegister(double, int32_t nIndex) { return static_cast<uint32_t>(nIndex + 4); }
// The distance from the middle: the sign of the fraction is not sent.
uint32_t FractionRegister(double, int32_t nIndex) {
    const uint32_t n = static_cast<uint32_t>(nIndex);
    return n < kFractionMiddle ? kFractionMiddle - n : n - kFractionMiddle;
}
uint32_t WholeRegister(double q, int32_t) { return static_cast<uint32_t>(static_cast<int32_t>(q)); }

struct Conversion {
    int32_t nCode;
    double dMin, dMax, dStep;
    uint32_t (*pfnRegister)(double q, int32_t nIndex);
};

// Every tolerance is a hundredth of its step.
constexpr Conversion kConversions[] = {
    {code::kSetBlrestore, 10.0, 100.0, 1.0, BlrestoreRegister},
    {code::kSetCorrectionAll, -1.0, 0.9921875, 0.0078125, IndexRegister},
    {code::kSetCorrectionFlattop, -1.0, 0.9921875, 0.0078125, IndexRegister},
    {code::kSetDelayCollection, 0.25, 1.6, 0.05, IndexRegister},
    {code::kSetGainFine, 0.0, 196607.0 / 196608, kFineStep, IndexRegister},
    {code::kSetShapingFlattop, 0.3, 2.4, 0.1, FlattopRegister},
    {code::kSetShapingRisetime, 0.8, 23.0, 0.2, RisetimeRegister},
};
// SET_THRESHOLD_SAMPLE: a fraction strictly between -1 and 1, else a whole number.
constexpr Conversion kThresholdFraction = {code::kSetThresholdSample, -1.0, 1.0 - kFractionStep, kFractionStep,
                                           FractionRegister};
constexpr Conversion kThresholdWhole = {code::kSetThresholdSample, -8388608.0, 8388607.0, 1.0, WholeRegister};

const Conversion* ConversionFor(const ParsedCommand& cmd) {
    if (cmd.nCode != code::kSetThresholdSample) return FindDispatchRow(kConversions, cmd.nCode);
    return cmd.dArg[0] > -1.0 && cmd.dArg[0] < 1.0 ? &kThresholdFraction : &kThresholdWhole;
}

// ---- shown settings -------------------------------------------------------------------

// No finite value for 0 and from 2048 on: shown as 0, which no setting gives.
double BlrestoreShown(uint32_t v) {
    if (v == 0 || v >= 2048) return 0.0;
    return std::floor(0.1 / -std::log(1.0 - v / 2048.0) + 0.5);
}
double SignedCorrection(uint32_t v) { return static_cast<int32_t>(v) * 0.0078125; }
double Collection(uint32_t v) { return v * 0.05; }
double SignedFine(uint32_t v) { return static_cast<int32_t>(v) * kFineStep; }
double Tenths(uint32_t v) { return v * 0.1; }
double Fifths(uint32_t v) { return v * 0.2; }

struct ShownSetting {
    int32_t nCode;
    const char* pszLabel;
    double (*pfnValue)(uint32_t v);  // null: always 1.0, without an exchange
};

constexpr ShownSetting kShownSettings[] = {
    {code::kShowBlrestore, "BLRE", BlrestoreShown},
    {code::kShowCorrectionFlattop, "CORR_FLAT", SignedCorrection},
    {code::kShowDelayCollection, "DEL_COLL", Collection},
    {code::kShowGainFine, "GAIN_FINE", SignedFine},
    {code::kShowShapingFlattop, "SHAP_FLAT", Tenths},
    {code::kShowShapingRisetime, "SHAP_RISE", Fifths},
    {code::kShowShapingCusp, "SHAP_CUSP", nullptr},
};

// ---- VERIFY ------------------------------------------------------------------------

struct Verification {
    int32_t nCode;
    double dMin, dMax, dStep;
    double dPerStep;  // what the second argument counts
    const char* pszLabel;
};

constexpr Verification kVerifications[] = {
    {code::kVerifyCorrectionFlattop, -1.0, 0.9921875, 0.0078125, 0.0078125, "CORR_FLAT"},
    {code::kVerifyShapingFlattop, 0.3, 2.4, 0.1, 0.1, "SHAP_FLAT"},
    {code::kVerifyShapingRisetime, 0.8, 23.0, 0.1, 0.1, "SHAP_RISE"},
};

// ---- LIST ----------------------------------------------------------------------------

// A listing with a query picks its text by the value the query returns.
enum class ListQuery { kNone, kValueIsOne, kValueNotZero, kInstrumentText };

struct Listing {
    int32_t nCode;
    int32_t nSmallest;         // the smallest response buffer taken
    const char* pszText;       // without a query, or when the query's test holds
    ListQuery query = ListQuery::kNone;
    uint16_t wQuery = 0;                 // the command asked
    const char* pszOtherText = nullptr;  // when the query's test fails
};

constexpr Listing kListings[] = {
    {code::kListBlrestore, 24, "BLRE 10.0 100.0 10 100\n"},
    {code::kListCorrectionFlattop, 28, "CORR_FLAT -1.0 0.992 0 255\n"},
    {code::kListGainCoarse, 25, "GAIN_COAR 1 2 4 8 16 32\n"},
    {code::kListGainConversion, 41, "GAIN_CONV 512 1024 2048 4096 8192 16384 32768\n", ListQuery::kValueIsOne,
     code::kShowCgainSpecial, "GAIN_CONV 512 1024 2048 4096 8192 16384\n"},
    {code::kListGainFine, 33, "GAIN_FINE 0.00 1.0 0 196607\n"},
    {code::kListHv, 18, "HV 0 1500 0 1500\n", ListQuery::kValueNotZero, code::kShowNai, "HV 0 5000 0 5000\n"},
    {code::kListRoiSample, 48, "ROI_SAMP PUR BLN BLRG BLD BUSY GATE RESV PKDET\n"},
    {code::kListShapingCusp, 25, "SHAP_CUSP 1.0 1.0 10 10\n"},
    {code::kListShapingFlattop, 24, "SHAP_FLAT 0.3 2.4 3 24\n"},
    {code::kListShapingRisetime, 26, "SHAP_RISE 0.8 23.0 4 115\n"},
    {code::kListShutdown, 20, nullptr, ListQuery::kInstrumentText, code::kListShutdown, nullptr},
    {code::kListTriggerSample, 31, "TRIG_SAMP LLD PKD Random Gate\n"},
    {code::kListGate, 46, "GATE Off Coincidence Anticoincidence Inhibit\n"},
};

// ---- labels -----------------------------------------------------------------------------

struct Labels {
    int32_t nCode;
    struct {
        uint32_t dwValue = 0;
        const char* pszText = nullptr;
    } entries[4];
    int32_t nEntries;
    const char* pszOther;  // null: any other value has no answer
};

constexpr Labels kLabels[] = {
    {code::kShowGainPolarity, {{0, "NEG"}}, 1, "POS"},
    {code::kShowHvPolarity, {{0, "NEG"}}, 1, "POS"},
    {code::kShowMode, {{0, "PHA"}, {1, "SAM"}}, 2, "BAD"},
    {code::kShowShutdown, {{0, "0TTL"}, {1, "1KEL"}, {2, "2SMA"}}, 3, nullptr},
    {code::kShowTriggerSample, {{0, "0LLD"}, {1, "1PKD"}, {2, "2RANDOM"}, {3, "3GATE"}}, 4, "????"},
};

// The gate the instrument names, by the number SET_GATE takes.
constexpr const char* kGateNames[][2] = {{"OFF", "0OFF"}, {"COI", "1COI"}, {"ANT", "2ANT"}, {"INH", "3INH"}};

struct LabelledNumber {
    int32_t nCode;
    const char* pszLabel;
};

constexpr LabelledNumber kLabelledNumbers[] = {
    {code::kShowMonitorMaximum, "MAX"}, {code::kShowCrm, "CRM"}, {code::kShowGainAdjustment, "GAIN_ADJ"},
    {code::kShowThresholdNegative, "THR_NEG"}, {code::kShowThresholdPositive, "THR_POS"},
    {code::kShowVersionLogic, "VERS_LOGI"}, {code::kShowZeroAdjustment, "ZERO_ADJ"},
};

// Two words: a mode or switch picks the label of the value.
struct LabelledPair {
    int32_t nCode;
    const char* pszWhenZero;
    const char* pszOtherwise;
    bool bWide;  // a six-digit field
};

constexpr LabelledPair kLabelledPairs[] = {
    {code::kShowPeakAlignment, "PEAK_ALIGN_AUTO", "PEAK_ALIGN_MAN", false},
    {code::kShowThresholdSample, "THR_DIS", "THR_ENA", false},
    {code::kShowPzadjust, "PZ_DISA", "PZ_ENA", true},
};

const char kDeviceRecord[] = "$A001246\n";  // FormatA of 1, with its checksum

}  // namespace

double Quantize(double dValue, double dMin, double dMax, double dStep, int32_t* pnIndex) {
    int32_t nIndex = 0;
    if (dValue > dMin) {
        const double dIn = dValue < dMax ? dValue : dMax;
        nIndex = static_cast<int32_t>(std::fabs((dIn - dMin) / dStep + 0.5));
    }
    if (pnIndex != nullptr) *pnIndex = nIndex;
    return dMin + nIndex * dStep;
}

// A value that had to be rounded further than a hundredth of a step is still
// sent; the pair 0/64 tells the caller, when the instrument had nothing to say.
bool SetConverted(MMCMDCI& d, const Row&, const ParsedCommand& cmd, Answer& a) {
    const Conversion& conversion = *ConversionFor(cmd);
    int32_t nIndex = 0;
    const double q = Quantize(cmd.dArg[0], conversion.dMin, conversion.dMax, conversion.dStep, &nIndex);
    const bool bAdjusted = std::fabs(q - cmd.dArg[0]) > conversion.dStep / 100;
    const bool bOk = d.MMCmdAckInt(Command(cmd), conversion.pfnRegister(q, nIndex), &a.nMac, &a.nMic);
    if (bOk && bAdjusted && a.nMac == 0 && a.nMic == 0) a.nMic = kMicSettingRounded;
    return bOk;
}

bool ShowConverted(MMCMDCI& d, const Row&, const ParsedCommand& cmd, Answer& a) {
    const ShownSetting& shown = *FindDispatchRow(kShownSettings, cmd.nCode);
    double dValue = 1.0;
    if (shown.pfnValue != nullptr) {
        uint32_t v = 0;
        if (!d.MMCmdReadInt(Command(cmd), &v, &a.nMac, &a.nMic)) return false;
        dValue = shown.pfnValue(v);
    }
    return FormatListG(a.nSize, a.pszBuf, *a.pnLen, shown.pszLabel, dValue);
}

bool Verify(MMCMDCI&, const Row&, const ParsedCommand& cmd, Answer& a) {
    const Verification& v = *FindDispatchRow(kVerifications, cmd.nCode);
    const double q = Quantize(cmd.dArg[0] + cmd.dArg[1] * v.dPerStep, v.dMin, v.dMax, v.dStep, nullptr);
    return FormatListG(a.nSize, a.pszBuf, *a.pnLen, v.pszLabel, q);
}

// The text with its NUL, when the buffer holds both; the length of the
// response is left as the caller gave it, except for the gate listing.
bool List(MMCMDCI& d, const Row&, const ParsedCommand& cmd, Answer& a) {
    const Listing& listing = *FindDispatchRow(kListings, cmd.nCode);
    const bool bGate = listing.nCode == code::kListGate;
    if (a.nSize < listing.nSmallest) {
        Refuse(a, kMicBufferTooSmall);
        return bGate;
    }
    char szText[kTextSize];
    const char* pszText = listing.pszText;
    uint32_t dwValue = 0;
    switch (listing.query) {
    case ListQuery::kNone: break;
    case ListQuery::kValueIsOne:
        d.MMCmdReadInt(listing.wQuery, &dwValue, &a.nMac, &a.nMic);
        if (dwValue != 1) pszText = listing.pszOtherText;
        break;
    case ListQuery::kValueNotZero:
        d.MMCmdReadInt(listing.wQuery, &dwValue, &a.nMac, &a.nMic);
        if (dwValue == 0) pszText = listing.pszOtherText;
        break;
    case ListQuery::kInstrumentText:
        d.MMCmdReadText(listing.wQuery, 32, szText, &a.nMac, &a.nMic);
        pszText = szText;
        break;
    }
    // The longer texts need more than the smallest buffer taken: never cut.
    const size_t cbText = std::strlen(pszText) + 1;
    if (cbText > static_cast<size_t>(a.nSize)) return Refused(a, kMicBufferTooSmall);
    std::memcpy(a.pszBuf, pszText, cbText);
    if (bGate) *a.pnLen = static_cast<int32_t>(cbText);
    return true;
}

bool ShowLabel(MMCMDCI& d, const Row&, const ParsedCommand& cmd, Answer& a) {
    const Labels& labels = *FindDispatchRow(kLabels, cmd.nCode);
    uint32_t v = 0;
    if (!d.MMCmdReadInt(Command(cmd), &v, &a.nMac, &a.nMic)) return false;
    const char* pszText = labels.pszOther;
    for (int32_t i = 0; i < labels.nEntries; ++i) {
        if (labels.entries[i].dwValue == v) pszText = labels.entries[i].pszText;
    }
    if (pszText == nullptr) return false;
    return FormatF(a.nSize, a.pszBuf, *a.pnLen, pszText);
}

// Exact names only; anything else reads as off.
bool ShowGate(MMCMDCI& d, const Row&, const ParsedCommand& cmd, Answer& a) {
    char szName[kTextSize];
    d.MMCmdReadText(Command(cmd), 32, szName, &a.nMac, &a.nMic);
    const char* pszText = kGateNames[0][1];
    for (const auto& gate : kGateNames) {
        if (std::strcmp(szName, gate[0]) == 0) pszText = gate[1];
    }
    return FormatF(a.nSize, a.pszBuf, *a.pnLen, pszText);
}

bool ShowLabelledNumber(MMCMDCI& d, const Row&, const ParsedCommand& cmd, Answer& a) {
    const LabelledNumber& number = *FindDispatchRow(kLabelledNumbers, cmd.nCode);
    uint32_t v = 0;
    if (!d.MMCmdReadInt(Command(cmd), &v, &a.nMac, &a.nMic)) return false;
    return FormatListD(a.nSize, a.pszBuf, *a.pnLen, number.pszLabel, static_cast<int32_t>(v));
}

bool ShowLabelledPair(MMCMDCI& d, const Row&, const ParsedCommand& cmd, Answer& a) {
    const LabelledPair& pair = *FindDispatchRow(kLabelledPairs, cmd.nCode);
    uint32_t dwSwitch = 0, dwValue = 0;
    if (!d.MMCmdReadInt2(Command(cmd), &dwSwitch, &dwValue, &a.nMac, &a.nMic)) return false;
    const char* pszLabel = dwSwitch == 0 ? pair.pszWhenZero : pair.pszOtherwise;
    const int32_t nValue = static_cast<int32_t>(dwValue);
    return pair.bWide ? FormatListD6(a.nSize, a.pszBuf, *a.pnLen, pszLabel, nValue)
                                  : FormatListD(a.nSize, a.pszBuf, *a.pnLen, pszLabel, nValue);
}

bool ShowFixedDevice(MMCMDCI&, const Row&, const ParsedCommand&, Answer& a) {
    if (a.nSize < static_cast<int32_t>(sizeof kDeviceRecord)) return Refused(a, kMicBufferTooSmall);
    std::memcpy(a.pszBuf, kDeviceRecord, sizeof kDeviceRecord);
    return true;
}

bool ShowFeatures(MMCMDCI& d, const Row&, const ParsedCommand&, Answer& a) {
    const uint32_t(&dw)[4] = d.m_family.dwFeatures;
    return FormatListUUUU(a.nSize, a.pszBuf, *a.pnLen, "FEATURES", dw[0], dw[1], dw[2], dw[3]);
}

bool ShowConfigurationMask(MMCMDCI&, const Row&, const ParsedCommand&, Answer& a) {
    return FormatListUU(a.nSize, a.pszBuf, *a.pnLen, "CONF_MASK", 2147483647u, 2147483648u);
}

}  // namespace mmcmd
}  // namespace linkbay

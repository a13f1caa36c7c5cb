#include "commands.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "library_loader.h"
#include "linkbay/families.h"

namespace linkbay_host {
namespace {

constexpr int32_t kResponseSize = 65536;  // room for the longest listing a driver writes
constexpr int kHistogramColumns = 64;
constexpr int kHistogramRows = 6;

const char* FamilyName(int32_t nDeviceType) {
    const LinkbayFamily* pFamily = LinkbayFindFamily(nDeviceType);
    return pFamily != nullptr ? pFamily->pszDisplayName : "none";
}

int32_t PortOf(int32_t nMcb) { return nMcb - LINKBAY_FIRST_MCB + 1; }

std::string LockText(AddinBase& addin, int32_t nMcb, int32_t nDet) {
    char szOwner[128] = "";
    const uint32_t dwLock = addin.GetLock(nMcb, nDet, szOwner, sizeof szOwner);
    if (dwLock == 0 && szOwner[0] == '\0') return "-";
    std::string sText = std::to_string(dwLock);
    if (szOwner[0] != '\0') sText += std::string(" (") + szOwner + ")";
    return sText;
}

void PrintDetectorRow(AddinBase& addin, const McbEntry& entry, int32_t nMcb, int32_t nDet) {
    char szVersion[16] = "";
    addin.GetVersion(nMcb, szVersion, sizeof szVersion);
    char szDescription[128] = "";
    uint8_t bDefault = 0;
    addin.GetDescription(nMcb, nDet, szDescription, sizeof szDescription, &bDefault);
    printf("%-4d %-3d %-5s %-8s %-9s %6d %8d  %-20s %s\n", nMcb, nDet,
           ("COM" + std::to_string(PortOf(nMcb))).c_str(), FamilyName(entry.nDeviceType), szVersion,
           addin.GetInputCount(nMcb), addin.GetChannels(nMcb, nDet), szDescription,
           LockText(addin, nMcb, nDet).c_str());
}

// One summary column: the sum of its channels.
std::vector<uint64_t> ColumnSums(const std::vector<uint32_t>& counts) {
    std::vector<uint64_t> sums(kHistogramColumns, 0);
    const size_t nPerColumn = std::max<size_t>(1, (counts.size() + kHistogramColumns - 1) / kHistogramColumns);
    for (size_t c = 0; c < counts.size(); ++c) sums[std::min<size_t>(c / nPerColumn, kHistogramColumns - 1)] += counts[c];
    return sums;
}

}  // namespace

bool HasSilentPorts(AddinLibrary& library) {
    const McbEntry* pTable = library.header()->m_pMcbTable;
    for (int32_t nMcb = LINKBAY_FIRST_MCB; nMcb < LINKBAY_FIRST_MCB + LINKBAY_MCB_COUNT; ++nMcb) {
        if (pTable[nMcb - LINKBAY_FIRST_MCB].nDeviceType != LINKBAY_DEVICE_NONE &&
            library.addin()->GetInputCount(nMcb) < 1)
            return true;
    }
    return false;
}

bool PrintDetectors(AddinLibrary& library) {
    AddinBase& addin = *library.addin();
    const McbEntry* pTable = library.header()->m_pMcbTable;
    bool bHeading = false;
    std::vector<std::string> silentPorts;
    for (int32_t nMcb = LINKBAY_FIRST_MCB; nMcb < LINKBAY_FIRST_MCB + LINKBAY_MCB_COUNT; ++nMcb) {
        const McbEntry& entry = pTable[nMcb - LINKBAY_FIRST_MCB];
        const int32_t nInputs = addin.GetInputCount(nMcb);
        if (nInputs < 1) {
            if (entry.nDeviceType != LINKBAY_DEVICE_NONE)
                silentPorts.push_back("COM" + std::to_string(PortOf(nMcb)) + " (" + FamilyName(entry.nDeviceType) + ")");
            continue;
        }
        if (!bHeading) {
            printf("%-4s %-3s %-5s %-8s %-9s %6s %8s  %-20s %s\n", "MCB", "DET", "PORT", "FAMILY", "VERSION",
                   "INPUTS", "CHANNELS", "DESCRIPTION", "LOCK");
            bHeading = true;
        }
        for (int32_t nDet = 1; nDet <= nInputs && nDet <= LINKBAY_MAX_DETECTORS; ++nDet)
            PrintDetectorRow(addin, entry, nMcb, nDet);
    }
    for (const std::string& sPort : silentPorts)
        printf("%s is configured but no instrument answered: check the device that LINKBAY_%s names\n",
               sPort.c_str(), sPort.substr(0, 4).c_str());
    if (!bHeading && silentPorts.empty())
        printf("no detectors: configure ports in DETHUB.INI in %s\n", ConfigurationDirectory().c_str());
    return bHeading;
}

DialogResult SendLine(AddinBase& addin, int32_t nMcb, int32_t nDet, const std::string& sLine) {
    DialogResult result;
    std::vector<char> response(kResponseSize, '\0');
    result.bServed = addin.Dialog(nMcb, nDet, sLine.c_str(), kResponseSize, response.data(), &result.nLength,
                                  &result.nMac, &result.nMic);
    response.back() = '\0';
    result.sResponse = response.data();
    return result;
}

void PrintDialogResult(const DialogResult& result, int32_t nMcb) {
    printf("response:%s\n", result.sResponse.empty() ? " (none)" : "");
    size_t nStart = 0;
    while (nStart < result.sResponse.size()) {
        size_t nEnd = result.sResponse.find('\n', nStart);
        if (nEnd == std::string::npos) nEnd = result.sResponse.size();
        std::string sRecord = result.sResponse.substr(nStart, nEnd - nStart);
        if (!sRecord.empty() && sRecord.back() == '\r') sRecord.pop_back();
        printf("  %s\n", sRecord.c_str());
        nStart = nEnd + 1;
    }
    printf("error:  %d/%d (mac/mic)%s\n", result.nMac, result.nMic, result.ok() ? "" : "  FAILED");
    printf("length: %d\n", result.nLength);
    if (!result.bServed && result.nMac == -9)
        printf("no working instrument on COM%d for this detector: see 'linkbay list'\n", PortOf(nMcb));
}

bool RecordValue(const std::string& sResponse, uint32_t& dwValue) {
    struct Kind {
        char cLetter;
        size_t nDigits;
    };
    static constexpr Kind kKinds[] = {{'A', 3}, {'C', 5}, {'G', 10}};
    for (const Kind& kind : kKinds) {
        if (sResponse.size() < 2 + kind.nDigits || sResponse[0] != '$' || sResponse[1] != kind.cLetter) continue;
        const std::string sDigits = sResponse.substr(2, kind.nDigits);
        if (sDigits.find_first_not_of("0123456789") != std::string::npos) return false;
        dwValue = static_cast<uint32_t>(strtoul(sDigits.c_str(), nullptr, 10));
        return true;
    }
    return false;
}

Spectrum ReadWholeSpectrum(AddinBase& addin, int32_t nMcb, int32_t nDet, int32_t nInUse) {
    Spectrum spectrum;
    const int32_t nMemory = addin.GetChannels(nMcb, nDet);
    const int32_t nChannels = nInUse > 0 && nInUse < nMemory ? nInUse : nMemory;
    if (nChannels < 1) {
        spectrum.nResult = -1;
        return spectrum;
    }
    std::vector<uint32_t> words(static_cast<size_t>(nChannels), 0);
    uint32_t dwDataMask = 0;
    uint32_t dwFlagMask = 0;
    spectrum.nResult = addin.ReadSpectrum(nMcb, nDet, &dwDataMask, &dwFlagMask, 0, 0, nChannels, 0, words.data());
    if (spectrum.nResult != 1) return spectrum;
    if (dwDataMask == 0) dwDataMask = ~dwFlagMask;
    for (uint32_t& word : words) word &= dwDataMask;
    spectrum.counts = std::move(words);
    return spectrum;
}

void PrintSpectrumSummary(const Spectrum& spectrum, const char* pszTitle) {
    if (spectrum.nResult != 1 || spectrum.counts.empty()) {
        printf("%s: spectrum not read (ReadSpectrum gave %d)\n", pszTitle, spectrum.nResult);
        return;
    }
    uint64_t nTotal = 0;
    size_t nPeak = 0;
    for (size_t c = 0; c < spectrum.counts.size(); ++c) {
        nTotal += spectrum.counts[c];
        if (spectrum.counts[c] > spectrum.counts[nPeak]) nPeak = c;
    }
    printf("%s: %zu channels, %llu counts in total, peak at channel %zu with %u counts\n", pszTitle,
           spectrum.counts.size(), static_cast<unsigned long long>(nTotal), nPeak, spectrum.counts[nPeak]);
    const std::vector<uint64_t> sums = ColumnSums(spectrum.counts);
    const uint64_t nHighest = *std::max_element(sums.begin(), sums.end());
    if (nHighest == 0) return;
    for (int nRow = kHistogramRows; nRow >= 1; --nRow) {
        std::string sLine = "  |";
        for (uint64_t nSum : sums) {
            const uint64_t nHeight = (nSum * kHistogramRows + nHighest / 2) / nHighest;  // rounded
            sLine += nHeight >= static_cast<uint64_t>(nRow) ? '#' : (nRow == 1 && nSum > 0 ? '.' : ' ');
        }
        printf("%s\n", sLine.c_str());
    }
    printf("  +%s\n", std::string(kHistogramColumns, '-').c_str());
    printf("   0%*zu\n", kHistogramColumns - 1, spectrum.counts.size() - 1);
}

std::string ConfigurationDirectory() {
    const char* pszDir = getenv("LINKBAY_WINDIR");
    if (pszDir != nullptr && *pszDir != '\0') return pszDir;
    const char* pszConfig = getenv("XDG_CONFIG_HOME");
    if (pszConfig != nullptr && *pszConfig != '\0') return std::string(pszConfig) + "/linkbay";
    const char* pszHome = getenv("HOME");
    if (pszHome != nullptr && *pszHome != '\0') return std::string(pszHome) + "/.config/linkbay";
    return "the Windows directory";
}

bool ParseNumber(const char* pszText, long nLow, long nHigh, int32_t& nValue) {
    if (pszText == nullptr || *pszText == '\0') return false;
    errno = 0;
    char* pEnd = nullptr;
    const long n = strtol(pszText, &pEnd, 10);
    if (errno != 0 || *pEnd != '\0' || n < nLow || n > nHigh) return false;
    nValue = static_cast<int32_t>(n);
    return true;
}

}  // namespace linkbay_host

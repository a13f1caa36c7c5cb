#include "commands.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "diagnosis.h"
#include "json_text.h"
#include "library_loader.h"
#include "linkbay/families.h"

namespace linkbay_host {
namespace {

constexpr int32_t kResponseSize = 65536;  // room for the longest listing a driver writes
constexpr int kHistogramColumns = 64;
constexpr int kHistogramRows = 6;
constexpr uint32_t kRoiFlag = 0x80000000u;

}  // namespace

const char* FamilyName(int32_t nDeviceType) {
    const LinkbayFamily* pFamily = LinkbayFindFamily(nDeviceType);
    return pFamily != nullptr ? pFamily->pszDisplayName : "none";
}

std::string PortName(int32_t nMcb) { return "COM" + std::to_string(nMcb - LINKBAY_FIRST_MCB + 1); }

DetectorRow DescribeDetector(AddinLibrary& library, int32_t nMcb, int32_t nDet) {
    AddinBase& addin = *library.addin();
    const McbEntry& entry = library.header()->m_pMcbTable[nMcb - LINKBAY_FIRST_MCB];
    DetectorRow row;
    row.nMcb = nMcb;
    row.nDet = nDet;
    row.sPort = PortName(nMcb);
    row.sFamily = FamilyName(entry.nDeviceType);
    char szVersion[16] = "";
    addin.GetVersion(nMcb, szVersion, sizeof szVersion);
    row.sVersion = szVersion;
    row.nInputs = addin.GetInputCount(nMcb);
    row.nChannels = addin.GetChannels(nMcb, nDet);
    char szDescription[128] = "";
    uint8_t bDefault = 0;
    addin.GetDescription(nMcb, nDet, szDescription, sizeof szDescription, &bDefault);
    row.sDescription = szDescription;
    char szOwner[128] = "";
    row.dwLock = addin.GetLock(nMcb, nDet, szOwner, sizeof szOwner);
    row.sLockOwner = szOwner;
    return row;
}

namespace {

std::string LockText(const DetectorRow& row) {
    if (row.dwLock == 0 && row.sLockOwner.empty()) return "-";
    std::string sText = std::to_string(row.dwLock);
    if (!row.sLockOwner.empty()) sText += " (" + row.sLockOwner + ")";
    return sText;
}

void PrintDetectorRow(const DetectorRow& row) {
    printf("%-4d %-3d %-5s %-8s %-9s %6d %8d  %-20s %s\n", row.nMcb, row.nDet, row.sPort.c_str(),
           row.sFamily.c_str(), row.sVersion.c_str(), row.nInputs, row.nChannels, row.sDescription.c_str(),
           LockText(row).c_str());
}

std::string DetectorJson(const DetectorRow& row) {
    return "{\"mcb\":" + std::to_string(row.nMcb) + ",\"det\":" + std::to_string(row.nDet) +
           ",\"port\":" + JsonString(row.sPort) + ",\"family\":" + JsonString(row.sFamily) +
           ",\"version\":" + JsonString(row.sVersion) + ",\"inputs\":" + std::to_string(row.nInputs) +
           ",\"channels\":" + std::to_string(row.nChannels) + ",\"description\":" + JsonString(row.sDescription) +
           ",\"lock\":" + std::to_string(row.dwLock) + ",\"lock_owner\":" + JsonString(row.sLockOwner) + "}";
}

template <typename T, typename Format>
std::string JsonArray(const std::vector<T>& items, Format format) {
    std::string sJson = "[";
    for (size_t i = 0; i < items.size(); ++i) sJson += (i > 0 ? "," : "") + format(items[i]);
    return sJson + "]";
}

// One summary column: the sum of its channels.
std::vector<uint64_t> ColumnSums(const std::vector<uint32_t>& counts) {
    std::vector<uint64_t> sums(kHistogramColumns, 0);
    const size_t nPerColumn = std::max<size_t>(1, (counts.size() + kHistogramColumns - 1) / kHistogramColumns);
    for (size_t c = 0; c < counts.size(); ++c) sums[std::min<size_t>(c / nPerColumn, kHistogramColumns - 1)] += counts[c];
    return sums;
}

}  // namespace

DetectorListing ListDetectors(AddinLibrary& library) {
    AddinBase& addin = *library.addin();
    const McbEntry* pTable = library.header()->m_pMcbTable;
    DetectorListing listing;
    for (int32_t nMcb = LINKBAY_FIRST_MCB; nMcb < LINKBAY_FIRST_MCB + LINKBAY_MCB_COUNT; ++nMcb) {
        const McbEntry& entry = pTable[nMcb - LINKBAY_FIRST_MCB];
        const int32_t nInputs = addin.GetInputCount(nMcb);
        if (nInputs < 1) {
            if (entry.nDeviceType != LINKBAY_DEVICE_NONE)
                listing.silentPorts.push_back(PortName(nMcb) + " (" + FamilyName(entry.nDeviceType) + ")");
            continue;
        }
        for (int32_t nDet = 1; nDet <= nInputs && nDet <= LINKBAY_MAX_DETECTORS; ++nDet)
            listing.detectors.push_back(DescribeDetector(library, nMcb, nDet));
    }
    if (listing.detectors.empty() || !listing.silentPorts.empty()) listing.causes = NoDetectorCauses(library);
    return listing;
}

bool PrintDetectors(AddinLibrary& library) {
    const DetectorListing listing = ListDetectors(library);
    if (!listing.detectors.empty())
        printf("%-4s %-3s %-5s %-8s %-9s %6s %8s  %-20s %s\n", "MCB", "DET", "PORT", "FAMILY", "VERSION", "INPUTS",
               "CHANNELS", "DESCRIPTION", "LOCK");
    for (const DetectorRow& row : listing.detectors) PrintDetectorRow(row);
    if (listing.detectors.empty()) printf("no detectors:\n");
    for (const std::string& sCause : listing.causes) printf("%s\n", sCause.c_str());
    return !listing.detectors.empty();
}

bool PrintDetectorsJson(AddinLibrary& library) {
    const DetectorListing listing = ListDetectors(library);
    printf("{\"detectors\":%s,\"silent_ports\":%s,\"causes\":%s,\"configuration_directory\":%s}\n",
           JsonArray(listing.detectors, DetectorJson).c_str(), JsonArray(listing.silentPorts, JsonString).c_str(),
           JsonArray(listing.causes, JsonString).c_str(), JsonString(ConfigurationDirectory()).c_str());
    return !listing.detectors.empty();
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

void PrintDialogResult(const DialogResult& result, const std::vector<std::string>& causes) {
    printf("response:%s\n", result.sResponse.empty() ? " (none)" : "");
    for (const std::string& sRecord : ResponseLines(result.sResponse)) printf("  %s\n", sRecord.c_str());
    printf("error:  %d/%d (mac/mic)%s\n", result.nMac, result.nMic, result.ok() ? "" : "  FAILED");
    printf("length: %d\n", result.nLength);
    if (!causes.empty()) printf("no working instrument for this detector:\n");
    for (const std::string& sCause : causes) printf("%s\n", sCause.c_str());
}

void PrintDialogResultJson(const DialogResult& result, int32_t nMcb, int32_t nDet, const std::string& sLine,
                           const std::vector<std::string>& causes) {
    printf("{\"mcb\":%d,\"det\":%d,\"line\":%s,\"served\":%s,\"ok\":%s,\"mac\":%d,\"mic\":%d,\"length\":%d,"
           "\"records\":%s,\"causes\":%s}\n",
           nMcb, nDet, JsonString(sLine).c_str(), result.bServed ? "true" : "false", result.ok() ? "true" : "false",
           result.nMac, result.nMic, result.nLength, JsonArray(ResponseLines(result.sResponse), JsonString).c_str(),
           JsonArray(causes, JsonString).c_str());
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
    for (size_t c = 0; c < words.size(); ++c) {
        if ((words[c] & kRoiFlag) == 0) continue;
        if (spectrum.rois.empty() || spectrum.rois.back().nFirst + spectrum.rois.back().nCount != c)
            spectrum.rois.push_back(RoiRun{c, 0});
        ++spectrum.rois.back().nCount;
    }
    for (uint32_t& word : words) word &= dwDataMask & ~kRoiFlag;
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

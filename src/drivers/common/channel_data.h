// The spectrum an instrument last reported, with its ROIs: counts in bits 0
// to 30 of each channel, bit 31 set for a channel inside an ROI, the ROI
// table those flags give, and the 500 ms cache that lets one transfer serve
// every process. Lives in a driver's shared block, so it holds no pointers.
#pragma once

#include <cstdint>
#include <cstring>

#include "cmdlang/result_codes.h"
#include "platform/platform.h"
#include "serial/rs232ci.h"

namespace linkbay {

constexpr uint32_t kRoiFlag = 0x80000000u;
// A spectrum read within this many milliseconds is served again.
constexpr DWORD kChannelCacheMs = 500;

// A count that reaches bit 31 is held below it: it would otherwise mark the
// channel and be written back to the instrument as an ROI.
constexpr uint32_t HeldCount(uint32_t dwCount) { return dwCount < kRoiFlag ? dwCount : kRoiFlag - 1; }

template <int32_t kChannels, int32_t kSlots>
struct ChannelData {
    uint32_t dwChannel[kChannels];
    uint32_t dwLastReadTick;
    uint8_t bDataValid;
    int32_t nRoiCount;
    uint16_t wRoiStart[kSlots];
    uint16_t wRoiEnd[kSlots];  // inclusive
    uint8_t bRoiTableValid;

    bool IsFresh() const { return bDataValid && GetTickCount() - dwLastReadTick <= kChannelCacheMs; }
    void MarkRead() {
        dwLastReadTick = GetTickCount();
        bDataValid = 1;
    }

    void SetRoiFlags(uint32_t nFirst, uint32_t nLast, bool bSet) {
        for (uint32_t c = nFirst; c <= nLast && c < static_cast<uint32_t>(kChannels); ++c) {
            dwChannel[c] = bSet ? (dwChannel[c] | kRoiFlag) : (dwChannel[c] & ~kRoiFlag);
        }
    }

    // Flags the table's entries; entries of one channel only when asked.
    void MarkRoiTable(bool bSingleChannels) {
        for (int32_t i = 0; i < nRoiCount && i < kSlots; ++i) {
            const uint16_t wStart = wRoiStart[i];
            const uint16_t wEnd = wRoiEnd[i];
            if ((wStart < wEnd || (bSingleChannels && wStart == wEnd)) && wEnd < kChannels) {
                SetRoiFlags(wStart, wEnd, true);
            }
        }
    }

    // The table from the runs of flagged channels, at most kSlots of them.
    void BuildRoiTable() {
        int32_t nCount = 0;
        bool bOpen = false;
        for (int32_t c = 0; c < kChannels && nCount < kSlots; ++c) {
            const bool bFlag = (dwChannel[c] & kRoiFlag) != 0;
            if (bFlag && !bOpen) {
                wRoiStart[nCount] = static_cast<uint16_t>(c);
                bOpen = true;
            } else if (!bFlag && bOpen) {
                wRoiEnd[nCount++] = static_cast<uint16_t>(c - 1);
                bOpen = false;
            }
        }
        if (bOpen && nCount < kSlots) wRoiEnd[nCount++] = kChannels - 1;
        nRoiCount = nCount;
        bRoiTableValid = 1;
    }

    // The first ROI starting at or after the cursor, which then moves past
    // it; start and length 0 when there is none.
    void NextRoiRange(uint32_t& nCursor, uint16_t& wStart, uint16_t& wLength) const {
        wStart = 0;
        wLength = 0;
        const uint16_t wCursor = static_cast<uint16_t>(nCursor);
        for (int32_t i = 0; i < nRoiCount && i < kSlots; ++i) {
            if (wRoiStart[i] < wCursor) continue;
            wStart = wRoiStart[i];
            wLength = static_cast<uint16_t>(wRoiEnd[i] - wStart + 1);
            nCursor = static_cast<uint16_t>(wRoiEnd[i] + 1);
            return;
        }
    }
};

// ReadData of a family whose spectrum is cached in its shared block: the
// checks of the range, a refresh of the cache (refresh() false: not read),
// then the copy. Detector 1, segment 0 only; a block that could not be had
// reads as not read.
template <class Common, class Refresh>
int32_t ReadCachedRange(Common* pCommon, int32_t nDet, int32_t nSegment, int32_t nFirst, int32_t nCount,
                        uint32_t* pdwDest, Refresh refresh) {
    constexpr int32_t kChannels = static_cast<int32_t>(sizeof pCommon->dwChannel / sizeof pCommon->dwChannel[0]);
    if (nDet != kServedDetector || nSegment != 0 || nFirst < 0 || static_cast<int64_t>(nFirst) + nCount > kChannels) {
        return kOpBadArguments;
    }
    if (nCount < 1) return kOpDone;
    if (pdwDest == nullptr) return kOpBadArguments;
    if (pCommon == nullptr || !refresh()) return kOpNotRead;
    std::memcpy(pdwDest, pCommon->dwChannel + nFirst, sizeof(uint32_t) * static_cast<size_t>(nCount));
    return kOpDone;
}

}  // namespace linkbay

// A minimal host: loads the Linkbay add-in, lists the detectors and reads the
// first one's spectrum. Built with LINKBAY_EXAMPLE_LINKED it links the add-in
// instead of loading it. The add-in reads DETHUB.INI and LINKBAY_COMn as ever.
#include <dlfcn.h>

#include <cstdio>
#include <vector>

#include "linkbay/addin.h"
#include "linkbay/linked.h"

// The file to load; CMake builds name the installed one.
#ifndef LINKBAY_ADDIN_FILE
#define LINKBAY_ADDIN_FILE "liblinkbay.so.0"
#endif

static AddinBase* FindAddin() {
#ifdef LINKBAY_EXAMPLE_LINKED
    return LinkbayLinkedAddin();
#else
    void* hLibrary = dlopen(LINKBAY_ADDIN_FILE, RTLD_NOW | RTLD_LOCAL);
    if (hLibrary == nullptr) fprintf(stderr, "cannot load the add-in: %s\n", dlerror());
    return hLibrary != nullptr ? static_cast<AddinBase*>(dlsym(hLibrary, LINKBAY_EXPORT_NAME)) : nullptr;
#endif
}

int main() {
    AddinBase* pAddin = FindAddin();
    if (pAddin == nullptr) return 1;
    pAddin->Open();
    int32_t nMcb = 0;
    for (int32_t nEach = LINKBAY_FIRST_MCB; nEach < LINKBAY_FIRST_MCB + LINKBAY_MCB_COUNT; ++nEach) {
        char szVersion[16] = "";
        pAddin->GetVersion(nEach, szVersion, sizeof szVersion);
        for (int32_t nDet = 1; nDet <= pAddin->GetInputCount(nEach); ++nDet)
            printf("MCB %d detector %d: %s, %d channels\n", nEach, nDet, szVersion, pAddin->GetChannels(nEach, nDet));
        if (nMcb == 0 && pAddin->GetInputCount(nEach) > 0) nMcb = nEach;
    }
    if (nMcb == 0) {
        printf("no detectors: configure a port in DETHUB.INI\n");
        pAddin->Close();
        return 1;
    }
    // Channel words may carry flag bits: the masks say which bits are counts.
    std::vector<uint32_t> words(static_cast<size_t>(pAddin->GetChannels(nMcb, 1)));
    uint32_t dwDataMask = 0, dwFlagMask = 0;
    const int32_t nResult = pAddin->ReadSpectrum(nMcb, 1, &dwDataMask, &dwFlagMask, 0, 0,
                                                 static_cast<int32_t>(words.size()), 0, words.data());
    unsigned long long nTotal = 0;
    for (uint32_t dwWord : words) nTotal += dwWord & (dwDataMask != 0 ? dwDataMask : ~dwFlagMask);
    if (nResult == 1) printf("spectrum of MCB %d: %zu channels, %llu counts\n", nMcb, words.size(), nTotal);
    else printf("spectrum of MCB %d not read (ReadSpectrum gave %d)\n", nMcb, nResult);
    pAddin->Close();
    return nResult == 1 ? 0 : 1;
}

// Writes the fuzzer's seed corpus: every command word of every family, with
// arguments at the low end of their ranges, one file per line.
#include <cstdio>
#include <string>

#include "cmdlang/command_set.h"
#include "drivers/family_registry.h"

namespace {

using namespace linkbay;

const char* WordOf(const WordEntry* pTable, int32_t nCount, int32_t nId) {
    for (int32_t i = 0; i < nCount; ++i) {
        if (pTable[i].nId == nId) return pTable[i].pszWord;
    }
    return nullptr;
}

std::string LineOf(const CommandSet& set, const CommandEntry& row) {
    std::string sLine = WordOf(set.pVerbs, set.nVerbs, row.nVerb);
    if (const char* pszNoun = WordOf(set.pNouns, set.nNouns, row.nNoun)) sLine += std::string("_") + pszNoun;
    if (const char* pszModifier = WordOf(set.pModifiers, set.nModifiers, row.nModifier))
        sLine += std::string("_") + pszModifier;
    for (int32_t i = 0; i < row.nMaxArgs && i < 4; ++i) {
        sLine += i == 0 ? " " : ",";
        sLine += std::to_string(static_cast<long long>(set.pRanges[row.range[i]].dMin));
    }
    return sLine;
}

int WriteRows(const CommandSet& set, const CommandEntry* pRows, int32_t nRows, const char* pszDir, int nFile) {
    for (int32_t i = 0; i < nRows; ++i, ++nFile) {
        const std::string sPath = std::string(pszDir) + "/seed" + std::to_string(nFile);
        FILE* pFile = fopen(sPath.c_str(), "wb");
        if (pFile == nullptr) {
            perror(sPath.c_str());
            return -1;
        }
        const std::string sLine = LineOf(set, pRows[i]);
        fwrite(sLine.data(), 1, sLine.size(), pFile);
        fclose(pFile);
    }
    return nFile;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    int nFile = 0;
    for (int32_t f = 0; f < kFamilyDriverCount; ++f) {
        const CommandSet* pSet = kFamilyDrivers[f].pCommandSet;
        nFile = WriteRows(*pSet, pSet->pCommandsA, pSet->nCommandsA, argv[1], nFile);
        if (nFile >= 0) nFile = WriteRows(*pSet, pSet->pCommandsB, pSet->nCommandsB, argv[1], nFile);
        if (nFile >= 0) nFile = WriteRows(*pSet, pSet->pCommandsC, pSet->nCommandsC, argv[1], nFile);
        if (nFile < 0) return 1;
    }
    printf("%d seeds written to %s\n", nFile, argv[1]);
    return 0;
}

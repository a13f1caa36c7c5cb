#include "shell.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <editline/readline.h>
#include <linkbay_command_words.h>  // generated in the build tree by linkbay-command-words

#include "commands.h"
#include "diagnosis.h"
#include "library_loader.h"

namespace linkbay_host {
namespace {

// The words Tab completes: the family's, set before the first prompt.
std::vector<std::string> g_words;

char* NextMatch(const char* pszText, int nState) {
    static size_t s_nNext = 0;
    if (nState == 0) s_nNext = 0;
    const size_t nLength = strlen(pszText);
    while (s_nNext < g_words.size()) {
        const std::string& sWord = g_words[s_nNext++];
        if (strncasecmp(sWord.c_str(), pszText, nLength) == 0) return strdup(sWord.c_str());
    }
    return nullptr;
}

// Only the first word of a line is a command word; the rest are arguments.
char** Complete(const char* pszText, int nStart, int) {
    rl_attempted_completion_over = 1;
    return nStart == 0 ? rl_completion_matches(pszText, NextMatch) : nullptr;
}

std::vector<std::string> FamilyWords(int32_t nDeviceType) {
    std::vector<std::string> words;
    for (const LinkbayCommandWords& family : kLinkbayCommandWords)
        if (family.nDeviceType == nDeviceType)
            words.assign(family.ppszWords, family.ppszWords + family.nWords);
    for (const char* pszOwn : {"help", "quit"}) words.push_back(pszOwn);
    return words;
}

void PrintAnswer(const DialogResult& result, const std::string& sLine) {
    for (const std::string& sRecord : ResponseLines(result.sResponse))
        printf("  %-24s %s\n", sRecord.c_str(), DescribeRecord(sRecord, sLine).c_str());
    printf("  error %d/%d: %s\n", result.nMac, result.nMic, ExplainErrorPair(result.nMac, result.nMic).c_str());
    fflush(stdout);
}

void PrintHelp() {
    printf("  a command line goes to the instrument, e.g. SHOW_LIVE or SET_LIVE_PRESET 500;\n"
           "  Tab completes the command words (%zu for this family), the arrow keys recall lines;\n"
           "  quit (or Ctrl-D) ends\n",
           g_words.size() - 2);
}

// One line of input, or false at its end; a terminal gets a prompt and editing.
bool NextLine(bool bTerminal, const std::string& sPrompt, std::string& sLine) {
    if (!bTerminal) {
        if (!std::getline(std::cin, sLine)) return false;
        if (!sLine.empty() && sLine.back() == '\r') sLine.pop_back();
        printf("%s%s\n", sPrompt.c_str(), sLine.c_str());  // the transcript shows what was sent
        return true;
    }
    char* pszLine = readline(sPrompt.c_str());
    if (pszLine == nullptr) return false;
    sLine = pszLine;
    free(pszLine);
    if (!sLine.empty()) add_history(sLine.c_str());
    return true;
}

std::string Trimmed(const std::string& sText) {
    const size_t nFirst = sText.find_first_not_of(" \t");
    return nFirst == std::string::npos ? "" : sText.substr(nFirst, sText.find_last_not_of(" \t") - nFirst + 1);
}

}  // namespace

int RunShell(AddinLibrary& library, int32_t nMcb, int32_t nDet) {
    AddinBase& addin = *library.addin();
    addin.Open();
    AwaitInterrogation(library, {nMcb}, Progress::Stderr);
    if (!addin.IsValidDetector(nMcb, nDet)) {
        const std::string sText = NoDetectorText(library, nMcb, nDet);
        addin.Close();
        fprintf(stderr, "linkbay: shell: %s\n", sText.c_str());
        return 1;
    }
    const DetectorRow detector = DescribeDetector(library, nMcb, nDet);
    g_words = FamilyWords(library.header()->m_pMcbTable[nMcb - LINKBAY_FIRST_MCB].nDeviceType);
    const bool bTerminal = isatty(STDIN_FILENO) != 0;
    if (bTerminal) {
        rl_attempted_completion_function = Complete;
        printf("%s %s on %s, MCB %d detector %d: help lists what to do\n", detector.sFamily.c_str(),
               detector.sVersion.c_str(), detector.sPort.c_str(), nMcb, nDet);
    }
    const std::string sPrompt = std::to_string(nMcb) + "/" + std::to_string(nDet) + "> ";
    bool bAllServed = true;
    std::string sLine;
    while (NextLine(bTerminal, sPrompt, sLine)) {
        sLine = Trimmed(sLine);
        if (sLine == "quit" || sLine == "exit") break;
        if (sLine.empty()) continue;
        if (sLine == "help") {
            PrintHelp();
            continue;
        }
        const DialogResult result = SendLine(addin, nMcb, nDet, sLine);
        PrintAnswer(result, sLine);
        bAllServed = bAllServed && result.ok();
    }
    addin.Close();
    return bAllServed ? 0 : 1;
}

}  // namespace linkbay_host

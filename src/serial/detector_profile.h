// Per-detector sections of DETHUB.INI ("M97S01" for detector 1 of MCB 97),
// shared by the add-in and the drivers that keep settings there.
#pragma once

#include <cstdint>

namespace linkbay {

constexpr char kConfigFile[] = "DETHUB.INI";

// Reads the key of the detector's section into the buffer (the default when missing).
void GetDetectorProfileString(int32_t nMcb, uint32_t nDet, const char* pszKey, const char* pszDefault,
                              char* pszBuffer, uint32_t cbBuffer);
// Writes the key; a null key is refused. True when the file was written;
// a failed write is told at debug level 0 with the file's path and the
// system's reason, and leaves that reason as the last error.
bool WriteDetectorProfileString(int32_t nMcb, int32_t nDet, const char* pszKey, const char* pszValue);
// Reads the key with the number of characters the platform reports.
int32_t ReadDetectorProfileString(int32_t nMcb, uint32_t nDet, const char* pszKey, const char* pszDefault,
                                  char* pszBuffer, uint32_t cbBuffer);

// Tells at debug level 0 why DETHUB.INI, present, was not read (too large,
// or unreadable), once per version of the file; the reads above call it.
void ReportUnreadConfigFile();

}  // namespace linkbay

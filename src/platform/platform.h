// The one header through which add-in code reaches the operating system.
// Code above this folder is written against the Win32 calls; on Windows that
// is <windows.h> itself, elsewhere the POSIX layer gives the same calls their
// Windows meaning.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include "posix/win32_api.h"
#endif

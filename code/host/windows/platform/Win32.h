#pragma once
// The Windows headers for the platform layer's sources, without the macros that clash with the seam's member
// names: these sources call the ANSI or wide entry points by their full names. The seam's headers come first,
// as windows.h defines some of their constants' names (ERROR_FILE_NOT_FOUND, REG_SZ...) as macros.
#include "control/Platform.h"
#include "desktop/Processes.h"
#include "desktop/Registry.h"
#include "ftp/FtpClient.h"

#include "host/windows/Handles.h"

#include <shlwapi.h>

#undef DeleteFile
#undef FindFirstFile
#undef FindClose
#undef GetTempPath
#undef GetTempFileName
#undef MessageBox
#undef InternetOpen
#undef InternetConnect
#undef FtpGetFile
#undef FtpPutFile
#undef FtpFindFirstFile
#undef FtpRenameFile
#undef FtpDeleteFile
#undef FtpCreateDirectory
#undef FtpCommand
#undef RegOpenKey
#undef RegQueryValueEx
#undef RegEnumValue
#undef PathFileExists

namespace kadroo::windows {

// The family that records the outcome of the Win32 call that has just returned, reading GetLastError before
// anything else can reset it (C runtime calls such as snprintf may). Call it directly on the call:
// Recorded(lastError, ::DeleteFileA(p)). A call refused before Windows sees it is Refuse(lastError, code, failure).
inline int32_t LastWin32Error() { return static_cast<int32_t>(::GetLastError()); }

// A BOOL call; whether it succeeded.
inline bool Recorded(LastError& lastError, BOOL ok) {
  const int32_t error = LastWin32Error();
  lastError.code = ok ? 0 : error;
  return ok != FALSE;
}

// A call that returns a null handle, pointer or number on failure; what it returned.
template <typename T>
T RecordedNonNull(LastError& lastError, T value) {
  const int32_t error = LastWin32Error();
  lastError.code = value ? 0 : error;
  return value;
}

// A call that returns INVALID_HANDLE_VALUE on failure (CreateFile, FindFirstFile); what it returned.
inline HANDLE RecordedValid(LastError& lastError, HANDLE handle) {
  const int32_t error = LastWin32Error();
  lastError.code = handle != INVALID_HANDLE_VALUE ? 0 : error;
  return handle;
}

// A call that returns the length it wrote into a buffer of `capacity`: 0 on failure, more than `capacity` when the
// buffer was too small (recorded as ERROR_BUFFER_OVERFLOW). The length, or 0 on failure.
inline DWORD RecordedLength(LastError& lastError, DWORD length, DWORD capacity) {
  const int32_t error = LastWin32Error();
  lastError.code = length == 0 ? error : length > capacity ? ERROR_BUFFER_OVERFLOW : 0;
  return lastError.code == 0 ? length : 0;
}

}  // namespace kadroo::windows

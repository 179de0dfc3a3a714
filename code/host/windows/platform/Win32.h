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
#undef RegOpenKey
#undef RegQueryValueEx
#undef RegEnumValue
#undef PathFileExists

namespace kadroo::windows {

// Records the outcome of the platform call that has just returned `ok` (0, or GetLastError read before anything
// else can reset it) and returns it as a bool. Call it directly on the call: Recorded(lastError, ::DeleteFileA(p)).
inline bool Recorded(LastError& lastError, BOOL ok) {
  const DWORD error = ::GetLastError();
  lastError.code = ok ? 0 : static_cast<int32_t>(error);
  return ok != FALSE;
}

}  // namespace kadroo::windows

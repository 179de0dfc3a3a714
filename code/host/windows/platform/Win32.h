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

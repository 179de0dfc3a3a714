#pragma once
// Writes and removes the registration table of Registration.h for the server at a given path.
#include <windows.h>

#include <string>

namespace kadroo::windows {

// Writes every entry under HKEY_CLASSES_ROOT; on a failure removes what it wrote and returns the error.
HRESULT RegisterServer(const std::wstring& modulePath);
// Removes the values the table names, then every key it names that is left empty. Keys and values already gone
// are no error.
HRESULT UnregisterServer(const std::wstring& modulePath);

}  // namespace kadroo::windows

#pragma once
// The control's text to and from BSTR. Both are UTF-16; a null BSTR is the empty text.
#include <new>

#include "control/Text.h"

#include <windows.h>
#include <oleauto.h>

namespace kadroo::windows {

inline Text ToText(BSTR text) { return text == nullptr ? Text() : Text(text, text + ::SysStringLen(text)); }

// Throws std::bad_alloc when the string cannot be allocated.
inline BSTR ToBstr(TextView text) {
  BSTR result = ::SysAllocStringLen(nullptr, static_cast<UINT>(text.size()));
  if (result == nullptr) throw std::bad_alloc();
  for (size_t i = 0; i < text.size(); ++i) result[i] = static_cast<wchar_t>(text[i]);
  return result;
}

}  // namespace kadroo::windows

#include "host/windows/platform/MessageBoxPrompt.h"

#include "host/windows/platform/AnsiCodePage.h"

namespace kadroo::windows {

void MessageBoxPrompt::MessageBox(TextView prompt, TextView title) {
  const std::wstring text = ToWide(prompt);
  const std::wstring caption = ToWide(title);
  ::MessageBoxW(owner_, text.c_str(), caption.c_str(), MB_OK);
}

}  // namespace kadroo::windows

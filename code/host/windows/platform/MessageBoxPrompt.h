#pragma once
// The control's message box: MessageBoxW with one OK button, owned by the window given last (none at first).
#include "host/windows/platform/Win32.h"

namespace kadroo::windows {

class MessageBoxPrompt final : public UserPrompt {
 public:
  void MessageBox(TextView prompt, TextView title) override;
  void SetOwner(HWND owner) { owner_ = owner; }

 private:
  HWND owner_ = nullptr;
};

}  // namespace kadroo::windows

#include "host/windows/embedding/Label.h"

namespace kadroo::windows {
namespace {

constexpr COLORREF kSurface = RGB(255, 255, 225);
constexpr COLORREF kInk = RGB(0, 0, 0);
constexpr int kMargin = 4;
constexpr int kFontHeight = -11;  // 8 points at 96 dpi
constexpr wchar_t kWindowClass[] = L"KadroOA.Label12";

// Without smoothing, the caption is the same pixels on every device and in every container.
HFONT CreateLabelFont() {
  return ::CreateFontW(kFontHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma");
}

LRESULT CALLBACK LabelWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      if (HDC dc = ::BeginPaint(window, &paint)) {
        RECT client;
        ::GetClientRect(window, &client);
        PaintLabel(dc, client);
        ::EndPaint(window, &paint);
      }
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_NCHITTEST:
      return HTTRANSPARENT;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

// Window classes belong to the process, while each apartment has its own windows.
SRWLOCK windowsLock = SRWLOCK_INIT;
int windowCount = 0;

}  // namespace

HMODULE ThisModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

void PaintLabel(HDC dc, const RECT& bounds) {
  const int saved = ::SaveDC(dc);
  const HBRUSH surface = ::CreateSolidBrush(kSurface);
  ::FillRect(dc, &bounds, surface);
  ::DeleteObject(surface);
  const HFONT font = CreateLabelFont();
  ::SelectObject(dc, font);
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, kInk);
  ::SetTextAlign(dc, TA_LEFT | TA_TOP | TA_NOUPDATECP);
  ::IntersectClipRect(dc, bounds.left, bounds.top, bounds.right, bounds.bottom);
  ::TextOutW(dc, bounds.left + kMargin, bounds.top + kMargin, kLabelCaption, ARRAYSIZE(kLabelCaption) - 1);
  ::RestoreDC(dc, saved);
  ::DeleteObject(font);
}

SIZE LabelSize() {
  SIZE text{};
  if (HDC screen = ::GetDC(nullptr)) {
    const HFONT font = CreateLabelFont();
    const HGDIOBJ previous = ::SelectObject(screen, font);
    ::GetTextExtentPoint32W(screen, kLabelCaption, ARRAYSIZE(kLabelCaption) - 1, &text);
    ::SelectObject(screen, previous);
    ::DeleteObject(font);
    ::ReleaseDC(nullptr, screen);
  }
  return SIZE{text.cx + 2 * kMargin, text.cy + 2 * kMargin};
}

HWND CreateLabelWindow(HWND parent, const RECT& position) {
  const HINSTANCE module = ThisModule();
  ::AcquireSRWLockExclusive(&windowsLock);
  if (windowCount == 0) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = LabelWindowProc;
    windowClass.hInstance = module;
    windowClass.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.lpszClassName = kWindowClass;
    if (!::RegisterClassW(&windowClass) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
      ::ReleaseSRWLockExclusive(&windowsLock);
      return nullptr;
    }
  }
  const HWND window = ::CreateWindowExW(0, kWindowClass, kLabelCaption, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS,
                                        position.left, position.top, position.right - position.left,
                                        position.bottom - position.top, parent, nullptr, module, nullptr);
  if (window) {
    ++windowCount;
  } else if (windowCount == 0) {
    const DWORD error = ::GetLastError();
    ::UnregisterClassW(kWindowClass, module);
    ::SetLastError(error);
  }
  ::ReleaseSRWLockExclusive(&windowsLock);
  return window;
}

void DestroyLabelWindow(HWND window) {
  if (!window) return;
  ::DestroyWindow(window);
  ::AcquireSRWLockExclusive(&windowsLock);
  if (--windowCount == 0) ::UnregisterClassW(kWindowClass, ThisModule());
  ::ReleaseSRWLockExclusive(&windowsLock);
}

}  // namespace kadroo::windows

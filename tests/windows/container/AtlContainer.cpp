// Hosts the control in Wine's ATL container: a window of class AtlAxWin named by the ProgID creates, sites,
// activates and shows it. Checks that the label's window is there, runs a page script through the hosted control,
// writes the label as it should look, prints where it is on the screen and waits for the screenshot.
//
//   atl_container PROGID OUTDIR SCRIPT.js    (stops when OUTDIR\atl-done appears)
#include "ContainerTest.h"

#include <cstdio>

using namespace kadroo::test;

namespace {

void Pump(DWORD milliseconds) {
  const DWORD end = ::GetTickCount() + milliseconds;
  while (static_cast<LONG>(end - ::GetTickCount()) > 0) {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) Fail("usage: atl_container PROGID OUTDIR SCRIPT.js");
  const std::wstring progId = argv[1], outDir = argv[2], script = argv[3];
  EXPECT_OK(::OleInitialize(nullptr));

  const HMODULE atl = ::LoadLibraryW(L"atl.dll");
  EXPECT_TRUE(atl != nullptr);
  using AtlAxWinInitFunction = BOOL(WINAPI*)();
  using AtlAxGetControlFunction = HRESULT(WINAPI*)(HWND, IUnknown**);
  const auto atlAxWinInit = Export<AtlAxWinInitFunction>(atl, "AtlAxWinInit");
  const auto atlAxGetControl = Export<AtlAxGetControlFunction>(atl, "AtlAxGetControl");
  EXPECT_TRUE(atlAxWinInit());

  WNDCLASSW frameClass{};
  frameClass.lpfnWndProc = ::DefWindowProcW;
  frameClass.hInstance = ::GetModuleHandleW(nullptr);
  frameClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  frameClass.lpszClassName = L"KadroOATestFrame";
  EXPECT_TRUE(::RegisterClassW(&frameClass));
  const HWND frame = ::CreateWindowW(L"KadroOATestFrame", L"KadroOA in ATL", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100,
                                     100, 400, 200, nullptr, nullptr, frameClass.hInstance, nullptr);
  EXPECT_TRUE(frame != nullptr);
  const HWND host = ::CreateWindowW(L"AtlAxWin", progId.c_str(), WS_CHILD | WS_VISIBLE, 20, 20, 240, 60, frame,
                                    nullptr, frameClass.hInstance, nullptr);
  EXPECT_TRUE(host != nullptr);
  Pump(500);

  IUnknown* control = nullptr;
  EXPECT_OK(atlAxGetControl(host, &control));
  EXPECT_TRUE(control != nullptr);

  IOleWindow* inPlace = nullptr;
  EXPECT_OK(control->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&inPlace)));
  HWND label = nullptr;
  EXPECT_OK(inPlace->GetWindow(&label));
  inPlace->Release();
  EXPECT_TRUE(::GetParent(label) == host);
  EXPECT_TRUE(::IsWindowVisible(label));
  wchar_t caption[64] = {};
  ::GetWindowTextW(label, caption, 64);
  EXPECT_TRUE(std::wstring(caption) == L"KadroOa v2.42");

  {
    PageScripts scripts(L"JScript", control, frame);
    scripts.Run(ReadScript(script), script);
  }

  ::RedrawWindow(frame, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Pump(300);
  RECT where;
  EXPECT_TRUE(::GetWindowRect(label, &where));
  const int width = where.right - where.left, height = where.bottom - where.top;
  EXPECT_TRUE(width > 0 && height > 0);
  SaveBitmap(outDir + L"\\atl-label-expected.bmp", ExpectedLabel(width, height), width, height);
  std::printf("label %ld %ld %d %d\nready\n", where.left, where.top, width, height);
  std::fflush(stdout);

  const std::wstring done = outDir + L"\\atl-done";
  for (int waited = 0; ::GetFileAttributesW(done.c_str()) == INVALID_FILE_ATTRIBUTES; waited += 100) {
    if (waited > 60000) Fail("no screenshot within a minute");
    Pump(100);
  }

  control->Release();
  ::DestroyWindow(frame);
  Pump(100);
  ::OleUninitialize();
  std::printf("ok atl container\n");
  return 0;
}

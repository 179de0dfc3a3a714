#pragma once
// Shared by the container test programs: checks that end the program on the first surprise, a script engine host
// that gives a page script the control as the named item `c`, and the label as the page author sees it.
#include <windows.h>
#include <activscp.h>
#include <ocidl.h>

#include <string>
#include <vector>

namespace kadroo::test {

// Prints what failed and ends the process with exit code 1.
[[noreturn]] void Fail(const std::string& what);
// Checks that `got` is `want`; prints "ok" lines only in verbose mode.
void Expect(HRESULT got, HRESULT want, const char* what, int line);
void Expect(bool condition, const char* what, int line);

#define EXPECT_HR(call, want) ::kadroo::test::Expect((call), (want), #call, __LINE__)
#define EXPECT_OK(call) ::kadroo::test::Expect((call), S_OK, #call, __LINE__)
#define EXPECT_TRUE(condition) ::kadroo::test::Expect(static_cast<bool>(condition), #condition, __LINE__)

// The export `name` of `module` as a function of type `Function`; fails the program when it is missing.
template <typename Function>
Function Export(HMODULE module, const char* name) {
  const auto address = reinterpret_cast<void*>(::GetProcAddress(module, name));
  if (!address) Fail(std::string("no export ") + name);
  return reinterpret_cast<Function>(address);
}

std::wstring Widen(const char* text);
std::string Narrow(const std::wstring& text);
// The whole file as UTF-16; a script file is UTF-8.
std::wstring ReadScript(const std::wstring& path);

// Runs page scripts in one engine ("JScript" or "VBScript") with `control` as the named item "c", as
// <object id="c"> makes it for a page. A script error (a thrown check) fails the program with the error's text.
class PageScripts final : public IActiveScriptSite, public IActiveScriptSiteWindow {
 public:
  PageScripts(const wchar_t* language, IUnknown* control, HWND window);
  ~PageScripts();
  void Run(const std::wstring& text, const std::wstring& name);

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetLCID(LCID* lcid) override;
  STDMETHODIMP GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** info) override;
  STDMETHODIMP GetDocVersionString(BSTR* version) override;
  STDMETHODIMP OnScriptTerminate(const VARIANT* result, const EXCEPINFO* exception) override;
  STDMETHODIMP OnStateChange(SCRIPTSTATE state) override;
  STDMETHODIMP OnScriptError(IActiveScriptError* error) override;
  STDMETHODIMP OnEnterScript() override;
  STDMETHODIMP OnLeaveScript() override;
  STDMETHODIMP GetWindow(HWND* window) override;
  STDMETHODIMP EnableModeless(BOOL enable) override;

 private:
  IUnknown* control_;
  HWND window_;
  IActiveScript* engine_ = nullptr;
  IActiveScriptParse* parse_ = nullptr;
  std::wstring error_;
};

// Label12 as the guide describes it: the caption "KadroOa v2.42" in 8-point Tahoma without smoothing, black,
// 4 pixels from the top left corner, on RGB(255, 255, 225). Pixels are 0x00RRGGBB, rows top down.
std::vector<unsigned> ExpectedLabel(int width, int height);
// Counts the pixels that differ between two images of the same size.
int CountDifferences(const std::vector<unsigned>& a, const std::vector<unsigned>& b);
// Counts the black pixels, the caption's ink.
int CountInk(const std::vector<unsigned>& pixels);
void SaveBitmap(const std::wstring& path, const std::vector<unsigned>& pixels, int width, int height);

// A 32-bit top-down DIB section selected into a memory DC.
class Canvas {
 public:
  Canvas(int width, int height, unsigned fill);
  ~Canvas();
  HDC dc() const { return dc_; }
  std::vector<unsigned> Pixels() const;

 private:
  int width_, height_;
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ previous_;
  unsigned* bits_ = nullptr;
};

}  // namespace kadroo::test

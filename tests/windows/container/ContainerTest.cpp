#include <initguid.h>

#include "ContainerTest.h"
#include "../Report.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace kadroo::test {

void Fail(const std::string& what) {
  Check("the container's checks", false, what);
  ::ExitProcess(1);
}

void Expect(HRESULT got, HRESULT want, const char* what, int line) {
  if (got == want) return;
  char text[512];
  std::snprintf(text, sizeof text, "line %d: %s returned 0x%08lX, expected 0x%08lX", line, what,
                static_cast<unsigned long>(got), static_cast<unsigned long>(want));
  Fail(text);
}

void Expect(bool condition, const char* what, int line) {
  if (!condition) Fail("line " + std::to_string(line) + ": " + what);
}

std::wstring Widen(const char* text) {
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  std::wstring result(length > 0 ? length - 1 : 0, L'\0');
  if (length > 1) ::MultiByteToWideChar(CP_UTF8, 0, text, -1, result.data(), length);
  return result;
}

std::string Narrow(const std::wstring& text) {
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string result(length > 0 ? length - 1 : 0, '\0');
  if (length > 1) ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, result.data(), length, nullptr, nullptr);
  return result;
}

std::wstring ReadScript(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  if (!in) Fail("cannot read " + Narrow(path));
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return Widen(bytes.c_str());
}

PageScripts::PageScripts(const wchar_t* language, IUnknown* control, HWND window) : control_(control), window_(window) {
  CLSID engine;
  EXPECT_OK(::CLSIDFromProgID(language, &engine));
  EXPECT_OK(::CoCreateInstance(engine, nullptr, CLSCTX_INPROC_SERVER, IID_IActiveScript,
                               reinterpret_cast<void**>(&engine_)));
  EXPECT_OK(engine_->QueryInterface(IID_IActiveScriptParse, reinterpret_cast<void**>(&parse_)));
  EXPECT_OK(engine_->SetScriptSite(this));
  EXPECT_OK(parse_->InitNew());
  EXPECT_OK(engine_->AddNamedItem(L"c", SCRIPTITEM_ISVISIBLE | SCRIPTITEM_ISSOURCE));
  EXPECT_OK(engine_->SetScriptState(SCRIPTSTATE_CONNECTED));
}

PageScripts::~PageScripts() {
  engine_->Close();
  parse_->Release();
  engine_->Release();
}

void PageScripts::Run(const std::wstring& text, const std::wstring& name) {
  error_.clear();
  EXCEPINFO exception{};
  const HRESULT result =
      parse_->ParseScriptText(text.c_str(), nullptr, nullptr, nullptr, 0, 1, SCRIPTTEXT_ISVISIBLE, nullptr, &exception);
  if (!error_.empty()) Fail(Narrow(name) + ": " + Narrow(error_));
  if (FAILED(result)) {
    char code[32];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
    Fail(Narrow(name) + " did not run: " + code);
  }
  std::printf("ok %s\n", Narrow(name).c_str());
  std::fflush(stdout);
}

STDMETHODIMP PageScripts::QueryInterface(REFIID riid, void** object) {
  if (riid == IID_IUnknown || riid == IID_IActiveScriptSite) {
    *object = static_cast<IActiveScriptSite*>(this);
  } else if (riid == IID_IActiveScriptSiteWindow) {
    *object = static_cast<IActiveScriptSiteWindow*>(this);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  return S_OK;
}

STDMETHODIMP PageScripts::GetLCID(LCID*) { return E_NOTIMPL; }

STDMETHODIMP PageScripts::GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** info) {
  if (std::wstring(name) != L"c") return TYPE_E_ELEMENTNOTFOUND;
  if (mask & SCRIPTINFO_IUNKNOWN) {
    *item = control_;
    control_->AddRef();
  }
  if (mask & SCRIPTINFO_ITYPEINFO) {
    IProvideClassInfo* classInfo = nullptr;
    EXPECT_OK(control_->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void**>(&classInfo)));
    EXPECT_OK(classInfo->GetClassInfo(info));
    classInfo->Release();
  }
  return S_OK;
}

STDMETHODIMP PageScripts::GetDocVersionString(BSTR*) { return E_NOTIMPL; }
STDMETHODIMP PageScripts::OnScriptTerminate(const VARIANT*, const EXCEPINFO*) { return S_OK; }
STDMETHODIMP PageScripts::OnStateChange(SCRIPTSTATE) { return S_OK; }

STDMETHODIMP PageScripts::OnScriptError(IActiveScriptError* error) {
  EXCEPINFO exception{};
  error->GetExceptionInfo(&exception);
  DWORD context = 0;
  ULONG line = 0;
  LONG column = 0;
  error->GetSourcePosition(&context, &line, &column);
  wchar_t where[64];
  std::swprintf(where, 64, L"line %lu: 0x%08lX ", line, static_cast<unsigned long>(exception.scode));
  error_ = where + std::wstring(exception.bstrDescription ? exception.bstrDescription : L"(no description)");
  ::SysFreeString(exception.bstrSource);
  ::SysFreeString(exception.bstrDescription);
  ::SysFreeString(exception.bstrHelpFile);
  return S_OK;
}

STDMETHODIMP PageScripts::OnEnterScript() { return S_OK; }
STDMETHODIMP PageScripts::OnLeaveScript() { return S_OK; }

STDMETHODIMP PageScripts::GetWindow(HWND* window) {
  *window = window_;
  return S_OK;
}

STDMETHODIMP PageScripts::EnableModeless(BOOL) { return S_OK; }

Canvas::Canvas(int width, int height, unsigned fill) : width_(width), height_(height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  dc_ = ::CreateCompatibleDC(nullptr);
  void* bits = nullptr;
  bitmap_ = ::CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  EXPECT_TRUE(dc_ && bitmap_);
  bits_ = static_cast<unsigned*>(bits);
  previous_ = ::SelectObject(dc_, bitmap_);
  std::fill(bits_, bits_ + width * height, fill);
}

Canvas::~Canvas() {
  ::SelectObject(dc_, previous_);
  ::DeleteObject(bitmap_);
  ::DeleteDC(dc_);
}

std::vector<unsigned> Canvas::Pixels() const {
  ::GdiFlush();
  std::vector<unsigned> pixels(bits_, bits_ + width_ * height_);
  for (unsigned& pixel : pixels) pixel &= 0xFFFFFF;
  return pixels;
}

std::vector<unsigned> ExpectedLabel(int width, int height) {
  Canvas canvas(width, height, 0xFFFFE1);
  const HFONT font = ::CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                   CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma");
  const HGDIOBJ previous = ::SelectObject(canvas.dc(), font);
  ::SetBkMode(canvas.dc(), TRANSPARENT);
  ::SetTextColor(canvas.dc(), RGB(0, 0, 0));
  const wchar_t caption[] = L"KadroOa v2.42";
  ::TextOutW(canvas.dc(), 4, 4, caption, lstrlenW(caption));
  ::SelectObject(canvas.dc(), previous);
  ::DeleteObject(font);
  return canvas.Pixels();
}

int CountDifferences(const std::vector<unsigned>& a, const std::vector<unsigned>& b) {
  if (a.size() != b.size()) return -1;
  int differences = 0;
  for (size_t i = 0; i < a.size(); ++i) differences += (a[i] != b[i]);
  return differences;
}

int CountInk(const std::vector<unsigned>& pixels) {
  int ink = 0;
  for (unsigned pixel : pixels) ink += (pixel == 0);
  return ink;
}

void SaveBitmap(const std::wstring& path, const std::vector<unsigned>& pixels, int width, int height) {
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;  // bottom up, which every reader takes
  info.biPlanes = 1;
  info.biBitCount = 32;
  info.biCompression = BI_RGB;
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size() * 4);
  std::ofstream out(path.c_str(), std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&info), sizeof info);
  for (int row = height - 1; row >= 0; --row) {
    out.write(reinterpret_cast<const char*>(&pixels[static_cast<size_t>(row) * width]), width * 4);
  }
  if (!out) Fail("cannot write " + Narrow(path));
}

}  // namespace kadroo::test

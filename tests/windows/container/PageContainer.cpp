// A container that treats the control as a browser treats <object id="c" classid="clsid:..."> with <param>s:
// the object-safety handshake for scripting and for initialisation, the misc status, the client site, the
// <param> values through IPersistPropertyBag, in-place activation in its window, the DISPID_SECURITYCTX probe;
// then the page's scripts with the control as `c`. Around them it checks the event source, drawing into a bitmap,
// persistence and the server's unload answer. Every HRESULT is checked; the first surprise ends it with exit code 1.
//
// Given the page's address (url:ADDRESS), its site answers it as Internet Explorer's do (the container's document),
// and the control, which asks for its site first, gets it before the safety handshake, as Internet Explorer gives
// it; a second control is made as `new ActiveXObject` makes one, with its site (the browser) given after the
// handshake. With `refused`, the administrator's policy is expected to refuse the page: both controls answer
// that they are not safe, and every method raises run-time error 70; the page's scripts then check what they see.
//
//   page_container PROGID OUTDIR [url:ADDRESS [refused]] {js:FILE | vbs:FILE}...
#include "ContainerTest.h"

#include <objsafe.h>
#include <olectl.h>
#include <servprov.h>
#include <shlguid.h>

#include "PageDocument.h"

#include <cstdio>
#include <map>

using namespace kadroo::test;

namespace {

const IID kIID_IDispatchEx = {0xa6ef9860, 0xc720, 0x11d0, {0x93, 0x37, 0x00, 0xa0, 0xc9, 0x0d, 0xca, 0xa9}};
const DISPID kDispidSecurityCtx = -5511;
const RECT kObjectRect = {20, 20, 260, 80};

class Site final : public IOleClientSite, public IOleInPlaceSite {
 public:
  // `document`, when given, is what GetContainer answers: the page's document.
  Site(HWND window, IUnknown* document) : window_(window), document_(document) {}
  bool active = false;
  int shown = 0;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IOleClientSite) {
      *object = static_cast<IOleClientSite*>(this);
    } else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite) {
      *object = static_cast<IOleInPlaceSite*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
    *moniker = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetContainer(IOleContainer** container) override {
    *container = nullptr;
    if (!document_) return E_NOINTERFACE;
    return document_->QueryInterface(IID_IOleContainer, reinterpret_cast<void**>(container));
  }
  STDMETHODIMP ShowObject() override {
    ++shown;
    return S_OK;
  }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
  STDMETHODIMP GetWindow(HWND* window) override {
    *window = window_;
    return S_OK;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnInPlaceActivate() override {
    active = true;
    return S_OK;
  }
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
    *frame = nullptr;
    *document = nullptr;
    *position = kObjectRect;
    *clip = kObjectRect;
    info->fMDIApp = FALSE;
    info->hwndFrame = window_;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
  }
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override {
    active = false;
    return S_OK;
  }
  STDMETHODIMP DiscardUndoState() override { return S_OK; }
  STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
  STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

 private:
  HWND window_;
  IUnknown* document_;
};

// The site that script's `new ActiveXObject` gives a control: its services lead to the browser showing the page.
class ScriptSite final : public IServiceProvider {
 public:
  explicit ScriptSite(IUnknown* browser) : browser_(browser) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IServiceProvider) {
      *object = static_cast<IServiceProvider*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP QueryService(REFGUID service, REFIID riid, void** object) override {
    *object = nullptr;
    if (service != SID_SWebBrowserApp) return E_NOINTERFACE;
    return browser_->QueryInterface(riid, object);
  }

 private:
  IUnknown* browser_;
};

// The <param> elements of the page's <object> tag.
class Params final : public IPropertyBag {
 public:
  std::map<std::wstring, std::wstring> values;
  int writes = 0;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IPropertyBag) {
      *object = static_cast<IPropertyBag*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
    const auto found = values.find(name);
    if (found == values.end()) return E_INVALIDARG;
    V_VT(value) = VT_BSTR;
    V_BSTR(value) = ::SysAllocString(found->second.c_str());
    return S_OK;
  }
  STDMETHODIMP Write(LPCOLESTR, VARIANT*) override {
    ++writes;
    return S_OK;
  }
};

// An event sink for __KadroOcx that counts its references and fails on any event.
class Sink final : public IDispatch {
 public:
  explicit Sink(const IID& events) : events_(events) {}
  LONG references = 0;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == events_) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
  STDMETHODIMP_(ULONG) Release() override { return --references; }
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    Fail("the control raised event " + std::to_string(id));
  }

 private:
  IID events_;
};

template <typename Interface>
Interface* Query(IUnknown* object, const IID& iid) {
  Interface* result = nullptr;
  EXPECT_OK(object->QueryInterface(iid, reinterpret_cast<void**>(&result)));
  EXPECT_TRUE(result != nullptr);
  return result;
}

std::wstring CallText(IDispatch* control, const wchar_t* method) {
  LPOLESTR name = const_cast<LPOLESTR>(method);
  DISPID id;
  EXPECT_OK(control->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id));
  DISPPARAMS none{};
  VARIANT result;
  ::VariantInit(&result);
  EXPECT_OK(control->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, &result, nullptr, nullptr));
  EXPECT_OK(::VariantChangeType(&result, &result, 0, VT_BSTR));
  std::wstring text(V_BSTR(&result) ? V_BSTR(&result) : L"");
  ::VariantClear(&result);
  return text;
}

// A call that the administrator's policy refuses: run-time error 70, described as the policy's refusal.
void ExpectRefused(IDispatch* control, const wchar_t* method) {
  LPOLESTR name = const_cast<LPOLESTR>(method);
  DISPID id;
  EXPECT_OK(control->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id));
  DISPPARAMS none{};
  VARIANT result;
  ::VariantInit(&result);
  EXCEPINFO raised{};
  EXPECT_HR(control->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, &result, &raised, nullptr),
            DISP_E_EXCEPTION);
  const std::wstring description = raised.bstrDescription ? raised.bstrDescription : L"";
  if (HRESULT_CODE(raised.scode) != 70 || description.rfind(L"Refused by the administrator's policy: ", 0) != 0) {
    Fail(Narrow(method) + " raised " + std::to_string(HRESULT_CODE(raised.scode)) + " " + Narrow(description));
  }
  ::SysFreeString(raised.bstrSource);
  ::SysFreeString(raised.bstrDescription);
  ::SysFreeString(raised.bstrHelpFile);
}

void ExpectUntouched(IDispatch* control) {
  EXPECT_TRUE(CallText(control, L"getLocalFile").empty());
  EXPECT_TRUE(CallText(control, L"getRemoteFile").empty());
  EXPECT_TRUE(CallText(control, L"getErrorMsg").empty());
}

void CheckDrawing(IUnknown* control, const std::wstring& picture) {
  IViewObject2* view = Query<IViewObject2>(control, IID_IViewObject2);
  SIZEL extent;
  EXPECT_OK(view->GetExtent(DVASPECT_CONTENT, -1, nullptr, &extent));
  const HDC screen = ::GetDC(nullptr);
  const int width = ::MulDiv(extent.cx, ::GetDeviceCaps(screen, LOGPIXELSX), 2540);
  const int height = ::MulDiv(extent.cy, ::GetDeviceCaps(screen, LOGPIXELSY), 2540);
  ::ReleaseDC(nullptr, screen);
  EXPECT_TRUE(width > 40 && height > 10);

  const int margin = 10;
  const unsigned outside = 0xFF00FF;
  Canvas canvas(width + 2 * margin, height + 2 * margin, outside);
  const RECTL bounds = {margin, margin, margin + width, margin + height};
  EXPECT_OK(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, canvas.dc(), &bounds, nullptr, nullptr, 0));
  EXPECT_HR(view->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, canvas.dc(), &bounds, nullptr, nullptr, 0),
            DV_E_DVASPECT);
  const std::vector<unsigned> pixels = canvas.Pixels();
  SaveBitmap(picture, pixels, width + 2 * margin, height + 2 * margin);

  std::vector<unsigned> label;
  int drawnOutside = 0;
  for (int y = 0; y < height + 2 * margin; ++y) {
    for (int x = 0; x < width + 2 * margin; ++x) {
      const unsigned pixel = pixels[static_cast<size_t>(y) * (width + 2 * margin) + x];
      if (x >= margin && x < margin + width && y >= margin && y < margin + height) {
        label.push_back(pixel);
      } else {
        drawnOutside += pixel != outside;
      }
    }
  }
  EXPECT_TRUE(drawnOutside == 0);
  EXPECT_TRUE(CountInk(label) > 50);
  const int differences = CountDifferences(label, ExpectedLabel(width, height));
  if (differences != 0) Fail("the drawn label differs from Label12 in " + std::to_string(differences) + " pixels");
  view->Release();
  std::printf("ok IViewObject::Draw: Label12 at the given bounds, %dx%d, nothing outside\n", width, height);
}

void CheckPersistence(IUnknown* control, IDispatch* dispatch, const CLSID& clsid, bool refused) {
  IPersistStreamInit* stream = Query<IPersistStreamInit>(control, IID_IPersistStreamInit);
  IPersistStream* plainStream = Query<IPersistStream>(control, IID_IPersistStream);
  plainStream->Release();
  CLSID reported;
  EXPECT_OK(stream->GetClassID(&reported));
  EXPECT_TRUE(IsEqualCLSID(reported, clsid));
  EXPECT_HR(stream->IsDirty(), S_FALSE);
  IStream* saved = nullptr;
  EXPECT_OK(::CreateStreamOnHGlobal(nullptr, TRUE, &saved));
  EXPECT_OK(stream->Save(saved, TRUE));
  STATSTG status{};
  EXPECT_OK(saved->Stat(&status, STATFLAG_NONAME));
  EXPECT_TRUE(status.cbSize.QuadPart == 0);
  const char junk[] = "uid=clerk;path=127.0.0.1:9;pass=secret\0\x01\x02\xff";
  EXPECT_OK(saved->Write(junk, sizeof junk, nullptr));
  EXPECT_OK(saved->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr));
  EXPECT_OK(stream->Load(saved));
  saved->Release();
  stream->Release();

  IPersistStorage* storage = Query<IPersistStorage>(control, IID_IPersistStorage);
  ILockBytes* bytes = nullptr;
  EXPECT_OK(::CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes));
  IStorage* document = nullptr;
  EXPECT_OK(::StgCreateDocfileOnILockBytes(bytes, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &document));
  EXPECT_OK(storage->Save(document, FALSE));
  EXPECT_OK(storage->SaveCompleted(nullptr));
  IEnumSTATSTG* elements = nullptr;
  EXPECT_OK(document->EnumElements(0, nullptr, 0, &elements));
  STATSTG element{};
  EXPECT_HR(elements->Next(1, &element, nullptr), S_FALSE);
  elements->Release();
  IStorage* sub = nullptr;
  EXPECT_OK(document->CreateStorage(L"Contents", STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &sub));
  sub->Release();
  EXPECT_OK(storage->Load(document));
  EXPECT_OK(storage->HandsOffStorage());
  document->Release();
  bytes->Release();
  storage->Release();

  IPersistPropertyBag* bag = Query<IPersistPropertyBag>(control, IID_IPersistPropertyBag);
  Params written;
  EXPECT_OK(bag->Save(&written, TRUE, TRUE));
  EXPECT_TRUE(written.writes == 0);
  bag->Release();
  if (refused) {
    ExpectRefused(dispatch, L"getLocalFile");
  } else {
    ExpectUntouched(dispatch);
  }
  std::printf("ok persistence: stream, storage and property bag saved empty, any data loaded, nothing changed\n");
}

// The connection point for the event interface, found from the class information as a container finds it.
IConnectionPoint* EventSource(IUnknown* control, IID* events) {
  IProvideClassInfo2* classInfo = Query<IProvideClassInfo2>(control, IID_IProvideClassInfo2);
  EXPECT_OK(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, events));
  ITypeInfo* coclass = nullptr;
  EXPECT_OK(classInfo->GetClassInfo(&coclass));
  TYPEATTR* attributes = nullptr;
  EXPECT_OK(coclass->GetTypeAttr(&attributes));
  EXPECT_TRUE(attributes->typekind == TKIND_COCLASS);
  coclass->ReleaseTypeAttr(attributes);
  coclass->Release();
  classInfo->Release();

  IConnectionPointContainer* points = Query<IConnectionPointContainer>(control, IID_IConnectionPointContainer);
  IConnectionPoint* point = nullptr;
  EXPECT_HR(points->FindConnectionPoint(IID_IDispatch, &point), CONNECT_E_NOCONNECTION);
  EXPECT_OK(points->FindConnectionPoint(*events, &point));
  IID reported;
  EXPECT_OK(point->GetConnectionInterface(&reported));
  EXPECT_TRUE(IsEqualIID(reported, *events));
  IEnumConnectionPoints* all = nullptr;
  EXPECT_OK(points->EnumConnectionPoints(&all));
  IConnectionPoint* listed[2] = {};
  ULONG count = 0;
  EXPECT_HR(all->Next(2, listed, &count), S_FALSE);
  EXPECT_TRUE(count == 1 && listed[0] == point);
  listed[0]->Release();
  all->Release();
  points->Release();
  return point;
}

void CheckUnloading(const CLSID& clsid) {
  wchar_t guid[40];
  ::StringFromGUID2(clsid, guid, 40);
  wchar_t path[MAX_PATH];
  DWORD size = sizeof path;
  EXPECT_TRUE(::RegGetValueW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + guid + L"\\InprocServer32").c_str(),
                             nullptr, RRF_RT_REG_SZ, nullptr, path, &size) == ERROR_SUCCESS);
  const HMODULE server = ::LoadLibraryW(path);
  EXPECT_TRUE(server != nullptr);
  using CanUnload = HRESULT(STDAPICALLTYPE*)();
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  const auto canUnload = Export<CanUnload>(server, "DllCanUnloadNow");
  const auto getClassObject = Export<GetClassObject>(server, "DllGetClassObject");

  EXPECT_HR(canUnload(), S_OK);
  IClassFactory* factory = nullptr;
  EXPECT_OK(getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
  IUnknown* object = nullptr;
  EXPECT_OK(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)));
  EXPECT_HR(canUnload(), S_FALSE);
  // A connection point alone keeps the object, and so the server, alive.
  IID events;
  IConnectionPoint* point = EventSource(object, &events);
  object->Release();
  EXPECT_HR(canUnload(), S_FALSE);
  point->Release();
  EXPECT_HR(canUnload(), S_OK);
  EXPECT_OK(factory->LockServer(TRUE));
  EXPECT_HR(canUnload(), S_FALSE);
  EXPECT_OK(factory->LockServer(FALSE));
  EXPECT_HR(canUnload(), S_OK);
  factory->Release();
  ::FreeLibrary(server);
  std::printf("ok DllCanUnloadNow: S_FALSE while an object or a lock lives, S_OK after\n");
}

// A second control, made as script's `new ActiveXObject` makes one: the safety handshake before it has a site,
// then IObjectWithSite::SetSite with a site whose services lead to the browser showing `url`.
void CheckScriptCreated(const CLSID& clsid, const std::wstring& url, bool refused) {
  IUnknown* created = nullptr;
  EXPECT_OK(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&created)));
  IObjectSafety* safety = Query<IObjectSafety>(created, IID_IObjectSafety);
  EXPECT_OK(safety->SetInterfaceSafetyOptions(IID_IDispatch, INTERFACESAFE_FOR_UNTRUSTED_CALLER,
                                              INTERFACESAFE_FOR_UNTRUSTED_CALLER));
  IObjectWithSite* withSite = nullptr;
  if (FAILED(created->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&withSite)))) {
    // Without a policy the control takes no site from script, and works as it always did.
    EXPECT_TRUE(!refused);
    IDispatch* dispatch = Query<IDispatch>(created, IID_IDispatch);
    EXPECT_TRUE(CallText(dispatch, L"isInstalled") == L"1");
    dispatch->Release();
    safety->Release();
    EXPECT_TRUE(created->Release() == 0);
    std::printf("ok new ActiveXObject: no site wanted, works\n");
    return;
  }
  IUnknown* browser = NewPageBrowser(url.c_str());
  ScriptSite site(browser);
  EXPECT_OK(withSite->SetSite(&site));
  IServiceProvider* given = nullptr;
  EXPECT_OK(withSite->GetSite(IID_IServiceProvider, reinterpret_cast<void**>(&given)));
  EXPECT_TRUE(given == static_cast<IServiceProvider*>(&site));
  IDispatch* dispatch = Query<IDispatch>(created, IID_IDispatch);
  if (refused) {
    ExpectRefused(dispatch, L"isInstalled");
    EXPECT_HR(safety->SetInterfaceSafetyOptions(IID_IDispatch, INTERFACESAFE_FOR_UNTRUSTED_CALLER,
                                                INTERFACESAFE_FOR_UNTRUSTED_CALLER), E_FAIL);
  } else {
    EXPECT_TRUE(CallText(dispatch, L"isInstalled") == L"1");
    EXPECT_OK(safety->SetInterfaceSafetyOptions(IID_IDispatch, INTERFACESAFE_FOR_UNTRUSTED_CALLER,
                                                INTERFACESAFE_FOR_UNTRUSTED_CALLER));
  }
  EXPECT_OK(withSite->SetSite(nullptr));
  EXPECT_HR(withSite->GetSite(IID_IServiceProvider, reinterpret_cast<void**>(&given)), E_FAIL);
  dispatch->Release();
  withSite->Release();
  safety->Release();
  EXPECT_TRUE(created->Release() == 0);
  browser->Release();
  std::printf("ok new ActiveXObject: safe until sited, then the browser's address %s\n",
              refused ? "refused: not safe, isInstalled raised 70" : "allowed");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) Fail("usage: page_container PROGID OUTDIR [url:ADDRESS [refused]] {js:FILE | vbs:FILE}...");
  const std::wstring progId = argv[1], outDir = argv[2];
  int first = 3;
  std::wstring url;
  bool refused = false;
  if (first < argc && std::wstring(argv[first]).rfind(L"url:", 0) == 0) url = std::wstring(argv[first++]).substr(4);
  if (!url.empty() && first < argc && std::wstring(argv[first]) == L"refused") {
    refused = true;
    ++first;
  }
  EXPECT_OK(::OleInitialize(nullptr));

  WNDCLASSW pageClass{};
  pageClass.lpfnWndProc = ::DefWindowProcW;
  pageClass.hInstance = ::GetModuleHandleW(nullptr);
  pageClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  pageClass.lpszClassName = L"KadroOATestPage";
  EXPECT_TRUE(::RegisterClassW(&pageClass));
  const HWND page = ::CreateWindowW(L"KadroOATestPage", L"KadroOA page", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100,
                                    480, 240, nullptr, nullptr, pageClass.hInstance, nullptr);
  EXPECT_TRUE(page != nullptr);

  CLSID clsid;
  EXPECT_OK(::CLSIDFromProgID(progId.c_str(), &clsid));
  IUnknown* control = nullptr;
  EXPECT_OK(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&control)));
  IOleObject* object = Query<IOleObject>(control, IID_IOleObject);
  IUnknown* document = url.empty() ? nullptr : NewPageDocument(url.c_str());
  Site site(page, document);

  // Safe for scripting (asked for IDispatchEx first, then IDispatch) and for initialisation from <param>s; not
  // safe for a page the policy refuses.
  const auto safetyHandshake = [&] {
    IObjectSafety* safety = Query<IObjectSafety>(control, IID_IObjectSafety);
    DWORD supported = 0, enabled = 0;
    EXPECT_HR(safety->GetInterfaceSafetyOptions(kIID_IDispatchEx, &supported, &enabled), E_NOINTERFACE);
    EXPECT_OK(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled));
    EXPECT_TRUE(supported == (INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA));
    EXPECT_TRUE(enabled == INTERFACESAFE_FOR_UNTRUSTED_CALLER);
    const HRESULT safe = refused ? E_FAIL : S_OK;
    EXPECT_HR(safety->SetInterfaceSafetyOptions(IID_IDispatch, INTERFACESAFE_FOR_UNTRUSTED_CALLER,
                                                INTERFACESAFE_FOR_UNTRUSTED_CALLER), safe);
    EXPECT_HR(safety->SetInterfaceSafetyOptions(IID_IPersistPropertyBag, INTERFACESAFE_FOR_UNTRUSTED_DATA,
                                                INTERFACESAFE_FOR_UNTRUSTED_DATA), safe);
    safety->Release();
  };
  DWORD status = 0, registered = 0;
  const auto miscStatus = [&] {
    EXPECT_OK(object->GetMiscStatus(DVASPECT_CONTENT, &status));
    EXPECT_TRUE((status & OLEMISC_ACTIVATEWHENVISIBLE) && (status & OLEMISC_SETCLIENTSITEFIRST));
    EXPECT_OK(::OleRegGetMiscStatus(clsid, DVASPECT_CONTENT, &registered));
    EXPECT_TRUE(status == registered);
  };
  const auto giveSite = [&] {
    EXPECT_OK(object->SetClientSite(&site));
    IOleClientSite* given = nullptr;
    EXPECT_OK(object->GetClientSite(&given));
    EXPECT_TRUE(given == static_cast<IOleClientSite*>(&site));
    given->Release();
  };
  if (url.empty()) {  // the order of Wine's MSHTML
    safetyHandshake();
    miscStatus();
    giveSite();
  } else {  // Internet Explorer's, for a control that asks for its site first
    miscStatus();
    giveSite();
    safetyHandshake();
  }

  IDispatch* dispatch = Query<IDispatch>(control, IID_IDispatch);
  IPersistPropertyBag* bag = Query<IPersistPropertyBag>(control, IID_IPersistPropertyBag);
  Params params;
  params.values = {{L"uid", L"clerk"}, {L"path", L"127.0.0.1:9"}, {L"sLocalFile", L"C:\\boot.ini"}};
  EXPECT_OK(bag->Load(&params, nullptr));
  EXPECT_TRUE(params.writes == 0);
  bag->Release();
  if (refused) {
    for (const wchar_t* method : {L"isInstalled", L"getLocalFile", L"getErrorMsg", L"Dispose"}) {
      ExpectRefused(dispatch, method);
    }
  } else {
    ExpectUntouched(dispatch);
  }

  RECT position = kObjectRect;
  EXPECT_OK(object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, page, &position));
  EXPECT_TRUE(site.active);
  IOleInPlaceObject* inPlace = Query<IOleInPlaceObject>(control, IID_IOleInPlaceObject);
  HWND label = nullptr;
  EXPECT_OK(inPlace->GetWindow(&label));
  EXPECT_TRUE(::GetParent(label) == page && ::IsWindowVisible(label));
  RECT placed;
  ::GetWindowRect(label, &placed);
  ::MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&placed), 2);
  EXPECT_TRUE(::EqualRect(&placed, &kObjectRect));
  std::printf("ok safety handshake%s, misc status %lu as registered, site%s, <param>s loaded, active in place\n",
              refused ? " (not safe for the page)" : "", static_cast<unsigned long>(status),
              url.empty() ? "" : " with the page's address");

  DISPPARAMS none{};
  VARIANT result;
  ::VariantInit(&result);
  EXPECT_HR(dispatch->Invoke(kDispidSecurityCtx, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result,
                             nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);

  IID events;
  IConnectionPoint* point = EventSource(control, &events);
  Sink sink(events);
  DWORD cookie = 0;
  EXPECT_OK(point->Advise(&sink, &cookie));
  EXPECT_TRUE(sink.references > 0);

  for (int i = first; i < argc;) {
    const std::wstring language = std::wstring(argv[i]).substr(0, std::wstring(argv[i]).find(L':'));
    if (language != L"js" && language != L"vbs") Fail("unknown script kind " + Narrow(argv[i]));
    PageScripts scripts(language == L"js" ? L"JScript" : L"VBScript", control, page);
    for (; i < argc && std::wstring(argv[i]).rfind(language + L":", 0) == 0; ++i) {
      const std::wstring file = std::wstring(argv[i]).substr(language.size() + 1);
      scripts.Run(ReadScript(file), file);
    }
  }

  EXPECT_OK(point->Unadvise(cookie));
  EXPECT_TRUE(sink.references == 0);
  EXPECT_HR(point->Unadvise(cookie), CONNECT_E_NOCONNECTION);
  point->Release();
  std::printf("ok event source: the sink was held, never called, and let go\n");

  CheckDrawing(control, outDir + L"\\page-draw-active.bmp");
  EXPECT_OK(inPlace->InPlaceDeactivate());
  EXPECT_TRUE(!site.active && !::IsWindow(label));
  CheckDrawing(control, outDir + L"\\page-draw.bmp");
  CheckPersistence(control, dispatch, clsid, refused);

  EXPECT_OK(object->Close(OLECLOSE_NOSAVE));
  EXPECT_OK(object->SetClientSite(nullptr));
  inPlace->Release();
  dispatch->Release();
  object->Release();
  EXPECT_TRUE(control->Release() == 0);
  CheckUnloading(clsid);

  if (!url.empty()) {
    EXPECT_TRUE(document->Release() == 0);
    CheckScriptCreated(clsid, url, refused);
  }
  ::DestroyWindow(page);
  ::OleUninitialize();
  std::printf("ok page container\n");
  return 0;
}

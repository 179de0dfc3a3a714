#include "host/windows/embedding/Embedding.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "host/windows/Registration.h"
#include "host/windows/Handles.h"
#include "host/windows/embedding/Label.h"

namespace kadroo::windows {
namespace {

// Pixels on the screen to the HIMETRIC units in which containers size their controls.
SIZEL PixelsToHimetric(SIZE pixels) {
  int dpiX = 96, dpiY = 96;
  if (HDC screen = ::GetDC(nullptr)) {
    dpiX = ::GetDeviceCaps(screen, LOGPIXELSX);
    dpiY = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
  }
  return SIZEL{::MulDiv(pixels.cx, 2540, dpiX), ::MulDiv(pixels.cy, 2540, dpiY)};
}

// Lists the control's one connection point; holds it, and through it the control, while the list lives.
class ConnectionPointList final : public IEnumConnectionPoints {
 public:
  ConnectionPointList(IConnectionPoint* point, ULONG position) : point_(Retained(point)), position_(position) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IEnumConnectionPoints) {
      *object = static_cast<IEnumConnectionPoints*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  STDMETHODIMP Next(ULONG count, IConnectionPoint** points, ULONG* fetched) override {
    if (!points || (count != 1 && !fetched)) return E_POINTER;
    ULONG given = 0;
    if (count > 0 && position_ == 0) {
      points[0] = Retained(point_.get()).release();
      given = 1;
      position_ = 1;
    }
    if (fetched) *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    const bool enough = position_ + count <= 1;
    position_ = std::min<ULONG>(1, position_ + count);
    return enough ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    position_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumConnectionPoints** copy) override {
    if (!copy) return E_POINTER;
    *copy = new (std::nothrow) ConnectionPointList(point_.get(), position_);
    return *copy ? S_OK : E_OUTOFMEMORY;
  }

 private:
  ~ConnectionPointList() = default;
  std::atomic<ULONG> references_{1};
  unique_com<IConnectionPoint> point_;
  ULONG position_;
};

}  // namespace

Embedding::Embedding(IUnknown* outer, const CLSID& clsid, const IID& events, TypeInfoSource typeInfo,
                     OwnerWindowChanged ownerChanged, ClientSiteChanged siteChanged)
    : outer_(outer),
      clsid_(clsid),
      events_(events),
      typeInfo_(typeInfo),
      ownerChanged_(std::move(ownerChanged)),
      siteChanged_(std::move(siteChanged)),
      extent_(PixelsToHimetric(LabelSize())) {}

Embedding::~Embedding() {
  if (window_) DestroyLabelWindow(std::exchange(window_, nullptr));
}

HRESULT Embedding::QueryEmbeddingInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (riid == IID_IOleObject) {
    *object = static_cast<IOleObject*>(this);
  } else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceObject) {
    *object = static_cast<IOleInPlaceObject*>(this);
  } else if (riid == IID_IOleInPlaceActiveObject) {
    *object = static_cast<IOleInPlaceActiveObject*>(this);
  } else if (riid == IID_IOleControl) {
    *object = static_cast<IOleControl*>(this);
  } else if (riid == IID_IViewObject || riid == IID_IViewObject2) {
    *object = static_cast<IViewObject2*>(this);
  } else if (riid == IID_IProvideClassInfo || riid == IID_IProvideClassInfo2) {
    *object = static_cast<IProvideClassInfo2*>(this);
  } else if (riid == IID_IConnectionPointContainer) {
    *object = static_cast<IConnectionPointContainer*>(this);
  } else if (riid == IID_IPersist || riid == IID_IPersistStreamInit || riid == IID_IPersistStream) {
    // IPersistStreamInit is IPersistStream with InitNew added at the end of the same table.
    *object = static_cast<IPersistStreamInit*>(this);
  } else if (riid == IID_IPersistStorage) {
    *object = static_cast<IPersistStorage*>(this);
  } else if (riid == IID_IPersistPropertyBag) {
    *object = static_cast<IPersistPropertyBag*>(this);
  } else {
    return E_NOINTERFACE;
  }
  outer_->AddRef();
  return S_OK;
}

STDMETHODIMP Embedding::QueryInterface(REFIID riid, void** object) { return outer_->QueryInterface(riid, object); }
STDMETHODIMP_(ULONG) Embedding::AddRef() { return outer_->AddRef(); }
STDMETHODIMP_(ULONG) Embedding::Release() { return outer_->Release(); }

void Embedding::SiteWindowChanged(HWND window) {
  if (ownerChanged_) ownerChanged_(window);
}

void Embedding::UserControl_InitProperties() {}

// IOleObject

STDMETHODIMP Embedding::SetClientSite(IOleClientSite* site) {
  site_ = Retained(site);
  HWND window = nullptr;
  unique_com<IOleWindow> siteWindow;
  if (site && SUCCEEDED(site->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(siteWindow.put())))) {
    if (FAILED(siteWindow->GetWindow(&window))) window = nullptr;
  }
  SiteWindowChanged(window);
  if (siteChanged_) siteChanged_(site);
  return S_OK;
}

STDMETHODIMP Embedding::GetClientSite(IOleClientSite** site) {
  if (!site) return E_POINTER;
  *site = Retained(site_.get()).release();
  return S_OK;
}

STDMETHODIMP Embedding::SetHostNames(LPCOLESTR, LPCOLESTR) { return S_OK; }

STDMETHODIMP Embedding::Close(DWORD) {
  InPlaceDeactivate();
  if (adviseHolder_) adviseHolder_->SendOnClose();
  return S_OK;
}

STDMETHODIMP Embedding::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }

STDMETHODIMP Embedding::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
  if (moniker) *moniker = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP Embedding::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }

STDMETHODIMP Embedding::GetClipboardData(DWORD, IDataObject** data) {
  if (data) *data = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP Embedding::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent, LPCRECT position) {
  switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_INPLACEACTIVATE:
    case OLEIVERB_UIACTIVATE:  // the label takes no input, so there is no user interface to activate
      return ActivateInPlace(site ? site : site_.get(), parent, position);
    case OLEIVERB_HIDE:
      if (window_) ::ShowWindow(window_, SW_HIDE);
      return S_OK;
    case OLEIVERB_DISCARDUNDOSTATE:
      return S_OK;
    default:
      if (verb > 0) {
        const HRESULT result = ActivateInPlace(site ? site : site_.get(), parent, position);
        return FAILED(result) ? result : OLEOBJ_S_INVALIDVERB;
      }
      return E_NOTIMPL;
  }
}

HRESULT Embedding::ActivateInPlace(IOleClientSite* site, HWND parent, LPCRECT position) {
  if (window_) {
    if (position) ::MoveWindow(window_, position->left, position->top, position->right - position->left,
                               position->bottom - position->top, TRUE);
    ::ShowWindow(window_, SW_SHOWNA);
    return S_OK;
  }
  if (!site) return E_UNEXPECTED;
  unique_com<IOleInPlaceSite> inPlaceSite;
  HRESULT result = site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(inPlaceSite.put()));
  if (FAILED(result)) return result;
  if (inPlaceSite->CanInPlaceActivate() != S_OK) return E_FAIL;
  result = inPlaceSite->OnInPlaceActivate();
  if (FAILED(result)) return result;

  HWND siteWindow = nullptr;
  if (FAILED(inPlaceSite->GetWindow(&siteWindow)) || !siteWindow) siteWindow = parent;
  RECT where = position ? *position : RECT{0, 0, 0, 0};
  unique_com<IOleInPlaceFrame> frame;
  unique_com<IOleInPlaceUIWindow> document;
  RECT clip;
  OLEINPLACEFRAMEINFO frameInfo{};
  frameInfo.cb = sizeof frameInfo;
  RECT fromSite;
  if (SUCCEEDED(inPlaceSite->GetWindowContext(frame.put(), document.put(), &fromSite, &clip, &frameInfo))) {
    where = fromSite;
  }

  window_ = siteWindow ? CreateLabelWindow(siteWindow, where) : nullptr;
  if (!window_) {
    result = siteWindow ? HRESULT_FROM_WIN32(::GetLastError()) : E_UNEXPECTED;
    inPlaceSite->OnInPlaceDeactivate();
    return FAILED(result) ? result : E_FAIL;
  }
  inPlaceSite_ = std::move(inPlaceSite);
  SiteWindowChanged(siteWindow);
  if (site_) site_->ShowObject();
  return S_OK;
}

STDMETHODIMP Embedding::EnumVerbs(IEnumOLEVERB** verbs) { return ::OleRegEnumVerbs(clsid_, verbs); }
STDMETHODIMP Embedding::Update() { return S_OK; }
STDMETHODIMP Embedding::IsUpToDate() { return S_OK; }

STDMETHODIMP Embedding::GetUserClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = clsid_;
  return S_OK;
}

STDMETHODIMP Embedding::GetUserType(DWORD form, LPOLESTR* name) { return ::OleRegGetUserType(clsid_, form, name); }

STDMETHODIMP Embedding::SetExtent(DWORD aspect, SIZEL* size) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!size) return E_POINTER;
  extent_ = *size;
  return S_OK;
}

STDMETHODIMP Embedding::GetExtent(DWORD aspect, SIZEL* size) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!size) return E_POINTER;
  *size = extent_;
  return S_OK;
}

HRESULT Embedding::MakeAdviseHolder() { return adviseHolder_ ? S_OK : ::CreateOleAdviseHolder(adviseHolder_.put()); }

STDMETHODIMP Embedding::Advise(IAdviseSink* sink, DWORD* cookie) {
  const HRESULT result = MakeAdviseHolder();
  return FAILED(result) ? result : adviseHolder_->Advise(sink, cookie);
}

STDMETHODIMP Embedding::Unadvise(DWORD cookie) {
  return adviseHolder_ ? adviseHolder_->Unadvise(cookie) : OLE_E_NOCONNECTION;
}

STDMETHODIMP Embedding::EnumAdvise(IEnumSTATDATA** advises) {
  if (!advises) return E_POINTER;
  *advises = nullptr;
  const HRESULT result = MakeAdviseHolder();
  return FAILED(result) ? result : adviseHolder_->EnumAdvise(advises);
}

// The same status for every aspect as the registry gives containers that read it before creating the control:
// activated as soon as it is visible, sited before it is loaded or initialised.
STDMETHODIMP Embedding::GetMiscStatus(DWORD, DWORD* status) {
  if (!status) return E_POINTER;
  static_assert((registration::kMiscStatus & (OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST)) ==
                (OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST));
  *status = registration::kMiscStatus;
  return S_OK;
}

STDMETHODIMP Embedding::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

// IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject

STDMETHODIMP Embedding::GetWindow(HWND* window) {
  if (!window) return E_POINTER;
  *window = window_;
  return window_ ? S_OK : E_FAIL;
}

STDMETHODIMP Embedding::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

STDMETHODIMP Embedding::InPlaceDeactivate() {
  if (!inPlaceSite_) return S_OK;
  DestroyLabelWindow(std::exchange(window_, nullptr));
  unique_com<IOleInPlaceSite> site = std::move(inPlaceSite_);
  site->OnInPlaceDeactivate();
  return S_OK;
}

STDMETHODIMP Embedding::UIDeactivate() { return S_OK; }

STDMETHODIMP Embedding::SetObjectRects(LPCRECT position, LPCRECT) {
  if (!position) return E_POINTER;
  if (window_) ::MoveWindow(window_, position->left, position->top, position->right - position->left,
                            position->bottom - position->top, TRUE);
  return S_OK;
}

STDMETHODIMP Embedding::ReactivateAndUndo() { return INPLACE_E_NOTUNDOABLE; }
STDMETHODIMP Embedding::TranslateAccelerator(LPMSG) { return S_FALSE; }
STDMETHODIMP Embedding::OnFrameWindowActivate(BOOL) { return S_OK; }
STDMETHODIMP Embedding::OnDocWindowActivate(BOOL) { return S_OK; }
STDMETHODIMP Embedding::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return S_OK; }
STDMETHODIMP Embedding::EnableModeless(BOOL) { return S_OK; }

// IOleControl: no mnemonics, no ambient property the label follows, no events to freeze.

STDMETHODIMP Embedding::GetControlInfo(CONTROLINFO* info) {
  if (!info) return E_POINTER;
  info->hAccel = nullptr;
  info->cAccel = 0;
  info->dwFlags = 0;
  return S_OK;
}

STDMETHODIMP Embedding::OnMnemonic(MSG*) { return E_NOTIMPL; }
STDMETHODIMP Embedding::OnAmbientPropertyChange(DISPID) { return S_OK; }
STDMETHODIMP Embedding::FreezeEvents(BOOL) { return S_OK; }

// IViewObject2

STDMETHODIMP Embedding::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds, LPCRECTL,
                             BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!dc || !bounds) return E_INVALIDARG;
  PaintLabel(dc, RECT{bounds->left, bounds->top, bounds->right, bounds->bottom});
  return S_OK;
}

STDMETHODIMP Embedding::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colors) {
  if (!colors) return E_POINTER;
  *colors = nullptr;
  return S_FALSE;
}

STDMETHODIMP Embedding::Freeze(DWORD, LONG, void*, DWORD*) { return E_NOTIMPL; }
STDMETHODIMP Embedding::Unfreeze(DWORD) { return E_NOTIMPL; }

STDMETHODIMP Embedding::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
  viewSink_ = Retained(sink);
  viewAspects_ = aspects;
  viewFlags_ = flags;
  if (sink && (flags & ADVF_PRIMEFIRST)) sink->OnViewChange(DVASPECT_CONTENT, -1);
  return S_OK;
}

STDMETHODIMP Embedding::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
  if (aspects) *aspects = viewAspects_;
  if (flags) *flags = viewFlags_;
  if (sink) {
    *sink = Retained(viewSink_.get()).release();
  }
  return S_OK;
}

STDMETHODIMP Embedding::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
  return GetExtent(aspect, size);
}

// IProvideClassInfo2

STDMETHODIMP Embedding::GetClassInfo(ITypeInfo** info) { return typeInfo_(clsid_, info); }

STDMETHODIMP Embedding::GetGUID(DWORD kind, GUID* guid) {
  if (!guid) return E_POINTER;
  if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
  *guid = events_;
  return S_OK;
}

// IConnectionPointContainer

STDMETHODIMP Embedding::EnumConnectionPoints(IEnumConnectionPoints** points) {
  if (!points) return E_POINTER;
  *points = new (std::nothrow) ConnectionPointList(&eventSource_, 0);
  return *points ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP Embedding::FindConnectionPoint(REFIID riid, IConnectionPoint** point) {
  if (!point) return E_POINTER;
  *point = nullptr;
  if (riid != events_) return CONNECT_E_NOCONNECTION;
  *point = &eventSource_;
  eventSource_.AddRef();
  return S_OK;
}

// Persistence: nothing is written, anything is accepted.

STDMETHODIMP Embedding::GetClassID(CLSID* clsid) { return GetUserClassID(clsid); }
STDMETHODIMP Embedding::IsDirty() { return S_FALSE; }
STDMETHODIMP Embedding::Load(IStream* stream) { return stream ? S_OK : E_POINTER; }
STDMETHODIMP Embedding::Save(IStream* stream, BOOL) { return stream ? S_OK : E_POINTER; }

STDMETHODIMP Embedding::GetSizeMax(ULARGE_INTEGER* size) {
  if (!size) return E_POINTER;
  size->QuadPart = 0;
  return S_OK;
}

STDMETHODIMP Embedding::InitNew() {
  UserControl_InitProperties();
  return S_OK;
}

STDMETHODIMP Embedding::InitNew(IStorage* storage) {
  if (!storage) return E_POINTER;
  UserControl_InitProperties();
  return S_OK;
}

STDMETHODIMP Embedding::Load(IStorage* storage) { return storage ? S_OK : E_POINTER; }
STDMETHODIMP Embedding::Save(IStorage* storage, BOOL) { return storage ? S_OK : E_POINTER; }
STDMETHODIMP Embedding::SaveCompleted(IStorage*) { return S_OK; }
STDMETHODIMP Embedding::HandsOffStorage() { return S_OK; }
STDMETHODIMP Embedding::Load(IPropertyBag* bag, IErrorLog*) { return bag ? S_OK : E_POINTER; }
STDMETHODIMP Embedding::Save(IPropertyBag* bag, BOOL, BOOL) { return bag ? S_OK : E_POINTER; }

// The event source: the control raises no events, so a sink is only held until it is let go.

STDMETHODIMP Embedding::EventSource::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
    *object = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) Embedding::EventSource::AddRef() { return owner_.outer_->AddRef(); }
STDMETHODIMP_(ULONG) Embedding::EventSource::Release() { return owner_.outer_->Release(); }

STDMETHODIMP Embedding::EventSource::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = owner_.events_;
  return S_OK;
}

STDMETHODIMP Embedding::EventSource::GetConnectionPointContainer(IConnectionPointContainer** container) {
  if (!container) return E_POINTER;
  *container = &owner_;
  owner_.AddRef();
  return S_OK;
}

STDMETHODIMP Embedding::EventSource::Advise(IUnknown* sink, DWORD* cookie) {
  if (!sink || !cookie) return E_POINTER;
  *cookie = 0;
  unique_com<IUnknown> events;
  if (FAILED(sink->QueryInterface(owner_.events_, reinterpret_cast<void**>(events.put()))) &&
      FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(events.put())))) {
    return CONNECT_E_CANNOTCONNECT;
  }
  sinks_.push_back(Sink{nextCookie_, std::move(events)});
  *cookie = nextCookie_++;
  return S_OK;
}

STDMETHODIMP Embedding::EventSource::Unadvise(DWORD cookie) {
  const auto found =
      std::find_if(sinks_.begin(), sinks_.end(), [cookie](const Sink& sink) { return sink.cookie == cookie; });
  if (found == sinks_.end()) return CONNECT_E_NOCONNECTION;
  sinks_.erase(found);
  return S_OK;
}

STDMETHODIMP Embedding::EventSource::EnumConnections(IEnumConnections** connections) {
  if (connections) *connections = nullptr;
  return E_NOTIMPL;
}

}  // namespace kadroo::windows

#pragma once
// What a container needs from an ActiveX control besides its scripted interface: embedding, in-place activation,
// drawing, class information, the (silent) event source and persistence of no properties.
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <functional>
#include <vector>

#include "host/windows/Handles.h"

namespace kadroo::windows {

// Part of the control object's COM identity: every IUnknown call on these interfaces goes to `outer`, the object,
// whose QueryInterface hands the interfaces it does not implement itself to QueryEmbeddingInterface. The object
// owns this part as a member, so `outer` outlives it; it holds no reference on `outer`.
class Embedding final : public IOleObject,
                        public IOleInPlaceObject,
                        public IOleInPlaceActiveObject,
                        public IOleControl,
                        public IViewObject2,
                        public IProvideClassInfo2,
                        public IConnectionPointContainer,
                        public IPersistStreamInit,
                        public IPersistStorage,
                        public IPersistPropertyBag {
 public:
  // Called with the window that should own the control's message boxes: the site's window, or null once the
  // control has no site.
  using OwnerWindowChanged = std::function<void(HWND)>;
  // Called when the container gives the control its client site or takes it away (null).
  using ClientSiteChanged = std::function<void(IOleClientSite*)>;
  // Gives the type information of a class or interface from the control's type library.
  using TypeInfoSource = HRESULT (*)(REFGUID guid, ITypeInfo** info);

  // `clsid` is the control's class, `events` its (empty) default source interface.
  Embedding(IUnknown* outer, const CLSID& clsid, const IID& events, TypeInfoSource typeInfo,
            OwnerWindowChanged ownerChanged, ClientSiteChanged siteChanged);
  ~Embedding();
  Embedding(const Embedding&) = delete;
  Embedding& operator=(const Embedding&) = delete;

  // Gives out the interface `riid` if this part implements it (AddRef'ed on `outer`); E_NOINTERFACE otherwise.
  HRESULT QueryEmbeddingInterface(REFIID riid, void** object);

  // IUnknown, for all of the interfaces above: the object's.
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IOleObject
  STDMETHODIMP SetClientSite(IOleClientSite* site) override;
  STDMETHODIMP GetClientSite(IOleClientSite** site) override;
  STDMETHODIMP SetHostNames(LPCOLESTR app, LPCOLESTR object) override;
  STDMETHODIMP Close(DWORD saveOption) override;
  STDMETHODIMP SetMoniker(DWORD which, IMoniker* moniker) override;
  STDMETHODIMP GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
  STDMETHODIMP InitFromData(IDataObject* data, BOOL creation, DWORD reserved) override;
  STDMETHODIMP GetClipboardData(DWORD reserved, IDataObject** data) override;
  STDMETHODIMP DoVerb(LONG verb, LPMSG msg, IOleClientSite* site, LONG index, HWND parent,
                      LPCRECT position) override;
  STDMETHODIMP EnumVerbs(IEnumOLEVERB** verbs) override;
  STDMETHODIMP Update() override;
  STDMETHODIMP IsUpToDate() override;
  STDMETHODIMP GetUserClassID(CLSID* clsid) override;
  STDMETHODIMP GetUserType(DWORD form, LPOLESTR* name) override;
  STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override;
  STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override;
  STDMETHODIMP Advise(IAdviseSink* sink, DWORD* cookie) override;
  STDMETHODIMP Unadvise(DWORD cookie) override;
  STDMETHODIMP EnumAdvise(IEnumSTATDATA** advises) override;
  STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override;
  STDMETHODIMP SetColorScheme(LOGPALETTE* palette) override;

  // IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject
  STDMETHODIMP GetWindow(HWND* window) override;
  STDMETHODIMP ContextSensitiveHelp(BOOL enter) override;
  STDMETHODIMP InPlaceDeactivate() override;
  STDMETHODIMP UIDeactivate() override;
  STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT clip) override;
  STDMETHODIMP ReactivateAndUndo() override;
  STDMETHODIMP TranslateAccelerator(LPMSG msg) override;
  STDMETHODIMP OnFrameWindowActivate(BOOL activate) override;
  STDMETHODIMP OnDocWindowActivate(BOOL activate) override;
  STDMETHODIMP ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frame) override;
  STDMETHODIMP EnableModeless(BOOL enable) override;

  // IOleControl
  STDMETHODIMP GetControlInfo(CONTROLINFO* info) override;
  STDMETHODIMP OnMnemonic(MSG* msg) override;
  STDMETHODIMP OnAmbientPropertyChange(DISPID dispid) override;
  STDMETHODIMP FreezeEvents(BOOL freeze) override;

  // IViewObject2
  STDMETHODIMP Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device, HDC targetInfo, HDC dc,
                    LPCRECTL bounds, LPCRECTL windowBounds, BOOL(STDMETHODCALLTYPE* shouldContinue)(ULONG_PTR),
                    ULONG_PTR continueArgument) override;
  STDMETHODIMP GetColorSet(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device, HDC targetInfo,
                           LOGPALETTE** colors) override;
  STDMETHODIMP Freeze(DWORD aspect, LONG index, void* aspectInfo, DWORD* freezeCookie) override;
  STDMETHODIMP Unfreeze(DWORD freezeCookie) override;
  STDMETHODIMP SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
  STDMETHODIMP GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
  STDMETHODIMP GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, LPSIZEL size) override;

  // IProvideClassInfo2
  STDMETHODIMP GetClassInfo(ITypeInfo** info) override;
  STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

  // IConnectionPointContainer
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
  STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

  // IPersist, IPersistStreamInit, IPersistStorage, IPersistPropertyBag: the control keeps no properties.
  STDMETHODIMP GetClassID(CLSID* clsid) override;
  STDMETHODIMP IsDirty() override;
  STDMETHODIMP Load(IStream* stream) override;
  STDMETHODIMP Save(IStream* stream, BOOL clearDirty) override;
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
  STDMETHODIMP InitNew() override;
  STDMETHODIMP InitNew(IStorage* storage) override;
  STDMETHODIMP Load(IStorage* storage) override;
  STDMETHODIMP Save(IStorage* storage, BOOL sameAsLoad) override;
  STDMETHODIMP SaveCompleted(IStorage* storage) override;
  STDMETHODIMP HandsOffStorage() override;
  STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) override;
  STDMETHODIMP Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;

 private:
  // The connection point for the event interface: a view of the object, kept alive by it.
  class EventSource final : public IConnectionPoint {
   public:
    explicit EventSource(Embedding& owner) : owner_(owner) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetConnectionInterface(IID* iid) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** connections) override;

   private:
    struct Sink {
      DWORD cookie;
      unique_com<IUnknown> sink;
    };
    Embedding& owner_;
    std::vector<Sink> sinks_;
    DWORD nextCookie_ = 1;
  };

  // Creates the label's window in the site's window and tells the site; S_OK when already active.
  HRESULT ActivateInPlace(IOleClientSite* site, HWND parent, LPCRECT position);
  void UserControl_InitProperties();
  void SiteWindowChanged(HWND window);
  HRESULT MakeAdviseHolder();

  IUnknown* outer_;
  CLSID clsid_;
  IID events_;
  TypeInfoSource typeInfo_;
  OwnerWindowChanged ownerChanged_;
  ClientSiteChanged siteChanged_;
  unique_com<IOleClientSite> site_;
  unique_com<IOleInPlaceSite> inPlaceSite_;
  unique_com<IOleAdviseHolder> adviseHolder_;
  unique_com<IAdviseSink> viewSink_;
  DWORD viewAspects_ = 0;
  DWORD viewFlags_ = 0;
  HWND window_ = nullptr;
  SIZEL extent_;
  EventSource eventSource_{*this};
};

}  // namespace kadroo::windows

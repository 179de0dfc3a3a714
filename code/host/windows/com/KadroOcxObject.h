#pragma once
// The COM object of the control: _KadroOcx (dual, dispatched through the type library), IObjectSafety,
// IObjectWithSite and ISupportErrorInfo over one KadroOcx on the Windows platform under the administrator's
// policy for pages (SiteLock). Each method converts its arguments, calls the control and converts the result; a
// run-time error, a refusal by the policy among them, reaches the caller as DISP_E_EXCEPTION.
#include <optional>
#include <string_view>
#include <vector>

// The control's headers before <windows.h>, whose macros (DeleteFile, MessageBox...) would rename their members.
#include "control/KadroOcx.h"
#include "host/windows/platform/SiteLock.h"
#include "host/windows/platform/WindowsPlatform.h"

#include <windows.h>
#include <objsafe.h>
#include <ocidl.h>
#include <oleauto.h>

#include "host/windows/Handles.h"
#include "KadroOA.h"
#include "host/windows/embedding/Embedding.h"

namespace kadroo::windows {

class KadroOcxObject final : public _KadroOcx, public IObjectSafety, public IObjectWithSite, public ISupportErrorInfo {
 public:
  // Creates an object and asks it for `riid`.
  static HRESULT Create(REFIID riid, void** object);

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IDispatch
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** typeInfo) override;
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argumentError) override;

  // _KadroOcx
  STDMETHODIMP isInstalled(LONG* result) override;
  STDMETHODIMP setparm(BSTR aParm, BSTR aSplit, LONG aUseInternetFlagPassive, VARIANT* result) override;
  STDMETHODIMP getMoBanFile(BSTR* result) override;
  STDMETHODIMP getLocalFile(BSTR* result) override;
  STDMETHODIMP setLocalFile(BSTR* asLocalFile, LONG* result) override;
  STDMETHODIMP getRemoteFile(BSTR* result) override;
  STDMETHODIMP getErrorMsg(BSTR* result) override;
  STDMETHODIMP getTiShiMsg(BSTR* result) override;
  STDMETHODIMP getFile(BSTR* szremotefile, BSTR* asMobanFile, LONG* result) override;
  STDMETHODIMP GetFileToFile(BSTR* rfilepath, BSTR* lfilepath, LONG* result) override;
  STDMETHODIMP saveFile(LONG* result) override;
  STDMETHODIMP PutFile(BSTR* sLocalFilePath, BSTR* sRemoteFilePath, LONG* bDeleteLocalFile, LONG* result) override;
  STDMETHODIMP Dispose(LONG* result) override;
  STDMETHODIMP GetAllRegValue(BSTR key, BSTR* result) override;
  STDMETHODIMP OpenExefile(BSTR filepath, BSTR parm, LONG* result) override;
  STDMETHODIMP OpenExefileByReg(BSTR regkey, BSTR regValuename, BSTR parm, BSTR exefilename, LONG* result) override;
  STDMETHODIMP GetErr(LONG lErrorCode, BSTR serrormsg, BSTR* result) override;

  // IObjectSafety
  STDMETHODIMP GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled) override;
  STDMETHODIMP SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled) override;

  // IObjectWithSite: how a browser gives its site to a control that script created (new ActiveXObject).
  STDMETHODIMP SetSite(IUnknown* site) override;
  STDMETHODIMP GetSite(REFIID riid, void** site) override;

  // ISupportErrorInfo
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

 private:
  // A method of the type library, with the base type of each by-reference parameter (VT_EMPTY when by value).
  struct Method {
    DISPID id;
    std::vector<VARTYPE> byReference;
  };

  explicit KadroOcxObject(unique_com<ITypeInfo> typeInfo);
  static std::vector<Method> ReadMethods(ITypeInfo* typeInfo);
  ~KadroOcxObject();
  KadroOcxObject(const KadroOcxObject&) = delete;
  KadroOcxObject& operator=(const KadroOcxObject&) = delete;

  const Method* FindMethod(DISPID id) const;
  // Runs the control's `method` (its name in the scripted interface, which is the COM method's) through `call`
  // once the site lock lets it have the arguments `given`, turning whatever either throws into the HRESULT of a
  // run-time error, remembered for Invoke.
  template <typename Call, typename... Given>
  HRESULT Run(std::string_view method, Call&& call, Given... given);
  // The address of the page that holds the control, from its client site or the site script gave it.
  std::optional<Text> PageAddress();
  HRESULT Fail(const RuntimeError& error);

  LONG references_ = 1;
  unique_com<ITypeInfo> typeInfo_;
  std::vector<Method> methods_;
  WindowsPlatform platform_;
  unique_com<IUnknown> site_;  // from IObjectWithSite::SetSite
  SiteLock siteLock_;
  KadroOcx control_;
  // The interfaces a container uses (embedding, drawing, persistence, events), answering for this object.
  Embedding embedding_;
  // The run-time error of the method that Invoke is running.
  std::optional<RuntimeError> error_;
};

}  // namespace kadroo::windows

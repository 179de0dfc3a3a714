// The portable safety logic before <windows.h>, whose S_OK and E_FAIL macros would rename its constants.
#include "safety/ObjectSafety.h"

#include "host/windows/com/KadroOcxObject.h"

#include <new>

#include "host/windows/Handles.h"
#include "host/windows/com/BstrText.h"
#include "host/windows/com/Module.h"
#include "host/windows/com/PageAddress.h"
#include "host/windows/Registration.h"

namespace kadroo::windows {
namespace {

// The registry keys and the type library name the same identifiers.
const wchar_t kSource[] = L"" KADROOA_PROGID;

void FreeExcepInfo(EXCEPINFO& info) {
  ::SysFreeString(info.bstrSource);
  ::SysFreeString(info.bstrDescription);
  ::SysFreeString(info.bstrHelpFile);
  info = EXCEPINFO{};
}

const kadroo::Guid* AsGuid(REFIID riid) { return reinterpret_cast<const kadroo::Guid*>(&riid); }

// A method's argument as the site lock checks it.
CallArgument AsArgument(BSTR text) { return ToText(text); }
CallArgument AsArgument(LONG number) { return static_cast<int32_t>(number); }

// The by-reference arguments of one call that a script passed as a reference to a VARIANT (VBScript does so for
// its variables): each is converted to the parameter's type for the call only. The control never assigns to
// these parameters, so the script's variables keep the type and value they had.
class ByReferenceArguments {
 public:
  ByReferenceArguments(const DISPPARAMS& params, const std::vector<VARTYPE>& byReference)
      : arguments_(params.rgvarg, params.rgvarg + params.cArgs), values_(params.cArgs) {
    params_ = params;
    params_.rgvarg = arguments_.data();
    for (UINT i = 0; i < params.cArgs; ++i) {
      const UINT position =
          i < params.cNamedArgs ? static_cast<UINT>(params.rgdispidNamedArgs[i]) : params.cArgs - 1 - i;
      if (position < byReference.size()) parameterTypes_.push_back({i, byReference[position]});
    }
  }
  ~ByReferenceArguments() {
    for (VARIANT& value : values_) ::VariantClear(&value);
  }
  ByReferenceArguments(const ByReferenceArguments&) = delete;
  ByReferenceArguments& operator=(const ByReferenceArguments&) = delete;

  // Fails with DISP_E_TYPEMISMATCH, naming the argument, when a value cannot be converted.
  HRESULT Convert(UINT* argumentError) {
    for (const auto& [index, type] : parameterTypes_) {
      VARIANT& argument = arguments_[index];
      if (type == VT_EMPTY || V_VT(&argument) != (VT_BYREF | VT_VARIANT)) continue;
      VARIANT& value = values_[index];
      if (V_VARIANTREF(&argument) == nullptr || FAILED(::VariantChangeType(&value, V_VARIANTREF(&argument), 0, type))) {
        if (argumentError != nullptr) *argumentError = index;
        return DISP_E_TYPEMISMATCH;
      }
      V_VT(&argument) = VT_BYREF | type;
      argument.byref = type == VT_BSTR ? static_cast<void*>(&V_BSTR(&value)) : static_cast<void*>(&V_I4(&value));
    }
    return S_OK;
  }

  DISPPARAMS* Params() { return &params_; }

 private:
  struct ParameterType {
    UINT index;
    VARTYPE type;
  };
  std::vector<VARIANTARG> arguments_;
  std::vector<VARIANT> values_;
  std::vector<ParameterType> parameterTypes_;
  DISPPARAMS params_;
};

}  // namespace

HRESULT KadroOcxObject::Create(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  try {
    module::StartThread();
    unique_com<ITypeInfo> typeInfo;
    const HRESULT hr = module::TypeInfo(IID__KadroOcx, typeInfo.put());
    if (FAILED(hr)) return hr;
    KadroOcxObject* created = new KadroOcxObject(std::move(typeInfo));
    const HRESULT result = created->QueryInterface(riid, object);
    created->Release();
    return result;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

std::vector<KadroOcxObject::Method> KadroOcxObject::ReadMethods(ITypeInfo* typeInfo) {
  std::vector<Method> methods;
  TYPEATTR* attributes = nullptr;
  if (FAILED(typeInfo->GetTypeAttr(&attributes))) return methods;
  for (WORD i = 0; i < attributes->cFuncs; ++i) {
    FUNCDESC* function = nullptr;
    if (FAILED(typeInfo->GetFuncDesc(i, &function))) continue;
    Method method{function->memid, {}};
    for (SHORT p = 0; p < function->cParams; ++p) {
      const TYPEDESC& type = function->lprgelemdescParam[p].tdesc;
      method.byReference.push_back(type.vt == VT_PTR ? type.lptdesc->vt : static_cast<VARTYPE>(VT_EMPTY));
    }
    typeInfo->ReleaseFuncDesc(function);
    methods.push_back(std::move(method));
  }
  typeInfo->ReleaseTypeAttr(attributes);
  return methods;
}

KadroOcxObject::KadroOcxObject(unique_com<ITypeInfo> typeInfo)
    : typeInfo_(std::move(typeInfo)),
      methods_(ReadMethods(typeInfo_.get())),
      siteLock_(platform_, LoadRegistryPolicy(), [this] { return PageAddress(); }),
      control_(siteLock_.platform()),
      embedding_(static_cast<_KadroOcx*>(this), CLSID_KadroOcx, DIID___KadroOcx, &module::TypeInfo,
                 [this](HWND owner) { platform_.SetOwnerWindow(owner); },
                 [this](IOleClientSite* site) { siteLock_.SiteChanged(site != nullptr || site_); }) {
  module::AddObject();
}

KadroOcxObject::~KadroOcxObject() { module::ReleaseObject(); }

// Interfaces this object does not list here are not offered.
STDMETHODIMP KadroOcxObject::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  struct Offered {
    const IID& iid;
    void* (*get)(KadroOcxObject&);
  };
  static const Offered kInterfaces[] = {
      {::IID_IUnknown, [](KadroOcxObject& o) -> void* { return static_cast<_KadroOcx*>(&o); }},
      {::IID_IDispatch, [](KadroOcxObject& o) -> void* { return static_cast<_KadroOcx*>(&o); }},
      {IID__KadroOcx, [](KadroOcxObject& o) -> void* { return static_cast<_KadroOcx*>(&o); }},
      {::IID_IObjectSafety, [](KadroOcxObject& o) -> void* { return static_cast<IObjectSafety*>(&o); }},
      {IID_ISupportErrorInfo, [](KadroOcxObject& o) -> void* { return static_cast<ISupportErrorInfo*>(&o); }},
  };
  // Only under a policy: Wine's VBScript will not create an object that offers it from a script host whose site
  // has no services (cscript), and without a policy the control has no use for the site.
  if (IsEqualIID(riid, ::IID_IObjectWithSite) && siteLock_.HasPolicy()) {
    *object = static_cast<IObjectWithSite*>(this);
    AddRef();
    return S_OK;
  }
  for (const Offered& offered : kInterfaces) {
    if (IsEqualIID(riid, offered.iid)) {
      *object = offered.get(*this);
      AddRef();
      return S_OK;
    }
  }
  return embedding_.QueryEmbeddingInterface(riid, object);
}

STDMETHODIMP_(ULONG) KadroOcxObject::AddRef() { return static_cast<ULONG>(::InterlockedIncrement(&references_)); }

STDMETHODIMP_(ULONG) KadroOcxObject::Release() {
  const LONG left = ::InterlockedDecrement(&references_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

STDMETHODIMP KadroOcxObject::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 1;
  return S_OK;
}

STDMETHODIMP KadroOcxObject::GetTypeInfo(UINT index, LCID, ITypeInfo** typeInfo) {
  if (typeInfo == nullptr) return E_POINTER;
  *typeInfo = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  typeInfo_.get()->AddRef();
  *typeInfo = typeInfo_.get();
  return S_OK;
}

STDMETHODIMP KadroOcxObject::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  return typeInfo_.get()->GetIDsOfNames(names, count, ids);
}

const KadroOcxObject::Method* KadroOcxObject::FindMethod(DISPID id) const {
  for (const Method& method : methods_) {
    if (method.id == id) return &method;
  }
  return nullptr;
}

STDMETHODIMP KadroOcxObject::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                    EXCEPINFO* exception, UINT* argumentError) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  // A container asks for members such as DISPID_SECURITYCTX and trusts an object that answers them.
  const Method* method = FindMethod(id);
  if (method == nullptr) return DISP_E_MEMBERNOTFOUND;
  if (params == nullptr) return E_INVALIDARG;
  try {
    ByReferenceArguments arguments(*params, method->byReference);
    HRESULT hr = arguments.Convert(argumentError);
    if (FAILED(hr)) return hr;
    error_.reset();
    EXCEPINFO raised{};
    hr = typeInfo_.get()->Invoke(static_cast<_KadroOcx*>(this), id, flags, arguments.Params(), result, &raised,
                                 argumentError);
    if (error_) {
      FreeExcepInfo(raised);
      raised.scode = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, error_->number());
      raised.bstrSource = ::SysAllocString(kSource);
      raised.bstrDescription = ToBstr(error_->description());
      error_.reset();
      hr = DISP_E_EXCEPTION;
    }
    if (exception != nullptr) {
      *exception = raised;
    } else {
      FreeExcepInfo(raised);
    }
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT KadroOcxObject::Fail(const RuntimeError& error) {
  error_ = error;
  unique_com<ICreateErrorInfo> create;
  if (SUCCEEDED(::CreateErrorInfo(create.put()))) {
    unique_bstr description(ToBstr(error.description()));
    create->SetGUID(IID__KadroOcx);
    create->SetSource(const_cast<LPOLESTR>(kSource));
    create->SetDescription(description.get());
    unique_com<IErrorInfo> info;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.put())))) {
      ::SetErrorInfo(0, info.get());
    }
  }
  return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, error.number());
}

std::optional<Text> KadroOcxObject::PageAddress() {
  unique_com<IOleClientSite> clientSite;
  embedding_.GetClientSite(clientSite.put());
  if (auto address = PageAddressOf(clientSite.get())) return address;
  return PageAddressOf(site_.get());
}

template <typename Call, typename... Given>
HRESULT KadroOcxObject::Run(std::string_view method, Call&& call, Given... given) {
  try {
    try {
      siteLock_.BeforeCall(method, {AsArgument(given)...});
      call();
    } catch (const PolicyRefusal& refusal) {
      throw RefusalError(refusal);  // run-time error 70, in the words the bridge uses
    }
    siteLock_.AfterCall();
    return S_OK;
  } catch (...) {
    siteLock_.AfterCall();
    try {
      return Fail(ToRuntimeError(std::current_exception()));
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }
}

#define KADROOA_CHECK_POINTER(p) \
  if ((p) == nullptr) return E_POINTER

STDMETHODIMP KadroOcxObject::isInstalled(LONG* result) {
  KADROOA_CHECK_POINTER(result);
  return Run(__func__, [&] { *result = control_.isInstalled(); });
}

STDMETHODIMP KadroOcxObject::setparm(BSTR aParm, BSTR aSplit, LONG aUseInternetFlagPassive, VARIANT* result) {
  KADROOA_CHECK_POINTER(result);
  ::VariantInit(result);
  return Run(
      __func__, [&] { control_.setparm(ToText(aParm), ToText(aSplit), aUseInternetFlagPassive); }, aParm, aSplit,
      aUseInternetFlagPassive);
}

STDMETHODIMP KadroOcxObject::getMoBanFile(BSTR* result) {
  KADROOA_CHECK_POINTER(result);
  return Run(__func__, [&] { *result = ToBstr(control_.getMoBanFile()); });
}

STDMETHODIMP KadroOcxObject::getLocalFile(BSTR* result) {
  KADROOA_CHECK_POINTER(result);
  return Run(__func__, [&] { *result = ToBstr(control_.getLocalFile()); });
}

STDMETHODIMP KadroOcxObject::setLocalFile(BSTR* asLocalFile, LONG* result) {
  KADROOA_CHECK_POINTER(asLocalFile);
  KADROOA_CHECK_POINTER(result);
  return Run(
      __func__, [&] { *result = control_.setLocalFile(ToText(*asLocalFile)); }, *asLocalFile);
}

STDMETHODIMP KadroOcxObject::getRemoteFile(BSTR* result) {
  KADROOA_CHECK_POINTER(result);
  return Run(__func__, [&] { *result = ToBstr(control_.getRemoteFile()); });
}

STDMETHODIMP KadroOcxObject::getErrorMsg(BSTR* result) {
  KADROOA_CHECK_POINTER(result);
  return Run(__func__, [&] { *result = ToBstr(control_.getErrorMsg()); });
}

STDMETHODIMP KadroOcxObject::getTiShiMsg(BSTR* result) {
  KADROOA_CHECK_POINTER(result);
  return Run(__func__, [&] { *result = ToBstr(control_.getTiShiMsg()); });
}

STDMETHODIMP KadroOcxObject::getFile(BSTR* szremotefile, BSTR* asMobanFile, LONG* result) {
  KADROOA_CHECK_POINTER(szremotefile);
  KADROOA_CHECK_POINTER(asMobanFile);
  KADROOA_CHECK_POINTER(result);
  return Run(
      __func__, [&] { *result = control_.getFile(ToText(*szremotefile), ToText(*asMobanFile)); }, *szremotefile,
      *asMobanFile);
}

STDMETHODIMP KadroOcxObject::GetFileToFile(BSTR* rfilepath, BSTR* lfilepath, LONG* result) {
  KADROOA_CHECK_POINTER(rfilepath);
  KADROOA_CHECK_POINTER(lfilepath);
  KADROOA_CHECK_POINTER(result);
  return Run(
      __func__, [&] { *result = control_.GetFileToFile(ToText(*rfilepath), ToText(*lfilepath)); }, *rfilepath,
      *lfilepath);
}

STDMETHODIMP KadroOcxObject::saveFile(LONG* result) {
  KADROOA_CHECK_POINTER(result);
  return Run(__func__, [&] { *result = control_.saveFile(); });
}

STDMETHODIMP KadroOcxObject::PutFile(BSTR* sLocalFilePath, BSTR* sRemoteFilePath, LONG* bDeleteLocalFile,
                                     LONG* result) {
  KADROOA_CHECK_POINTER(sLocalFilePath);
  KADROOA_CHECK_POINTER(sRemoteFilePath);
  KADROOA_CHECK_POINTER(bDeleteLocalFile);
  KADROOA_CHECK_POINTER(result);
  const LONG deleteLocalFile = *bDeleteLocalFile;
  return Run(
      __func__, [&] { *result = control_.PutFile(ToText(*sLocalFilePath), ToText(*sRemoteFilePath), deleteLocalFile); },
      *sLocalFilePath, *sRemoteFilePath, deleteLocalFile);
}

STDMETHODIMP KadroOcxObject::Dispose(LONG* result) {
  KADROOA_CHECK_POINTER(result);
  return Run(__func__, [&] { *result = control_.Dispose(); });
}

STDMETHODIMP KadroOcxObject::GetAllRegValue(BSTR key, BSTR* result) {
  KADROOA_CHECK_POINTER(result);
  return Run(
      __func__, [&] { *result = ToBstr(control_.GetAllRegValue(ToText(key))); }, key);
}

STDMETHODIMP KadroOcxObject::OpenExefile(BSTR filepath, BSTR parm, LONG* result) {
  KADROOA_CHECK_POINTER(result);
  return Run(
      __func__, [&] { *result = control_.OpenExefile(ToText(filepath), ToText(parm)); }, filepath, parm);
}

STDMETHODIMP KadroOcxObject::OpenExefileByReg(BSTR regkey, BSTR regValuename, BSTR parm, BSTR exefilename,
                                              LONG* result) {
  KADROOA_CHECK_POINTER(result);
  return Run(
      __func__,
      [&] {
        *result = control_.OpenExefileByReg(ToText(regkey), ToText(regValuename), ToText(parm), ToText(exefilename));
      },
      regkey, regValuename, parm, exefilename);
}

STDMETHODIMP KadroOcxObject::GetErr(LONG lErrorCode, BSTR serrormsg, BSTR* result) {
  KADROOA_CHECK_POINTER(result);
  return Run(
      __func__, [&] { *result = ToBstr(control_.GetErr(lErrorCode, ToText(serrormsg))); }, lErrorCode, serrormsg);
}

#undef KADROOA_CHECK_POINTER

STDMETHODIMP KadroOcxObject::GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled) {
  if (supported == nullptr || enabled == nullptr) return E_POINTER;
  uint32_t supportedOptions = *supported;
  uint32_t enabledOptions = *enabled;
  const HRESULT hr = IObjectSafety_GetInterfaceSafetyOptions(AsGuid(riid), &supportedOptions, &enabledOptions);
  *supported = supportedOptions;
  *enabled = enabledOptions;
  return hr;
}

STDMETHODIMP KadroOcxObject::SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled) {
  const HRESULT hr = IObjectSafety_SetInterfaceSafetyOptions(AsGuid(riid), mask, enabled);
  if (FAILED(hr) || (enabled & mask) == 0) return hr;
  // Not safe for a page that the administrator's policy refuses.
  return siteLock_.SafeForPage() ? hr : E_FAIL;
}

STDMETHODIMP KadroOcxObject::SetSite(IUnknown* site) {
  site_ = Retained(site);
  unique_com<IOleClientSite> clientSite;
  embedding_.GetClientSite(clientSite.put());
  siteLock_.SiteChanged(site_ || clientSite);
  return S_OK;
}

STDMETHODIMP KadroOcxObject::GetSite(REFIID riid, void** site) {
  if (site == nullptr) return E_POINTER;
  *site = nullptr;
  if (!site_) return E_FAIL;
  return site_->QueryInterface(riid, site);
}

STDMETHODIMP KadroOcxObject::InterfaceSupportsErrorInfo(REFIID riid) {
  return IsEqualIID(riid, IID__KadroOcx) || IsEqualIID(riid, ::IID_IDispatch) ? S_OK : S_FALSE;
}

}  // namespace kadroo::windows

// com_client OCX: loads the control's server directly and checks, as a container would, what a script cannot
// reach: the server's lifetime counting, unknown DISPIDs, by-reference VARIANT arguments, the exception a run-time
// error becomes, IObjectSafety and ISupportErrorInfo, and the per-thread start-up. Prints "ok NAME" or
// "FAIL NAME: detail" for each check; the exit code is the number of failures.
#include <windows.h>
#include <objsafe.h>
#include <ocidl.h>
#include <oleauto.h>

#include <cstdio>
#include <string>

#include "Report.h"
#include "host/windows/Registration.h"

namespace {

using kadroo::test::failures;

// A check of a call, with what it returned.
void Check(const char* name, bool passed, const char* detail = "", long value = 0) {
  char text[32];
  std::snprintf(text, sizeof text, " (0x%08lx)", static_cast<unsigned long>(value));
  kadroo::test::Check(name, passed, detail + std::string(text));
}

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNowFunction = HRESULT(STDAPICALLTYPE*)();

CLSID ClassId() {
  const std::string text = kadroo::registration::kClsid;
  const std::wstring wide(text.begin(), text.end());
  CLSID clsid{};
  ::CLSIDFromString(wide.c_str(), &clsid);
  return clsid;
}

DISPID IdOf(IDispatch* object, const wchar_t* name) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = DISPID_UNKNOWN;
  object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  return id;
}

HRESULT Call(IDispatch* object, DISPID id, VARIANTARG* reversedArguments, UINT count, VARIANT* result,
             EXCEPINFO* exception) {
  DISPPARAMS params{reversedArguments, nullptr, count, 0};
  UINT argumentError = 0;
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, exception, &argumentError);
}

DWORD EnabledForScripting(IUnknown* object) {
  IObjectSafety* safety = nullptr;
  if (FAILED(object->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(&safety)))) return 0xFFFFFFFF;
  DWORD supported = 0;
  DWORD enabled = 0xFFFF;
  safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled);
  safety->Release();
  return enabled;
}

std::wstring TypeName(ITypeInfo* typeInfo, const TYPEDESC& type) {
  switch (type.vt) {
    case VT_PTR:
      return TypeName(typeInfo, *type.lptdesc) + L"*";
    case VT_BSTR:
      return L"BSTR";
    case VT_I4:
      return L"long";
    case VT_VARIANT:
      return L"VARIANT";
    case VT_HRESULT:
      return L"HRESULT";
    default:
      return L"?";
  }
}

// The interface's methods as "name(type param, ...)" in the order of its table; [out, retval] is marked "retval".
std::wstring DescribeMethods(ITypeInfo* interfaceInfo) {
  std::wstring text;
  TYPEATTR* attributes = nullptr;
  if (FAILED(interfaceInfo->GetTypeAttr(&attributes))) return L"no attributes";
  for (WORD i = 0; i < attributes->cFuncs; ++i) {
    FUNCDESC* function = nullptr;
    if (FAILED(interfaceInfo->GetFuncDesc(i, &function))) return L"no function";
    BSTR names[8] = {};
    UINT count = 0;
    interfaceInfo->GetNames(function->memid, names, 8, &count);
    text += std::wstring(names[0]) + L"(";
    for (SHORT p = 0; p < function->cParams; ++p) {
      const ELEMDESC& parameter = function->lprgelemdescParam[p];
      if (p > 0) text += L", ";
      if (parameter.paramdesc.wParamFlags & PARAMFLAG_FRETVAL) text += L"retval ";
      text += TypeName(interfaceInfo, parameter.tdesc);
      if (static_cast<UINT>(p + 1) < count) text += L" " + std::wstring(names[p + 1]);
    }
    text += L")\n";
    for (BSTR name : names) ::SysFreeString(name);
    interfaceInfo->ReleaseFuncDesc(function);
  }
  interfaceInfo->ReleaseTypeAttr(attributes);
  return text;
}

// The scripted interface as the type library declares it.
void CheckTypeLibrary(IDispatch* control) {
  ITypeInfo* dispatchInfo = nullptr;
  if (FAILED(control->GetTypeInfo(0, LOCALE_USER_DEFAULT, &dispatchInfo))) {
    Check("type information", false, "GetTypeInfo");
    return;
  }
  HREFTYPE interfaceType = 0;
  ITypeInfo* interfaceInfo = nullptr;
  if (FAILED(dispatchInfo->GetRefTypeOfImplType(-1, &interfaceType)) ||
      FAILED(dispatchInfo->GetRefTypeInfo(interfaceType, &interfaceInfo))) {
    Check("dual interface", false, "no vtable interface");
    dispatchInfo->Release();
    return;
  }
  TYPEATTR* attributes = nullptr;
  interfaceInfo->GetTypeAttr(&attributes);
  const WORD flags = TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION;
  Check("_KadroOcx hidden, dual, nonextensible, oleautomation", (attributes->wTypeFlags & flags) == flags, "flags",
        attributes->wTypeFlags);
  interfaceInfo->ReleaseTypeAttr(attributes);
  const std::wstring expected =
      L"isInstalled(retval long* result)\n"
      L"setparm(BSTR aParm, BSTR aSplit, long aUseInternetFlagPassive, retval VARIANT* result)\n"
      L"getMoBanFile(retval BSTR* result)\n"
      L"getLocalFile(retval BSTR* result)\n"
      L"setLocalFile(BSTR* asLocalFile, retval long* result)\n"
      L"getRemoteFile(retval BSTR* result)\n"
      L"getErrorMsg(retval BSTR* result)\n"
      L"getTiShiMsg(retval BSTR* result)\n"
      L"getFile(BSTR* szremotefile, BSTR* asMobanFile, retval long* result)\n"
      L"GetFileToFile(BSTR* rfilepath, BSTR* lfilepath, retval long* result)\n"
      L"saveFile(retval long* result)\n"
      L"PutFile(BSTR* sLocalFilePath, BSTR* sRemoteFilePath, long* bDeleteLocalFile, retval long* result)\n"
      L"Dispose(retval long* result)\n"
      L"GetAllRegValue(BSTR key, retval BSTR* result)\n"
      L"OpenExefile(BSTR filepath, BSTR parm, retval long* result)\n"
      L"OpenExefileByReg(BSTR regkey, BSTR regValuename, BSTR parm, BSTR exefilename, retval long* result)\n"
      L"GetErr(long lErrorCode, BSTR serrormsg, retval BSTR* result)\n";
  const std::wstring actual = DescribeMethods(interfaceInfo);
  Check("the 17 methods, their order and parameters", actual == expected);
  if (actual != expected) std::wprintf(L"%ls", actual.c_str());

  // The class: _KadroOcx by default, and an event interface without events as its default source.
  ITypeLib* library = nullptr;
  UINT index = 0;
  ITypeInfo* classInfo = nullptr;
  interfaceInfo->GetContainingTypeLib(&library, &index);
  BSTR libraryName = nullptr;
  library->GetDocumentation(-1, &libraryName, nullptr, nullptr, nullptr);
  Check("type library KadroOA", libraryName != nullptr && std::wstring(libraryName) == L"KadroOA");
  ::SysFreeString(libraryName);
  bool sourceFound = false;
  if (SUCCEEDED(library->GetTypeInfoOfGuid(ClassId(), &classInfo))) {
    TYPEATTR* classAttributes = nullptr;
    classInfo->GetTypeAttr(&classAttributes);
    for (UINT i = 0; i < classAttributes->cImplTypes; ++i) {
      INT implementationFlags = 0;
      HREFTYPE reference = 0;
      ITypeInfo* implemented = nullptr;
      classInfo->GetImplTypeFlags(i, &implementationFlags);
      classInfo->GetRefTypeOfImplType(i, &reference);
      if (FAILED(classInfo->GetRefTypeInfo(reference, &implemented))) continue;
      BSTR name = nullptr;
      implemented->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
      TYPEATTR* implementedAttributes = nullptr;
      implemented->GetTypeAttr(&implementedAttributes);
      if ((implementationFlags & IMPLTYPEFLAG_FSOURCE) && (implementationFlags & IMPLTYPEFLAG_FDEFAULT)) {
        sourceFound = std::wstring(name) == L"__KadroOcx" && implementedAttributes->typekind == TKIND_DISPATCH &&
                      implementedAttributes->cFuncs == 0;
      }
      implemented->ReleaseTypeAttr(implementedAttributes);
      ::SysFreeString(name);
      implemented->Release();
    }
    Check("KadroOcx is a control", (classAttributes->wTypeFlags & TYPEFLAG_FCONTROL) != 0);
    classInfo->ReleaseTypeAttr(classAttributes);
    classInfo->Release();
  }
  Check("__KadroOcx: the default source, no events", sourceFound);
  library->Release();
  interfaceInfo->Release();
  dispatchInfo->Release();
}

struct ThreadWork {
  IClassFactory* factory;
  DWORD enabled = 0;
};

// A second apartment: its object must find the safety flags of its own thread set.
DWORD WINAPI CreateOnOtherThread(void* context) {
  auto* work = static_cast<ThreadWork*>(context);
  ::CoInitialize(nullptr);
  IUnknown* object = nullptr;
  if (SUCCEEDED(work->factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)))) {
    work->enabled = EnabledForScripting(object);
    object->Release();
  }
  ::CoUninitialize();
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: com_client KadroOA.ocx\n");
    return 100;
  }
  ::CoInitialize(nullptr);
  HMODULE server = ::LoadLibraryW(argv[1]);
  if (server == nullptr) {
    std::printf("FAIL load: %lu\n", ::GetLastError());
    return 100;
  }
  auto getClassObject =
      reinterpret_cast<GetClassObjectFunction>(reinterpret_cast<void*>(::GetProcAddress(server, "DllGetClassObject")));
  auto canUnloadNow =
      reinterpret_cast<CanUnloadNowFunction>(reinterpret_cast<void*>(::GetProcAddress(server, "DllCanUnloadNow")));
  Check("exports", getClassObject != nullptr && canUnloadNow != nullptr &&
                       ::GetProcAddress(server, "DllRegisterServer") &&
                       ::GetProcAddress(server, "DllUnregisterServer"));
  if (getClassObject == nullptr || canUnloadNow == nullptr) return 100;
  Check("unloadable at first", canUnloadNow() == S_OK);

  IClassFactory* factory = nullptr;
  HRESULT hr = getClassObject(ClassId(), IID_IClassFactory, reinterpret_cast<void**>(&factory));
  Check("class factory", SUCCEEDED(hr), "DllGetClassObject", hr);
  if (FAILED(hr)) return 100;
  IClassFactory* other = nullptr;
  Check("unknown class refused", getClassObject(IID_IDispatch, IID_IClassFactory, reinterpret_cast<void**>(&other)) ==
                                     CLASS_E_CLASSNOTAVAILABLE);
  factory->LockServer(TRUE);
  Check("a lock keeps the server", canUnloadNow() == S_FALSE);
  factory->LockServer(FALSE);
  Check("unlocked server unloadable", canUnloadNow() == S_OK);

  IDispatch* control = nullptr;
  hr = factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&control));
  Check("create", SUCCEEDED(hr), "CreateInstance", hr);
  if (FAILED(hr)) return 100;
  Check("a live object keeps the server", canUnloadNow() == S_FALSE);
  CheckTypeLibrary(control);

  // A container refuses script access to a control that answers DISPID_SECURITYCTX.
  VARIANT result;
  ::VariantInit(&result);
  EXCEPINFO exception{};
  hr = Call(control, -5511, nullptr, 0, &result, &exception);
  Check("DISPID_SECURITYCTX unknown", hr == DISP_E_MEMBERNOTFOUND, "Invoke(-5511)", hr);
  Check("DISPID 0 unknown", Call(control, 0, nullptr, 0, &result, &exception) == DISP_E_MEMBERNOTFOUND);

  // A VARIANT passed by reference, as VBScript passes a variable, holding a number: converted to text for the call,
  // the variable left as it was.
  VARIANT variable;
  ::VariantInit(&variable);
  V_VT(&variable) = VT_I4;
  V_I4(&variable) = 1234;
  VARIANTARG byReference;
  V_VT(&byReference) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&byReference) = &variable;
  hr = Call(control, IdOf(control, L"setLocalFile"), &byReference, 1, &result, &exception);
  Check("by-reference VARIANT accepted", hr == S_OK && V_VT(&result) == VT_I4 && V_I4(&result) == 1, "setLocalFile",
        hr);
  Check("by-reference VARIANT left alone", V_VT(&variable) == VT_I4 && V_I4(&variable) == 1234);
  ::VariantClear(&variable);
  ::VariantClear(&result);
  hr = Call(control, IdOf(control, L"getLocalFile"), nullptr, 0, &result, &exception);
  Check("by-reference value reached the control",
        hr == S_OK && V_VT(&result) == VT_BSTR && std::wstring(V_BSTR(&result)) == L"1234");
  ::VariantClear(&result);

  // An empty registry key is a run-time error: "Subscript out of range", number 9.
  VARIANTARG key;
  V_VT(&key) = VT_BSTR;
  V_BSTR(&key) = ::SysAllocString(L"");
  hr = Call(control, IdOf(control, L"GetAllRegValue"), &key, 1, &result, &exception);
  Check("run-time error is DISP_E_EXCEPTION", hr == DISP_E_EXCEPTION, "GetAllRegValue", hr);
  Check("scode carries the number", exception.scode == static_cast<SCODE>(0x800A0009), "scode", exception.scode);
  Check("description is the runtime's",
        exception.bstrDescription != nullptr && std::wstring(exception.bstrDescription) == L"Subscript out of range");
  ::SysFreeString(exception.bstrSource);
  ::SysFreeString(exception.bstrDescription);
  ::SysFreeString(exception.bstrHelpFile);
  ::VariantClear(&key);

  ISupportErrorInfo* errorInfo = nullptr;
  hr = control->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&errorInfo));
  Check("ISupportErrorInfo", SUCCEEDED(hr) && errorInfo->InterfaceSupportsErrorInfo(IID_IDispatch) == S_OK &&
                                 errorInfo->InterfaceSupportsErrorInfo(IID_IPersistStream) == S_FALSE);
  if (errorInfo != nullptr) errorInfo->Release();

  IObjectSafety* safety = nullptr;
  hr = control->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(&safety));
  Check("IObjectSafety", SUCCEEDED(hr), "QueryInterface", hr);
  if (safety != nullptr) {
    DWORD supported = 0;
    DWORD enabled = 0;
    hr = safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled);
    Check("safe for scripting", hr == S_OK && supported == 3 && enabled == 1, "IDispatch", hr);
    hr = safety->GetInterfaceSafetyOptions(IID_IPersistPropertyBag, &supported, &enabled);
    Check("safe for initialisation", hr == S_OK && supported == 3 && enabled == 2, "IPersistPropertyBag", hr);
    supported = 0;
    enabled = 77;
    hr = safety->GetInterfaceSafetyOptions(IID_IUnknown, &supported, &enabled);
    Check("other interfaces not safe", hr == E_NOINTERFACE && supported == 3 && enabled == 77, "IUnknown", hr);
    Check("set scripting safe", safety->SetInterfaceSafetyOptions(IID_IDispatch, 1, 1) == S_OK);
    Check("set both refused", safety->SetInterfaceSafetyOptions(IID_IDispatch, 3, 3) == E_FAIL);
    Check("set data safe for a stream", safety->SetInterfaceSafetyOptions(IID_IPersistStream, 2, 2) == S_OK);
    safety->Release();
  }

  // Containers that read the registry before creating the control and those that ask it must learn the same.
  const char* registered = nullptr;
  for (const auto& entry : kadroo::registration::kEntries) {
    if (std::string(entry.key).ends_with("\\MiscStatus\\1")) registered = entry.value;
  }
  IOleObject* ole = nullptr;
  DWORD status = 0;
  hr = control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole));
  if (SUCCEEDED(hr)) hr = ole->GetMiscStatus(DVASPECT_CONTENT, &status);
  Check("GetMiscStatus answers the registered MiscStatus",
        hr == S_OK && registered != nullptr && std::to_string(status) == registered, "GetMiscStatus", status);
  if (ole != nullptr) ole->Release();

  ThreadWork work{factory};
  HANDLE thread = ::CreateThread(nullptr, 0, &CreateOnOtherThread, &work, 0, nullptr);
  ::WaitForSingleObject(thread, INFINITE);
  ::CloseHandle(thread);
  Check("start-up runs in every thread", work.enabled == 1, "enabled on the second thread", work.enabled);

  control->Release();
  factory->Release();
  Check("unloadable after the last release", canUnloadNow() == S_OK);
  ::CoUninitialize();
  return failures;
}

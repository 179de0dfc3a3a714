// The four exports of the in-process server and its class factory.
#include "host/windows/com/KadroOcxObject.h"
#include "host/windows/com/Module.h"
#include "host/windows/com/Registrar.h"

#include <olectl.h>

namespace kadroo::windows {
namespace {

class ClassFactory final : public IClassFactory {
 public:
  using Creator = HRESULT (*)(REFIID, void**);
  explicit ClassFactory(Creator create) : create_(create) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(riid, ::IID_IUnknown) || IsEqualIID(riid, ::IID_IClassFactory)) {
      *object = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // The factories are static: their references do not keep the server loaded, LockServer does.
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return create_(riid, object);
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock) {
      module::Lock();
    } else {
      module::Unlock();
    }
    return S_OK;
  }

 private:
  Creator create_;
};

struct ClassEntry {
  const CLSID& clsid;
  ClassFactory& factory;
};

ClassFactory kadroOcxFactory(&KadroOcxObject::Create);
const ClassEntry kClasses[] = {
    {CLSID_KadroOcx, kadroOcxFactory},
};

}  // namespace
}  // namespace kadroo::windows

using namespace kadroo::windows;

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  for (const ClassEntry& entry : kClasses) {
    if (IsEqualCLSID(clsid, entry.clsid)) return entry.factory.QueryInterface(riid, object);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return module::CanUnload() ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
  try {
    const HRESULT hr = RegisterServer(module::Path());
    return SUCCEEDED(hr) ? S_OK : SELFREG_E_CLASS;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

STDAPI DllUnregisterServer() {
  try {
    const HRESULT hr = UnregisterServer(module::Path());
    return SUCCEEDED(hr) ? S_OK : SELFREG_E_CLASS;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

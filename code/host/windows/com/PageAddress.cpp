#include "host/windows/com/PageAddress.h"

#include <exdisp.h>
#include <mshtml.h>
#include <servprov.h>
#include <shlguid.h>

#include "host/windows/Handles.h"

namespace kadroo::windows {
namespace {

template <typename Interface>
unique_com<Interface> Query(IUnknown* object, REFIID iid) {
  unique_com<Interface> result;
  if (object) object->QueryInterface(iid, reinterpret_cast<void**>(result.put()));
  return result;
}

std::optional<Text> NonEmpty(BSTR text) {
  if (text == nullptr || ::SysStringLen(text) == 0) return std::nullopt;
  return Text(reinterpret_cast<const char16_t*>(text), ::SysStringLen(text));
}

std::optional<Text> FromDocument(IOleClientSite* site) {
  unique_com<IOleContainer> container;
  if (!site || FAILED(site->GetContainer(container.put())) || !container) return std::nullopt;
  const auto document = Query<IHTMLDocument2>(container.get(), IID_IHTMLDocument2);
  unique_bstr url;
  if (!document || FAILED(document->get_URL(url.put()))) return std::nullopt;
  return NonEmpty(url.get());
}

std::optional<Text> FromBrowser(IUnknown* site) {
  const auto services = Query<IServiceProvider>(site, IID_IServiceProvider);
  unique_com<IWebBrowser2> browser;
  if (!services || FAILED(services->QueryService(SID_SWebBrowserApp, IID_IWebBrowser2,
                                                  reinterpret_cast<void**>(browser.put()))) || !browser) {
    return std::nullopt;
  }
  unique_bstr url;
  if (FAILED(browser->get_LocationURL(url.put()))) return std::nullopt;
  return NonEmpty(url.get());
}

std::optional<Text> FromMoniker(IOleClientSite* site) {
  unique_com<IMoniker> moniker;
  unique_com<IBindCtx> context;
  if (!site || FAILED(site->GetMoniker(OLEGETMONIKER_ONLYIFTHERE, OLEWHICHMK_CONTAINER, moniker.put())) ||
      !moniker || FAILED(::CreateBindCtx(0, context.put()))) {
    return std::nullopt;
  }
  LPOLESTR name = nullptr;
  if (FAILED(moniker->GetDisplayName(context.get(), nullptr, &name)) || name == nullptr) return std::nullopt;
  Text text(reinterpret_cast<const char16_t*>(name));
  ::CoTaskMemFree(name);
  if (text.empty()) return std::nullopt;
  return text;
}

}  // namespace

std::optional<Text> PageAddressOf(IUnknown* site) {
  if (site == nullptr) return std::nullopt;
  const auto clientSite = Query<IOleClientSite>(site, IID_IOleClientSite);
  if (auto url = FromDocument(clientSite.get())) return url;
  if (auto url = FromBrowser(site)) return url;
  return FromMoniker(clientSite.get());
}

}  // namespace kadroo::windows

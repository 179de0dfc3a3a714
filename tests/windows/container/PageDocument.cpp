// The page's side of a browser as the control asks it for the page's address: the document a client site's
// GetContainer gives (IOleContainer and IHTMLDocument2) and the browser a site's services lead to (IWebBrowser2).
// Without a browser engine in Wine, these answer the few calls the control makes and no others: declared the C
// way, their tables hold only those entries.
#define CINTERFACE
#define CONST_VTABLE
#include <windows.h>
#include <exdisp.h>
#include <mshtml.h>

#include "PageDocument.h"

// The entries left out are null: nothing calls them.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

struct Document {
  IOleContainer container;
  IHTMLDocument2 document;
  LONG references;
  BSTR url;
};

struct Browser {
  IWebBrowser2 browser;
  LONG references;
  BSTR url;
};

Document* FromContainer(IOleContainer* container) { return CONTAINING_RECORD(container, Document, container); }
Document* FromDocument(IHTMLDocument2* document) { return CONTAINING_RECORD(document, Document, document); }
Browser* FromBrowser(IWebBrowser2* browser) { return CONTAINING_RECORD(browser, Browser, browser); }

HRESULT STDMETHODCALLTYPE DocumentQuery(Document* self, REFIID riid, void** object) {
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IParseDisplayName) ||
      IsEqualIID(riid, IID_IOleContainer)) {
    *object = &self->container;
  } else if (IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IHTMLDocument) ||
             IsEqualIID(riid, IID_IHTMLDocument2)) {
    *object = &self->document;
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  InterlockedIncrement(&self->references);
  return S_OK;
}

ULONG DocumentRelease(Document* self) {
  const LONG left = InterlockedDecrement(&self->references);
  if (left == 0) {
    SysFreeString(self->url);
    delete self;
  }
  return static_cast<ULONG>(left);
}

const IOleContainerVtbl kContainerTable = {
    .QueryInterface = [](IOleContainer* self, REFIID riid, void** object) STDMETHODCALLTYPE -> HRESULT {
      return DocumentQuery(FromContainer(self), riid, object);
    },
    .AddRef = [](IOleContainer* self) STDMETHODCALLTYPE -> ULONG {
      return static_cast<ULONG>(InterlockedIncrement(&FromContainer(self)->references));
    },
    .Release = [](IOleContainer* self) STDMETHODCALLTYPE -> ULONG { return DocumentRelease(FromContainer(self)); },
    .ParseDisplayName = [](IOleContainer*, IBindCtx*, LPOLESTR, ULONG*, IMoniker**) STDMETHODCALLTYPE -> HRESULT {
      return E_NOTIMPL;
    },
    .EnumObjects = [](IOleContainer*, DWORD, IEnumUnknown**) STDMETHODCALLTYPE -> HRESULT { return E_NOTIMPL; },
    .LockContainer = [](IOleContainer*, BOOL) STDMETHODCALLTYPE -> HRESULT { return S_OK; },
};

const IHTMLDocument2Vtbl kDocumentTable = {
    .QueryInterface = [](IHTMLDocument2* self, REFIID riid, void** object) STDMETHODCALLTYPE -> HRESULT {
      return DocumentQuery(FromDocument(self), riid, object);
    },
    .AddRef = [](IHTMLDocument2* self) STDMETHODCALLTYPE -> ULONG {
      return static_cast<ULONG>(InterlockedIncrement(&FromDocument(self)->references));
    },
    .Release = [](IHTMLDocument2* self) STDMETHODCALLTYPE -> ULONG { return DocumentRelease(FromDocument(self)); },
    .get_URL = [](IHTMLDocument2* self, BSTR* url) STDMETHODCALLTYPE -> HRESULT {
      *url = SysAllocString(FromDocument(self)->url);
      return *url ? S_OK : E_OUTOFMEMORY;
    },
};

const IWebBrowser2Vtbl kBrowserTable = {
    .QueryInterface = [](IWebBrowser2* self, REFIID riid, void** object) STDMETHODCALLTYPE -> HRESULT {
      if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) &&
          !IsEqualIID(riid, IID_IWebBrowser) && !IsEqualIID(riid, IID_IWebBrowserApp) &&
          !IsEqualIID(riid, IID_IWebBrowser2)) {
        *object = nullptr;
        return E_NOINTERFACE;
      }
      *object = self;
      InterlockedIncrement(&FromBrowser(self)->references);
      return S_OK;
    },
    .AddRef = [](IWebBrowser2* self) STDMETHODCALLTYPE -> ULONG {
      return static_cast<ULONG>(InterlockedIncrement(&FromBrowser(self)->references));
    },
    .Release = [](IWebBrowser2* self) STDMETHODCALLTYPE -> ULONG {
      Browser* browser = FromBrowser(self);
      const LONG left = InterlockedDecrement(&browser->references);
      if (left == 0) {
        SysFreeString(browser->url);
        delete browser;
      }
      return static_cast<ULONG>(left);
    },
    .get_LocationURL = [](IWebBrowser2* self, BSTR* url) STDMETHODCALLTYPE -> HRESULT {
      *url = SysAllocString(FromBrowser(self)->url);
      return *url ? S_OK : E_OUTOFMEMORY;
    },
};

}  // namespace

IUnknown* NewPageDocument(const wchar_t* url) {
  Document* document = new Document{{&kContainerTable}, {&kDocumentTable}, 1, SysAllocString(url)};
  return reinterpret_cast<IUnknown*>(&document->container);
}

IUnknown* NewPageBrowser(const wchar_t* url) {
  Browser* browser = new Browser{{&kBrowserTable}, 1, SysAllocString(url)};
  return reinterpret_cast<IUnknown*>(&browser->browser);
}

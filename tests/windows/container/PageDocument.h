#pragma once
// A page's document and browser, as the control finds the page's address through them (PageDocument.cpp).
#include <unknwn.h>

// The document at `url` as a client site's GetContainer gives it: IOleContainer, and IHTMLDocument2 whose get_URL
// answers `url`. One reference, the caller's.
IUnknown* NewPageDocument(const wchar_t* url);
// The browser showing `url`, as SID_SWebBrowserApp gives it: IWebBrowser2 whose get_LocationURL answers `url`.
IUnknown* NewPageBrowser(const wchar_t* url);

#pragma once
// The address of the page that holds the control, found through the site its container gave it, as Internet
// Explorer's sites answer: the container's document (IOleClientSite::GetContainer, IHTMLDocument2::get_URL), else
// the browser the site's services lead to (SID_SWebBrowserApp, IWebBrowser2::get_LocationURL), else the moniker
// of the site's container.
#include <windows.h>
#include <ole2.h>

#include <optional>

#include "control/Text.h"

namespace kadroo::windows {

// `site` is what IOleObject::SetClientSite or IObjectWithSite::SetSite gave; nullopt when it is null or gives
// no address.
std::optional<Text> PageAddressOf(IUnknown* site);

}  // namespace kadroo::windows

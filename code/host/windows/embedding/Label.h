#pragma once
// Label12, the one thing the control shows: its caption in black on a light surface, drawn the same way into the
// control's own window when it is active in place and into any device context a container gives to Draw.
#include <windows.h>

namespace kadroo::windows {

inline constexpr wchar_t kLabelCaption[] = L"KadroOa v2.42";

// The module that holds this code (the control's library), for its window class and its type library.
HMODULE ThisModule();

// Paints the label over all of `bounds` (device units of `dc`).
void PaintLabel(HDC dc, const RECT& bounds);

// The label's size in pixels on a 96-dpi screen: its caption with a margin all round.
SIZE LabelSize();

// Creates the label's window as a child of `parent` at `position` (the parent's client coordinates). The window
// takes no input: clicks go through to the container. Null with GetLastError set when it cannot be made.
HWND CreateLabelWindow(HWND parent, const RECT& position);

// Destroys a window made by CreateLabelWindow; the window class goes with the last one, so that the library can be
// unloaded and loaded again.
void DestroyLabelWindow(HWND window);

}  // namespace kadroo::windows

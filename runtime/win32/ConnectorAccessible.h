#pragma once

#include "ConnectorDrawing.h"

#include <memory>
#include <string>
#include <windows.h>

// The drawn socket as a screen reader sees it through MSAA: the window's own
// accessible object, each contact a child element named as the pin is.
namespace runtime::win32 {

// What the accessible object reads while the control lives. The control
// forgets itself here as it goes, and a screen reader may hold the object
// longer: its late calls then fail instead of reading a dead control.
struct DrawnSource {
    const Connector *control;
    std::string name; // the control's accessible name
};

// The drawing as the window's client area now lays it out.
[[nodiscard]] drawing::Layout laidOut(HWND window);

// The answer to WM_GETOBJECT for OBJID_CLIENT (flags: its wParam).
LRESULT connectorObject(HWND window, WPARAM flags, std::shared_ptr<const DrawnSource> source);

// Tells screen readers of each contact whose name changed, and no other.
void announcePinNames(HWND window, const DrawnPins &before, const DrawnPins &now);

} // namespace runtime::win32

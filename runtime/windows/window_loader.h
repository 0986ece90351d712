// The window loader: creates a live window and its controls from the window's template, keeps the
// loaded windows for the message loop and error reports, and takes them down again.
#pragma once

#include <cstdint>

#include "platform/ui/window.h"
#include "runtime/windows/components.h"

namespace qv {

// Loads the window with that id from the program's templates, or activates it when it is loaded
// already. False when the window has no template or a component cannot be created; a window
// that was half built is destroyed again.
bool LoadProgramWindow(uint32_t windowId);

// Installs the loader as the template services' create (with the template reader) and the
// property entries in the runtime entry table.
void InstallWindowLoader();

// The live component of a unit of a loaded window (unit 0: the window), or null.
Component* FindLiveComponent(uint32_t windowId, uint32_t unitId);
// The platform window of a loaded window, or null.
win::HWND LoadedWindowHandle(uint32_t windowId);

}  // namespace qv

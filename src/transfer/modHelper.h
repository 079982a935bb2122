// The helpers the run and the form share: the two existence tests the run
// relies on, and the window's layer.
#pragma once

#include <string>

#include "servers/object_services.h"

namespace vi2zezir::modHelper {

// True when the quoting application can be attached now; swallows every failure.
bool IsQuotingAppRunning(ObjectServices& services);
// True when the length of the file can be read; false for a directory.
bool FileExists(const std::u16string& path);

// Puts the window above all others or back among them. Any window that can
// change its layer will do, so this layer needs no view's type.
template <typename Window>
requires requires(Window& window) { window.SetTopMost(true); }
void SetWindowTopMost(Window& window, bool onTop) { window.SetTopMost(onTop); }

} // namespace vi2zezir::modHelper

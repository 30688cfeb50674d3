// The outer rectangle, in screen pixels, for a client size given in 96-DPI units.
#pragma once
#include <windows.h>

namespace stubframework { namespace htmlui {

// Centred on the owner window (on its monitor's work area) or, for a window without an owner,
// on the work area of the monitor under the mouse cursor.
RECT FitWindowRect(HWND window, int width, int height);

// Horizontal DPI of the screen (96 when it cannot be read).
int ScreenDpi();

}} // namespace stubframework::htmlui

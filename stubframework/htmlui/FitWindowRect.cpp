#include "stubframework/htmlui/FitWindowRect.h"
#include "stubframework/htmlui/WindowGeometry.h"

namespace stubframework { namespace htmlui {

int ScreenDpi() {
    const HDC screen = ::GetDC(nullptr);
    if (!screen) return 96;
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
    ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

namespace {
Box ToBox(const RECT& r) { return Box{r.left, r.top, r.right, r.bottom}; }

RECT WorkAreaOf(HMONITOR monitor) {
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    if (monitor && ::GetMonitorInfoW(monitor, &info)) return info.rcWork;
    RECT area = {};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    return area;
}
} // namespace

RECT FitWindowRect(HWND window, int width, int height) {
    const int dpi = ScreenDpi();
    RECT outer = {0, 0, ScaleToDpi(width, dpi), ScaleToDpi(height, dpi)};
    ::AdjustWindowRectEx(&outer, static_cast<DWORD>(::GetWindowLongW(window, GWL_STYLE)), FALSE,
                         static_cast<DWORD>(::GetWindowLongW(window, GWL_EXSTYLE)));

    RECT reference = {}, workArea = {};
    const HWND owner = ::GetWindow(window, GW_OWNER);
    if (owner && ::GetWindowRect(owner, &reference)) {
        workArea = WorkAreaOf(::MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST));
    } else {
        POINT cursor = {};
        ::GetCursorPos(&cursor);
        workArea = WorkAreaOf(::MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST));
        reference = workArea;
    }
    const Box placed = PlaceOuterSize(outer.right - outer.left, outer.bottom - outer.top, ToBox(reference),
                                      ToBox(workArea));
    return RECT{placed.left, placed.top, placed.right, placed.bottom};
}

}} // namespace stubframework::htmlui

// Window placement arithmetic, apart from Win32 so it builds and runs anywhere.
#pragma once

namespace stubframework { namespace htmlui {

struct Box {
    long left, top, right, bottom;
};

// A length in 96-DPI units at the screen's DPI, truncated.
long ScaleToDpi(long length, long dpi);

// Centres an outer size on the reference box, then keeps it inside the work area; where it is
// larger than the work area its left and top edges win.
Box PlaceOuterSize(long width, long height, const Box& reference, const Box& workArea);

}} // namespace stubframework::htmlui

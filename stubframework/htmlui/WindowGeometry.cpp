#include "stubframework/htmlui/WindowGeometry.h"

namespace stubframework { namespace htmlui {

namespace {
long PlaceAxis(long size, long referenceLow, long referenceHigh, long areaLow, long areaHigh) {
    long end = (referenceLow + referenceHigh + size) / 2;
    if (end > areaHigh) end = areaHigh;
    long start = end - size;
    if (start < areaLow) start = areaLow;
    return start;
}
} // namespace

long ScaleToDpi(long length, long dpi) { return static_cast<long>(static_cast<long long>(length) * dpi / 96); }

Box PlaceOuterSize(long width, long height, const Box& reference, const Box& workArea) {
    const long x = PlaceAxis(width, reference.left, reference.right, workArea.left, workArea.right);
    const long y = PlaceAxis(height, reference.top, reference.bottom, workArea.top, workArea.bottom);
    return Box{x, y, x + width, y + height};
}

}} // namespace stubframework::htmlui

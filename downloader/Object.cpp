#include "downloader/Object.h"

namespace downloader { namespace details {

namespace {
volatile LONG g_liveObjects = 0;
}

void AdjustLiveObjects(long delta) {
    ::InterlockedExchangeAdd(&g_liveObjects, delta);
}

long LiveObjectCount() {
    return ::InterlockedCompareExchange(&g_liveObjects, 0, 0);
}

}} // namespace downloader::details

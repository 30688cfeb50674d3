// Receives the progress and the Win32 errors of an extraction.
#pragma once
#include <windows.h>

namespace stubframework { namespace zip {

class ZipReporter {
public:
    virtual void Progress(unsigned index, unsigned count) = 0;
    virtual void LastError(DWORD error) = 0;

protected:
    // Not virtual: callers never delete through this interface, and the slot order stays these two.
    ~ZipReporter() = default;
};

}} // namespace stubframework::zip

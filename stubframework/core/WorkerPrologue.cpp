#include "stubframework/core/WorkerPrologue.h"

namespace stubframework { namespace core {

WorkerStart::WorkerStart(StubApplication* app, MarshalledCallback& marshalled, const wchar_t* name)
    : app_(app), unmarshalled_(marshalled.Unmarshal(callback_)) {
    if (FAILED(unmarshalled_))
        WriteErrorLog(app_, L"%s CoGetInterfaceAndReleaseStream  failed with: %x", name,
                      static_cast<unsigned>(unmarshalled_));
}

}} // namespace stubframework::core

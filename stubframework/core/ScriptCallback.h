// Calling a page's script function from a worker thread: the handler marshals the function on
// the UI thread, the worker unmarshals it in the multithreaded apartment and calls it; COM runs
// the call on the UI thread (through its message loop) while the worker waits.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <oaidl.h>
#include <wrl/client.h>

#include "stubframework/utils/ComApartment.h"

namespace stubframework { namespace core {

// Carries one marshalled script function from the UI thread to a worker. Whatever is not
// unmarshalled (the worker never started) is released with its marshalling data.
class MarshalledCallback {
public:
    MarshalledCallback() = default;
    ~MarshalledCallback();
    MarshalledCallback(const MarshalledCallback&) = delete;
    MarshalledCallback& operator=(const MarshalledCallback&) = delete;

    // UI thread: the HRESULT of CoMarshalInterThreadInterfaceInStream.
    HRESULT Marshal(IDispatch* function);
    // Worker thread, inside its apartment; one use only.
    HRESULT Unmarshal(Microsoft::WRL::ComPtr<IDispatch>& function);

private:
    Microsoft::WRL::ComPtr<IStream> stream_;
};

// Joins the multithreaded apartment for the lifetime of a worker.
class WorkerApartment : public utils::ScopedComApartment {
public:
    WorkerApartment() : ScopedComApartment(COINIT_MULTITHREADED) {}
};

// Calls the function with DISPID_VALUE as a plain method call. `args` is in rgvarg order, the
// reverse of what the script function sees.
HRESULT CallScriptFunction(IDispatch* function, VARIANT* args, UINT count);

// The three whole numbers of the download and install callbacks. They go out as rgvarg[0] =
// first, rgvarg[1] = second, rgvarg[2] = third, so the script receives (third, second, first).
struct CallbackValues {
    int first;
    int second;
    int third;
};
HRESULT CallScriptFunction(IDispatch* function, const CallbackValues& values);
// The one whole number of the remove, repair and verify callbacks: their ResultCode.
HRESULT CallScriptFunction(IDispatch* function, int result);

}} // namespace stubframework::core

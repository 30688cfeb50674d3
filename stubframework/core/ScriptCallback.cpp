#include "stubframework/core/ScriptCallback.h"

namespace stubframework { namespace core {

MarshalledCallback::~MarshalledCallback() {
    // Marshalling data that no worker consumed holds a reference on the function.
    if (stream_) ::CoReleaseMarshalData(stream_.Get());
}

HRESULT MarshalledCallback::Marshal(IDispatch* function) {
    if (!function) return E_INVALIDARG;
    if (stream_) {
        ::CoReleaseMarshalData(stream_.Get());
        stream_.Reset();
    }
    return ::CoMarshalInterThreadInterfaceInStream(IID_IDispatch, function, stream_.ReleaseAndGetAddressOf());
}

HRESULT MarshalledCallback::Unmarshal(Microsoft::WRL::ComPtr<IDispatch>& function) {
    function.Reset();
    if (!stream_) return E_UNEXPECTED;
    // The call releases the stream whether or not it succeeds.
    return ::CoGetInterfaceAndReleaseStream(stream_.Detach(), IID_IDispatch,
                                            reinterpret_cast<void**>(function.ReleaseAndGetAddressOf()));
}

HRESULT CallScriptFunction(IDispatch* function, VARIANT* args, UINT count) {
    if (!function) return E_POINTER;
    DISPPARAMS params = {args, nullptr, count, 0};
    return function->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

HRESULT CallScriptFunction(IDispatch* function, const CallbackValues& values) {
    VARIANT args[3];
    const int numbers[3] = {values.first, values.second, values.third};
    for (int i = 0; i < 3; ++i) {
        ::VariantInit(&args[i]);
        V_VT(&args[i]) = VT_I4;
        V_I4(&args[i]) = numbers[i];
    }
    return CallScriptFunction(function, args, 3);
}

HRESULT CallScriptFunction(IDispatch* function, int result) {
    VARIANT arg;
    ::VariantInit(&arg);
    V_VT(&arg) = VT_I4;
    V_I4(&arg) = result;
    return CallScriptFunction(function, &arg, 1);
}

}} // namespace stubframework::core

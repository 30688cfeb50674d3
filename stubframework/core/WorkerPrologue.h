// The start every worker of a page request shares: it takes over its request, joins the
// multithreaded apartment and unmarshals the page's function, logging under the worker's own
// name when that fails. The function is released, the apartment left and the request freed,
// in that order, when the worker returns.
#pragma once
#include <windows.h>
#include <memory>
#include <wrl/client.h>

#include "StubCore/StubApplication.h"
#include "stubframework/ExternalMethods.h"
#include "stubframework/core/ScriptCallback.h"

namespace stubframework { namespace core {

class WorkerStart {
public:
    WorkerStart(const WorkerStart&) = delete;
    WorkerStart& operator=(const WorkerStart&) = delete;

    // False when the function could not be had: the worker ends at once.
    bool Ready() const { return SUCCEEDED(unmarshalled_); }
    StubApplication& App() const { return *app_; }
    Microsoft::WRL::ComPtr<IDispatch>& Callback() { return callback_; }

protected:
    WorkerStart(StubApplication* app, MarshalledCallback& marshalled, const wchar_t* name);

private:
    StubApplication* app_;
    WorkerApartment apartment_;
    Microsoft::WRL::ComPtr<IDispatch> callback_;
    HRESULT unmarshalled_;
};

template <typename Request>
struct OwnedRequest {
    std::unique_ptr<Request> request;
};

// Request has an `owner` (the method table that started it) and a `callback`.
template <typename Request>
class WorkerPrologue : private OwnedRequest<Request>, public WorkerStart {
public:
    WorkerPrologue(void* record, const wchar_t* name)
        : OwnedRequest<Request>{std::unique_ptr<Request>(static_cast<Request*>(record))},
          WorkerStart(this->request->owner->Application(), this->request->callback, name) {}

    Request& Get() { return *this->request; }

    // What the worker's body uses: auto [request, app, callback] = worker.Parts();
    struct Used {
        Request* request;
        StubApplication* app;
        Microsoft::WRL::ComPtr<IDispatch>& callback;
    };
    Used Parts() { return Used{this->request.get(), &App(), Callback()}; }
};

}} // namespace stubframework::core

#include "tools/devhost/BrowserHost.h"
#include "StubCore/StubApplication.h"
#include "stubframework/core/HtmlExternal.h"
#include "stubframework/core/ReportDocuments.h"
#include "stubframework/htmlui/FitWindowRect.h"
#include "stubframework/htmlui/BundleUrl.h"
#include "stubframework/htmlui/HostWindow.h"
#include "stubframework/utils/CommandLineArgs.h"
#include "stubframework/utils/ComHolders.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/ProxyAuth.h"
#include "tools/devhost/HttpServer.h"
#include "tools/devhost/Shim.h"

#include <objbase.h>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <mutex>
#include <set>
#include <utility>
#include <vector>
#include <wrl/client.h>

namespace devhost {

using namespace stubframework;

namespace {
const UINT kRunOnUiThread = WM_APP + 0x40;
const wchar_t kExecutorClass[] = L"TandoraDevhostCalls";
// Tells our own function objects apart from any other IDispatch a method hands back.
const IID kPageObjectIid = {0x5b1e7c3a, 0x4d2f, 0x4e61, {0x9a, 0x0b, 0x6c, 0x21, 0x3e, 0x7d, 0x88, 0x14}};

// Events for the pages, numbered in the order they were queued. Each page polls for those after
// the last it saw: a poll of a page that has gone (still waiting in here after a navigation)
// takes nothing away from the page that replaced it.
class EventQueue {
public:
    void Push(const std::string& event) {
        std::lock_guard<std::mutex> lock(mutex_);
        Append(event);
    }
    void Close() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) return;
        closed_ = true;
        Append("{\"type\":\"closed\"}");
    }
    // The number of the last event queued; a new page starts after it.
    unsigned long long Last() {
        std::lock_guard<std::mutex> lock(mutex_);
        return last_;
    }
    // {"next":N,"events":[...]}: the events after `after`, waiting at most `wait` for one.
    std::string Take(unsigned long long after, std::chrono::milliseconds wait) {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait_for(lock, wait, [&] { return last_ > after; });
        std::string out;
        for (const auto& event : events_) {
            if (event.first <= after) continue;
            out += (out.empty() ? "" : ",") + event.second;
        }
        if (last_ > taken_) taken_ = last_;
        drained_.notify_all();
        return "{\"next\":" + std::to_string(last_) + ",\"events\":[" + out + "]}";
    }
    // After Close: waits, at most `wait`, until a poll has taken the last events.
    void WaitDrained(std::chrono::milliseconds wait) {
        std::unique_lock<std::mutex> lock(mutex_);
        drained_.wait_for(lock, wait, [this] { return taken_ >= last_; });
    }

private:
    // A live page polls again at once; this keeps far more than it can fall behind by.
    static const size_t kKept = 20000;
    void Append(const std::string& event) {
        events_.emplace_back(++last_, event);
        if (events_.size() > kKept) events_.pop_front();
        ready_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable ready_;
    std::condition_variable drained_;
    std::deque<std::pair<unsigned long long, std::string>> events_;
    unsigned long long last_ = 0;
    unsigned long long taken_ = 0;
    bool closed_ = false;
};

std::string ValueToJson(const VARIANT& value);

// A script function (or object) of the page, as native code sees it: calling it queues the call
// for the page. It lives on the UI thread; workers reach it through COM marshalling.
class PageObject final : public IDispatch {
public:
    PageObject(std::shared_ptr<EventQueue> queue, const std::string& page, long id)
        : queue_(std::move(queue)), page_(page), id_(id) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == kPageObjectIid) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&references_)); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = ::InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) override {
        for (UINT i = 0; ids && i < count; ++i) ids[i] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    // The page runs the function later, with the arguments in script order; the caller does
    // not wait for it (the workers ignore what the function returns).
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override {
        if (id != DISPID_VALUE || !(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
        if (params && params->cNamedArgs) return DISP_E_NONAMEDARGS;
        std::string event = "{\"type\":\"call\",\"page\":" + JsonString(std::wstring(page_.begin(), page_.end())) +
                            ",\"fn\":" + std::to_string(id_) + ",\"args\":[";
        const UINT count = params ? params->cArgs : 0;
        for (UINT i = 0; i < count; ++i) event += (i ? "," : "") + ValueToJson(params->rgvarg[count - 1 - i]);
        queue_->Push(event + "]}");
        if (result) ::VariantInit(result);
        return S_OK;
    }

    const std::string& Page() const { return page_; }
    long Id() const { return id_; }

private:
    ~PageObject() = default;
    LONG references_ = 1;
    // Shared: a worker that finishes after the window closed may still call the function then.
    std::shared_ptr<EventQueue> queue_;
    std::string page_;
    long id_;
};

std::string ValueToJson(const VARIANT& value) {
    switch (V_VT(&value)) {
    case VT_BSTR: return JsonString(V_BSTR(&value) ? std::wstring(V_BSTR(&value), ::SysStringLen(V_BSTR(&value))) : L"");
    case VT_BOOL: return V_BOOL(&value) ? "true" : "false";
    case VT_I1: return std::to_string(V_I1(&value));
    case VT_I2: return std::to_string(V_I2(&value));
    case VT_I4: return std::to_string(V_I4(&value));
    case VT_INT: return std::to_string(V_INT(&value));
    case VT_UI1: return std::to_string(V_UI1(&value));
    case VT_UI2: return std::to_string(V_UI2(&value));
    case VT_UI4: return std::to_string(V_UI4(&value));
    case VT_UINT: return std::to_string(V_UINT(&value));
    case VT_R4: return JsonNumber(V_R4(&value));
    case VT_R8: return JsonNumber(V_R8(&value));
    case VT_DISPATCH: {
        Microsoft::WRL::ComPtr<PageObject> object;
        if (V_DISPATCH(&value) &&
            SUCCEEDED(V_DISPATCH(&value)->QueryInterface(kPageObjectIid, reinterpret_cast<void**>(object.GetAddressOf())))) {
            return "{\"page\":" + JsonString(std::wstring(object->Page().begin(), object->Page().end())) +
                   ",\"fn\":" + std::to_string(object->Id()) + "}";
        }
        return "null";
    }
    default: return "null";   // VT_EMPTY, VT_NULL and what script cannot hold
    }
}

// Script values as the script engine passes them: rgvarg order, cleared on the way out.
class ArgumentArray {
public:
    ArgumentArray(const std::vector<ScriptValue>& args, const std::shared_ptr<EventQueue>& queue,
                  const std::string& page)
        : values_(args.size()) {
        for (size_t i = 0; i < args.size(); ++i) {
            VARIANT& out = values_[args.size() - 1 - i];
            ::VariantInit(&out);
            const ScriptValue& in = args[i];
            switch (in.kind) {
            case ScriptValue::Text:
                V_VT(&out) = VT_BSTR;
                V_BSTR(&out) = ::SysAllocStringLen(in.text.data(), static_cast<UINT>(in.text.size()));
                break;
            case ScriptValue::Integer: V_VT(&out) = VT_I4; V_I4(&out) = static_cast<LONG>(in.integer); break;
            case ScriptValue::Real: V_VT(&out) = VT_R8; V_R8(&out) = in.real; break;
            case ScriptValue::Boolean: V_VT(&out) = VT_BOOL; V_BOOL(&out) = in.integer ? VARIANT_TRUE : VARIANT_FALSE; break;
            case ScriptValue::Function:
                V_VT(&out) = VT_DISPATCH;
                V_DISPATCH(&out) = new PageObject(queue, page, in.integer);
                break;
            case ScriptValue::Null: V_VT(&out) = VT_NULL; break;
            case ScriptValue::Undefined: break;
            }
        }
    }
    ~ArgumentArray() {
        for (VARIANT& value : values_) ::VariantClear(&value);
    }
    ArgumentArray(const ArgumentArray&) = delete;
    ArgumentArray& operator=(const ArgumentArray&) = delete;
    VARIANT* Data() { return values_.empty() ? nullptr : values_.data(); }
    UINT Count() const { return static_cast<UINT>(values_.size()); }

private:
    std::vector<VARIANT> values_;
};

// A method without a value (VT_EMPTY) gives the page undefined, as the script engine does.
std::string Answer(HRESULT hr, const VARIANT* value) {
    std::string answer = "{\"hr\":" + std::to_string(static_cast<long>(hr));
    if (value && V_VT(value) != VT_EMPTY) answer += ",\"value\":" + ValueToJson(*value);
    return answer + "}";
}

// One page call on its way through the UI thread. A message box it opens is reported to the
// page, which shows it as its own dialog and sends back the button; the call then goes on.
struct PendingCall {
    BridgeRequest request;
    std::string page;
    bool done = false;
    std::string answer;
    HWND dialog = nullptr;        // the open message box, until the page answers it
    std::string dialogJson;
    bool dialogReported = false;
    unsigned long askReported = 0;   // the last credential prompt this call told the page of
};

// A credential prompt the page shows as its own dialogs (the system's prompt cannot be seen).
struct CredentialAsk {
    unsigned long id = 0;
    std::string json;
    bool answered = false;
    bool given = false;
    bool remember = false;
    utils::Credentials credentials;
};

struct Host {
    core::HtmlExternal* bridge = nullptr;
    std::wstring folder;        // the unpacked bundle, with trailing backslash
    std::string secretPrefix;   // "/<secret>/"
    std::string methodsJson;
    unsigned short port = 0;
    std::shared_ptr<EventQueue> events = std::make_shared<EventQueue>();
    HWND executor = nullptr;    // runs calls on the UI thread
    HWND window = nullptr;
    WNDPROC windowProc = nullptr;
    std::mutex windowMutex;
    std::string windowState = "null";
    std::set<std::wstring> statementCalls;   // UI thread only
    // The call in progress (the page makes one at a time) and the close of the run.
    std::mutex callMutex;
    std::condition_variable callChanged;
    std::shared_ptr<PendingCall> pending;
    std::shared_ptr<CredentialAsk> ask;   // the open credential prompt
    unsigned long asks = 0;
    int prompting = 0;                    // threads inside PagePrompt
    bool closing = false;
    HHOOK dialogHook = nullptr;
    std::string url;
};
Host* g_host = nullptr;   // one per process; the window procedures reach it here

// Rule for DISPATCH_PROPERTYGET: the host cannot see whether the page uses a call's value, so a
// call with arguments is first made as one whose value is used. A method that refuses that flag
// with DISP_E_MEMBERNOTFOUND takes statement calls: it is called again with DISPATCH_METHOD alone
// and from then on directly so (its entry log line, if any, appears twice on that first call).
std::string RunCall(Host& host, const BridgeRequest& request, const std::string& page) {
    ArgumentArray args(request.args, host.events, page);
    utils::ScopedVariant result;
    core::HtmlExternal* bridge = host.bridge;
    utils::ScopedBstr name(request.name);
    if (request.operation == "call") {
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR names[1] = {name.Get()};
        HRESULT hr = bridge->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
        if (FAILED(hr)) return Answer(hr, nullptr);
        DISPPARAMS params = {args.Data(), nullptr, args.Count(), 0};
        const bool statement = args.Count() == 0 || host.statementCalls.count(request.name) != 0;
        WORD flags = statement ? DISPATCH_METHOD : DISPATCH_METHOD | DISPATCH_PROPERTYGET;
        hr = bridge->Invoke(id, IID_NULL, 0, flags, &params, result.Receive(), nullptr, nullptr);
        if (hr == DISP_E_MEMBERNOTFOUND && !statement) {
            host.statementCalls.insert(request.name);
            hr = bridge->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, result.Receive(), nullptr, nullptr);
        }
        return Answer(hr, &result.Get());
    }
    if (request.operation == "delete") return Answer(bridge->DeleteMemberByName(name.Get(), fdexNameCaseSensitive), nullptr);

    const bool put = request.operation == "put";
    if (put && args.Count() != 1) return Answer(DISP_E_BADPARAMCOUNT, nullptr);
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = bridge->GetDispID(name.Get(), fdexNameCaseSensitive | (put ? fdexNameEnsure : 0), &id);
    if (FAILED(hr)) return Answer(hr, nullptr);
    if (!put) {
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        hr = bridge->InvokeEx(id, 0, DISPATCH_PROPERTYGET, &none, result.Receive(), nullptr, nullptr);
        return Answer(hr, &result.Get());
    }
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {args.Data(), &named, 1, 1};
    return Answer(bridge->InvokeEx(id, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr), nullptr);
}

LRESULT CALLBACK ExecutorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kRunOnUiThread && g_host) {
        std::shared_ptr<PendingCall> call;
        {
            std::lock_guard<std::mutex> lock(g_host->callMutex);
            call = g_host->pending;
        }
        if (!call) return 0;
        const std::string answer = RunCall(*g_host, call->request, call->page);
        std::lock_guard<std::mutex> lock(g_host->callMutex);
        call->done = true;
        call->answer = answer;
        call->dialog = nullptr;
        g_host->callChanged.notify_all();
        return 1;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

std::wstring WindowTextOf(HWND window) {
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(window, &text[0], static_cast<int>(text.size()))));
    return text;
}

// Message boxes that a call opens on the UI thread: the page is told what the box says.
LRESULT CALLBACK DialogHookProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && g_host) {
        const HWND box = reinterpret_cast<HWND>(wParam);
        wchar_t className[16] = {};
        ::GetClassNameW(box, className, 16);
        const HWND textControl = ::GetDlgItem(box, 0xFFFF);   // the message text of a message box
        std::lock_guard<std::mutex> lock(g_host->callMutex);
        const std::shared_ptr<PendingCall>& call = g_host->pending;
        if (call && !call->done && !call->dialog && textControl && std::wstring(className) == L"#32770") {
            call->dialog = box;
            call->dialogReported = false;
            call->dialogJson = "{\"dialog\":{\"text\":" + JsonString(WindowTextOf(textControl)) +
                               ",\"caption\":" + JsonString(WindowTextOf(box)) + ",\"buttons\":[\"ok\"" +
                               (::GetDlgItem(box, IDCANCEL) ? ",\"cancel\"" : "") + "]}}";
            g_host->callChanged.notify_all();
        }
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// Under callMutex: a credential prompt is open that this call has not told the page of.
bool AskToReport(Host& host, const PendingCall& call) {
    return host.ask && !host.ask->answered && call.askReported != host.ask->id;
}

// Waits until the call is done or shows a message box or credential prompt the page has not
// heard of yet (the page is inside this call and hears of nothing else meanwhile).
HttpResponse AwaitCall(Host& host, const std::shared_ptr<PendingCall>& call) {
    std::unique_lock<std::mutex> lock(host.callMutex);
    host.callChanged.wait(lock, [&] {
        return call->done || host.closing || (call->dialog && !call->dialogReported) || AskToReport(host, *call);
    });
    if (call->done) {
        if (host.pending == call) host.pending.reset();
        return HttpResponse{200, "application/json", call->answer};
    }
    if (host.closing) return HttpResponse{503, "text/plain", "the host window has closed"};
    if (AskToReport(host, *call)) {
        call->askReported = host.ask->id;
        return HttpResponse{200, "application/json", "{\"credentials\":" + host.ask->json + "}"};
    }
    call->dialogReported = true;
    return HttpResponse{200, "application/json", call->dialogJson};
}

void Log(core::HtmlExternal* bridge, bool error, const wchar_t* format, const wchar_t* text) {
    StubApplication* app = bridge->MethodTable() ? bridge->MethodTable()->Application() : nullptr;
    if (error) WriteErrorLog(app, format, text);
    else WriteDebugLog(app, format, text);
}

// The page learns the host window's visibility and client size (device pixels) from events.
void PublishWindowState(Host& host) {
    RECT client = {};
    ::GetClientRect(host.window, &client);
    const int dpi = htmlui::ScreenDpi();
    const std::string state = std::string("{\"type\":\"window\",\"visible\":") +
                              (::IsWindowVisible(host.window) ? "true" : "false") +
                              ",\"width\":" + std::to_string(client.right - client.left) +
                              ",\"height\":" + std::to_string(client.bottom - client.top) +
                              ",\"dpi\":" + std::to_string(dpi) + "}";
    {
        std::lock_guard<std::mutex> lock(host.windowMutex);
        if (state == host.windowState) return;
        host.windowState = state;
    }
    host.events->Push(state);
}

LRESULT CALLBACK WatchedWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const WNDPROC original = g_host->windowProc;
    const LRESULT result = ::CallWindowProcW(original, window, message, wParam, lParam);
    if (message == WM_WINDOWPOSCHANGED && g_host->window == window) PublishWindowState(*g_host);
    return result;
}

void WindowCreated(HWND window, void* context) {
    Host& host = *static_cast<Host*>(context);
    host.window = window;
    host.windowProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WatchedWindowProc)));
    PublishWindowState(host);
    // Only now: the first page already finds the window's state.
    std::printf("Development host: %s\n", host.url.c_str());
    std::fflush(stdout);
    // The log keeps no secret: the address is written without it.
    const std::wstring shown = L"http://127.0.0.1:" + std::to_wstring(host.port) + L"/.../Load.html";
    Log(host.bridge, false, L"DevHost: serving the bundle at %s", shown.c_str());
}

std::string ContentTypeOf(const std::wstring& path) {
    const size_t dot = path.find_last_of(L'.');
    std::wstring extension = dot == std::wstring::npos ? L"" : path.substr(dot + 1);
    for (wchar_t& c : extension) c = static_cast<wchar_t>(::towlower(c));
    if (extension == L"html" || extension == L"htm") return "text/html; charset=utf-8";
    if (extension == L"js") return "text/javascript; charset=utf-8";
    if (extension == L"css") return "text/css; charset=utf-8";
    if (extension == L"json") return "application/json";
    if (extension == L"xml") return "text/xml";
    if (extension == L"png") return "image/png";
    if (extension == L"gif") return "image/gif";
    if (extension == L"jpg" || extension == L"jpeg") return "image/jpeg";
    if (extension == L"svg") return "image/svg+xml";
    if (extension == L"ico") return "image/x-icon";
    return "application/octet-stream";
}

// The shim goes in right after <head> (or <html>), so it runs before any script of the page.
void InjectShim(std::string& html, const std::string& shimUrl) {
    std::string lower = html;
    for (char& c : lower) if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    const std::string tag = "<script src=\"" + shimUrl + "\"></script>";
    for (const char* element : {"<head", "<html"}) {
        size_t at = lower.find(element);
        while (at != std::string::npos) {
            const char next = at + 5 < lower.size() ? lower[at + 5] : '\0';
            if (next == '>' || next == ' ' || next == '\t' || next == '\r' || next == '\n') break;
            at = lower.find(element, at + 1);
        }
        const size_t close = at == std::string::npos ? std::string::npos : lower.find('>', at);
        if (close != std::string::npos) {
            html.insert(close + 1, tag);
            return;
        }
    }
    html.insert(0, tag);
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
    utils::ScopedFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file || !::GetFileSizeEx(file.Get(), &size) || size.QuadPart > 64 * 1024 * 1024) return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    return bytes.empty() ||
           (::ReadFile(file.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) && read == bytes.size());
}

HttpResponse Status(int status, const char* text) {
    HttpResponse response;
    response.status = status;
    response.body = text;
    return response;
}

HttpResponse ServeFile(Host& host, const std::string& path) {
    std::string bytes;
    if (!PercentDecode(path.empty() ? "Load.html" : path, bytes)) return Status(400, "bad path");
    std::wstring relative = core::FromUtf8(bytes);
    // Only files below the bundle folder.
    if (relative.empty() || relative[0] == L'/' || relative.find(L'\\') != std::wstring::npos ||
        relative.find(L':') != std::wstring::npos || relative.find(wchar_t(0)) != std::wstring::npos)
        return Status(404, "not found");
    size_t start = 0;
    while (start <= relative.size()) {
        size_t end = relative.find(L'/', start);
        if (end == std::wstring::npos) end = relative.size();
        const std::wstring segment = relative.substr(start, end - start);
        if (segment.empty() || segment == L"." || segment == L"..") return Status(404, "not found");
        start = end + 1;
    }
    for (wchar_t& c : relative) if (c == L'/') c = L'\\';
    HttpResponse response;
    const std::wstring file = host.folder + relative;
    // The host window's own rule, so both hosts serve exactly the bundle.
    if (!htmlui::IsInsideBundle(file, host.folder)) return Status(404, "not found");
    if (!ReadWholeFile(file, response.body)) return Status(404, "not found");
    response.contentType = ContentTypeOf(file);
    if (response.contentType.compare(0, 9, "text/html") == 0)
        InjectShim(response.body, host.secretPrefix + ".devhost/shim.js");
    return response;
}

// The page's answer to the open credential prompt: id, then given, user, password, remember.
HttpResponse AnswerCredentials(Host& host, const BridgeRequest& answer) {
    const std::vector<ScriptValue>& args = answer.args;
    if (args.size() != 4 || args[0].kind != ScriptValue::Boolean || args[1].kind != ScriptValue::Text ||
        args[2].kind != ScriptValue::Text || args[3].kind != ScriptValue::Boolean)
        return Status(400, "bad credentials answer");
    std::shared_ptr<PendingCall> open;
    {
        std::lock_guard<std::mutex> lock(host.callMutex);
        const std::shared_ptr<CredentialAsk> ask = host.ask;
        if (!ask || ask->answered || std::to_wstring(ask->id) != answer.name)
            return Status(409, "no such credential prompt is open");
        ask->answered = true;
        ask->given = args[0].integer != 0;
        ask->credentials.user = args[1].text;
        ask->credentials.password = args[2].text;
        ask->remember = args[3].integer != 0;
        host.callChanged.notify_all();
        if (host.pending && !host.pending->done) open = host.pending;
    }
    // Asked inside a call: the call goes on.
    return open ? AwaitCall(host, open) : HttpResponse{200, "application/json", "{}"};
}

// The credential prompt of this host: the page shows it, whichever thread asks.
bool PagePrompt(const std::wstring& target, bool proxy, bool retry, utils::Credentials& out, bool& remember) {
    Host* host = g_host;
    if (!host) return false;
    std::unique_lock<std::mutex> lock(host->callMutex);
    if (host->closing) return false;
    ++host->prompting;
    auto ask = std::make_shared<CredentialAsk>();
    ask->id = ++host->asks;
    ask->json = "{\"id\":" + std::to_string(ask->id) + ",\"target\":" + JsonString(target) +
                ",\"proxy\":" + (proxy ? "true" : "false") + ",\"retry\":" + (retry ? "true" : "false") + "}";
    host->ask = ask;
    host->events->Push("{\"type\":\"credentials\",\"ask\":" + ask->json + "}");
    host->callChanged.notify_all();
    host->callChanged.wait(lock, [&] { return ask->answered || host->closing; });
    if (host->ask == ask) host->ask.reset();
    const bool given = ask->answered && ask->given;
    if (given) {
        out = ask->credentials;
        remember = ask->remember;
    }
    ask->credentials.Clear();
    --host->prompting;
    host->callChanged.notify_all();
    return given;
}

// After the window: nobody can answer.
bool NoPrompt(const std::wstring&, bool, bool, utils::Credentials&, bool&) { return false; }

HttpResponse Handle(Host& host, const HttpRequest& request) {
    // Only the URL this run printed, asked for by its own pages: the secret, the address it names
    // (no other host names), no other origin, and calls no plain cross-site request can make.
    const int refused = AdmitRequest(request, host.secretPrefix, host.port);
    if (refused != 0) return Status(refused, refused == 415 ? "unsupported content type" : "forbidden");
    std::string path = request.target.substr(host.secretPrefix.size());
    path = path.substr(0, path.find_first_of("?#"));

    if (path == ".devhost/events") {
        const size_t at = request.target.find("?after=");
        const unsigned long long after =
            at == std::string::npos ? 0 : std::strtoull(request.target.c_str() + at + 7, nullptr, 10);
        return HttpResponse{200, "application/json", host.events->Take(after, std::chrono::seconds(20))};
    }
    if (path == ".devhost/shim.js") {
        std::string window;
        unsigned long long after = 0;
        {
            // the state and the number are read together: later events all come after both
            std::lock_guard<std::mutex> lock(host.windowMutex);
            window = host.windowState;
            after = host.events->Last();
        }
        return HttpResponse{200, "text/javascript; charset=utf-8",
                            BuildShim(host.secretPrefix + ".devhost/", host.methodsJson, window, after)};
    }
    if (path == ".devhost/call") {
        if (request.method != "POST") return Status(405, "POST only");
        std::shared_ptr<PendingCall> call = std::make_shared<PendingCall>();
        if (!ParseBridgeRequest(request.body, call->request)) return Status(400, "bad call");
        if (call->request.operation == "credentials") return AnswerCredentials(host, call->request);
        if (call->request.operation == "answer") {
            // The page's button for the open message box; then the call goes on.
            std::shared_ptr<PendingCall> open;
            {
                std::lock_guard<std::mutex> lock(host.callMutex);
                open = host.pending;
                if (!open || !open->dialog || !open->dialogReported) return Status(409, "no message box is open");
                const WPARAM button = call->request.name == L"cancel" ? IDCANCEL : IDOK;
                ::PostMessageW(open->dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
                open->dialog = nullptr;
            }
            return AwaitCall(host, open);
        }
        const auto pageHeader = request.headers.find("x-devhost-page");
        if (pageHeader != request.headers.end()) call->page = pageHeader->second;
        {
            std::lock_guard<std::mutex> lock(host.callMutex);
            if (host.closing || host.pending) return Status(host.closing ? 503 : 409, "the host is busy or closed");
            host.pending = call;
            // Runs on the UI thread, like a call from the script engine.
            if (!::PostMessageW(host.executor, kRunOnUiThread, 0, 0)) {
                host.pending.reset();
                return Status(503, "the host window has closed");
            }
        }
        return AwaitCall(host, call);
    }
    if (request.method != "GET" && request.method != "HEAD") return Status(405, "GET only");
    return ServeFile(host, path);
}

std::string NewSecret() {
    GUID guid = {};
    if (FAILED(::CoCreateGuid(&guid))) return std::string();
    char text[33];
    std::snprintf(text, sizeof(text), "%08lx%04x%04x%02x%02x%02x%02x%02x%02x%02x%02x",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

} // namespace

bool RunBrowserWindow(const wchar_t* startPage, core::HtmlExternal* bridge) {
    if (!startPage || !bridge || g_host) return false;
    Host host;
    host.bridge = bridge;
    host.folder = utils::ParentFolder(startPage);
    const std::string secret = NewSecret();
    if (secret.empty()) return false;
    host.secretPrefix = "/" + secret + "/";
    host.methodsJson = "[";
    if (bridge->MethodTable()) {
        for (const auto& method : bridge->MethodTable()->Methods())
            host.methodsJson += (host.methodsJson.size() > 1 ? "," : "") + JsonString(method.first);
    }
    host.methodsJson += "]";

    const std::wstring portText = utils::GetArgValue(utils::GetCommandLineArgs(), L"devhostPort");
    HttpServer server([&host](const HttpRequest& request) { return Handle(host, request); });
    if (!server.Start(static_cast<unsigned short>(std::wcstoul(portText.c_str(), nullptr, 10)))) {
        Log(bridge, true, L"DevHost: cannot listen on 127.0.0.1 port %s", portText.c_str());
        return false;
    }
    host.port = server.Port();

    WNDCLASSEXW executorClass = {};
    executorClass.cbSize = sizeof(executorClass);
    executorClass.lpfnWndProc = ExecutorProc;
    executorClass.hInstance = ::GetModuleHandleW(nullptr);
    executorClass.lpszClassName = kExecutorClass;
    ::RegisterClassExW(&executorClass);
    host.executor = ::CreateWindowExW(0, kExecutorClass, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      ::GetModuleHandleW(nullptr), nullptr);
    if (!host.executor) {
        server.Stop(0);
        return false;
    }
    g_host = &host;
    host.dialogHook = ::SetWindowsHookExW(WH_CBT, DialogHookProc, nullptr, ::GetCurrentThreadId());
    utils::SetCredentialPrompt(PagePrompt);

    host.url = "http://127.0.0.1:" + std::to_string(host.port) + host.secretPrefix + "Load.html";

    const bool ran = htmlui::RunHostWindowWithoutDocument(bridge, WindowCreated, &host);

    // The page hears that the window closed; calls still arriving are refused from here on.
    utils::SetCredentialPrompt(NoPrompt);
    {
        std::unique_lock<std::mutex> lock(host.callMutex);
        host.closing = true;
        host.callChanged.notify_all();
        // A prompt still waiting gives up now; it must be out before the host goes.
        host.callChanged.wait(lock, [&] { return host.prompting == 0; });
    }
    host.events->Close();
    // The page may be between two polls: give it the chance to hear the close before the server goes.
    host.events->WaitDrained(std::chrono::seconds(3));
    server.Stop(5000);
    if (host.dialogHook) ::UnhookWindowsHookEx(host.dialogHook);
    ::DestroyWindow(host.executor);
    g_host = nullptr;
    std::printf("Development host: closed\n");
    std::fflush(stdout);
    return ran;
}

} // namespace devhost

#include "stubframework/htmlui/HostWindow.h"
#include "stubframework/core/HtmlExternal.h"
#include "stubframework/htmlui/MSHTMLClient.h"
#include "stubframework/utils/Paths.h"

#include <new>

namespace stubframework { namespace htmlui {

const wchar_t kHostWindowClass[] = L"HTMLUI";

namespace {
ATOM g_classAtom = 0;

struct CreateParams {
    const wchar_t* startPage;
    core::HtmlExternal* bridge;
    bool* closeFlag;
    bool withDocument;   // false: the page is shown elsewhere, the window only carries the state
};

HostWindowData* DataOf(HWND window) {
    if (!window || !g_classAtom || ::GetClassLongW(window, GCW_ATOM) != g_classAtom) return nullptr;
    return reinterpret_cast<HostWindowData*>(::GetWindowLongPtrW(window, 0));
}

// Everything WM_CREATE set up, undone; also the path of a failed creation, where the system
// may or may not send WM_DESTROY.
void DestroyData(HWND window) {
    HostWindowData* data = DataOf(window);
    if (!data) return;
    ::SetWindowLongPtrW(window, 0, 0);
    if (data->site) {
        data->site->CloseDocument();
        data->site->Detach();
    }
    if (data->bridge) data->bridge->SetWindow(nullptr);
    delete data;   // releases the site
}

LRESULT OnCreate(HWND window, const CREATESTRUCTW* create) {
    const CreateParams* params = create ? static_cast<const CreateParams*>(create->lpCreateParams) : nullptr;
    if (!params || (params->withDocument && !params->startPage)) return -1;
    HostWindowData* data = new (std::nothrow) HostWindowData{nullptr, params->bridge, nullptr, params->closeFlag};
    if (!data) return -1;
    if (!params->withDocument) {
        ::SetWindowLongPtrW(window, 0, reinterpret_cast<LONG_PTR>(data));
        if (data->bridge) data->bridge->SetWindow(window);
        return 0;
    }
    // The record takes the new site's first reference.
    *data->site.GetAddressOf() = new (std::nothrow) MSHTMLClient(window, params->bridge, utils::ParentFolder(params->startPage));
    if (!data->site) {
        delete data;
        return -1;
    }
    ::SetWindowLongPtrW(window, 0, reinterpret_cast<LONG_PTR>(data));
    if (data->bridge) data->bridge->SetWindow(window);
    if (data->site->CreateDocument() && data->site->Navigate(params->startPage)) return 0;
    DestroyData(window);
    return -1;
}

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    HostWindowData* data = DataOf(window);
    switch (message) {
    case WM_CREATE:
        return OnCreate(window, reinterpret_cast<const CREATESTRUCTW*>(lParam));
    case WM_DESTROY:
        DestroyData(window);
        return 0;
    case WM_SIZE:
        if (data && data->site) data->site->Resize();
        return 0;
    case WM_ACTIVATE:
        if (data && LOWORD(wParam) == WA_INACTIVE) {
            const HWND focus = ::GetFocus();
            data->savedFocus = focus == window ? nullptr : focus;
        }
        break;
    case WM_SETFOCUS:
        if (data && data->savedFocus && ::IsWindow(data->savedFocus)) {
            ::SetFocus(data->savedFocus);
            return 0;
        }
        break;
    case WM_CLOSE:
        if (data) {
            *data->closeFlag = true;
            return 0;
        }
        break;
    default:
        break;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}
} // namespace

bool RegisterHostWindowClass() {
    if (g_classAtom) return true;
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = 0;
    windowClass.lpfnWndProc = HostWindowProc;
    windowClass.cbWndExtra = sizeof(HostWindowData*);
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kHostWindowClass;
    g_classAtom = ::RegisterClassExW(&windowClass);
    return g_classAtom != 0;
}

ATOM HostWindowClassAtom() { return g_classAtom; }

namespace {
bool RunWindow(CreateParams& params, void (*created)(HWND, void*), void* context) {
    if (!RegisterHostWindowClass()) return false;
    bool closeFlag = false;
    params.closeFlag = &closeFlag;
    const HWND window = ::CreateWindowExW(WS_EX_APPWINDOW, MAKEINTATOM(g_classAtom), nullptr, WS_POPUP | WS_VISIBLE,
                                          0, 0, 0, 0, nullptr, nullptr, ::GetModuleHandleW(nullptr), &params);
    if (!window) return false;
    if (created) created(window, context);
    RunMessageLoop(closeFlag, window);
    ::DestroyWindow(window);
    return true;
}
} // namespace

bool RunHostWindow(const wchar_t* startPage, core::HtmlExternal* bridge) {
    CreateParams params = {startPage, bridge, nullptr, true};
    return RunWindow(params, nullptr, nullptr);
}

bool RunHostWindowWithoutDocument(core::HtmlExternal* bridge, void (*created)(HWND, void*), void* context) {
    CreateParams params = {nullptr, bridge, nullptr, false};
    return RunWindow(params, created, context);
}

bool RequestHostWindowClose(HWND window) {
    HostWindowData* data = DataOf(window);
    if (!data) return false;
    *data->closeFlag = true;
    return true;
}

void RunMessageLoop(const bool& closeFlag, HWND window) {
    while (!closeFlag) {
        MSG message;
        if (!::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (closeFlag) break;
            ::WaitMessage();
            continue;
        }
        if (message.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        // The document may change with every followed link, so it is looked up each time.
        HostWindowData* data = DataOf(window);
        if (data && data->site && data->site->TranslateDocumentAccelerator(&message) == S_OK) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

}} // namespace stubframework::htmlui

// The borderless top-level window "HTMLUI" whose client area is the in-place MSHTML document.
#pragma once
#include <windows.h>
#include <wrl/client.h>

namespace stubframework { namespace core { class HtmlExternal; } }

namespace stubframework { namespace htmlui {

class MSHTMLClient;

extern const wchar_t kHostWindowClass[];   // "HTMLUI"

// Lives from WM_CREATE to WM_DESTROY; the window's extra bytes point to it.
struct HostWindowData {
    Microsoft::WRL::ComPtr<MSHTMLClient> site;   // one counted reference; none without a document
    core::HtmlExternal* bridge;     // not counted
    HWND savedFocus;                // focus to give back on reactivation
    bool* closeFlag;                // the message loop waits on it
};

// Registers the class once per process; later calls reuse the atom.
bool RegisterHostWindowClass();
ATOM HostWindowClassAtom();

// Creates the window on the start page and runs its message loop until it is closed. False
// when the window cannot be created (no HTML engine, no page), and then nothing runs.
bool RunHostWindow(const wchar_t* startPage, core::HtmlExternal* bridge);

// A host window whose page is shown elsewhere (the development host's browser): the window
// carries the close flag, size and visibility that the window methods act on, starts out as the
// real one does, and runs the same loop. `created` runs once the window exists, before the loop.
bool RunHostWindowWithoutDocument(core::HtmlExternal* bridge, void (*created)(HWND window, void* context),
                                  void* context);

// Sets the close flag of a host window; false for any other window.
bool RequestHostWindowClose(HWND window);

// Runs messages until the flag is set. Each message is offered to the site's document first;
// a WM_QUIT is posted again and ends the loop. Any window works; only a host window has a
// document to offer messages to.
void RunMessageLoop(const bool& closeFlag, HWND window);

}} // namespace stubframework::htmlui

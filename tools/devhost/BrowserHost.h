// The development host's window runner: instead of the MSHTML window it serves the unpacked
// bundle to a browser on 127.0.0.1 and carries the page's window.external calls to the bridge.
#pragma once

namespace stubframework { namespace core { class HtmlExternal; } }

namespace devhost {

// Prints the page's URL (with the run's secret), runs a document-less host window and its message
// loop until the page closes it, then stops serving. "devhostPort=N" on the command line picks
// the port; without it any free port is used.
bool RunBrowserWindow(const wchar_t* startPage, stubframework::core::HtmlExternal* bridge);

} // namespace devhost

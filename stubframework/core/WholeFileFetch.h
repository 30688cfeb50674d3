// A whole file over one WinINet request, for URL-moniker downloads whose moniker passed a
// proxy's or server's challenge on without asking for credentials (some implementations do):
// the request answers it itself.
#pragma once
#include <windows.h>
#include <urlmon.h>

namespace stubframework { namespace core {

// Writes url into file from its start (cutting it at the end), telling inner (may be null)
// BEGINDOWNLOADDATA, DOWNLOADINGDATA and ENDDOWNLOADDATA as a binding would; E_ABORT from
// inner stops it. The result reads as PullDownloadToFile's: S_OK, S_FALSE for a short body,
// E_ABORT, INET_E_OBJECT_NOT_FOUND, INET_E_DOWNLOAD_FAILURE, a write error, or
// utils::kCredentialsCancelledHr. This thread's messages are dispatched while it waits.
HRESULT FetchWholeFile(const wchar_t* url, HANDLE file, IBindStatusCallback* inner);

}} // namespace stubframework::core

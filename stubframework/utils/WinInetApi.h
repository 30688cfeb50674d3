// WinINet functions loaded at run time from the system folder: wininet.dll is not a KnownDLL,
// so it must never appear in the import table of the elevated stub.
#pragma once
#include <windows.h>
#include <wininet.h>
#include <urlmon.h>

namespace stubframework { namespace utils {

struct WinInetApi {
    decltype(&::InternetOpenA) InternetOpenA;
    decltype(&::InternetSetOptionW) InternetSetOptionW;
    decltype(&::InternetCrackUrlW) InternetCrackUrlW;
    decltype(&::InternetConnectW) InternetConnectW;
    decltype(&::HttpOpenRequestW) HttpOpenRequestW;
    decltype(&::InternetSetStatusCallbackA) InternetSetStatusCallbackA;
    decltype(&::HttpAddRequestHeadersA) HttpAddRequestHeadersA;
    decltype(&::HttpSendRequestA) HttpSendRequestA;
    decltype(&::HttpQueryInfoA) HttpQueryInfoA;
    decltype(&::InternetQueryDataAvailable) InternetQueryDataAvailable;
    decltype(&::InternetReadFile) InternetReadFile;
    decltype(&::InternetCloseHandle) InternetCloseHandle;
    decltype(&::DeleteUrlCacheEntryW) DeleteUrlCacheEntryW;
    decltype(&::InternetCheckConnectionW) InternetCheckConnectionW;
    decltype(&::InternetCombineUrlW) InternetCombineUrlW;
    decltype(&::InternetQueryOptionW) InternetQueryOptionW;
};

// The loaded table, or null when wininet.dll or one of its functions is missing. The library
// stays loaded for the life of the process: its threads call back into us.
const WinInetApi* GetWinInetApi();

// The URL-moniker functions of urlmon.dll (not a KnownDLL either), or null when one is missing.
struct UrlMonApi {
    HRESULT(WINAPI* CreateURLMonikerEx)(IMoniker*, LPCWSTR, IMoniker**, DWORD);
    HRESULT(WINAPI* CreateAsyncBindCtx)(DWORD, IBindStatusCallback*, IEnumFORMATETC*, IBindCtx**);
};
const UrlMonApi* GetUrlMonApi();

// The system's HTTP user agent (urlmon, also loaded at run time). E_OUTOFMEMORY with the needed
// size in *size when the buffer is too small, like the system function.
HRESULT ObtainUserAgent(char* buffer, DWORD* size);

}} // namespace stubframework::utils

// WinHTTP functions loaded at run time from the system folder: winhttp.dll is not a KnownDLL,
// so it must never appear in the import table of the elevated stub.
#pragma once
#include <windows.h>
#include <winhttp.h>

namespace stubframework { namespace utils {

struct WinHttpApi {
    decltype(&::WinHttpGetIEProxyConfigForCurrentUser) WinHttpGetIEProxyConfigForCurrentUser;
    decltype(&::WinHttpOpen) WinHttpOpen;
    decltype(&::WinHttpConnect) WinHttpConnect;
    decltype(&::WinHttpOpenRequest) WinHttpOpenRequest;
    decltype(&::WinHttpSendRequest) WinHttpSendRequest;
    decltype(&::WinHttpReceiveResponse) WinHttpReceiveResponse;
    decltype(&::WinHttpReadData) WinHttpReadData;
    decltype(&::WinHttpCloseHandle) WinHttpCloseHandle;
    decltype(&::WinHttpQueryHeaders) WinHttpQueryHeaders;
    decltype(&::WinHttpQueryAuthSchemes) WinHttpQueryAuthSchemes;
    decltype(&::WinHttpSetCredentials) WinHttpSetCredentials;
    decltype(&::WinHttpSetOption) WinHttpSetOption;
};

// The loaded table, or null when winhttp.dll or one of its functions is missing.
const WinHttpApi* GetWinHttpApi();

}} // namespace stubframework::utils

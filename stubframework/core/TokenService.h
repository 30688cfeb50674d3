// Tokenized download addresses from the installer web service, the address probe of the
// self-update check and the network state. WinINet only: the .cpp must never see <winhttp.h>.
#pragma once
#include <string>

namespace stubframework { namespace core {

// POSTs address (UTF-8, no content type) to serviceUrl and replaces it with the answer's
// tokenized address. False, and address unchanged, on any failure or an answer without one.
bool Tokenize(const std::wstring& serviceUrl, std::wstring& address);

// True exactly when a request for address answers 200; redirects are not followed.
bool ProbeUrl(const std::wstring& address);

// InternetGetConnectedState; false when WinINet cannot be loaded.
bool IsInternetConnected();

}} // namespace stubframework::core

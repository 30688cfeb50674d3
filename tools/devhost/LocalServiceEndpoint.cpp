// The endpoint of the local development host: an installer web-service double on 127.0.0.1,
// at the port given in TANDORA_DEVHOST_SERVICE_PORT (the real host is not reachable from a
// development machine). Linked in place of the built-in endpoint; never in the shipping exe.
#include "stubframework/core/ServiceEndpoint.h"

#include <windows.h>

#include <cwchar>

namespace stubframework { namespace core {

ServiceEndpoint InstallerServiceEndpoint() {
    ServiceEndpoint endpoint;
    endpoint.host = L"127.0.0.1";
    // Without a port every report fails at once, as with an unreachable service.
    endpoint.port = 0;
    wchar_t text[16] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"TANDORA_DEVHOST_SERVICE_PORT", text, 16);
    if (length > 0 && length < 16) {
        wchar_t* end = nullptr;
        const unsigned long port = std::wcstoul(text, &end, 10);
        if (end != text && *end == L'\0' && port > 0 && port < 65536)
            endpoint.port = static_cast<unsigned short>(port);
    }
    return endpoint;
}

}} // namespace stubframework::core

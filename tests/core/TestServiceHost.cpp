// The endpoint of the test build of the stub: the service double on 127.0.0.1, at the port its
// fixture wrote. Linked into that executable in place of the built-in endpoint.
#include "stubframework/core/ServiceEndpoint.h"
#include "stubframework/utils/Handle.h"

#include <cstdlib>

namespace stubframework { namespace core {

ServiceEndpoint InstallerServiceEndpoint() {
    ServiceEndpoint endpoint;
    endpoint.host = L"127.0.0.1";
    endpoint.port = 0;
    utils::ScopedFileHandle file(::CreateFileW(TANDORA_SERVICE_STATE L"\\port", GENERIC_READ, FILE_SHARE_READ,
                                               nullptr, OPEN_EXISTING, 0, nullptr));
    char text[16] = {};
    DWORD got = 0;
    if (file && ::ReadFile(file.Get(), text, sizeof(text) - 1, &got, nullptr))
        endpoint.port = static_cast<unsigned short>(std::atoi(text));
    return endpoint;
}

}} // namespace stubframework::core

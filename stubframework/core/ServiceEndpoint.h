// Where the installer web service is reached. The shipping build has it built in; tests hand
// their own endpoint to the reporter.
#pragma once
#include <string>

namespace stubframework { namespace core {

struct ServiceEndpoint {
    std::wstring host;
    unsigned short port = 443;
    bool secure = true;     // https; plain http only for tests behind a proxy
};

// The built-in installer web-service endpoint.
ServiceEndpoint InstallerServiceEndpoint();

// "https://" (or "http://") + host (+ ":" + port when not the scheme's own) + path.
std::wstring ServiceUrl(const ServiceEndpoint& endpoint, const std::wstring& path);

}} // namespace stubframework::core

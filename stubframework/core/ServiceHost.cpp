// The built-in service endpoint, set by the build (TANDORA_SERVICE_HOST, TANDORA_SERVICE_PORT).
#include "stubframework/core/ServiceEndpoint.h"

#ifndef TANDORA_SERVICE_HOST
#error "TANDORA_SERVICE_HOST must be defined by the build"
#endif
#ifndef TANDORA_SERVICE_PORT
#define TANDORA_SERVICE_PORT 443
#endif

namespace stubframework { namespace core {

ServiceEndpoint InstallerServiceEndpoint() {
    ServiceEndpoint endpoint;
    endpoint.host = TANDORA_SERVICE_HOST;
    endpoint.port = TANDORA_SERVICE_PORT;
    return endpoint;
}

}} // namespace stubframework::core

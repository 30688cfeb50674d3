// The installer web-service double the fixture started: its endpoint, the requests it recorded
// and the answers it gives.
#pragma once
#include <string>
#include <vector>

#include "stubframework/core/ServiceEndpoint.h"

namespace testsupport {

struct RecordedRequest {
    std::string verb;
    std::string path;
    std::string head;       // request line and headers as the double saw them
    std::string body;
    std::string unzip;      // for uploads: "rc=N" and the output of unzip -t and zipinfo
    std::string Header(const std::string& name) const;   // "" when absent
};

class ServiceDouble {
public:
    // Forgets earlier requests and answers.
    ServiceDouble();
    ~ServiceDouble();

    stubframework::core::ServiceEndpoint Endpoint() const;
    // An endpoint where nothing listens.
    static stubframework::core::ServiceEndpoint DeadEndpoint();

    // The answer for paths ending in segment ("isInEmbargoedCountry", "token"), with a Location
    // header when location is not empty.
    void SetAnswer(const std::string& segment, const std::string& body, int status = 200,
                   const std::string& location = std::string());

    // Waits (bounded) until at least count requests arrived; returns them in arrival order.
    std::vector<RecordedRequest> WaitForRequests(size_t count, unsigned timeoutMs = 15000) const;

private:
    void Clear(const std::wstring& folder) const;
};

} // namespace testsupport

// One synchronous HTTPS request to the installer web service through WinHTTP, with the user's
// browser proxy settings. WinHTTP only: this file's .cpp must never see <wininet.h>.
#pragma once
#include <string>

#include "stubframework/core/ServiceEndpoint.h"

namespace stubframework { namespace core {

extern const wchar_t ReportUserAgent[];     // "Kestrio Message Client/1.0"

// Sends body with "Content-Type:application/xml" and takes the answer's status (its body is not
// read). True when the request went out and was not refused for want of credentials. Proxy and
// service challenges are answered as utils::AuthRound says; mayPrompt: whether the user may be
// asked (not for the reports the run sends before its window opens and after it closed).
bool SendServiceRequest(const ServiceEndpoint& endpoint, const wchar_t* verb, const std::wstring& path,
                        const std::string& body, bool mayPrompt);

// POSTs body (with the content type only when body is not empty), waits for the answer and
// reads all of it in pieces of at most 256 bytes. False when any step fails. Challenges are
// answered as for SendServiceRequest, the user may be asked.
bool PostAndReadAnswer(const ServiceEndpoint& endpoint, const std::wstring& path, const std::string& body,
                       std::string& answer);

}} // namespace stubframework::core

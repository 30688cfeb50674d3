// Which tokenized address the stub takes from the installer web service in place of a download
// address: the service may change the path and the query (where the token goes), never where the
// bytes come from. No Windows headers here: tested natively.
#pragma once
#include <string>
#include <vector>

namespace stubframework { namespace core {

// True when answer may replace address: same scheme (or http raised to https; https never
// becomes http), same host and port, or a host named in publisherHosts ("host" for the
// scheme's default port, "host:port" for another). False with reason (English) otherwise,
// also for an answer that names a user, holds a backslash, a blank or a control character.
bool TokenAnswerAllowed(const std::wstring& address, const std::wstring& answer,
                        const std::vector<std::wstring>& publisherHosts, std::wstring& reason);

// A host list as built in, entries separated by ";" or ",", blanks around them dropped, lower case.
std::vector<std::wstring> SplitHostList(const std::wstring& list);

}} // namespace stubframework::core

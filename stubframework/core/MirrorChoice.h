// Which of a file's addresses is asked first. When a download had to leave its own address for a
// mirror, the rest of the run's downloads from that address's origin start at the mirror that
// served it; one that succeeds at its own address again puts that origin back in front.
#pragma once
#include <string>
#include <vector>

namespace stubframework { namespace core {

// "scheme://host[:port]" of url, lower-cased; the whole url when it has no "://".
std::wstring OriginOf(const std::wstring& url);

// addresses (the file's own first, then its mirrors) with the one this run chose for the first
// address's origin moved to the front; the others keep their order.
std::vector<std::wstring> InChosenOrder(const std::vector<std::wstring>& addresses);

// address delivered the file published at url: its origin is chosen for url's.
void RememberServingAddress(const std::wstring& url, const std::wstring& address);

// Forgets every choice (tests).
void ForgetMirrorChoicesForTesting();

}} // namespace stubframework::core

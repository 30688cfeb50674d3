// Publishing as the build's publisher does: the tests' files get the signatures the stub, built
// with the development key, demands.
#pragma once
#include <string>

namespace testsupport {

// Writes sigPath (default: path + ".sig"), the development key's signature over the file.
bool PublishSignature(const std::wstring& path, const std::wstring& sigPath = std::wstring());

} // namespace testsupport

// Windows Installer transforms for the probe package, written at test time (Wine cannot generate
// one): a storage with the transform class, a string pool and one changed Property row.
#pragma once
#include <string>

namespace installtest {

// Writes path: a transform that sets the probe's property PROP to value.
bool WritePropTransform(const std::wstring& path, const std::string& value);

} // namespace installtest

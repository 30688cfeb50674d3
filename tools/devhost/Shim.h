// The script the development host puts in front of every page's own scripts: it defines
// window.external on top of the host's call and event requests.
#pragma once
#include <string>

namespace devhost {

// `base` is the URL path of the host's requests ("/<secret>/.devhost/"), `methods` a JSON array
// of the method table's names and `windowState` the JSON of the window's last state.
std::string BuildShim(const std::string& base, const std::string& methods, const std::string& windowState);

} // namespace devhost

// The script the development host puts in front of every page's own scripts: it defines
// window.external on top of the host's call and event requests.
#pragma once
#include <string>

namespace devhost {

// `base` is the URL path of the host's requests ("/<secret>/.devhost/"), `methods` a JSON array
// of the method table's names, `windowState` the JSON of the window's last state and `lastEvent`
// the number of the last event queued so far (the page polls for those after it).
std::string BuildShim(const std::string& base, const std::string& methods, const std::string& windowState,
                      unsigned long long lastEvent);

} // namespace devhost

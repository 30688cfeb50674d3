// The executable's entry: tells the launcher pass, the UI instance and the self-replace pass apart.
#pragma once
#include "stubframework/utils/CommandLine.h"

namespace stubframework {

class StubApplication;
class ExternalMethods;
namespace core { class HtmlExternal; }

// How a UI instance shows its page and which method table it builds. Empty members keep the
// shipping stub's own: the MSHTML host window and MyExternalMethods. The development host hands
// the page to a browser, and its tests add rows of their own.
struct UiHost {
    bool (*runWindow)(const wchar_t* startPage, core::HtmlExternal* bridge) = nullptr;
    ExternalMethods* (*makeMethods)(StubApplication* app) = nullptr;
};

int StubMain(const UiHost& host = UiHost());

// The three runs.
int RunLauncherPass();
[[noreturn]] void RunSelfReplacePass(const utils::StartupSwitches& switches);
int RunUiInstance(const utils::StartupSwitches& switches, const UiHost& host = UiHost());

} // namespace stubframework

// The executable's entry: tells the launcher pass, the UI instance and the self-replace pass apart.
#pragma once
#include "stubframework/utils/CommandLine.h"

namespace stubframework {

int StubMain();

// The three runs.
int RunLauncherPass();
[[noreturn]] void RunSelfReplacePass(const utils::StartupSwitches& switches);
int RunUiInstance(const utils::StartupSwitches& switches);

} // namespace stubframework

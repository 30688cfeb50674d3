#include <windows.h>
#include "StubCore/StubMain.h"
#include "tools/devhost/BrowserHost.h"

int wmain() {
    stubframework::UiHost host;
    host.runWindow = devhost::RunBrowserWindow;
    return stubframework::StubMain(host);
}

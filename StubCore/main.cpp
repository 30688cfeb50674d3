#include <windows.h>
#include "StubCore/StubMain.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return stubframework::StubMain(); }

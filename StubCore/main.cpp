#include <windows.h>
#include <cstdlib>
#include "StubCore/StubMain.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return stubframework::StubMain(); }

// The runtime's default handler for an uncaught exception prints the exception's demangled type
// name to a console this program never has, and brings the whole demangler (about 40 KiB) along.
// The stub throws nothing of its own; should the library throw, the process ends all the same.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
} // namespace __gnu_cxx

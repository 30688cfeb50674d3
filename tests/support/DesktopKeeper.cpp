// Keeps the Wine desktop in use for a whole test run. Without a long-lived user, the first test
// that needs the desktop starts its window-station process, which inherits that test's output
// pipe and keeps it open while other tests run: the test then looks many seconds slower than it
// is. The test script starts this off the test runner's pipes; the Wine server's end stops it.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    HWND window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (!window) return 1;
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) ::DispatchMessageW(&message);
    return 0;
}

// Starts and ends at once: what Wine needs for any process is measured with this.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }

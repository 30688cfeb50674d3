// A stand-in installer: exits with the code given as its first argument and, when a second
// argument names a file, writes its own command line there first. Built with TANDORA_AS_IMPOSTOR it
// is what a user would put in place of a checked installer: it writes "impostor" there and fails.
#include <windows.h>
#include <shellapi.h>
#include <cwchar>

int main() {
    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!argv || count < 2) return 1;
#ifdef TANDORA_AS_IMPOSTOR
    const unsigned long code = 1603;
    const wchar_t* line = L"impostor";
#else
    const unsigned long code = std::wcstoul(argv[1], nullptr, 10);
    const wchar_t* line = ::GetCommandLineW();
#endif
    if (count > 2) {
        HANDLE file = ::CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            ::WriteFile(file, line, static_cast<DWORD>(::lstrlenW(line) * sizeof(wchar_t)), &written, nullptr);
            ::CloseHandle(file);
        }
    }
    ::LocalFree(argv);
    return static_cast<int>(code);
}

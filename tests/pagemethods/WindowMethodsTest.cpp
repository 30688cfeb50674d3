// The window, dialog and launch rows: dialogs are found and answered from another thread the
// way a user would, launches leave a file behind as proof.
#include "tests/pagemethods/PageMethodsFixture.h"

#include "stubframework/htmlui/HostWindow.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/ShellLaunch.h"
#include "tests/support/TempFolder.h"

#include <atomic>
#include <cwchar>
#include <functional>
#include <thread>
#include <vector>

using namespace stubframework;
using namespace pagemethodstest;
using htmluitest::Args;
using htmluitest::Narrow;

namespace {

enum class Answer { Ok, Cancel, CloseBox };

// Waits (at most 20 s) for a dialog of the thread that creates it, notes its texts and answers it.
class DialogAnswerer {
public:
    explicit DialogAnswerer(Answer answer) : answer_(answer), worker_([this] { Run(); }) {}
    ~DialogAnswerer() {
        if (worker_.joinable()) worker_.join();
    }
    // True when a dialog was found and answered; then its caption and the texts inside it.
    bool Finish() {
        worker_.join();
        return answered_;
    }
    std::wstring caption;
    std::vector<std::wstring> texts;

private:
    struct Search {
        HWND dialog;
    };
    static BOOL CALLBACK VisitTopLevel(HWND window, LPARAM context) {
        wchar_t name[16] = {};
        ::GetClassNameW(window, name, 16);
        if (std::wcscmp(name, L"#32770") != 0 || !::IsWindowVisible(window)) return TRUE;
        reinterpret_cast<Search*>(context)->dialog = window;
        return FALSE;
    }
    static BOOL CALLBACK VisitChild(HWND window, LPARAM context) {
        wchar_t text[256] = {};
        if (::GetWindowTextW(window, text, 256) > 0) reinterpret_cast<std::vector<std::wstring>*>(context)->push_back(text);
        return TRUE;
    }

    void Run() {
        for (int attempt = 0; attempt < 400; ++attempt) {
            Search search = {nullptr};
            ::EnumThreadWindows(owner_, VisitTopLevel, reinterpret_cast<LPARAM>(&search));
            if (search.dialog) {
                wchar_t text[256] = {};
                ::GetWindowTextW(search.dialog, text, 256);
                caption = text;
                ::EnumChildWindows(search.dialog, VisitChild, reinterpret_cast<LPARAM>(&texts));
                Act(search.dialog);
                answered_ = true;
                return;
            }
            ::Sleep(50);
        }
    }
    void Act(HWND dialog) {
        switch (answer_) {
        case Answer::Ok:
            ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            break;
        case Answer::Cancel:
            ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            break;
        case Answer::CloseBox:
            ::PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
            break;
        }
    }

    const DWORD owner_ = ::GetCurrentThreadId();
    const Answer answer_;
    std::atomic<bool> answered_{false};
    std::thread worker_;
};

bool Contains(const std::vector<std::wstring>& texts, const std::wstring& text) {
    for (const auto& t : texts)
        if (t == text) return true;
    return false;
}

// Up to 20 s for a launched program to leave its file.
bool AppearsInTime(const std::wstring& path) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
        ::Sleep(100);
    }
    return false;
}

class WindowRows : public PageMethods {
protected:
    void SetUp() override { ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    void TearDown() override {
        PageMethods::TearDown();
        ::CoUninitialize();
    }
    testsupport::TempFolder temp_;
};

TEST_F(WindowRows, MessageBoxesShowTheirTextsAndReportTheAnswer) {
    {
        DialogAnswerer user(Answer::Ok);
        Args args;
        args.Text(L"Setup is complete").Text(L"Tandora");
        EXPECT_EQ(Call(L"messageBox", kMethod, args, nullptr), S_OK);
        ASSERT_TRUE(user.Finish());
        EXPECT_EQ(user.caption, L"Tandora");
        EXPECT_TRUE(Contains(user.texts, L"Setup is complete"));
    }
    EXPECT_NE(app_.LogText().find("ZSMessageBox: Setup is complete Tandora"), std::string::npos);

    const struct {
        Answer answer;
        bool expected;
    } cases[] = {{Answer::Ok, true}, {Answer::Cancel, false}, {Answer::CloseBox, false}};
    for (const auto& c : cases) {
        DialogAnswerer user(c.answer);
        Args args;
        args.Text(L"Stop the download?").Text(L"Question");
        utils::ScopedVariant result;
        EXPECT_EQ(Call(L"confirmMessageBox", kMethodGet, args, result.Receive()), S_OK);
        ASSERT_TRUE(user.Finish());
        EXPECT_EQ(user.caption, L"Question");
        ASSERT_EQ(V_VT(&result.Get()), VT_BOOL);
        EXPECT_EQ(V_BOOL(&result.Get()), c.expected ? VARIANT_TRUE : VARIANT_FALSE) << static_cast<int>(c.answer);
    }
    const std::string log = app_.LogText();
    EXPECT_NE(log.find("EMConfirmMessageBox Result : Close"), std::string::npos);
    EXPECT_NE(log.find("EMConfirmMessageBox Result : Cancel Close"), std::string::npos);

    // Nobody reads the answer: the question is asked all the same.
    DialogAnswerer user(Answer::Ok);
    Args args;
    args.Text(L"Unread").Text(L"Question");
    EXPECT_EQ(Call(L"confirmMessageBox", kMethodGet, args, nullptr), S_OK);
    EXPECT_TRUE(user.Finish());
}

TEST_F(WindowRows, ACancelledFolderPickerGivesBackItsArgument) {
    for (const wchar_t* initial : {L"C:\\windows", L""}) {
        DialogAnswerer user(Answer::Cancel);
        Args args;
        args.Text(initial);
        utils::ScopedVariant result;
        EXPECT_EQ(Call(L"selectFolder", kMethodGet, args, result.Receive()), S_OK);
        ASSERT_TRUE(user.Finish());
        EXPECT_EQ(Text(result), initial);
    }
    EXPECT_NE(app_.LogText().find("EMSelectFolder args C:\\windows, Result C:\\windows"), std::string::npos);
}

TEST_F(WindowRows, LaunchesReportWhetherAProcessStarted) {
    utils::ScopedVariant result;
    Args empty;
    empty.Text(L"");
    ASSERT_EQ(Call(L"executeCommand", kMethodGet, empty, result.Receive()), S_OK);
    EXPECT_EQ(V_BOOL(&result.Get()), VARIANT_TRUE);

    const std::wstring byCommand = temp_.Path() + L"\\command.txt";
    Args command;
    command.Text((L"echo made>\"" + byCommand + L"\"").c_str());
    ASSERT_EQ(Call(L"executeCommand", kMethodGet, command, result.Receive()), S_OK);
    EXPECT_EQ(V_BOOL(&result.Get()), VARIANT_TRUE);
    EXPECT_TRUE(AppearsInTime(byCommand));

    Args missing;
    missing.Text(L"C:\\nowhere\\missing.exe /x");
    ASSERT_EQ(Call(L"runApplication", kMethodGet, missing, result.Receive()), S_OK);
    EXPECT_EQ(V_BOOL(&result.Get()), VARIANT_FALSE);
    EXPECT_NE(app_.LogText().find("EMRunApplication: C:\\nowhere\\missing.exe /x, result: fail"), std::string::npos);

    // This row checks no type: a number is read as the command line "5", not as a text pointer.
    Args number;
    number.Number(5);
    ASSERT_EQ(Call(L"runApplication", kMethodGet, number, result.Receive()), S_OK);
    EXPECT_EQ(V_BOOL(&result.Get()), VARIANT_FALSE);

    const std::wstring byApplication = temp_.Path() + L"\\application.txt";
    Args application;
    application.Text((L"cmd.exe /c echo made>\"" + byApplication + L"\"").c_str());
    ASSERT_EQ(Call(L"runApplication", kMethodGet, application, result.Receive()), S_OK);
    EXPECT_EQ(V_BOOL(&result.Get()), VARIANT_TRUE);
    EXPECT_TRUE(AppearsInTime(byApplication));

    // Path and arguments reach the desktop's shell separately.
    const std::wstring byProgram = temp_.Path() + L"\\program.txt";
    Args program;
    program.Text(L"cmd.exe").Text((L"/c echo made>\"" + byProgram + L"\"").c_str());
    EXPECT_EQ(Call(L"startProgram", kMethod, program, nullptr), S_OK);
    EXPECT_TRUE(AppearsInTime(byProgram));

    // A page opens with the program the shell associates with it.
    const std::wstring script = temp_.Path() + L"\\page.cmd";
    const std::wstring byPage = temp_.Path() + L"\\page.txt";
    const std::string scriptText = "@echo made>\"" + Narrow(byPage) + "\"\r\n";
    ASSERT_TRUE(testsupport::WriteFileBytes(script, scriptText));
    Args page;
    page.Text(script.c_str());
    ASSERT_EQ(Call(L"openPage", kMethodGet, page, result.Receive()), S_OK);
    EXPECT_EQ(V_BOOL(&result.Get()), VARIANT_TRUE);
    EXPECT_TRUE(AppearsInTime(byPage));
    EXPECT_NE(app_.LogText().find("ZSOpenPage: " + Narrow(script) + ", result: success"), std::string::npos);
}

// "C:\...\My Tools\tool.exe" unquoted, with a "My.exe" beside the folder as a user could put it:
// neither starts, since the folder is the user's (as Wine's descriptors say of every folder).
TEST_F(WindowRows, RunApplicationStartsNothingFromWhereAUserCouldPlaceIt) {
    ASSERT_TRUE(utils::CreateFolderTree(temp_.Path() + L"My Tools"));
    ASSERT_TRUE(::CopyFileW(TANDORA_EXIT_WITH, (temp_.Path() + L"My Tools\\tool.exe").c_str(), FALSE));
    ASSERT_TRUE(::CopyFileW(TANDORA_EXIT_WITH, (temp_.Path() + L"My.exe").c_str(), FALSE));
    const std::wstring line = temp_.Path() + L"My Tools\\tool.exe";
    Args application;
    application.Text(line.c_str());
    utils::ScopedVariant result;
    ASSERT_EQ(Call(L"runApplication", kMethodGet, application, result.Receive()), S_OK);
    EXPECT_EQ(V_BOOL(&result.Get()), VARIANT_FALSE);
    EXPECT_NE(app_.LogText().find("EMRunApplication: " + Narrow(line) + " refused: a user can change its program"),
              std::string::npos);
}

// Rows run on a thread that has not joined COM: the desktop's shell cannot be reached from it.
class RowsWithoutDesktop : public PageMethods {
protected:
    testsupport::TempFolder temp_;
};

// Opening a page or a program elevated here would run the user's own handler for it with the
// stub's rights: without the desktop's shell nothing opens, and the log says so.
TEST_F(RowsWithoutDesktop, NothingOpensElevatedInstead) {
    const std::wstring script = temp_.Path() + L"page.cmd";
    ASSERT_TRUE(testsupport::WriteFileBytes(script, "@echo made>\"" + Narrow(temp_.Path()) + "page.txt\"\r\n"));
    Args page;
    page.Text(script.c_str());
    utils::ScopedVariant result;
    ASSERT_EQ(Call(L"openPage", kMethodGet, page, result.Receive()), S_OK);
    EXPECT_EQ(V_BOOL(&result.Get()), VARIANT_FALSE);
    Args program;
    program.Text(script.c_str()).Text(L"");
    EXPECT_EQ(Call(L"startProgram", kMethod, program, nullptr), S_OK);

    const std::string log = app_.LogText();
    EXPECT_NE(log.find("ZSOpenPage: " + Narrow(script) + " not opened: no desktop shell"), std::string::npos);
    EXPECT_NE(log.find("ZSOpenPage: " + Narrow(script) + ", result: fail"), std::string::npos);
    EXPECT_NE(log.find("EMStartProgram: " + Narrow(script) + " not started: no desktop shell"), std::string::npos);
}

TEST_F(WindowRows, TheWindowIsSizedHiddenAndShownThroughTheBridge) {
    const HWND window = ::CreateWindowExW(0, L"STATIC", nullptr, WS_POPUP | WS_VISIBLE, 0, 0, 10, 10, nullptr,
                                          nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    BuildTable();
    Bridge().SetWindow(window);
    ASSERT_EQ(methods_->WindowHandle(), window);

    const HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
    ::ReleaseDC(nullptr, screen);
    Args size;
    size.Number(655).Number(513);
    EXPECT_EQ(Call(L"setWindowSize", kMethod, size, nullptr), S_OK);
    RECT client = {};
    ::GetClientRect(window, &client);
    EXPECT_EQ(client.right, ::MulDiv(655, dpi, 96));
    EXPECT_EQ(client.bottom, ::MulDiv(513, dpi, 96));
    EXPECT_NE(app_.LogText().find("ZSWindowSize: 655"), std::string::npos);

    EXPECT_EQ(Call(L"hideWindow", kMethod), S_OK);
    EXPECT_FALSE(::IsWindowVisible(window));
    EXPECT_EQ(Call(L"showWindow", kMethod), S_OK);
    EXPECT_TRUE(::IsWindowVisible(window));


    Bridge().SetWindow(nullptr);
    ::DestroyWindow(window);
}

// What the timers of the close test do inside the host window's loop.
std::function<void()> g_onTimer;
bool g_gaveUp = false;

void CALLBACK RunOnTimer(HWND, UINT, UINT_PTR timer, DWORD) {
    ::KillTimer(nullptr, timer);
    g_onTimer();
}

void CALLBACK GiveUp(HWND, UINT, UINT_PTR timer, DWORD) {
    ::KillTimer(nullptr, timer);
    g_gaveUp = true;
    ::PostQuitMessage(0);
}

TEST_F(WindowRows, ClosingEndsTheHostWindowsLoop) {
    BuildTable();
    HRESULT closed = E_FAIL;
    g_onTimer = [&] { closed = Call(L"closeWindow", kMethod); };
    UINT_PTR safety = 0;
    const bool ran = htmlui::RunHostWindowWithoutDocument(
        &Bridge(),
        [](HWND, void* context) {
            ::SetTimer(nullptr, 0, 10, RunOnTimer);
            *static_cast<UINT_PTR*>(context) = ::SetTimer(nullptr, 0, 10000, GiveUp);
        },
        &safety);
    ::KillTimer(nullptr, safety);
    ASSERT_TRUE(ran);
    EXPECT_EQ(closed, S_OK);
    EXPECT_FALSE(g_gaveUp);
    EXPECT_EQ(Bridge().Window(), nullptr);
    EXPECT_NE(app_.LogText().find("ZSClose"), std::string::npos);
}

TEST_F(WindowRows, TerminatingEndsTheProcessAtOnceWithZero) {
    EXPECT_EQ(Call(L"terminateWindow", kMethodGet), DISP_E_MEMBERNOTFOUND);
    EXPECT_EXIT(Call(L"terminateWindow", kMethod), testing::ExitedWithCode(0), "");
}

bool ShutdownPrivilegeEnabled() {
    utils::ScopedHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return false;
    PRIVILEGE_SET wanted = {};
    wanted.PrivilegeCount = 1;
    wanted.Control = PRIVILEGE_SET_ALL_NECESSARY;
    if (!::LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &wanted.Privilege[0].Luid)) return false;
    BOOL enabled = FALSE;
    return ::PrivilegeCheck(token.Get(), &wanted, &enabled) && enabled;
}

void DisableShutdownPrivilege() {
    utils::ScopedHandle token;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.Receive()));
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    ASSERT_TRUE(::LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid));
    ASSERT_TRUE(::AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr));
}

struct ExitRequest {
    bool called = false;
    bool privileged = false;
    UINT flags = 0;
    DWORD reason = 0;
} g_exit;

BOOL WINAPI RecordExit(UINT flags, DWORD reason) {
    g_exit = {true, ShutdownPrivilegeEnabled(), flags, reason};
    return TRUE;
}

TEST(Restart, TheRebootIsAskedForOnlyWithTheShutdownPrivilegeEnabled) {
    DisableShutdownPrivilege();
    ASSERT_FALSE(ShutdownPrivilegeEnabled());
    EXPECT_TRUE(utils::RestartWindows(RecordExit));
    ASSERT_TRUE(g_exit.called);
    EXPECT_TRUE(g_exit.privileged);
    EXPECT_EQ(g_exit.flags, 0x52u);
    EXPECT_EQ(g_exit.reason, 0x40000u);
}

} // namespace

// A run ended abruptly (TerminateProcess at seeded random points) must leave nothing that trips
// the next run: the identity store holds a whole identity or none, the resume record names the
// GUID its launch-on-exit path was made for, and torn logs never stop a later start.
#include <gtest/gtest.h>

#include "stubframework/core/AppConfig.h"
#include "stubframework/utils/Ground.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/MachineIdentity.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/Registry.h"
#include "tests/StubCore/LogCheck.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempFolder.h"

#include <shlwapi.h>

#include <cwctype>
#include <random>
#include <vector>

using namespace stubframework;
using namespace testsupport;

namespace {
const DWORD kTimeout = 60000;
const unsigned kSeed = 20261208;

const wchar_t kFirstIdentity[] = L"V-0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9";
const wchar_t kSecondIdentity[] = L"V-F9E8D7C6-B5A4-9382-7160-5F4E3D2C1B0A";

// Starts commandLine, lets it run for delayMs and ends it; false when it ended on its own.
bool EndAfter(const std::wstring& program, const std::wstring& commandLine, const ChildOptions& options,
              DWORD delayMs) {
    utils::ScopedHandle process = StartChild(program, commandLine, options);
    EXPECT_TRUE(process) << "cannot start " << program.c_str();
    if (!process) return false;
    const bool running = ::WaitForSingleObject(process.Get(), delayMs) == WAIT_TIMEOUT;
    if (running) ::TerminateProcess(process.Get(), 1);
    DWORD exitCode = 0;
    EXPECT_TRUE(WaitForExit(process.Get(), kTimeout, exitCode));
    return running;
}

// Every file below folder whose name matches pattern, with its full path.
void FindFiles(const std::wstring& folder, const std::wstring& pattern, std::vector<std::wstring>& found) {
    WIN32_FIND_DATAW data;
    utils::ScopedFindHandle find(::FindFirstFileW((folder + L"*").c_str(), &data));
    if (!find) return;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) FindFiles(folder + name + L"\\", pattern, found);
        else if (::PathMatchSpecW(name.c_str(), pattern.c_str())) found.push_back(folder + name);
    } while (::FindNextFileW(find.Get(), &data));
}

// A log cut off by the end of its process: every line up to the last line end is whole.
void ExpectWholeLinesUpToTheCut(const std::wstring& path, const std::wstring& scratch) {
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(path, bytes));
    const size_t end = bytes.rfind("\r\n");
    bytes.resize(end == std::string::npos ? 0 : end + 2);
    ASSERT_TRUE(WriteFileBytes(scratch, bytes));
    std::vector<LogLine> lines;
    EXPECT_TRUE(ReadLogLines(scratch, lines)) << path.c_str();
}

std::wstring ReadValue(HKEY key, const wchar_t* name) {
    wchar_t text[512] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t), type = 0;
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return std::wstring();
    return text;
}

bool IsGuidText(const std::wstring& text) {
    if (text.size() != 36) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != L'-' : !std::iswxdigit(text[i])) return false;
    }
    return true;
}
} // namespace

TEST(AbruptEnd, IdentityStoreAndResumeRecordStayWhole) {
    TempFolder temp;
    ChildOptions options;
    options.tempFolder = temp.Path();
    const std::wstring store = temp / L"data";
    const std::wstring root = L"Software\\TandoraTests\\AbruptEnd" + std::to_wstring(::GetCurrentProcessId());
    HKEY base = nullptr;
    std::wstring product;
    utils::SplitRegistryPath(core::AppConfig::DefaultFrameworkKeyPath() + L"\\ResumeManager", base, product);
    const std::wstring record = root + L"\\" + product;

    std::mt19937 random(kSeed);
    std::uniform_int_distribution<DWORD> delay(250, 750);
    bool stored = false;
    unsigned ended = 0;
    for (int point = 0; point < 20; ++point) {
        const DWORD after = delay(random);
        SCOPED_TRACE("seed " + std::to_string(kSeed) + ", point " + std::to_string(point) + ", ended after " +
                     std::to_string(after) + " ms");
        if (EndAfter(ABRUPT_WRITER, L"abrupt_writer \"" + store + L"\" " + root, options, after)) ++ended;

        // Once there, the store always holds one of the two identities, and a new run keeps it.
        std::wstring id;
        const bool exists = ::GetFileAttributesW(store.c_str()) != INVALID_FILE_ATTRIBUTES;
        EXPECT_TRUE(exists || !stored) << "the store vanished";
        if (exists) {
            stored = true;
            EXPECT_TRUE(utils::ReadStoredMachineId(store, id)) << "torn store";
            EXPECT_TRUE(id == kFirstIdentity || id == kSecondIdentity) << id.c_str();
            utils::MachineProbe virtualMachine;
            virtualMachine.isVirtual = [] { return true; };
            EXPECT_EQ(utils::DeriveMachineIdentity(virtualMachine, store), id);
        }

        // A stored GUID always comes with the launch-on-exit path made for it.
        utils::ScopedRegKey key;
        if (::RegOpenKeyExW(HKEY_CURRENT_USER, record.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, key.Receive()) ==
            ERROR_SUCCESS) {
            const std::wstring guid = ReadValue(key.Get(), L"guid");
            const std::wstring launch = ReadValue(key.Get(), L"launchOnExit");
            if (!guid.empty()) {
                EXPECT_TRUE(IsGuidText(guid)) << guid.c_str();
                EXPECT_EQ(launch, L"Vendor\\Tandora\\" + guid + L"\\LaunchOnExit");
            }
        }
    }
    EXPECT_TRUE(stored) << "the writer never got to the store";
    EXPECT_GE(ended, 15u) << "the writer ended on its own";

    std::vector<std::wstring> logs;
    FindFiles(utils::GroundBase(), L"installer_log_*.txt", logs);   // the runs log on the ground
    EXPECT_FALSE(logs.empty());
    for (const auto& log : logs) ExpectWholeLinesUpToTheCut(log, temp / L"cut.txt");
    ::RegDeleteTreeW(HKEY_CURRENT_USER, root.c_str());
    // The record's copy in the machine's part of the registry is not redirected.
    utils::DeleteRegistryKey(utils::MachineTwinPath(core::AppConfig::DefaultFrameworkKeyPath() + L"\\ResumeManager"),
                             false);
}

TEST(AbruptEnd, StubStartsCleanlyAfterBeingEndedAnywhere) {
    TempFolder temp;
    ChildOptions options;
    options.tempFolder = temp.Path();
    const std::wstring command = L"\"" + std::wstring(TANDORA_SETUP_EXE) + L"\" run=1";

    // One whole run first: its length spreads the points over a run (it decides nothing else).
    const DWORD start = ::GetTickCount();
    DWORD exitCode = 0xDEAD;
    ASSERT_TRUE(RunChild(TANDORA_SETUP_EXE, command, options, kTimeout, exitCode));
    ASSERT_EQ(exitCode, 0u);
    const DWORD length = ::GetTickCount() - start;

    std::mt19937 random(kSeed);
    std::uniform_int_distribution<DWORD> delay(0, length + length / 4);
    for (int point = 0; point < 12; ++point) {
        const DWORD after = delay(random);
        SCOPED_TRACE("seed " + std::to_string(kSeed) + ", point " + std::to_string(point) + ", ended after " +
                     std::to_string(after) + " ms");
        EndAfter(TANDORA_SETUP_EXE, command, options, after);
        std::wstring status;
        if (utils::ReadFrameworkValue(core::AppConfig::DefaultFrameworkKeyPath(), L"status", status)) {
            EXPECT_TRUE(!status.empty() && status.find_first_not_of(L"0123456789") == std::wstring::npos)
                << status.c_str();
        }
    }

    // What the ended runs left behind (logs cut anywhere, kept copies cut in the middle, bundle
    // folders) does not stop the next run, which goes through to its end and keeps its log.
    std::vector<std::wstring> logs;
    FindFiles(utils::GroundBase(), L"installer_log_*.txt", logs);   // the runs log on the ground
    for (const auto& log : logs) ExpectWholeLinesUpToTheCut(log, temp / L"cut.txt");
    const std::wstring keptFolder = temp.Path() + L"Tandora_log\\";
    ::Sleep(1100);   // the next log gets a name of its own (its name counts seconds)
    ASSERT_TRUE(RunChild(TANDORA_SETUP_EXE, command, options, kTimeout, exitCode));
    EXPECT_EQ(exitCode, 0u);

    std::vector<std::wstring> kept;
    FindFiles(keptFolder, L"installer_log_*.txt", kept);
    ASSERT_FALSE(kept.empty());
    std::wstring newest;
    FILETIME newestTime = {};
    for (const auto& file : kept) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (::GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data) &&
            ::CompareFileTime(&data.ftLastWriteTime, &newestTime) >= 0) {
            newestTime = data.ftLastWriteTime;
            newest = file;
        }
    }
    std::vector<LogLine> lines;
    ASSERT_TRUE(ReadLogLines(newest, lines));
    bool finished = false;
    for (const auto& line : lines) finished = finished || line.message == "Load Resource from pe finished.";
    EXPECT_TRUE(finished) << newest.c_str();
}

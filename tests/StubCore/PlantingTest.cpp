// DLL planting: a DLL dropped next to the stub under the name of a system DLL the stub uses must
// never be loaded. The planted DLL leaves "<name>.loaded" beside itself when anything loads it.
//
// Under Wine: there is no KnownDLLs list, and by default Wine prefers its builtin DLLs to a file
// of the same name next to the program, so nothing would ever be planted. The tests therefore
// force native-first order for every planted name, for the planted copies of the programs only
// (HKCU\Software\Wine\AppDefaults\<exe>\DllOverrides; WINEDLLOVERRIDES would have to be set
// before the test process starts, Wine reads it from the Unix environment). The first test proves
// that this makes each name plantable, so the others can fail. Names Wine's own start-up pulls in
// before any of our code runs cannot be tested (see kLoadedBeforeOurCode).
#include <gtest/gtest.h>

#include "stubframework/utils/Handle.h"
#include "stubframework/utils/Paths.h"
#include "tests/StubCore/LogCheck.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempFolder.h"

#include <algorithm>
#include <cwctype>
#include <sstream>
#include <vector>

using namespace stubframework;
using namespace testsupport;

namespace {
const DWORD kTimeout = 90000;

// Wine's user32 imports version.dll, so every process here has it before its first
// instruction, and a planted copy would be taken then. On Windows user32 is a KnownDLL whose
// imports come from the system folder. The stub's version.dll loader still runs in
// StubLoadersTakeSystemCopies, where it must find the real functions.
const wchar_t* const kLoadedBeforeOurCode[] = {L"version.dll"};

// Names the test run switches off altogether ("name=" in WINEDLLOVERRIDES, as for the HTML engine
// Wine cannot run here): nothing loads them, from anywhere.
std::vector<std::wstring> DisabledByEnvironment() {
    std::vector<std::wstring> names;
    wchar_t text[4096] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"WINEDLLOVERRIDES", text, 4096);
    if (length == 0 || length >= 4096) return names;
    std::wistringstream entries(text);
    std::wstring entry;
    while (std::getline(entries, entry, L';')) {
        const size_t equals = entry.find(L'=');
        if (equals == std::wstring::npos || equals + 1 != entry.size()) continue;
        std::wistringstream list(entry.substr(0, equals));
        std::wstring name;
        while (std::getline(list, name, L',')) names.push_back(name + L".dll");
    }
    return names;
}

// The planted copies of the programs, named apart so that the overrides touch nothing else.
const wchar_t kStubCopy[] = L"TandoraPlanted.exe";
const wchar_t kProbeCopy[] = L"PlantingProbePlanted.exe";
const wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\";

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

// The names to plant: the "code", "com" and "system" rows of planted_dlls.txt.
std::vector<std::wstring> PlantedNames() {
    std::vector<std::wstring> names;
    std::string text;
    ReadFileBytes(std::wstring(TANDORA_SOURCE_DIR) + L"\\tests\\StubCore\\planted_dlls.txt", text);
    std::istringstream list(text);
    std::string line;
    while (std::getline(list, line)) {
        std::istringstream fields(line);
        std::string name, kind;
        if (!(fields >> name >> kind) || name[0] == '#') continue;
        if (kind == "code" || kind == "com" || kind == "system") names.push_back(Lower(std::wstring(name.begin(), name.end())));
    }
    return names;
}

std::vector<std::wstring> Markers(const std::wstring& folder) {
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW data;
    utils::ScopedFindHandle find(::FindFirstFileW((folder + L"*.loaded").c_str(), &data));
    if (!find) return found;
    do {
        found.push_back(data.cFileName);
    } while (::FindNextFileW(find.Get(), &data));
    return found;
}

std::wstring Joined(const std::vector<std::wstring>& names, const wchar_t* separator) {
    std::wstring text;
    for (const auto& name : names) text += (text.empty() ? L"" : separator) + name;
    return text;
}

// Native-first order for names (".dll" dropped, as Wine names its overrides) in program's process.
void ForceNativeFirst(const wchar_t* program, const std::vector<std::wstring>& names) {
    utils::ScopedRegKey key;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(kAppDefaults) + program + L"\\DllOverrides").c_str(), 0,
                                nullptr, 0, KEY_SET_VALUE, nullptr, key.Receive(), nullptr),
              ERROR_SUCCESS);
    const wchar_t order[] = L"native,builtin";
    for (const auto& name : names) {
        const size_t dll = name.size() > 4 ? name.size() - 4 : 0;
        const std::wstring value = name.compare(dll, 4, L".dll") == 0 ? name.substr(0, dll) : name;
        ASSERT_EQ(::RegSetValueExW(key.Get(), value.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(order),
                                   sizeof(order)),
                  ERROR_SUCCESS);
    }
}

class DllPlanting : public testing::Test {
protected:
    void SetUp() override {
        std::vector<std::wstring> untestable(std::begin(kLoadedBeforeOurCode), std::end(kLoadedBeforeOurCode));
        for (const auto& name : DisabledByEnvironment()) untestable.push_back(Lower(name));
        for (const auto& name : PlantedNames())
            if (std::find(untestable.begin(), untestable.end(), name) == untestable.end()) names_.push_back(name);
        ASSERT_GE(names_.size(), 20u) << "planted_dlls.txt not found or cut short";
        folder_ = temp_.Path() + L"Downloads\\";
        ASSERT_TRUE(::CreateDirectoryW(folder_.c_str(), nullptr));
        options_.tempFolder = temp_.Path();
        ForceNativeFirst(kStubCopy, names_);
        ForceNativeFirst(kProbeCopy, names_);
        Plant(names_);
    }
    void TearDown() override {
        for (const wchar_t* program : {kStubCopy, kProbeCopy})
            ::RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(kAppDefaults) + program).c_str());
    }

    void Plant(const std::vector<std::wstring>& names) {
        for (const auto& name : names)
            ASSERT_TRUE(::CopyFileW(PLANTED_DLL, (folder_ + name).c_str(), FALSE)) << "planting " << name.c_str();
    }

    // Runs the planted folder's copy of program with arguments.
    DWORD RunThere(const wchar_t* program, const wchar_t* copyName, const std::wstring& arguments) {
        const std::wstring copy = folder_ + copyName;
        if (!utils::PathExists(copy)) {
            EXPECT_TRUE(::CopyFileW(program, copy.c_str(), FALSE));
        }
        DWORD exitCode = 0xDEAD;
        EXPECT_TRUE(RunChild(copy, L"\"" + copy + L"\"" + arguments, options_, kTimeout, exitCode));
        return exitCode;
    }

    TempFolder temp_;
    std::wstring folder_;
    ChildOptions options_;
    std::vector<std::wstring> names_;
};
} // namespace

TEST_F(DllPlanting, UnsafeLoadTakesPlantedCopyHardenedLoadDoesNot) {
    // A bare-name load with the default search order takes every planted copy: the override
    // works for each name, so a stub that loaded one would be caught.
    EXPECT_EQ(RunThere(PLANTING_PROBE, kProbeCopy, L" load " + Joined(names_, L" ")), 0u);
    std::vector<std::wstring> missing;
    for (const auto& name : names_) {
        const std::wstring marker = folder_ + name + L".loaded";
        if (!::DeleteFileW(marker.c_str())) missing.push_back(name);
    }
    EXPECT_TRUE(missing.empty()) << "not plantable under this Wine: " << Joined(missing, L" ").c_str();

    // The same loads after the stub's start-up hardening take the system copies.
    EXPECT_EQ(RunThere(PLANTING_PROBE, kProbeCopy, L" harden " + Joined(names_, L" ")), 0u);
    EXPECT_TRUE(Markers(folder_).empty()) << "loaded: " << Joined(Markers(folder_), L" ").c_str();
}

TEST_F(DllPlanting, StubLoadersTakeSystemCopies) {
    // 0: every loader found the real functions, and no planted name was in the process before.
    const DWORD exitCode = RunThere(PLANTING_PROBE, kProbeCopy, L" loaders " + Joined(names_, L" "));
    if (exitCode >= 1000 && exitCode < 1000 + names_.size())
        ADD_FAILURE() << "in the probe before its first instruction: " << names_[exitCode - 1000].c_str();
    else
        EXPECT_EQ(exitCode, 0u) << "2000 + failed loaders: 1 WinINet, 2 URL monikers, 4 WinHTTP, 8 MSI, 16 version";
    EXPECT_TRUE(Markers(folder_).empty()) << "loaded: " << Joined(Markers(folder_), L" ").c_str();
}

TEST_F(DllPlanting, ShippingStubLoadsNoPlantedDll) {
    // The UI instance straight from the download folder, then the launcher from there.
    EXPECT_EQ(RunThere(TANDORA_SETUP_EXE, kStubCopy, L" run=1"), 0u);
    EXPECT_TRUE(Markers(folder_).empty()) << "loaded: " << Joined(Markers(folder_), L" ").c_str();

    // The run went through start-up, identity, bundle and reports to its end.
    const std::wstring kept = temp_.Path() + L"Tandora_log\\";
    WIN32_FIND_DATAW data;
    utils::ScopedFindHandle find(::FindFirstFileW((kept + L"installer_log_*.txt").c_str(), &data));
    ASSERT_TRUE(find) << "no kept log";
    std::vector<LogLine> lines;
    ASSERT_TRUE(ReadLogLines(kept + data.cFileName, lines));
    bool unpacked = false;
    for (const auto& line : lines) unpacked = unpacked || line.message == "Load Resource from pe finished.";
    EXPECT_TRUE(unpacked);

    EXPECT_EQ(RunThere(TANDORA_SETUP_EXE, kStubCopy, L""), 0u);
    EXPECT_TRUE(Markers(folder_).empty()) << "loaded: " << Joined(Markers(folder_), L" ").c_str();
}

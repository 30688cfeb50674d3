// The rows whose answers depend on the process itself: the system version Wine is set to report
// (per program, so only for a copy of this executable), the "shortcut=" argument, and the
// system's architecture. A copy of this executable runs MethodsProbe.Report, which writes its
// answers to the file named by TANDORA_PROBE_OUT; tests/methods/os_bits_x86.sh runs the same
// probe in a 32-bit Wine prefix.
#include "tests/methods/MethodsFixture.h"

#include "stubframework/core/AppConfig.h"
#include "stubframework/core/OsRequirement.h"
#include "stubframework/utils/Handle.h"
#include "tests/support/ChildProcess.h"

#include <cstring>
#include <map>
#include <sstream>
#include <utility>

using namespace stubframework;
using namespace methodstest;

namespace {

const wchar_t* const kMinimums[] = {
    L"Windows XP", L"Windows XP SP3", L"Windows Vista", L"Windows 7", L"Windows 7 SP1", L"Windows 8",
    L"Windows 8.1", L"Windows 10", L"windows 10", L"Windows Server",
};

std::wstring Environment(const wchar_t* name) {
    wchar_t value[1024];
    const DWORD length = ::GetEnvironmentVariableW(name, value, 1024);
    return (length > 0 && length < 1024) ? std::wstring(value, length) : std::wstring();
}

class MethodsProbe : public MethodsTest {
protected:
    std::string CheckOS(const std::wstring& minOS, const std::wstring& bits) {
        Args args;
        args.Text(minOS).Text(bits);
        return FlagOf(L"checkOS", args) ? "1" : "0";
    }
};

// "name=value" lines of a probe's answers.
std::map<std::string, std::string> ReadAnswers(const std::wstring& path) {
    std::string text;
    testsupport::ReadFileBytes(path, text);
    std::map<std::string, std::string> answers;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t equals = line.rfind('=');
        if (equals != std::string::npos) answers[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return answers;
}

// Runs a copy of this executable named exeName as the probe; Wine reports version to it when
// version is not empty ("win7", "win81", "win10").
// Blanks the Windows 8.1 and 10 entries of the copy's manifest (same length, so the image stays
// intact): the copy is then an old program, which newer systems tell 6.2.
void ForgetNewerSystems(const std::wstring& program) {
    std::string image;
    ASSERT_TRUE(testsupport::ReadFileBytes(program, image));
    // Built here, so the search never meets these literals in the program's own data.
    for (const char* id : {"{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {
        const std::string entry = std::string("supportedOS Id=\"") + id;
        const size_t at = image.find(entry);
        ASSERT_NE(at, std::string::npos) << id;
        image.replace(at + entry.size() - std::strlen(id), std::strlen(id), "{00000000-0000-0000-0000-000000000000}");
    }
    ASSERT_TRUE(testsupport::WriteFileBytes(program, image));
}

std::map<std::string, std::string> RunProbe(const testsupport::TempFolder& temp, const std::wstring& exeName,
                                            const std::wstring& version, const std::wstring& extraArgs,
                                            bool oldProgram = false) {
    wchar_t self[MAX_PATH];
    EXPECT_GT(::GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    const std::wstring copy = temp / exeName;
    EXPECT_TRUE(::CopyFileW(self, copy.c_str(), FALSE));
    if (oldProgram) ForgetNewerSystems(copy);
    const std::wstring appKey = L"Software\\Wine\\AppDefaults\\" + exeName;
    if (!version.empty()) {
        utils::ScopedRegKey key;
        EXPECT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, appKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                    key.Receive(), nullptr),
                  ERROR_SUCCESS);
        const DWORD bytes = static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t));
        EXPECT_EQ(::RegSetValueExW(key.Get(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                                   bytes),
                  ERROR_SUCCESS);
    }
    const std::wstring out = temp / (exeName + L".txt");
    ::SetEnvironmentVariableW(L"TANDORA_PROBE_OUT", out.c_str());
    DWORD exitCode = 1;
    const bool ran = testsupport::RunChild(
        copy, L"\"" + copy + L"\" --gtest_filter=MethodsProbe.Report " + extraArgs, testsupport::ChildOptions(),
        60000, exitCode);
    ::SetEnvironmentVariableW(L"TANDORA_PROBE_OUT", nullptr);
    if (!version.empty()) ::RegDeleteTreeW(HKEY_CURRENT_USER, appKey.c_str());
    EXPECT_TRUE(ran);
    EXPECT_EQ(exitCode, 0u);
    return ReadAnswers(out);
}

std::wstring Unique(const wchar_t* name) {
    return std::wstring(name) + L"_" + std::to_wstring(::GetCurrentProcessId()) + L".exe";
}

} // namespace

namespace {

// The probe itself: a copy of this executable, started by the tests below with TANDORA_PROBE_OUT
// set, writes its answers there. Only such a process registers it, so it is no test of its own.
class ProbeReport : public MethodsProbe {
public:
    explicit ProbeReport(std::wstring out) : out_(std::move(out)) {}

    void TestBody() override {
        std::ostringstream answers;
        Args none;
        answers << "version=" << Narrow(TextOf(L"getOSVersion", none)) << "\n";
        answers << "currentPath=" << Narrow(TextOf(L"getCurrentPath", none)) << "\n";
        answers << "architecture=" << Narrow(App().Config().Architecture()) << "\n";
        for (const wchar_t* minimum : kMinimums) {
            for (const wchar_t* bits : {L"x86", L"x64"})
                answers << "checkOS " << Narrow(minimum) << "|" << Narrow(bits) << "=" << CheckOS(minimum, bits) << "\n";
        }
        answers << "OSBitNotSupport=" << Narrow(App().Config().Property(L"OSBitNotSupport")) << "\n";
        answers << "log=" << (LogHas("EMCheckOS\r\n") && LogHas("EMCheckOS Result : OS valid") ? "1" : "0") << "\n";
        ASSERT_TRUE(testsupport::WriteFileBytes(out_, answers.str()));
    }

private:
    std::wstring out_;
};

[[maybe_unused]] const bool kProbeRegistered = [] {
    const std::wstring out = Environment(L"TANDORA_PROBE_OUT");
    if (out.empty()) return false;
    testing::RegisterTest("MethodsProbe", "Report", nullptr, nullptr, __FILE__, __LINE__,
                          [out]() -> MethodsProbe* { return new ProbeReport(out); });
    return true;
}();

} // namespace

TEST(SystemVersion, CheckOSFollowsTheVersionWineReports) {
    testsupport::TempFolder temp;
    struct Expectation { const wchar_t* wine; const char* version; unsigned major, minor; };
    const Expectation systems[] = {{L"win7", "6.1", 6, 1}, {L"win81", "6.3", 6, 3}, {L"win10", "10.0", 10, 0}};
    for (const Expectation& system : systems) {
        SCOPED_TRACE(Narrow(system.wine));
        auto answers = RunProbe(temp, Unique(system.wine), system.wine, L"");
        EXPECT_EQ(answers["version"], system.version);
        EXPECT_EQ(answers["architecture"], "x64");
        for (const wchar_t* minimum : kMinimums) {
            const core::OsVersionNumber required = core::RequiredOsVersion(minimum);
            const bool fits = required.major < system.major ||
                              (required.major == system.major && system.minor >= required.minor);
            for (const char* bits : {"x86", "x64"})
                EXPECT_EQ(answers["checkOS " + Narrow(minimum) + "|" + bits], fits ? "1" : "0") << Narrow(minimum);
        }
        // A 64-bit system never sets the flag, also when the answer is no.
        EXPECT_EQ(answers["OSBitNotSupport"], "");
        EXPECT_EQ(answers["log"], "1");
    }
}

TEST(SystemVersion, CheckOSSeesThroughTheCompatibilityVersion) {
    testsupport::TempFolder temp;
    auto answers = RunProbe(temp, Unique(L"oldprogram"), L"win10", L"", true);
    EXPECT_EQ(answers["version"], "6.2");              // what GetVersionExW tells an old program
    EXPECT_EQ(answers["checkOS Windows 10|x64"], "1");  // the environment block's 10.0
}

TEST(CurrentPath, TheShortcutArgumentsFolderWins) {
    testsupport::TempFolder temp;
    auto quoted = RunProbe(temp, Unique(L"path_quoted"), L"",
                           L"run=1 \"shortcut=C:\\Users\\Public\\My Downloads\\Tandora22_setup.exe\"");
    EXPECT_EQ(quoted["currentPath"], "C:\\Users\\Public\\My Downloads");

    // No backslash in the value: the folder of the running program, without a trailing one.
    auto bare = RunProbe(temp, Unique(L"path_bare"), L"", L"shortcut=Tandora22_setup.exe");
    std::wstring folder = temp.Path();
    folder.pop_back();
    EXPECT_EQ(bare["currentPath"], Narrow(folder));

    // The name is case-sensitive.
    auto upper = RunProbe(temp, Unique(L"path_upper"), L"", L"SHORTCUT=C:\\Elsewhere\\setup.exe");
    EXPECT_EQ(upper["currentPath"], Narrow(folder));
}

// The install row through the bridge: executables, ZIP packages and Windows Installer packages,
// with the page's callback on a test STA.
#include "tests/workflow/WorkflowSupport.h"

#include <shlobj.h>
#include <cwctype>
#include <functional>
#include <map>

#include "StubCore/StubApplication.h"
#include "stubframework/core/CreatedFolders.h"
#include "stubframework/core/HtmlExternal.h"
#include "stubframework/core/InstallWorkflow.h"
#include "stubframework/core/ResumeCopy.h"
#include "stubframework/core/PackageCache.h"
#include "stubframework/utils/FileHandles.h"
#include "stubframework/utils/Ground.h"
#include "stubframework/utils/ComHolders.h"
#include "stubframework/utils/MsiApi.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/Registry.h"
#include "stubframework/zip/ZipWriter.h"
#include "stubframework/core/VerifiedFile.h"
#include "tests/install/ProbeTransform.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LinuxSide.h"
#include "tests/support/Signing.h"

using namespace stubframework;
using namespace wftest;

namespace {

class InstallRows : public WorkflowTest {
protected:
    void SetUp() override {
        WorkflowTest::SetUp();
        ASSERT_TRUE(utils::CreateGroundFolder(ground_));
    }
    void TearDown() override {
        if (!ground_.empty()) utils::DeleteFolderTree(ground_);
        WorkflowTest::TearDown();
    }

    // getLastInstallError as the page calls it.
    ULONG LastInstallError() {
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR names[] = {const_cast<LPOLESTR>(L"getLastInstallError")};
        EXPECT_EQ(Bridge().GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
        DISPPARAMS none = {};
        utils::ScopedVariant value;
        EXPECT_EQ(Bridge().Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, value.Receive(), nullptr, nullptr), S_OK);
        EXPECT_EQ(V_VT(&value.Get()), VT_UI4);
        return V_UI4(&value.Get());
    }

    std::wstring CopyInstaller(const std::wstring& name) {
        const std::wstring path = folder_ / name;
        EXPECT_TRUE(::CopyFileW(TANDORA_EXIT_WITH, path.c_str(), FALSE));
        EXPECT_TRUE(testsupport::PublishSignature(path));
        return path;
    }

    static std::string ZipBytes(const std::vector<std::pair<std::string, std::string>>& entries) {
        std::string bytes;
        zip::ZipWriter writer([&](const void* data, size_t size) {
            bytes.append(static_cast<const char*>(data), size);
            return true;
        });
        for (const auto& entry : entries)
            EXPECT_TRUE(writer.AddFile(entry.first, entry.second.data(), entry.second.size()));
        EXPECT_TRUE(writer.Finish());
        return bytes;
    }

    std::wstring Zip(const std::wstring& name, const std::vector<std::pair<std::string, std::string>>& entries) {
        const std::wstring path = folder_ / name;
        EXPECT_TRUE(testsupport::WriteFileBytes(path, ZipBytes(entries)));
        EXPECT_TRUE(testsupport::PublishSignature(path));
        return path;
    }

    // The text of the log between marker and end, on the last line that holds marker.
    std::wstring LoggedAfter(const std::string& marker, const std::string& end) {
        const std::string log = app_->LogText();
        const size_t at = log.rfind(marker);
        if (at == std::string::npos) return std::wstring();
        const size_t start = at + marker.size();
        size_t stop = log.find(end, start);
        if (stop != std::string::npos && end == "\n" && stop > start && log[stop - 1] == '\r') --stop;
        if (stop == std::string::npos) return std::wstring();
        return std::wstring(log.begin() + start, log.begin() + stop);
    }

    // Installers write their markers on the ground: parameters may name no other place.
    std::wstring ground_;
};

std::wstring ReadWideFile(const std::wstring& path) {
    std::string bytes;
    if (!testsupport::ReadFileBytes(path, bytes)) return std::wstring();
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

} // namespace

TEST_F(InstallRows, ExitCodesMapToResultsAndTheRawCodeStaysAvailable) {
    const std::wstring installer = CopyInstaller(L"installer.exe");
    ASSERT_EQ(Install(installer, L"0", 1), 0);
    ExpectProgressThenFinal(0);
    EXPECT_EQ(Bridge().InstallCurrent(), 0u);
    EXPECT_EQ(Bridge().InstallTotal(), 1u);

    const struct { ULONG code; int result; } cases[] = {
        {3010, 11}, {1641, 11}, {1602, 9}, {1618, 13}, {1603, 4}, {1638, 1}, {0, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(Install(installer, std::to_wstring(c.code)), c.result) << c.code;
        EXPECT_EQ(LastInstallError(), c.code);
    }
}

// Only a file the publisher signed is handed to an installer: whole-file signatures (plain
// downloads) and signed metadata (resumable ones) alike, checked at the install itself.
TEST_F(InstallRows, OnlyTheSignedFileIsHandedToTheInstaller) {
    const std::wstring other = CopyInstaller(L"other.exe");
    std::string otherBytes;
    ASSERT_TRUE(testsupport::ReadFileBytes(other, otherBytes));
    otherBytes += "x";
    ASSERT_TRUE(testsupport::WriteFileBytes(other, otherBytes));
    ASSERT_TRUE(testsupport::PublishSignature(other));
    const struct {
        const char* name;
        std::function<void(const std::wstring&)> tamper;
        int result;
    } cases[] = {
        {"signed", [](const std::wstring&) {}, 0},
        {"no signature", [](const std::wstring& p) { ::DeleteFileW((p + L".sig").c_str()); }, 6},
        {"another file's signature", [&](const std::wstring& p) { ::CopyFileW((other + L".sig").c_str(), (p + L".sig").c_str(), FALSE); }, 6},
        {"changed after signing", [](const std::wstring& p) {
             std::string bytes;
             testsupport::ReadFileBytes(p, bytes);
             testsupport::WriteFileBytes(p, bytes + "tail");
         }, 6},
        {"signature cut short", [](const std::wstring& p) {
             std::string bytes;
             testsupport::ReadFileBytes(p + L".sig", bytes);
             testsupport::WriteFileBytes(p + L".sig", bytes.substr(0, bytes.size() - 1));
         }, 6},
        {"signed metadata of other bytes", [](const std::wstring& p) {
             ::DeleteFileW((p + L".sig").c_str());
             std::string bytes;
             testsupport::ReadFileBytes(p, bytes);
             const int64_t size = static_cast<int64_t>(bytes.size());
             const std::vector<downloader::BlockHash> hashes(downloader::BlockCount(size));
             const std::vector<uint8_t> meta = downloader::SerializeDownloadMeta(size, hashes);
             testsupport::WriteFileBytes(p + L".meta", std::string(meta.begin(), meta.end()));
             testsupport::PublishSignature(p + L".meta", p + L".meta.sig");
         }, 6},
    };
    int n = 0;
    for (const auto& c : cases) {
        // A name of its own: the package cache keeps what verified before.
        const std::wstring installer = CopyInstaller(L"signed" + std::to_wstring(++n) + L".exe");
        const std::wstring marker = ground_ + L"ran.txt";
        ::DeleteFileW(marker.c_str());
        c.tamper(installer);
        EXPECT_EQ(Install(installer, L"0 \"" + marker + L"\""), c.result) << c.name;
        EXPECT_EQ(utils::PathExists(marker), c.result == 0) << c.name << ": the installer ran";
    }

    // Held from the check to the end of the install: nobody may change or remove it meanwhile.
    const std::wstring installer = CopyInstaller(L"held.exe");
    utils::ScopedFileHandle held;
    ASSERT_TRUE(core::OpenVerifiedFile(App(), installer, held));
    utils::ScopedFileHandle writer(::CreateFileW(installer.c_str(), GENERIC_WRITE,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                 OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(writer.IsValid());
    EXPECT_FALSE(::DeleteFileW(installer.c_str()));
    EXPECT_FALSE(::MoveFileW(installer.c_str(), (folder_ / L"moved.exe").c_str()));
}

TEST_F(InstallRows, ExecutableGetsItsParametersWithLogAndStubPathFilledIn) {
    utils::StartupSwitches switches;
    switches.passThrough = L"0";   // comes first: here it is the exit code
    switches.shortcut = L"C:\\stub dir\\Tandora.exe";
    Restart(switches);
    // The extension test ignores case.
    const std::wstring installer = CopyInstaller(L"setup.EXE");
    const std::wstring marker = ground_ + L"seen.txt";
    ASSERT_EQ(Install(installer, L"\"" + marker + L"\" $LOGFILE$ $STUBPATH$"), 0);

    // The cache's copy ran, with the stub's own paths filled in after the parameters were judged.
    const std::wstring line = ReadWideFile(marker);
    const std::wstring logPrefix = core::InstallLogFolder(App()) + L"log_";
    const std::wstring head = L"\"" + core::CachedPathOf(App(), installer) + L"\" 0 \"" + marker + L"\" \"" + logPrefix;
    const std::wstring tail = L".txt\" \"C:\\stub dir\\Tandora.exe\"";
    ASSERT_EQ(line.size(), head.size() + 14 + tail.size()) << testing::PrintToString(htmluitest::Narrow(line));
    EXPECT_EQ(line.substr(0, head.size()), head);
    for (size_t i = head.size(); i < head.size() + 14; ++i) EXPECT_TRUE(std::iswdigit(line[i])) << i;
    EXPECT_EQ(line.substr(head.size() + 14), tail);
}

// After a reboot the run starts from a resume copy, which goes when that run ends: the installer
// is told the file the user started, noted when the resume was asked for.
TEST_F(InstallRows, ResumedRunGivesTheInstallerTheFileTheUserStarted) {
    const std::wstring started = folder_ / L"Tandora22_setup.exe";
    ASSERT_TRUE(testsupport::WriteFileBytes(started, "stub"));
    core::NoteStartedFile(App().Config().FrameworkKeyPath(), started);
    utils::StartupSwitches switches;
    switches.passThrough = L"0";
    switches.resumeMode = 2;
    switches.shortcut = core::ResumeCopyRoot() + L"0123456789abcdef\\Tandora22_setup.exe";
    Restart(switches);
    const std::wstring marker = ground_ + L"seen.txt";
    const int result = Install(CopyInstaller(L"setup.exe"), L"\"" + marker + L"\" $STUBPATH$");
    core::NoteStartedFile(App().Config().FrameworkKeyPath(), L"");
    ASSERT_EQ(result, 0);
    const std::wstring line = ReadWideFile(marker);
    const std::wstring tail = L" \"" + started + L"\"";
    ASSERT_GE(line.size(), tail.size());
    EXPECT_EQ(line.substr(line.size() - tail.size()), tail) << htmluitest::Narrow(line);
}

TEST_F(InstallRows, AnyOtherExtensionStartsNothing) {
    const std::wstring package = CopyInstaller(L"setup.exe.txt");
    const std::wstring marker = folder_ / L"seen.txt";
    ASSERT_EQ(Install(package, L"0 \"" + marker + L"\""), 2);
    EXPECT_FALSE(utils::PathExists(marker));
    ASSERT_EQ(Reports().size(), 1u) << "only the final report";
}

// The page counts a failed install whose last error is 1638 as "installed already": an install
// that ends before any installer ran must not leave the previous package's 1638 standing.
TEST_F(InstallRows, EveryEndWithoutAnInstallerLeavesItsOwnLastError) {
    const std::wstring installer = CopyInstaller(L"previous.exe");
    const struct {
        const char* name;
        std::function<std::wstring()> package;
        int result;
        ULONG lastError;   // 0: any code but 0 and 1638
    } cases[] = {
        {"refused executable", [&] {
             const std::wstring p = CopyInstaller(L"unsigned.exe");
             ::DeleteFileW((p + L".sig").c_str());
             return p;
         }, 6, core::kRefusedPackageError},
        {"refused ZIP", [&] {
             const std::wstring p = Zip(L"unsigned.zip", {{"setup.exe", "x"}});
             ::DeleteFileW((p + L".sig").c_str());
             return p;
         }, 6, core::kRefusedPackageError},
        {"unknown kind", [&] { return CopyInstaller(L"setup.msp"); }, 2, ERROR_NOT_SUPPORTED},
        {"ZIP without setup.exe", [&] { return Zip(L"nosetup.zip", {{"readme.txt", "r"}}); }, 2, ERROR_FILE_NOT_FOUND},
        {"signed file that is no program", [&] {
             const std::wstring p = folder_ / L"text.exe";
             testsupport::WriteFileBytes(p, "just text");
             testsupport::PublishSignature(p);
             return p;
         }, 4, 0},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(Install(installer, L"1638"), 1) << c.name;
        ASSERT_EQ(LastInstallError(), 1638u);
        EXPECT_EQ(Install(c.package(), L""), c.result) << c.name;
        const ULONG last = LastInstallError();
        if (c.lastError) EXPECT_EQ(last, c.lastError) << c.name;
        else EXPECT_TRUE(last != 0 && last != 1638) << c.name << ": " << last;
    }
    // The ZIP without a setup keeps its unpacked folder for the report.
    const std::wstring unpacked = LoggedAfter("Can not find setup.exe, unzip path : ", "\n");
    if (!unpacked.empty()) utils::DeleteFolderTree(unpacked);
}

TEST_F(InstallRows, WindowIsHiddenUnlessTheInstallIsQuiet) {
    struct Window {
        HWND handle = ::CreateWindowW(L"STATIC", L"stub", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100, 100, nullptr,
                                      nullptr, nullptr, nullptr);
        ~Window() { if (handle) ::DestroyWindow(handle); }
        HWND Get() const { return handle; }
    } window;
    ASSERT_NE(window.Get(), nullptr);
    methods_->SetWindowHandle(window.Get());
    const std::wstring installer = CopyInstaller(L"installer.exe");
    ASSERT_EQ(Install(installer, L"0 /qn"), 0);
    EXPECT_TRUE(::IsWindowVisible(window.Get()));
    ASSERT_EQ(Install(installer, L"0 /V/QN"), 0);
    EXPECT_TRUE(::IsWindowVisible(window.Get()));
    ASSERT_EQ(Install(installer, L"0 x/qn"), 0);
    EXPECT_FALSE(::IsWindowVisible(window.Get()));
    methods_->SetWindowHandle(nullptr);
}

TEST_F(InstallRows, ZipRunsTheFirstSetupFoundAndRemovesItsFolder) {
    std::string installer;
    ASSERT_TRUE(testsupport::ReadFileBytes(TANDORA_EXIT_WITH, installer));
    const std::wstring package =
        Zip(L"package.Zip", {{"readme.txt", "r"}, {"app/bin/setup.exe", "not this one"}, {"app/setup.exe", installer}});
    ASSERT_EQ(Install(package, L"3010", 2), 11);
    EXPECT_EQ(LastInstallError(), 3010u);
    const std::wstring setup = LoggedAfter("Install \"", "\\app\\setup.exe\"");
    ASSERT_FALSE(setup.empty());
    EXPECT_FALSE(utils::PathExists(setup)) << "the unpacked folder is removed";
}

TEST_F(InstallRows, ZipWithoutSetupEndsWithFileNotExistAndKeepsItsFolder) {
    const std::wstring package = Zip(L"package.zip", {{"readme.txt", "r"}, {"bin/setup.dll", "d"}});
    ASSERT_EQ(Install(package, L"", 1), 2);
    const std::wstring unpacked = LoggedAfter("Can not find setup.exe, unzip path : ", "\n");
    ASSERT_FALSE(unpacked.empty());
    EXPECT_TRUE(utils::PathExists(unpacked + L"\\bin\\setup.dll")) << htmluitest::Narrow(unpacked);
    utils::DeleteFolderTree(unpacked);
}

TEST_F(InstallRows, ZipUnpackedByTheDownloadIsTakenOnlyFromAWholeRecordOnTheGround) {
    std::string installer;
    ASSERT_TRUE(testsupport::ReadFileBytes(TANDORA_EXIT_WITH, installer));
    Bridge().SetProperty(L"__Extract_In_Download__", L"true");

    // The download's record, restored after a reboot, of a folder it unpacked on the ground:
    // the package itself is not needed again.
    const std::wstring kept = ground_ + L"kept";
    ASSERT_TRUE(::CreateDirectoryW(kept.c_str(), nullptr));
    ASSERT_TRUE(testsupport::WriteFileBytes(kept + L"\\setup.exe", installer));
    core::RememberCreatedFolder(app_->App().Config().FrameworkKeyPath(), kept);
    const std::wstring gone = folder_ / L"gone.zip";
    Bridge().SetProperty(gone + L"__ZIP_Unzip_Folder__", kept);
    Bridge().SetProperty(gone + L"__ZIP_EXE_Path__", kept);
    ASSERT_EQ(Install(gone, L"0", 1), 0);
    EXPECT_EQ(LoggedAfter("Install \"", "\\setup.exe\""), kept);
    EXPECT_FALSE(utils::PathExists(kept)) << "the stub's own unpacked folder is removed";

    // A folder the stub made outside the ground (an earlier version unpacked into the user's
    // temporary folder) can have been swapped since: its setup is not run, the package is
    // unpacked again from the cache's verified copy, and the old folder is left alone.
    std::string impostor;
    ASSERT_TRUE(testsupport::ReadFileBytes(TANDORA_IMPOSTOR, impostor));
    const std::wstring old = folder_ / L"old";
    ASSERT_TRUE(::CreateDirectoryW(old.c_str(), nullptr));
    ASSERT_TRUE(testsupport::WriteFileBytes(old + L"\\setup.exe", impostor));
    core::RememberCreatedFolder(app_->App().Config().FrameworkKeyPath(), old);
    const std::wstring again = Zip(L"again.zip", {{"app/setup.exe", installer}});
    Bridge().SetProperty(again + L"__ZIP_Unzip_Folder__", old);
    Bridge().SetProperty(again + L"__ZIP_EXE_Path__", old);
    const std::wstring marker = ground_ + L"ran.txt";
    ASSERT_EQ(Install(again, L"0 \"" + marker + L"\"", 1), 0);
    const std::wstring ran = LoggedAfter("Install \"", "\\app\\setup.exe\"");
    EXPECT_TRUE(utils::IsInGround(ran)) << htmluitest::Narrow(ran);
    EXPECT_EQ(ReadWideFile(marker).find(L"impostor"), std::wstring::npos);
    EXPECT_TRUE(utils::PathExists(old + L"\\setup.exe"));
    core::ForgetCreatedFolder(app_->App().Config().FrameworkKeyPath(), old);

    // The same record naming a folder the stub did not make (the user's hive can say anything):
    // its setup is not run and the folder is not deleted.
    const std::wstring planted = folder_ / L"planted";
    ASSERT_TRUE(::CreateDirectoryW(planted.c_str(), nullptr));
    ASSERT_TRUE(testsupport::WriteFileBytes(planted + L"\\setup.exe", installer));
    const std::wstring forged = folder_ / L"forged.zip";
    Bridge().SetProperty(forged + L"__ZIP_Unzip_Folder__", planted);
    Bridge().SetProperty(forged + L"__ZIP_EXE_Path__", planted);
    EXPECT_NE(Install(forged, L"0", 1), 0);
    EXPECT_NE(LoggedAfter("Install \"", "\\setup.exe\""), planted);
    EXPECT_TRUE(utils::PathExists(planted + L"\\setup.exe"));

    // A record cut short by a run that ended between its two values names no setup: the package
    // is unpacked again instead of starting "\setup.exe" from the root of the drive.
    const std::wstring package = Zip(L"resumed.zip", {{"app/setup.exe", installer}});
    Bridge().SetProperty(package + L"__ZIP_Unzip_Folder__", folder_ / L"unpacked");
    ASSERT_EQ(Install(package, L"3010", 2), 11);
    EXPECT_EQ(LastInstallError(), 3010u);
    const std::wstring setup = LoggedAfter("Install \"", "\\app\\setup.exe\"");
    ASSERT_FALSE(setup.empty());
    EXPECT_NE(setup.find(L"\\"), std::wstring::npos);
}

namespace {

// A shell command run once, at the moment between the check of what an installer gets and its use.
std::string g_atUse;
void RunAtUse(const std::wstring&) {
    if (g_atUse.empty()) return;
    testsupport::LinuxShell(g_atUse);
    g_atUse.clear();
}

// Every file below folder with its bytes: what a test compares before and after to show that
// nothing there was written or deleted.
std::map<std::wstring, std::string> Contents(const std::wstring& folder) {
    std::map<std::wstring, std::string> files;
    std::vector<std::wstring> names;
    const utils::ScopedFileHandle handle = utils::OpenFolderNoFollow(folder);
    if (handle) utils::ListFolder(handle.Get(), names);
    for (const std::wstring& name : names) testsupport::ReadFileBytes(folder + L"\\" + name, files[name]);
    return files;
}

// The user's download folder "dl" is a link the user owns, to "real" (the signed packages).
// At the moment between check and use the user turns it to "other", which holds impostors of
// the same names.
class TurnedLink {
public:
    explicit TurnedLink(const testsupport::TempFolder& folder) : unix_(testsupport::UnixPath(folder.Path())) {
        EXPECT_FALSE(unix_.empty());
        EXPECT_TRUE(::CreateDirectoryW((folder / L"real").c_str(), nullptr));
        EXPECT_TRUE(::CreateDirectoryW((folder / L"other").c_str(), nullptr));
        core::SetCheckUseHookForTesting(RunAtUse);
    }
    ~TurnedLink() {
        core::SetCheckUseHookForTesting(nullptr);
        g_atUse.clear();
    }
    // Points "dl" at "real" now, and at "other" at the next moment between check and use.
    void Arm() {
        EXPECT_TRUE(testsupport::LinuxShell("ln -sfn '" + unix_ + "real' '" + unix_ + "dl'"));
        g_atUse = "ln -sfn '" + unix_ + "other' '" + unix_ + "dl'";
    }
    bool Fired() const { return g_atUse.empty(); }

private:
    std::string unix_;
};

} // namespace

// Whatever the user's folder holds by the time the installer or the unpacker starts, they get
// the bytes that were checked, and nothing in the user's folders is written or deleted.
TEST_F(InstallRows, TheCheckedBytesRunWhateverTheUsersFolderBecomesMeanwhile) {
    std::string installer, impostor;
    ASSERT_TRUE(testsupport::ReadFileBytes(TANDORA_EXIT_WITH, installer));
    ASSERT_TRUE(testsupport::ReadFileBytes(TANDORA_IMPOSTOR, impostor));
    TurnedLink link(folder_);
    const struct {
        const wchar_t* name;
        std::string checked;
        std::string other;
    } cases[] = {
        {L"setup.exe", installer, impostor},
        {L"package.zip", ZipBytes({{"app/setup.exe", installer}}), ZipBytes({{"app/setup.exe", impostor}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(htmluitest::Narrow(c.name));
        const std::wstring real = folder_ / (std::wstring(L"real\\") + c.name);
        const std::wstring other = folder_ / (std::wstring(L"other\\") + c.name);
        ASSERT_TRUE(testsupport::WriteFileBytes(real, c.checked));
        ASSERT_TRUE(testsupport::PublishSignature(real));
        ASSERT_TRUE(testsupport::WriteFileBytes(other, c.other));
        ASSERT_TRUE(::CopyFileW((real + L".sig").c_str(), (other + L".sig").c_str(), FALSE));
        const auto realBefore = Contents(folder_ / L"real");
        const auto otherBefore = Contents(folder_ / L"other");
        const std::wstring marker = ground_ + L"ran.txt";
        ::DeleteFileW(marker.c_str());

        link.Arm();
        EXPECT_EQ(Install(folder_ / (std::wstring(L"dl\\") + c.name), L"0 \"" + marker + L"\"", 1), 0);
        EXPECT_TRUE(link.Fired());
        const std::wstring ran = ReadWideFile(marker);
        EXPECT_FALSE(ran.empty());
        EXPECT_EQ(ran.find(L"impostor"), std::wstring::npos);
        EXPECT_TRUE(Contents(folder_ / L"real") == realBefore);
        EXPECT_TRUE(Contents(folder_ / L"other") == otherBefore);
    }
}

// Windows Installer as the install row drives it, with the package built by wixl.
class MsiInstall : public InstallRows {
protected:
    void SetUp() override {
        InstallRows::SetUp();
        ASSERT_TRUE(testsupport::PublishSignature(TANDORA_INSTALL_PROBE_MSI));
        Uninstall();
    }
    void TearDown() override {
        Uninstall();
        InstallRows::TearDown();
    }
    static void Uninstall() {
        wchar_t system[MAX_PATH];
        ASSERT_GT(::GetSystemDirectoryW(system, MAX_PATH), 0u);
        DWORD code = 0;
        testsupport::RunChild(std::wstring(system) + L"\\msiexec.exe",
                              L"msiexec.exe /x {3D6A1E0B-7C4F-4B8E-9E21-5A0C8F3B2D71} /qn", {}, 120000, code);
    }
};

TEST_F(MsiInstall, QuietInstallSetsThePropertyReportsProgressAndListsItsLog) {
    ASSERT_EQ(Install(TANDORA_INSTALL_PROBE_MSI, L"/qn /l*v $LOGFILE$ PROP=1"), 0);
    ExpectProgressThenFinal(0);
    EXPECT_EQ(LastInstallError(), 0u);

    // Progress from the installer's own messages: it rose and reached its total.
    const auto reports = Reports();
    ASSERT_GE(reports.size(), 2u);
    const Report& last = reports[reports.size() - 2];
    EXPECT_GT(last.total, 1);
    EXPECT_GE(last.current, last.total);

    wchar_t programs[MAX_PATH];
    ASSERT_EQ(::SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, programs), S_OK);
    EXPECT_TRUE(utils::PathExists(std::wstring(programs) + L"\\TandoraInstallProbe\\payload.txt"));
    std::wstring prop;
    ASSERT_TRUE(utils::ReadFrameworkValue(L"HKEY_LOCAL_MACHINE\\Software\\Zarvo\\TandoraInstallProbe", L"prop", prop));
    EXPECT_EQ(prop, L"1");

    // The verbose log went to the log folder and into the error report's list.
    const std::wstring logPrefix = core::InstallLogFolder(App()) + L"log_";
    bool listed = false;
    for (const auto& file : App().Analytics().reportFiles()) {
        if (file.compare(0, logPrefix.size(), logPrefix) != 0) continue;
        listed = true;
        std::string text;
        EXPECT_TRUE(testsupport::ReadFileBytes(file, text));
        EXPECT_FALSE(text.empty());
        ::DeleteFileW(file.c_str());
    }
    EXPECT_TRUE(listed);
}

// The package and the transform the parameters name are the checked ones, even through a link the
// user turns between the check and the install. A transform without signature, a file named
// outside the stub's own folders, or an install folder that would break out of its quotes is
// refused before anything is installed; a folder with blanks arrives whole.
TEST_F(MsiInstall, TheCheckedPackageAndTransformAreInstalledAndNothingElseIsNamed) {
    TurnedLink link(folder_);
    for (const wchar_t* side : {L"real", L"other"}) {
        const std::wstring package = folder_ / (std::wstring(side) + L"\\probe.msi");
        ASSERT_TRUE(::CopyFileW(TANDORA_INSTALL_PROBE_MSI, package.c_str(), FALSE));
        ASSERT_TRUE(testsupport::PublishSignature(package));
    }
    ASSERT_TRUE(installtest::WritePropTransform(folder_ / L"real\\probe.mst", "transformed"));
    ASSERT_TRUE(testsupport::PublishSignature(folder_ / L"real\\probe.mst"));
    ASSERT_TRUE(installtest::WritePropTransform(folder_ / L"other\\probe.mst", "impostor"));
    ASSERT_TRUE(::CopyFileW((folder_ / L"real\\probe.mst.sig").c_str(), (folder_ / L"other\\probe.mst.sig").c_str(), FALSE));
    ASSERT_TRUE(installtest::WritePropTransform(folder_ / L"real\\unsigned.mst", "unsigned"));
    const std::wstring target = folder_ / L"Probe Target Dir";

    const struct {
        const char* what;
        std::wstring parameters;
        std::wstring installPath;
        bool turn;
        int result;
        const wchar_t* prop;   // null: nothing installed
    } cases[] = {
        {"checked package and transform through a turned link", L"/qn TRANSFORMS=probe.mst", L"", true, 0, L"transformed"},
        {"a transform without signature", L"/qn TRANSFORMS=unsigned.mst", L"", false, 6, nullptr},
        {"a patch outside the stub's folders", L"/qn PATCH=" + (folder_ / L"real\\probe.msp"), L"", false, 4, nullptr},
        {"an install folder breaking out of its quotes", L"/qn",
         L"x\" TRANSFORMS=\"" + (folder_ / L"other\\probe.mst"), false, 4, nullptr},
        {"an install folder with blanks", L"/qn", target, false, 0, L"0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Uninstall();
        Bridge().SetProperty(L"installPath", c.installPath);
        link.Arm();
        if (!c.turn) g_atUse.clear();
        EXPECT_EQ(Install(folder_ / L"dl\\probe.msi", c.parameters), c.result);
        std::wstring prop;
        const bool installed =
            utils::ReadFrameworkValue(L"HKEY_LOCAL_MACHINE\\Software\\Zarvo\\TandoraInstallProbe", L"prop", prop);
        EXPECT_EQ(installed, c.prop != nullptr);
        if (c.prop) {
            EXPECT_EQ(prop, c.prop);
        }
    }
    EXPECT_TRUE(utils::PathExists(target + L"\\payload.txt")) << "INSTALLDIR arrived quoted";
    Bridge().SetProperty(L"installPath", L"");
}

namespace {

// A Windows Installer that records what the stub asks of it and plays back progress messages.
struct FakeMsi {
    std::vector<INSTALLUILEVEL> levels;
    std::vector<DWORD> filters;
    INSTALLUI_HANDLERW handler = nullptr;
    LPVOID context = nullptr;
    DWORD logMode = 0, logAttributes = 0;
    std::wstring logPath, package, commandLine;
    std::vector<const wchar_t*> messages;
    unsigned long totalSeen = 0, currentSeen = 0;
    core::HtmlExternal* bridge = nullptr;
    UINT answer = 0;
} g_msi;

INSTALLUILEVEL WINAPI FakeSetInternalUI(INSTALLUILEVEL level, HWND*) {
    g_msi.levels.push_back(level);
    return INSTALLUILEVEL_BASIC;
}
INSTALLUI_HANDLERW WINAPI FakeSetExternalUI(INSTALLUI_HANDLERW handler, DWORD filter, LPVOID context) {
    const INSTALLUI_HANDLERW previous = g_msi.handler;
    g_msi.handler = handler;
    g_msi.context = context;
    g_msi.filters.push_back(filter);
    return previous;
}
UINT WINAPI FakeEnableLog(DWORD mode, LPCWSTR path, DWORD attributes) {
    g_msi.logMode = mode;
    g_msi.logPath = path;
    g_msi.logAttributes = attributes;
    return ERROR_SUCCESS;
}
UINT WINAPI FakeInstallProduct(LPCWSTR package, LPCWSTR commandLine) {
    g_msi.package = package;
    g_msi.commandLine = commandLine;
    for (const wchar_t* message : g_msi.messages) {
        if (g_msi.handler) g_msi.handler(g_msi.context, INSTALLMESSAGE_PROGRESS, message);
    }
    g_msi.totalSeen = g_msi.bridge->InstallTotal();
    g_msi.currentSeen = g_msi.bridge->InstallCurrent();
    return g_msi.answer;
}

} // namespace

TEST_F(InstallRows, MsiSwitchesChooseTheUiLevelAndFilterAndNeverReachTheInstaller) {
    utils::MsiApi api = {};
    api.MsiSetInternalUI = FakeSetInternalUI;
    api.MsiSetExternalUIW = FakeSetExternalUI;
    api.MsiEnableLogW = FakeEnableLog;
    api.MsiInstallProductW = FakeInstallProduct;

    const struct {
        const wchar_t* parameters;
        INSTALLUILEVEL level;
        DWORD filter;
        const wchar_t* commandLine;
    } cases[] = {
        {L" /qn /l*v $LOGFILE$ PROP=1", INSTALLUILEVEL_NONE, 0x400, L"    PROP=1"},
        {L"A=1 /QF /L*v \"x\"", INSTALLUILEVEL_FULL, 0x2000, L"A=1   \"x\""},
        {L"A=1 /qnx", INSTALLUILEVEL_DEFAULT, 0, L"A=1 /qnx"},
    };
    for (const auto& c : cases) {
        g_msi = FakeMsi();
        g_msi.bridge = &Bridge();
        g_msi.answer = 1638;
        g_msi.messages = {L"1: 0 2: 50 3: 0", L"1: 0 2: 1000 3: 0", L"1: 1 2: 24 3: 1", L"1: 2 2: 512"};
        EXPECT_EQ(core::InstallMsi(App(), api, L"C:\\p.msi", c.parameters, L"C:\\logs\\log_1.txt"), UnknowError);
        EXPECT_EQ(g_msi.commandLine, c.commandLine);
        EXPECT_EQ(g_msi.package, L"C:\\p.msi");
        ASSERT_EQ(g_msi.levels.size(), 2u);
        EXPECT_EQ(g_msi.levels[0], c.level);
        EXPECT_EQ(g_msi.levels[1], INSTALLUILEVEL_BASIC) << "the previous level comes back";
        ASSERT_EQ(g_msi.filters.size(), 2u);
        EXPECT_EQ(g_msi.filters[0], c.filter);
        EXPECT_EQ(g_msi.handler, nullptr) << "the previous handler comes back";
        EXPECT_EQ(g_msi.logMode, 0x1FDFu);
        EXPECT_EQ(g_msi.logAttributes, static_cast<DWORD>(INSTALLLOGATTRIBUTES_APPEND));
        EXPECT_EQ(g_msi.logPath, L"C:\\logs\\log_1.txt");
        // The messages moved the bar while the installer ran; at the end it is full.
        EXPECT_EQ(g_msi.totalSeen, 1024u);
        EXPECT_EQ(g_msi.currentSeen, 512u);
        EXPECT_EQ(Bridge().InstallCurrent(), 1024u);
        EXPECT_EQ(LastInstallError(), 1638u);
    }
}

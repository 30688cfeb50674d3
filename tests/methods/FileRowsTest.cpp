// The file and folder rows through window.external: existence, folders, sizes, CRC-32,
// versions of installer packages and executables, and the well-known folders.
#include "tests/methods/MethodsFixture.h"

#include "stubframework/core/ResumeCopy.h"

#include "stubframework/utils/Handle.h"

#include <winioctl.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <zlib.h>

using namespace stubframework;
using namespace methodstest;

namespace {

const WORD kGet = DISPATCH_METHOD | DISPATCH_PROPERTYGET;

class FileRows : public MethodsTest {
public:
    std::wstring Text1(const wchar_t* name, const std::wstring& arg) {
        Args args;
        args.Text(arg);
        return TextOf(name, args);
    }
    std::wstring Text2(const wchar_t* name, const std::wstring& first, const std::wstring& second) {
        Args args;
        args.Text(first).Text(second);
        return TextOf(name, args);
    }
    bool Flag1(const wchar_t* name, const std::wstring& arg) {
        Args args;
        args.Text(arg);
        return FlagOf(name, args);
    }
};

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    unsigned state = 12345;
    for (char& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 16);
    }
    return bytes;
}

} // namespace

TEST_F(FileRows, CreateDirectoryMakesNestedFoldersAndIsFileExistsSeesThem) {
    const std::wstring nested = temp_ / L"a\\b\\c";
    EXPECT_FALSE(Flag1(L"isFileExists", nested));
    EXPECT_TRUE(LogHas("args: " + Narrow(nested) + ", Result: not exist"));
    EXPECT_TRUE(Flag1(L"createDirectory", nested));
    EXPECT_TRUE(::PathIsDirectoryW(nested.c_str()));
    EXPECT_FALSE(Flag1(L"createDirectory", nested));   // it exists now
    EXPECT_TRUE(Flag1(L"isFileExists", nested));       // folders count
    EXPECT_TRUE(LogHas("args: " + Narrow(nested) + ", Result: exist"));
    ASSERT_TRUE(testsupport::WriteFileBytes(temp_ / L"file.txt", "x"));
    EXPECT_TRUE(Flag1(L"isFileExists", temp_ / L"file.txt"));

    // Without a result pointer nothing is created.
    Args args;
    args.Text(temp_ / L"never");
    EXPECT_EQ(Call(L"createDirectory", kGet, args, nullptr), S_OK);
    EXPECT_FALSE(::PathFileExistsW((temp_ / L"never").c_str()));
}

TEST_F(FileRows, GetCrcIsZlibCrc32OfTheWholeFile) {
    ASSERT_TRUE(testsupport::WriteFileBytes(temp_ / L"empty", ""));
    EXPECT_EQ(Text1(L"getCrc", temp_ / L"empty"), L"0");
    EXPECT_TRUE(LogHas("EMGetCRC\r\n"));
    EXPECT_TRUE(LogHas("EMGetCRC args " + Narrow(temp_ / L"empty") + ", Result 0"));

    ASSERT_TRUE(testsupport::WriteFileBytes(temp_ / L"check", "123456789"));
    EXPECT_EQ(Text1(L"getCrc", temp_ / L"check"), L"3421780262");   // the CRC-32 check value

    // Three whole 1 MiB chunks and a partial one.
    const std::string big = Pattern(3 * 1024 * 1024 + 4321);
    ASSERT_TRUE(testsupport::WriteFileBytes(temp_ / L"big.bin", big));
    const uLong expected = ::crc32(::crc32(0, Z_NULL, 0), reinterpret_cast<const Bytef*>(big.data()),
                                   static_cast<uInt>(big.size()));
    EXPECT_EQ(Text1(L"getCrc", temp_ / L"big.bin"), std::to_wstring(expected));
    const std::string three = big.substr(0, 3 * 1024 * 1024);
    ASSERT_TRUE(testsupport::WriteFileBytes(temp_ / L"three.bin", three));
    EXPECT_EQ(Text1(L"getCrc", temp_ / L"three.bin"),
              std::to_wstring(::crc32(::crc32(0, Z_NULL, 0), reinterpret_cast<const Bytef*>(three.data()),
                                      static_cast<uInt>(three.size()))));

    EXPECT_EQ(Text1(L"getCrc", temp_ / L"missing"), L"0");
    // No sharing: a file someone else has open cannot be read.
    utils::ScopedFileHandle held(::CreateFileW((temp_ / L"check").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                               OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    EXPECT_EQ(Text1(L"getCrc", temp_ / L"check"), L"0");
}

TEST_F(FileRows, GetFileSizeIs64Bit) {
    const std::wstring path = temp_ / L"sparse.bin";
    {
        utils::ScopedFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        ASSERT_TRUE(file);
        DWORD ignored = 0;
        ::DeviceIoControl(file.Get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
        LARGE_INTEGER end;
        end.QuadPart = 5LL * 1024 * 1024 * 1024;
        ASSERT_TRUE(::SetFilePointerEx(file.Get(), end, nullptr, FILE_BEGIN));
        ASSERT_TRUE(::SetEndOfFile(file.Get()));
    }
    EXPECT_EQ(Text1(L"getFileSize", path), L"5368709120");
    EXPECT_TRUE(LogHas("EMGetFileSize\r\n"));
    EXPECT_TRUE(LogHas("EMGetFileSize 5368709120"));

    EXPECT_EQ(Text1(L"getFileSize", temp_ / L"missing"), L"0");
    utils::ScopedFileHandle held(
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    EXPECT_EQ(Text1(L"getFileSize", path), L"0");
}

TEST_F(FileRows, GetFileVersionOfPackagesAndPrograms) {
    const std::wstring msi = TANDORA_VERSION_MSI;
    EXPECT_EQ(Text2(L"getFileVersion", L".MSI", msi), L"4.5.6");
    EXPECT_TRUE(LogHas("EMGetMSIFileVersion\r\n"));
    EXPECT_TRUE(LogHas("EMGetMSIFileVersion args " + Narrow(msi) + ", Result 4.5.6"));
    EXPECT_EQ(Text2(L"getFileVersion", L".msi", msi), L"4.5.6");
    EXPECT_EQ(Text2(L"getFileVersion", L".MSI", temp_ / L"missing.msi"), L"");
    ASSERT_TRUE(testsupport::WriteFileBytes(temp_ / L"broken.msi", "not a database"));
    EXPECT_EQ(Text2(L"getFileVersion", L".MSI", temp_ / L"broken.msi"), L"");

    const std::wstring exe = TANDORA_VERSIONED_EXE;
    // File version 3.14.15.926; the product version (9.8.7.6) must not be taken.
    EXPECT_EQ(Text2(L"getFileVersion", L".EXE", exe), L"3.14.15.926");
    EXPECT_EQ(Text2(L"getFileVersion", L".exe", exe), L"3.14.15.926");
    EXPECT_EQ(Text2(L"getFileVersion", L".dll", exe), L"");
    EXPECT_EQ(Text2(L"getFileVersion", L"", exe), L"");
    EXPECT_EQ(Text2(L"getFileVersion", L".EXE", msi), L"");   // no version resource
    EXPECT_EQ(Text2(L"getFileVersion", L".MSI", exe), L"");

    EXPECT_EQ(Text2(L"getFileVersionEx", L".MSI", msi), L"4.5.6");
    EXPECT_EQ(Text2(L"getFileVersionEx", L".EXE", exe), L"3.14.15.926");
}

TEST_F(FileRows, GetFileVersionExSeesTheNativeSystemFolder) {
    BOOL wow64 = FALSE;
    ::IsWow64Process(::GetCurrentProcess(), &wow64);
    if (!wow64) GTEST_SKIP() << "no file-system redirection for this process";

    // Put a program only in the native system folder; the redirected view does not have it.
    wchar_t system[MAX_PATH];
    ASSERT_GT(::GetSystemDirectoryW(system, MAX_PATH), 0u);
    const std::wstring name = L"tandora_version_" + std::to_wstring(::GetCurrentProcessId()) + L".exe";
    const std::wstring nativePath = std::wstring(system) + L"\\" + name;
    void* redirection = nullptr;
    ASSERT_TRUE(::Wow64DisableWow64FsRedirection(&redirection));
    const bool copied = ::CopyFileW(TANDORA_VERSIONED_EXE, nativePath.c_str(), FALSE) != FALSE;
    ::Wow64RevertWow64FsRedirection(redirection);
    ASSERT_TRUE(copied);

    const std::wstring plain = Text2(L"getFileVersion", L".EXE", nativePath);
    const std::wstring native = Text2(L"getFileVersionEx", L".EXE", nativePath);
    EXPECT_TRUE(LogHas("EMGetMSIFileVersion args " + Narrow(nativePath) + ", Result 3.14.15.926"));
    // Redirection is back on for this thread afterwards.
    const bool visibleAfter = ::PathFileExistsW(nativePath.c_str()) != FALSE;

    ASSERT_TRUE(::Wow64DisableWow64FsRedirection(&redirection));
    ::DeleteFileW(nativePath.c_str());
    ::Wow64RevertWow64FsRedirection(redirection);

    EXPECT_EQ(plain, L"");
    EXPECT_EQ(native, L"3.14.15.926");
    EXPECT_FALSE(visibleAfter);
}

TEST_F(FileRows, FreeDiskSpaceIsDecimalTextAndZeroForAMissingDrive) {
    const std::wstring space = Text1(L"getDiskAvailableSpace", temp_.Path());
    ASSERT_FALSE(space.empty());
    EXPECT_EQ(space.find_first_not_of(L"0123456789"), std::wstring::npos);
    EXPECT_NE(space, L"0");
    EXPECT_TRUE(LogHas("EMGetDiskAvailableSpace\r\n"));
    EXPECT_TRUE(LogHas("EMGetDiskAvailableSpace args: " + Narrow(temp_.Path()) + ", Result\r\n"));
    EXPECT_EQ(Text1(L"getDiskAvailableSpace", L"Q:\\nowhere\\"), L"0");
}

TEST_F(FileRows, TempPathIsCreatedBelowTheTemporaryFolder) {
    const std::wstring product = Text1(L"getTempPath", L"");
    EXPECT_EQ(product, temp_.Path() + L"Tandora\\");
    EXPECT_TRUE(::PathIsDirectoryW(product.c_str()));
    EXPECT_TRUE(LogHas("EMGetTempPath\r\n"));
    EXPECT_TRUE(LogHas("EMGetTempPath " + Narrow(product)));
    EXPECT_EQ(Text1(L"getTempPath", L"Other"), temp_.Path() + L"Other\\");
    EXPECT_EQ(Text1(L"getTempPath", L"Other"), temp_.Path() + L"Other\\");   // existing is fine

    // A temporary folder of 259 characters or more gives "" and creates nothing.
    const std::wstring longTemp = temp_.Path() + std::wstring(270 - temp_.Path().size(), L'x') + L"\\";
    ::SetEnvironmentVariableW(L"TMP", longTemp.c_str());
    EXPECT_EQ(Text1(L"getTempPath", L"x"), L"");
    ::SetEnvironmentVariableW(L"TMP", temp_.Path().c_str());
}

TEST_F(FileRows, SystemFolderAnswersAnyCallAndCurrentIsTheExeFolder) {
    wchar_t system[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
    ASSERT_GT(length, 0u);
    // Any flags and any arguments, both names.
    for (const wchar_t* name : {L"getSystemFolder", L"getSystemFolderEx"}) {
        for (WORD flags : {WORD(0), WORD(DISPATCH_METHOD), WORD(kGet), WORD(DISPATCH_PROPERTYPUT)}) {
            Args args;
            if (flags == kGet) args.Number(5).Text(L"ignored");
            utils::ScopedVariant result;
            ASSERT_EQ(Call(name, flags, args, result.Receive()), S_OK);
            ASSERT_EQ(V_VT(result.Ptr()), VT_BSTR);
            EXPECT_EQ(std::wstring(V_BSTR(result.Ptr())), std::wstring(system, length));
            EXPECT_EQ(::SysStringLen(V_BSTR(result.Ptr())), length);
        }
    }

    Args none;
    const std::wstring desktop = TextOf(L"getDesktopPath", none);
    EXPECT_FALSE(desktop.empty());
    EXPECT_NE(desktop.back(), L'\\');
    EXPECT_TRUE(LogHas("EMGetDesktopPath\r\n"));
    EXPECT_TRUE(LogHas("EMGetDesktopPath " + Narrow(desktop)));

    // No "shortcut=" argument here: the folder of this executable.
    wchar_t module[MAX_PATH];
    ASSERT_GT(::GetModuleFileNameW(nullptr, module, MAX_PATH), 0u);
    ::PathRemoveFileSpecW(module);
    EXPECT_EQ(TextOf(L"getCurrentPath", none), module);
    EXPECT_TRUE(LogHas("EMGetCurrentPath\r\n"));
    EXPECT_TRUE(LogHas("EMGetCurrentPath " + Narrow(module)));

    // With the file the user started: its folder, also in a run resumed from a copy of it.
    const std::wstring started = temp_ / L"Tandora22_setup.exe";
    ASSERT_TRUE(testsupport::WriteFileBytes(started, "stub"));
    core::NoteStartedFile(App().Config().FrameworkKeyPath(), started);
    utils::StartupSwitches switches;
    switches.hasShortcut = true;
    for (const std::wstring& shortcut : {started, core::ResumeCopyRoot() + L"0123456789abcdef\\Tandora22_setup.exe"}) {
        switches.shortcut = shortcut;
        Restart(switches);
        EXPECT_EQ(TextOf(L"getCurrentPath", none) + L"\\", temp_.Path()) << Narrow(shortcut);
    }
    core::NoteStartedFile(App().Config().FrameworkKeyPath(), L"");
}

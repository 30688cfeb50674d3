// stubtool pack, run as built: the output is the stub followed by an archive of the bundle.
#include "stubframework/utils/Paths.h"
#include "stubframework/zip/ExtractArchive.h"
#include "stubframework/zip/ZipReader.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <cstring>
#include <random>

using namespace stubframework;
using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

namespace {

DWORD RunStubtool(const std::wstring& arguments) {
    DWORD exitCode = 0xFFFFFFFF;
    EXPECT_TRUE(testsupport::RunChild(STUBTOOL_EXE, L"\"" STUBTOOL_EXE L"\" " + arguments, {}, 60000, exitCode));
    return exitCode;
}

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

std::string Noise(size_t size) {
    std::mt19937 rng(42);
    std::string data(size, '\0');
    for (char& c : data) c = static_cast<char>(rng());
    return data;
}

class PackToolTest : public ::testing::Test {
protected:
    PackToolTest()
        : stub_(temp_ / L"stub.exe"), bundle_(temp_ / L"bundle"), output_(temp_ / L"out.exe") {}

    void SetUp() override {
        ASSERT_TRUE(WriteFileBytes(stub_, "MZ" + std::string(100000, 's')));
        ASSERT_TRUE(utils::CreateFolderTree(bundle_ + L"\\js\\lib"));
        ASSERT_TRUE(utils::CreateFolderTree(bundle_ + L"\\img"));
        ASSERT_TRUE(utils::CreateFolderTree(bundle_ + L"\\empty"));
    }

    testsupport::TempFolder temp_;
    const std::wstring stub_, bundle_, output_;
};

} // namespace

TEST_F(PackToolTest, OutputIsTheStubFollowedByTheWholeBundle) {
    const std::string html(30000, 'h');
    const std::string png = Noise(5000);
    // Above the in-memory limit: goes through the streamed path.
    std::string big = Noise(5 * 1024 * 1024);
    std::memset(&big[1000], 'z', 2 * 1024 * 1024);
    ASSERT_TRUE(WriteFileBytes(bundle_ + L"\\index.html", html));
    ASSERT_TRUE(WriteFileBytes(bundle_ + L"\\img\\logo.png", png));
    ASSERT_TRUE(WriteFileBytes(bundle_ + L"\\js\\lib\\app.js", "var x;"));
    ASSERT_TRUE(WriteFileBytes(bundle_ + L"\\big.dat", big));

    ASSERT_EQ(RunStubtool(L"pack " + Quoted(stub_) + L" " + Quoted(bundle_) + L" " + Quoted(output_)), 0u);

    std::string packed;
    ASSERT_TRUE(ReadFileBytes(output_, packed));
    ASSERT_EQ(packed.compare(0, 100002, "MZ" + std::string(100000, 's')), 0);

    zip::ZipReader reader;
    ASSERT_EQ(reader.Open([&](uint64_t offset, void* buffer, size_t size) {
        std::memcpy(buffer, packed.data() + offset, size);
        return size;
    }, packed.size()), zip::ZipError::None);
    EXPECT_EQ(reader.ArchiveStart(), 100002u);
    std::vector<std::string> names;
    for (size_t i = 0; i < reader.Count(); ++i) names.push_back(reader.Entry(i).name);
    EXPECT_EQ(names, (std::vector<std::string>{"big.dat", "empty/", "img/", "img/logo.png", "index.html", "js/",
                                               "js/lib/", "js/lib/app.js"}));

    const std::wstring destination = temp_ / L"unpacked";
    utils::ScopedFileHandle file(::CreateFileW(output_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                               OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(zip::ExtractArchive(file.Get(), destination, nullptr));
    std::string data;
    EXPECT_TRUE(ReadFileBytes(destination + L"\\index.html", data) && data == html);
    EXPECT_TRUE(ReadFileBytes(destination + L"\\img\\logo.png", data) && data == png);
    EXPECT_TRUE(ReadFileBytes(destination + L"\\js\\lib\\app.js", data) && data == "var x;");
    EXPECT_TRUE(ReadFileBytes(destination + L"\\big.dat", data) && data == big);
    EXPECT_TRUE(utils::PathExists(destination + L"\\empty"));
}

TEST_F(PackToolTest, ExtractUnpacksThePackedBundleAndLeavesNoDamagedFile) {
    const std::string big = Noise(3 * 1024 * 1024);
    ASSERT_TRUE(WriteFileBytes(bundle_ + L"\\big.dat", big));
    ASSERT_TRUE(WriteFileBytes(bundle_ + L"\\js\\lib\\app.js", "var x;"));
    ASSERT_EQ(RunStubtool(L"pack " + Quoted(stub_) + L" " + Quoted(bundle_) + L" " + Quoted(output_)), 0u);

    const std::wstring good = temp_ / L"good";
    ASSERT_EQ(RunStubtool(L"extract " + Quoted(output_) + L" " + Quoted(good)), 0u);
    std::string data;
    EXPECT_TRUE(ReadFileBytes(good + L"\\big.dat", data) && data == big);
    EXPECT_TRUE(ReadFileBytes(good + L"\\js\\lib\\app.js", data) && data == "var x;");
    EXPECT_TRUE(utils::PathExists(good + L"\\empty"));

    // big.dat is the first entry: a byte changed in the middle of its data fails its check.
    std::string packed;
    ASSERT_TRUE(ReadFileBytes(output_, packed));
    packed[100002 + 1024 * 1024] ^= 0x5A;
    const std::wstring damaged = temp_ / L"damaged.exe";
    ASSERT_TRUE(WriteFileBytes(damaged, packed));
    const std::wstring bad = temp_ / L"bad";
    EXPECT_EQ(RunStubtool(L"extract " + Quoted(damaged) + L" " + Quoted(bad)), 1u);
    EXPECT_FALSE(utils::PathExists(bad + L"\\big.dat"));

    EXPECT_EQ(RunStubtool(L"extract " + Quoted(output_)), 2u);
    EXPECT_EQ(RunStubtool(L"extract " + Quoted(temp_ / L"missing.zip") + L" " + Quoted(bad)), 1u);
    EXPECT_EQ(RunStubtool(L"extract " + Quoted(stub_) + L" " + Quoted(bad)), 1u);   // no archive in it
}

TEST_F(PackToolTest, BadUseFailsWithoutLeavingAnOutput) {
    EXPECT_EQ(RunStubtool(L""), 2u);
    EXPECT_EQ(RunStubtool(L"unpack a b c"), 2u);
    EXPECT_EQ(RunStubtool(L"pack " + Quoted(stub_) + L" " + Quoted(bundle_)), 2u);

    EXPECT_EQ(RunStubtool(L"pack " + Quoted(stub_) + L" " + Quoted(temp_ / L"missing") + L" " + Quoted(output_)), 1u);
    EXPECT_EQ(RunStubtool(L"pack " + Quoted(temp_ / L"missing.exe") + L" " + Quoted(bundle_) + L" " + Quoted(output_)),
              1u);
    EXPECT_EQ(RunStubtool(L"pack " + Quoted(stub_) + L" " + Quoted(bundle_) + L" " + Quoted(stub_)), 1u);
    // Names must read the same under every code page.
    ASSERT_TRUE(WriteFileBytes(bundle_ + L"\\caf\x00e9.txt", "x"));
    EXPECT_EQ(RunStubtool(L"pack " + Quoted(stub_) + L" " + Quoted(bundle_) + L" " + Quoted(output_)), 1u);
    EXPECT_FALSE(utils::PathExists(output_));
    std::string stub;
    EXPECT_TRUE(ReadFileBytes(stub_, stub) && stub.size() == 100002);
}

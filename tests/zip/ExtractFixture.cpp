#include "tests/zip/ExtractFixture.h"
#include "stubframework/zip/ZipWriter.h"
#include "stubframework/utils/Handle.h"

using namespace stubframework;

namespace ziptest {

Bytes BuildArchive(const std::vector<Entry>& entries) {
    Bytes out;
    zip::ZipWriter writer([&out](const void* data, size_t size) {
        out.insert(out.end(), static_cast<const unsigned char*>(data), static_cast<const unsigned char*>(data) + size);
        return true;
    });
    for (const Entry& e : entries)
        EXPECT_TRUE(e.folder ? writer.AddFolder(e.name) : writer.AddFile(e.name, e.data.data(), e.data.size()));
    EXPECT_TRUE(writer.Finish());
    return out;
}

std::string ReadWhole(const std::wstring& path) {
    std::string data;
    return testsupport::ReadFileBytes(path, data) ? data : "<missing>";
}

bool ExtractArchiveTest::Extract(const Bytes& archive, zip::ZipReporter* reporter, size_t leading, size_t trailing,
                                 DWORD access, const std::wstring& folder) {
    Bytes data(leading, 'M');
    data.insert(data.end(), archive.begin(), archive.end());
    data.insert(data.end(), trailing, 'S');
    const std::wstring path = root_ + L"setup.exe";
    EXPECT_TRUE(testsupport::WriteFileBytes(path, std::string(data.begin(), data.end())));
    utils::ScopedFileHandle file(::CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(file.IsValid());
    return zip::ExtractArchive(file.Get(), folder.empty() ? destination_ : folder, reporter);
}

} // namespace ziptest

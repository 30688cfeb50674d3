// What the extraction tests share: archives built in memory, a reporter that records its calls,
// and a fixture that puts an archive between a program image and a signature block in a file
// and extracts it into a folder below a private temporary folder.
#pragma once
#include "stubframework/zip/ExtractArchive.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace ziptest {

using Bytes = std::vector<unsigned char>;
using Progress = std::vector<std::pair<unsigned, unsigned>>;

class RecordingReporter : public stubframework::zip::ZipReporter {
public:
    void Progress(unsigned index, unsigned count) override { progress.emplace_back(index, count); }
    void LastError(DWORD error) override { errors.push_back(error); }
    ziptest::Progress progress;
    std::vector<DWORD> errors;
};

struct Entry {
    std::string name;
    std::string data;
    bool folder = false;
};

// Files are stored or deflated as the writer chooses, with their sizes in the local headers.
Bytes BuildArchive(const std::vector<Entry>& entries);

// The whole file, or "<missing>".
std::string ReadWhole(const std::wstring& path);

class ExtractArchiveTest : public ::testing::Test {
protected:
    ExtractArchiveTest() : root_(temp_.Path()), destination_(root_ + L"outer\\inner\\dest") {}

    // Writes a program image, the archive and a signature block to a file and extracts it into
    // folder (the destination when empty).
    bool Extract(const Bytes& archive, stubframework::zip::ZipReporter* reporter, size_t leading = 70000,
                 size_t trailing = 9000, DWORD access = GENERIC_READ, const std::wstring& folder = L"");

    testsupport::TempFolder temp_;
    const std::wstring root_;
    const std::wstring destination_;
};

} // namespace ziptest

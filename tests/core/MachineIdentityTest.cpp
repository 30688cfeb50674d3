// The machine identity's store and derivation rules, with set answers for the machine and the
// store in a private folder; and the real derivation on this machine.
#include <gtest/gtest.h>

#include "stubframework/utils/Handle.h"
#include "stubframework/utils/MachineIdFormat.h"
#include "stubframework/utils/MachineIdentity.h"
#include "tests/support/TempFolder.h"

#include <thread>

using namespace stubframework::utils;
using testsupport::TempFolder;

namespace {
MachineProbe Probe(bool isVirtual, std::vector<std::wstring> addresses, int* asked = nullptr) {
    MachineProbe probe;
    probe.isVirtual = [isVirtual] { return isVirtual; };
    probe.hardwareAddresses = [addresses, asked] {
        if (asked) ++*asked;
        return addresses;
    };
    return probe;
}

bool LooksLikeIdentity(const std::wstring& id, wchar_t kind) {
    if (id.size() != MachineIdLength || id[0] != kind || id[1] != L'-') return false;
    for (size_t i = 2; i < id.size(); ++i) {
        const bool dash = (i == 10 || i == 15 || i == 20 || i == 25);
        if (dash != (id[i] == L'-')) return false;
    }
    return true;
}
} // namespace

TEST(MachineIdentity, PhysicalUsesSmallestAddressAndKeepsIt) {
    TempFolder folder;
    const std::wstring store = folder / L"data";
    const std::wstring first = DeriveMachineIdentity(Probe(false, {L"00:11:22:33:44:55", L"00:0A:0B:0C:0D:0E"}), store);
    EXPECT_EQ(first, L"P-000A0B0C-0D0E-000A-0B0C-0D0E000A0B0C");

    // A later run reads the store; the adapters are not even asked.
    int asked = 0;
    EXPECT_EQ(DeriveMachineIdentity(Probe(false, {L"00:00:00:00:00:01"}, &asked), store), first);
    EXPECT_EQ(asked, 0);
    std::wstring stored;
    ASSERT_TRUE(ReadStoredMachineId(store, stored));
    EXPECT_EQ(stored, first);

    // The file is protected, not the identity's plain UTF-16.
    std::string bytes;
    ASSERT_TRUE(testsupport::ReadFileBytes(store, bytes));
    const std::string plain(reinterpret_cast<const char*>(first.data()), first.size() * sizeof(wchar_t));
    EXPECT_EQ(bytes.find(plain), std::string::npos);
}

TEST(MachineIdentity, VirtualGetsRandomIdentityOnce) {
    TempFolder folder;
    const std::wstring store = folder / L"data";
    const std::wstring first = DeriveMachineIdentity(Probe(true, {L"00:11:22:33:44:55"}), store);
    EXPECT_TRUE(LooksLikeIdentity(first, L'V')) << first.c_str();
    EXPECT_EQ(DeriveMachineIdentity(Probe(true, {}), store), first);

    TempFolder other;
    EXPECT_NE(DeriveMachineIdentity(Probe(true, {}), other / L"data"), first);
}

TEST(MachineIdentity, WrongStoresAreReplaced) {
    TempFolder folder;
    const std::wstring store = folder / L"data";
    // 36 characters protected the right way still do not count.
    ASSERT_TRUE(WriteStoredMachineId(store, L"001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C"));
    std::wstring stored;
    EXPECT_FALSE(ReadStoredMachineId(store, stored));
    const std::wstring id = DeriveMachineIdentity(Probe(false, {L"00:1A:2B:3C:4D:5E"}), store);
    EXPECT_EQ(id, L"P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C");
    ASSERT_TRUE(ReadStoredMachineId(store, stored));
    EXPECT_EQ(stored, id);

    // Bytes that do not unprotect.
    ASSERT_TRUE(testsupport::WriteFileBytes(store, std::string(200, 'x')));
    EXPECT_TRUE(LooksLikeIdentity(DeriveMachineIdentity(Probe(true, {}), store), L'V'));
    EXPECT_TRUE(ReadStoredMachineId(store, stored));
}

TEST(MachineIdentity, PlaceholderWhenNothingCanBeDerived) {
    TempFolder folder;
    const std::wstring store = folder / L"data";
    EXPECT_EQ(DeriveMachineIdentity(Probe(false, {}), store), MachineIdPlaceholder);
    EXPECT_EQ(::GetFileAttributesW(store.c_str()), INVALID_FILE_ATTRIBUTES);   // the placeholder is not stored

    // A virtual machine whose store cannot be written.
    EXPECT_EQ(DeriveMachineIdentity(Probe(true, {}), folder / L"missing\\data"), MachineIdPlaceholder);
}

TEST(MachineIdentity, WaitsForAStoreHeldByAnotherProcess) {
    TempFolder folder;
    const std::wstring store = folder / L"data";
    const std::wstring id = L"P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C";
    ASSERT_TRUE(WriteStoredMachineId(store, id));

    ScopedFileHandle held(::CreateFileW(store.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    std::thread release([&held] {
        ::Sleep(200);
        held.Reset();
    });
    std::wstring stored;
    const bool read = ReadStoredMachineId(store, stored);
    release.join();
    EXPECT_TRUE(read);
    EXPECT_EQ(stored, id);
}

TEST(MachineIdentity, WriteReplacesTheStoreWholeOrNotAtAll) {
    TempFolder folder;
    const std::wstring store = folder / L"data";
    const std::wstring first = L"V-0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9";
    const std::wstring second = L"V-F9E8D7C6-B5A4-9382-7160-5F4E3D2C1B0A";
    ASSERT_TRUE(WriteStoredMachineId(store, first));

    // A reader holding the store for a moment delays the write; it does not fail it.
    {
        ScopedFileHandle held(::CreateFileW(store.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        std::thread release([&held] {
            ::Sleep(200);
            held.Reset();
        });
        const bool written = WriteStoredMachineId(store, second);
        release.join();
        EXPECT_TRUE(written);
    }
    std::wstring stored;
    ASSERT_TRUE(ReadStoredMachineId(store, stored));
    EXPECT_EQ(stored, second);

    // Held for longer than the write waits: the write fails, the stored identity stays whole,
    // and nothing is left beside it.
    {
        ScopedFileHandle held(::CreateFileW(store.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        EXPECT_FALSE(WriteStoredMachineId(store, first));
    }
    ASSERT_TRUE(ReadStoredMachineId(store, stored));
    EXPECT_EQ(stored, second);
    WIN32_FIND_DATAW data;
    ScopedFindHandle find(::FindFirstFileW((folder / L"*").c_str(), &data));
    ASSERT_TRUE(find);
    std::vector<std::wstring> names;
    do {
        if (data.cFileName[0] != L'.') names.push_back(data.cFileName);
    } while (::FindNextFileW(find.Get(), &data));
    EXPECT_EQ(names, std::vector<std::wstring>{L"data"});
}

TEST(MachineIdentity, ThisMachineGetsOneStableWellFormedIdentity) {
    const std::wstring id = GetMachineIdentity();
    EXPECT_TRUE(id == MachineIdPlaceholder || LooksLikeIdentity(id, L'P') || LooksLikeIdentity(id, L'V'))
        << id.c_str();
    EXPECT_EQ(GetMachineIdentity(), id);
    // The real store, when it was written, holds the same identity.
    std::wstring stored;
    if (id != MachineIdPlaceholder && ReadStoredMachineId(MachineIdStoreFile(), stored)) {
        EXPECT_EQ(stored, id);
    }
}
